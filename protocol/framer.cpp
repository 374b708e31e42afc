#include "protocol/framer.h"

#include <algorithm>
#include <cstring>

#include "protocol/call_table.h"

namespace tqbse {
namespace {

// Net change in parenthesis depth over a run of bytes.
int64_t parenthesisBalance(const char* p, std::size_t n)
{
    int64_t depth = 0;
    for (std::size_t i = 0; i < n; ++i)
        depth += (p[i] == '(') - (p[i] == ')');
    return depth;
}

} // namespace

ReplyFramer::Verdict ReplyFramer::feed(std::string_view chunk)
{
    if (chunk.empty())
        return Verdict::More;
    const char last = chunk.back();
    const void* zero = std::memchr(chunk.data(), 0, chunk.size());
    const std::size_t kept = zero ? std::size_t(static_cast<const char*>(zero) - chunk.data()) : chunk.size();
    reply_.append(chunk.data(), kept);
    if (last != ')')
        return Verdict::More;
    // The balance is only looked at when a chunk ends in ")", so it is
    // brought up to date then rather than chunk by chunk.
    depth_ += parenthesisBalance(reply_.data() + counted_, reply_.size() - counted_);
    counted_ = reply_.size();
    const bool shortChunk = chunk.size() < kReceiveChunkSize;
    if (shortChunk && depth_ <= 0)
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
