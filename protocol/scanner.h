// The parenthesis scanner: where tokens end and how a message is cut into
// its name and tokens. Knows "(", ")", "=" and the zero byte that ends a
// message, nothing of what tokens hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tqbse::codec {

// A message is text: its bytes up to the first zero byte of `chunk`.
std::string_view textBeforeZero(std::string_view chunk);

// How countParentheses may end before the end of its text.
enum CountStop : unsigned {
    kCountToEnd = 0,
    kStopAtZero = 1,  // at the first zero byte (a message ends there)
    kStopAtClose = 2, // just after the ")" that brings the depth back to 0
};
// Counts the parentheses of text[from, ...) into *depth (the depth before
// text[from]). While *close is 0 the first return of the depth to 0 is
// looked for, and *close is set just after its ")". Returns the offset where
// the count ended: text.size(), or where `stops` ended it (the zero byte's
// offset, *close). The bulk scan of every long token: with SSE2, 64 bytes
// without a parenthesis or zero byte go by at once, and a window whose ")"
// cannot bring the depth to 0 is counted by bit counts.
std::size_t countParentheses(std::string_view text, std::size_t from, unsigned stops, int64_t* depth,
                             std::size_t* close);
namespace scalar {
// The same count, 16 bytes a window without vector blocks.
std::size_t countParentheses(std::string_view text, std::size_t from, unsigned stops, int64_t* depth,
                             std::size_t* close);
} // namespace scalar

struct TokenBounds {
    int64_t start; // just after the first "(" (0 when there is none); -1 on failure
    int64_t end;   // just after the ")" that matches it; -1 on failure
};
TokenBounds findTokenEnd(std::string_view text);

// A cut message: name and the token texts, viewing the message text.
struct SplitMessage {
    std::string_view name;
    std::vector<std::string_view> params;
};
// Cuts a message. Never fails; text after the last complete token is dropped.
// The views point into `message`, which must outlive the result.
void splitMessage(std::string_view message, SplitMessage* out);
SplitMessage splitMessage(std::string_view message);

} // namespace tqbse::codec
