#include "protocol/framer.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "protocol/call_table.h"
#include "protocol/codec.h"

namespace tqbse {
namespace {

// Net change in parenthesis depth over a run of bytes.
int64_t parenthesisBalance(const char* p, std::size_t n)
{
    int64_t depth = 0;
    std::size_t unsought = 1; // no close looked for
    codec::countParentheses(std::string_view(p, n), 0, codec::kCountToEnd, &depth, &unsought);
    return depth;
}

// Bits of a 16-byte window: bit k stands for byte at + k.
struct Window {
    unsigned opens;  // "("
    unsigned closes; // ")"
    unsigned equals; // "="
    std::size_t length; // bytes in the window: 16, or fewer at the end
};

// The window of data[at, min(at + 16, size)).
inline Window windowAt(const char* data, std::size_t at, std::size_t size)
{
    const std::size_t length = std::min<std::size_t>(16, size - at);
#if defined(__SSE2__)
    __m128i bytes;
    unsigned shift = 0;
    if (length == 16) {
        bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    } else if (size >= 16) {
        // The last 16 bytes, of which the window is the end.
        bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + size - 16));
        shift = unsigned(16 - length);
    } else {
        // Zero padding matches none of the three.
        alignas(16) char tail[16] = {};
        std::memcpy(tail, data + at, length);
        bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(tail));
    }
    const auto bitsOf = [&](char c) {
        return unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)))) >> shift;
    };
    return {bitsOf('('), bitsOf(')'), bitsOf('='), length};
#else
    Window w{0, 0, 0, length};
    for (std::size_t k = 0; k < length; ++k) {
        w.opens |= unsigned(data[at + k] == '(') << k;
        w.closes |= unsigned(data[at + k] == ')') << k;
        w.equals |= unsigned(data[at + k] == '=') << k;
    }
    return w;
#endif
}

inline int lowestBit(unsigned x) { return std::countr_zero(x); }

} // namespace

std::string_view textBeforeZero(std::string_view chunk)
{
    const void* zero = std::memchr(chunk.data(), 0, chunk.size());
    return zero ? chunk.substr(0, std::size_t(static_cast<const char*>(zero) - chunk.data())) : chunk;
}

void ReplyFramer::followRun(std::size_t token)
{
    if (runCount_ > 0 && runs_[runCount_ - 1].token == token)
        return;
    following_ = runCount_ < kMaxCheckedRuns;
    if (following_)
        runs_[runCount_++] = {token, 0, 0};
}

void ReplyFramer::checkRun(const char* data, std::size_t size)
{
    if (!following_)
        return;
    CheckedRun& run = runs_[runCount_ - 1];
    if (run.elements == 0) {
        // "(da=", a count of signs and digits, "[": nothing among them is a
        // "[" (so this one is the decoder's too), a parenthesis after the
        // first or a zero byte. Any other token is left to the decoder.
        constexpr std::size_t kHead = 4;
        constexpr std::size_t kMaxCount = 11; // "-2147483648"
        if (size - run.token < kHead)
            return;
        std::size_t at = run.token + kHead;
        bool array = std::memcmp(data + run.token, "(da=", kHead) == 0;
        for (; array && at < size && at < run.token + kHead + kMaxCount; ++at)
            if (const char c = data[at]; (c < '0' || c > '9') && c != '-' && c != '+')
                break;
        if (array && at == size)
            return; // the "[" may still come
        if (!array || data[at] != '[') {
            --runCount_;
            following_ = false;
            return;
        }
        run.elements = run.end = at + 1;
    }
    const std::size_t whole = (size - run.end) / codec::kArrayElementStride;
    const std::size_t good = codec::countCommaElements(data + run.end, size - run.end);
    run.end += good * codec::kArrayElementStride;
    // Stopped by the last element (no comma after it), or one that is not
    // well formed: the decoder takes it from there.
    following_ = good == whole;
}

std::size_t ReplyFramer::pastCheckedRun(std::size_t at) const
{
    // Checked elements hold neither a parenthesis nor a zero byte: a count
    // or a search for either may pass them by.
    if (runCount_ == 0)
        return at;
    const CheckedRun& run = runs_[runCount_ - 1];
    return run.elements != 0 && at >= run.elements && at < run.end ? run.end : at;
}

std::size_t ReplyFramer::checkedElements(std::size_t token) const
{
    for (int k = 0; k < runCount_; ++k)
        if (runs_[k].token == token && runs_[k].elements != 0)
            return (runs_[k].end - runs_[k].elements) / codec::kArrayElementStride;
    return 0;
}

void ReplyFramer::scanTokens(std::string_view reply)
{
    const char* data = reply.data();
    const std::size_t size = reply.size();
    std::size_t pos = scanned_;
    if (pos >= size) // nothing new (an empty reply may have no buffer at all)
        return;
    if (!sawEquals_ && pos == 0 && !name_.empty() && size > name_.size() && data[name_.size()] == '='
        && std::memcmp(data, name_.data(), name_.size()) == 0) {
        // The name the caller expects, which holds no parenthesis.
        nameEnd_ = name_.size();
        pos = nameEnd_ + 1;
        sawEquals_ = true;
    }
    if (!sawEquals_) {
        // The usual name: no parenthesis before its "=".
        for (std::size_t at = pos; at < size;) {
            const Window w = windowAt(data, at, size);
            if (const unsigned events = w.opens | w.closes | w.equals; events != 0) {
                if (const int k = lowestBit(events); w.equals >> k & 1u) {
                    nameEnd_ = at + std::size_t(k);
                    pos = nameEnd_ + 1;
                    sawEquals_ = true;
                }
                break;
            }
            at += w.length;
        }
    }
    if (!sawEquals_) {
        // Otherwise only the name's parentheses count (the balance is the
        // whole reply's).
        const void* eq = std::memchr(data + pos, '=', size - pos);
        const std::size_t end = eq ? std::size_t(static_cast<const char*>(eq) - data) + 1 : size;
        if (std::memchr(data + pos, '(', end - pos) || std::memchr(data + pos, ')', end - pos)) {
            depth_ += parenthesisBalance(data + pos, end - pos);
            irregular_ = true;
        }
        pos = end;
        sawEquals_ = eq != nullptr;
        if (!sawEquals_) {
            scanned_ = counted_ = pos;
            return;
        }
        nameEnd_ = end - 1;
    }
    // Locals, not members, in the loop: stores through `data` could alias
    // them and force a reload at every byte. Only the parentheses are
    // looked at, 16 bytes a window.
    int64_t depth = depth_;
    int64_t tokenStart = tokenStart_;
    int tokens = tokens_;
    bool irregular = irregular_;
    std::size_t next = size; // where the scan stopped: the end, or the last expected token's "("
    const auto tokenClosed = [&](std::size_t end) {
        if (tokens < kMaxRecordedTokens)
            ends_[tokens] = end;
        if (++tokens == 1)
            first_ = {std::size_t(tokenStart), end - std::size_t(tokenStart)};
        tokenStart = -1;
    };
    for (std::size_t at = pos; at < size && next == size;) {
        if (tokenStart >= 0 && !lastTokenOpen_ && size - at > kShortRest) {
            // Within a long token before the last one (a trace's x array):
            // its close is sought in vector blocks, not window by window,
            // past the elements checked as they arrived.
            followRun(std::size_t(tokenStart));
            checkRun(data, size);
            std::size_t close = 0;
            at = codec::countParentheses(reply, pastCheckedRun(at), codec::kStopAtClose, &depth, &close);
            if (close != 0)
                tokenClosed(close);
            continue;
        }
        const Window w = windowAt(data, at, size);
        for (unsigned events = w.opens | w.closes; events != 0; events &= events - 1) {
            const std::size_t p = at + std::size_t(lowestBit(events));
            if (lastTokenOpen_) {
                // Within a short reply, the last expected token and what
                // follows are counted here too: its first return to depth 0
                // is where it ends.
                if (data[p] == '(')
                    ++depth;
                else if (--depth == 0 && lastEnd_ == 0)
                    lastEnd_ = p + 1;
                continue;
            }
            if (data[p] == '(') {
                if (depth == 0) {
                    if (tokens == expected_ - 1) {
                        // The last expected token: from here its balance
                        // tells, counted in vector blocks when it is long.
                        // An array's elements are checked from here as
                        // each chunk arrives (from the next one, when this
                        // one ends within a few windows).
                        lastTokenOpen_ = true;
                        followRun(p);
                        if (size - p > kShortRest) {
                            checkRun(data, size);
                            next = p;
                            break;
                        }
                    }
                    tokenStart = int64_t(p);
                }
                ++depth;
            } else {
                irregular |= depth <= 0;
                if (--depth == 0 && tokenStart >= 0)
                    tokenClosed(p + 1);
            }
        }
        at += w.length;
    }
    depth_ = depth;
    tokenStart_ = tokenStart;
    tokens_ = tokens;
    irregular_ = irregular;
    scanned_ = next;
    if (counted_ < scanned_)
        counted_ = scanned_;
}

void ReplyFramer::countBalance(std::string_view reply)
{
    // Where the last expected token closes is looked for only once it has
    // begun (the cut needs it); before, the balance alone.
    std::size_t unsought = 1;
    if (counted_ < reply.size())
        counted_ = codec::countParentheses(reply, counted_, codec::kCountToEnd, &depth_,
                                           lastTokenOpen_ ? &lastEnd_ : &unsought);
}

std::size_t ReplyFramer::takeChunk(const char* data, std::size_t size, std::size_t n)
{
    // A long array's elements first, while the chunk is in cache; what they
    // cover is not searched again.
    checkRun(data, size + n);
    if (!lastTokenOpen_) {
        const std::size_t from = pastCheckedRun(size);
        return from - size + textBeforeZero(std::string_view(data + from, size + n - from)).size();
    }
    // What an earlier chunk left uncounted (the bytes after the last
    // token's "(" in the chunk where it began), then this chunk up to a zero
    // byte, in one pass while it is in cache.
    counted_ = pastCheckedRun(counted_);
    countBalance(std::string_view(data, size));
    counted_ = codec::countParentheses(std::string_view(data, size + n), pastCheckedRun(counted_),
                                       codec::kStopAtZero, &depth_, &lastEnd_);
    return counted_ - size;
}

bool ReplyFramer::failed(std::string_view reply) const
{
    // Decoded only when it matters: a reply short of its tokens.
    int32_t result = 0;
    return first_.second > 0
        && codec::decodeInt(reply.substr(first_.first, first_.second), &result) == kSuccess
        && result < 0;
}

bool ReplyFramer::holdsExpectedTokens(std::string_view reply) const
{
    // Asked only when the reply's parentheses balance: a last expected token
    // that opened at depth 0 has then closed somewhere after its "(".
    return tokens_ >= expected_ || lastTokenOpen_ || failed(reply);
}

namespace {

// Where the parentheses of a flat reply's tokens are: bit k stands for
// tokens[k], k < n <= 64.
struct FlatMasks {
    uint64_t opens = 0;
    uint64_t closes = 0;
};

// Whether data starts with the n bytes of `name` (n >= 16) and `tokens`, its
// next n bytes, hold no zero byte (nor does the name); *masks is set then.
// The 16 bytes before tokens + count are readable.
inline bool flatMasks(const char* data, const char* name, std::size_t n, const char* tokens, std::size_t count,
                      FlatMasks* masks)
{
#if defined(__SSE2__)
    const auto load = [](const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    const __m128i zero = _mm_setzero_si128();
    // The name in blocks of 16, the last one ending at n.
    __m128i good = _mm_cmpeq_epi8(zero, zero);
    for (std::size_t at = 0;; at += 16) {
        const std::size_t from = std::min(at, n - 16);
        const __m128i expected = load(name + from);
        good = _mm_and_si128(good, _mm_andnot_si128(_mm_cmpeq_epi8(expected, zero),
                                                    _mm_cmpeq_epi8(expected, load(data + from))));
        if (from + 16 == n)
            break;
    }
    if (_mm_movemask_epi8(good) != 0xffff)
        return false;
    const __m128i open = _mm_set1_epi8('(');
    const __m128i close = _mm_set1_epi8(')');
    __m128i zeros = zero;
    FlatMasks m;
    for (std::size_t at = 0; at < count; at += 16) {
        // A block past the end is the last 16 bytes, its bits shifted down;
        // the bytes before are the name, "=" and earlier tokens, none zero.
        const std::size_t shift = count - at < 16 ? 16 - (count - at) : 0;
        const __m128i b = load(tokens + at - shift);
        m.opens |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(b, open))) >> shift) << at;
        m.closes |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(b, close))) >> shift) << at;
        zeros = _mm_or_si128(zeros, _mm_cmpeq_epi8(b, zero));
    }
    if (_mm_movemask_epi8(zeros) != 0)
        return false;
#else
    if (std::memcmp(data, name, n) != 0 || std::memchr(name, 0, n) != nullptr
        || std::memchr(tokens, 0, count) != nullptr)
        return false;
    FlatMasks m;
    for (std::size_t k = 0; k < count; ++k) {
        m.opens |= uint64_t(tokens[k] == '(') << k;
        m.closes |= uint64_t(tokens[k] == ')') << k;
    }
#endif
    *masks = m;
    return true;
}

} // namespace

bool ReplyFramer::takeFlat(std::string_view reply)
{
    const std::size_t nameLength = name_.size();
    const std::size_t size = reply.size();
    const char* data = reply.data();
    const std::size_t from = nameLength + 1;
    FlatMasks m;
    if (nameLength < 16 || size <= from || size - from > kFlatTokenBytes || expected_ > kMaxRecordedTokens
        || data[nameLength] != '=' || !flatMasks(data, name_.data(), nameLength, data + from, size - from, &m))
        return false;
    // Tokens side by side, none holding a parenthesis: a "(" first and after
    // every ")" but the last, which is the last byte.
    const uint64_t last = uint64_t(1) << (size - from - 1);
    if ((m.closes & last) == 0 || m.opens != (((m.closes ^ last) << 1) | 1))
        return false;
    int k = 0;
    for (uint64_t c = m.closes; c != 0; c &= c - 1) {
        if (k == expected_)
            return false;
        ends_[k++] = from + std::size_t(std::countr_zero(c)) + 1;
    }
    if (k != expected_)
        return false;
    // What the scan leaves after such a reply, so split() and failed() agree.
    sawEquals_ = lastTokenOpen_ = flat_ = true;
    nameEnd_ = nameLength;
    scanned_ = counted_ = lastEnd_ = size;
    tokens_ = expected_ - 1;
    if (expected_ > 1)
        first_ = {from, ends_[0] - from};
    return true;
}

ReplyFramer::Verdict ReplyFramer::advance(std::string_view reply, bool shortChunk, char last)
{
    if (!lastTokenOpen_)
        scanTokens(reply);
    if (last != ')')
        return Verdict::More;
    // The balance is only looked at when a chunk ends in ")", so it is
    // brought up to date then rather than chunk by chunk.
    countBalance(reply);
    // A full chunk may have more of the reply behind it, so it never ends
    // the reply by itself, however complete the reply looks: a server may
    // send more tokens than the call reads.
    if (depth_ <= 0 && shortChunk && holdsExpectedTokens(reply))
        return Verdict::End;
    if (shortChunk || depth_ <= 0)
        return Verdict::EndIfQuiet;
    return Verdict::More;
}

void ReplyFramer::split(std::string_view reply, codec::SplitMessage* out)
{
    if (!lastTokenOpen_)
        scanTokens(reply);
    if (counted_ < reply.size())
        countBalance(reply);
    if (irregular_ || !sawEquals_ || expected_ > kMaxRecordedTokens) {
        codec::splitMessage(reply, out);
        return;
    }
    out->name = reply.substr(0, nameEnd_);
    out->params.resize(std::size_t(tokens_) + (lastEnd_ != 0));
    // A token runs from the end of the one before it, as splitMessage cuts.
    std::size_t from = nameEnd_ + 1;
    for (int k = 0; k < tokens_; from = ends_[k++])
        out->params[std::size_t(k)] = reply.substr(from, ends_[k] - from);
    if (lastEnd_ != 0)
        out->params.back() = reply.substr(from, lastEnd_ - from);
}

ReplyReader::~ReplyReader() { ::operator delete(data_); }

ReplyReader& ReplyReader::operator=(ReplyReader&& other) noexcept
{
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(touched_, other.touched_);
    maxBytes_ = other.maxBytes_;
    chunkFill_ = other.chunkFill_;
    framer_ = other.framer_;
    couldEnd_ = other.couldEnd_;
    return *this;
}

bool ReplyReader::reserveTotal(std::size_t total)
{
    if (total <= capacity_)
        return true;
    // From operator new, where the rest of the library's memory comes from
    // (and where a counting allocator sees it). A bulk reply reserves its
    // bound up front, so only small replies grow, by copying.
    char* grown = static_cast<char*>(::operator new(total, std::nothrow));
    if (grown == nullptr)
        return false;
    if (size_ > 0)
        std::memcpy(grown, data_, size_);
    ::operator delete(data_);
    data_ = grown;
    capacity_ = total;
    touched_ = size_; // the new block's pages are written only as far as the copy
    return true;
}

void ReplyFramer::reset(int expectedTokens, std::string_view name)
{
    name_ = name;
    scanned_ = counted_ = 0;
    expected_ = expectedTokens < 1 ? 1 : expectedTokens;
    depth_ = 0;
    tokenStart_ = -1;
    tokens_ = 0;
    sawEquals_ = lastTokenOpen_ = irregular_ = flat_ = following_ = false;
    nameEnd_ = lastEnd_ = 0;
    runCount_ = 0;
    first_ = {0, 0};
}

void ReplyReader::begin(int expectedTokens, std::size_t maxBytes, std::size_t reserve, std::string_view name)
{
    size_ = 0;
    maxBytes_ = maxBytes;
    framer_.reset(expectedTokens, name);
    couldEnd_ = false;
    chunkFill_ = 0;
    if (reserve > 0 && capacity_ > kKeptBytes && capacity_ / 4 > reserve)
        release();
    // Best effort: without the room the reply grows as it arrives.
    if (reserve > 0)
        reserveTotal(reserve + kReceiveChunkSize);
}

char* ReplyReader::space()
{
    if (capacity_ - size_ < kReceiveChunkSize
        && !reserveTotal(std::max(2 * capacity_, size_ + kReceiveChunkSize)))
        return nullptr;
    return data_ + size_;
}

ReplyReader::Next ReplyReader::received(std::size_t n, std::size_t room)
{
    if (n == 0)
        return Next::Receive;
    touched_ = std::max(touched_, size_ + n);
    // Whether the receive ended a short chunk of kReceiveChunkSize bytes, as
    // if the bytes had been received that many at a time: a receive that
    // filled its room had more waiting, and one that took what there was
    // ends a full chunk when the bytes since the last short chunk are a
    // whole number of chunks. Larger receives thus end a reply exactly where
    // chunk-sized ones would.
    const std::size_t fill = (chunkFill_ + n) % kReceiveChunkSize;
    const bool shortChunk = n < room && fill != 0;
    chunkFill_ = n < room ? 0 : fill;
    if (size_ == 0 && shortChunk && n <= maxBytes_ && framer_.takeFlat(std::string_view(data_, n))) {
        size_ = n;
        couldEnd_ = false;
        return Next::Done;
    }
    const char last = data_[size_ + n - 1];
    size_ += framer_.takeChunk(data_, size_, n);
    // More than the call can deliver: a server that never ends its reply
    // would otherwise take all memory.
    if (size_ > maxBytes_)
        return Next::TooLarge;
    const ReplyFramer::Verdict verdict = framer_.advance(reply(), shortChunk, last);
    couldEnd_ = verdict == ReplyFramer::Verdict::EndIfQuiet;
    switch (verdict) {
    case ReplyFramer::Verdict::End:
        return Next::Done;
    case ReplyFramer::Verdict::EndIfQuiet:
        return Next::WaitQuiet;
    case ReplyFramer::Verdict::More:
        break;
    }
    return Next::Receive;
}

ReplyReader::Next ReplyReader::feed(std::string_view chunk)
{
    if (chunk.empty())
        return Next::Receive;
    if (capacity_ - size_ < chunk.size()
        && !reserveTotal(std::max(2 * capacity_, size_ + std::max(chunk.size(), kReceiveChunkSize))))
        return Next::OutOfMemory;
    std::memcpy(data_ + size_, chunk.data(), chunk.size());
    return received(chunk.size());
}

void ReplyReader::split(codec::SplitMessage* out) { framer_.split(reply(), out); }

void ReplyReader::release()
{
    ::operator delete(data_);
    data_ = nullptr;
    size_ = capacity_ = touched_ = 0;
}

bool RequestFramer::feed(std::string_view buffer)
{
    const char* data = buffer.data();
    const std::size_t size = buffer.size();
    for (std::size_t pos = scanned_; pos < size; ++pos) {
        const char c = data[pos];
        if (eq_ < 0) {
            if (c == '=') {
                eq_ = int64_t(pos);
                const CallDesc* row = findRemoteCall(buffer.substr(0, pos));
                expected_ = row ? row->inputCount : -1;
            }
        } else if (c == '(') {
            ++depth_;
        } else if (c == ')' && depth_ > 0) {
            if (--depth_ == 0)
                ++tokens_;
        }
    }
    scanned_ = size;
    const bool atEquals = eq_ >= 0 && int64_t(size) == eq_ + 1;
    const bool balanced = eq_ >= 0 && depth_ == 0 && size > 0 && data[size - 1] == ')';
    complete_ = (atEquals && expected_ <= 0) || (balanced && tokens_ >= std::max(expected_, 1));
    return complete_;
}

bool isRequestComplete(std::string_view request)
{
    RequestFramer framer;
    return framer.feed(request);
}

} // namespace tqbse
