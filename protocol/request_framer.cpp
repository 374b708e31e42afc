// The request framer: the end of a request from its row's input count.
#include "protocol/request_framer.h"

#include <algorithm>

#include "protocol/call_table.h"

namespace tqbse {

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
