// The reply buffer: bytes, bound and buffer policy around ReplyFramer.
#include "protocol/reply_reader.h"

#include <cstring>
#include <new>

namespace tqbse {

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

} // namespace tqbse
