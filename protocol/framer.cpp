#include "protocol/framer.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "protocol/call_table.h"
#include "protocol/codec.h"

namespace tqbse {
namespace {

// Net change in parenthesis depth over a run of bytes. A bulk reply is
// counted whole once its last chunk arrives, so this runs over megabytes:
// with SSE2, 16 bytes a step, each lane counting up to 255 steps before the
// counts are summed.
int64_t parenthesisBalance(const char* p, std::size_t n)
{
    int64_t depth = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i open = _mm_set1_epi8('(');
    const __m128i close = _mm_set1_epi8(')');
    const __m128i zero = _mm_setzero_si128();
    while (n - i >= 16) {
        const std::size_t steps = std::min<std::size_t>((n - i) / 16, 255);
        __m128i opens = zero;
        __m128i closes = zero;
        for (std::size_t k = 0; k < steps; ++k, i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            opens = _mm_sub_epi8(opens, _mm_cmpeq_epi8(bytes, open)); // a match is -1
            closes = _mm_sub_epi8(closes, _mm_cmpeq_epi8(bytes, close));
        }
        const __m128i o = _mm_sad_epu8(opens, zero);
        const __m128i c = _mm_sad_epu8(closes, zero);
        depth += _mm_cvtsi128_si32(o) + _mm_extract_epi16(o, 4) - _mm_cvtsi128_si32(c) - _mm_extract_epi16(c, 4);
    }
#endif
    for (; i < n; ++i)
        depth += (p[i] == '(') - (p[i] == ')');
    return depth;
}

} // namespace

void ReplyFramer::scanTokens()
{
    const char* data = reply_.data();
    const std::size_t size = reply_.size();
    std::size_t pos = scanned_;
    if (!sawEquals_) {
        // The name: only its parentheses count (a name has none, but the
        // balance is the whole reply's).
        const void* eq = std::memchr(data + pos, '=', size - pos);
        const std::size_t end = eq ? std::size_t(static_cast<const char*>(eq) - data) + 1 : size;
        if (std::memchr(data + pos, '(', end - pos) || std::memchr(data + pos, ')', end - pos))
            depth_ += parenthesisBalance(data + pos, end - pos);
        pos = end;
        sawEquals_ = eq != nullptr;
        if (!sawEquals_) {
            scanned_ = counted_ = pos;
            return;
        }
    }
    // Locals, not members, in the loop: stores through `data` could alias
    // them and force a reload at every byte.
    int64_t depth = depth_;
    int64_t tokenStart = tokenStart_;
    int tokens = tokens_;
    for (; pos < size; ++pos) {
        const char c = data[pos];
        if (c == '(') {
            if (depth == 0) {
                if (tokens == expected_ - 1) {
                    // The last expected token: from here its balance tells.
                    lastTokenOpen_ = true;
                    break;
                }
                tokenStart = int64_t(pos);
            }
            ++depth;
        } else if (c == ')' && --depth == 0 && tokenStart >= 0) {
            if (++tokens == 1)
                first_ = {std::size_t(tokenStart), pos + 1 - std::size_t(tokenStart)};
            tokenStart = -1;
        }
    }
    depth_ = depth;
    tokenStart_ = tokenStart;
    tokens_ = tokens;
    scanned_ = pos;
    if (counted_ < scanned_)
        counted_ = scanned_;
}

bool ReplyFramer::failed() const
{
    // Decoded only when it matters: a reply short of its tokens.
    int32_t result = 0;
    return first_.second > 0
        && codec::decodeInt(std::string_view(reply_).substr(first_.first, first_.second), &result) == kSuccess
        && result < 0;
}

bool ReplyFramer::holdsExpectedTokens() const
{
    // Asked only when the reply's parentheses balance: a last expected token
    // that opened at depth 0 has then closed somewhere after its "(".
    return tokens_ >= expected_ || lastTokenOpen_ || failed();
}

ReplyFramer::Verdict ReplyFramer::feed(std::string_view chunk)
{
    if (chunk.empty())
        return Verdict::More;
    const char last = chunk.back();
    const void* zero = std::memchr(chunk.data(), 0, chunk.size());
    const std::size_t kept = zero ? std::size_t(static_cast<const char*>(zero) - chunk.data()) : chunk.size();
    reply_.append(chunk.data(), kept);
    if (!lastTokenOpen_)
        scanTokens();
    if (last != ')')
        return Verdict::More;
    // The balance is only looked at when a chunk ends in ")", so it is
    // brought up to date then rather than chunk by chunk.
    depth_ += parenthesisBalance(reply_.data() + counted_, reply_.size() - counted_);
    counted_ = reply_.size();
    const bool shortChunk = chunk.size() < kReceiveChunkSize;
    if (depth_ <= 0 && holdsExpectedTokens())
        return Verdict::End;
    if (shortChunk || depth_ <= 0)
        return Verdict::EndIfQuiet;
    return Verdict::More;
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
