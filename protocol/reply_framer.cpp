// The reply framer: the completeness rule, and where each expected token
// ends, recorded on the way.
#include "protocol/reply_framer.h"

#include <algorithm>
#include <bit>
#include <cstring>

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
    Window w{0, 0, 0, length};
    for (std::size_t k = 0; k < length; ++k) {
        w.opens |= unsigned(data[at + k] == '(') << k;
        w.closes |= unsigned(data[at + k] == ')') << k;
        w.equals |= unsigned(data[at + k] == '=') << k;
    }
    return w;
}

inline int lowestBit(unsigned x) { return std::countr_zero(x); }

} // namespace

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
        const std::size_t elements = codec::arrayElementsStart(data, run.token, size);
        if (elements == 0)
            return; // the head may still come
        if (elements == codec::kNotAnArray) {
            --runCount_;
            following_ = false;
            return;
        }
        run.elements = run.end = elements;
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
        return from - size + codec::textBeforeZero(std::string_view(data + from, size + n - from)).size();
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

bool ReplyFramer::takeFlat(std::string_view reply)
{
    const std::size_t nameLength = name_.size();
    const std::size_t size = reply.size();
    const char* data = reply.data();
    const std::size_t from = nameLength + 1;
    if (nameLength < 16 || size <= from || size - from > kFlatTokenBytes || expected_ > kMaxRecordedTokens
        || data[nameLength] != '=' || std::memcmp(data, name_.data(), nameLength) != 0
        || std::memchr(name_.data(), 0, nameLength) != nullptr || std::memchr(data + from, 0, size - from) != nullptr)
        return false;
    // Tokens side by side, none holding a parenthesis: each begins with "("
    // right where the one before it ended and ends at the first ")" after
    // it, with no "(" in between; the last one ends the reply.
    int k = 0;
    for (std::size_t at = from; at < size; ++k) {
        if (k == expected_ || data[at] != '(')
            return false;
        const auto* close = static_cast<const char*>(std::memchr(data + at + 1, ')', size - at - 1));
        if (close == nullptr || std::memchr(data + at + 1, '(', std::size_t(close - data) - at - 1) != nullptr)
            return false;
        at = std::size_t(close - data) + 1;
        ends_[k] = at;
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

} // namespace tqbse
