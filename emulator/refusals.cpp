// The wording of the model's common refusals: the reason a refused call is
// given, with the code it is refused with.
#include "emulator/refusals.h"

#include <string>
#include <string_view>

#include "protocol/result_codes.h"

namespace tqbse::emu {
namespace {
constexpr std::size_t kMaxQuotedName = 60;
} // namespace

// A name from a request, quoted for a reason (NULL for the null text).
std::string quoted(const WireValue& name)
{
    if (name.isNull())
        return "NULL";
    const std::string_view text = name.text();
    return '"' + std::string(text.substr(0, kMaxQuotedName)) + (text.size() > kMaxQuotedName ? "...\"" : "\"");
}

// "<what> index 9 is outside 0..4", or "there is no <what>" for an empty list.
ResultCode refuseIndex(Model& m, const char* what, int32_t index, int32_t size)
{
    if (size <= 0)
        return m.refuse(kInternalObjectError, std::string("no ") + what + " is configured (index " + std::to_string(index) + ")");
    return m.refuse(kInternalObjectError, std::string(what) + " index " + std::to_string(index) + " is outside 0.."
                                              + std::to_string(size - 1));
}

ResultCode refusePath(Model& m, int32_t index) { return refuseIndex(m, "RF path", index, m.pathCount()); }

ResultCode refuseBuffer(Model& m, int32_t bufferSize, std::size_t length)
{
    return m.refuse(kBufferTooSmall, "bufferSize " + std::to_string(bufferSize) + " is below the text's "
                                         + std::to_string(length) + " bytes + 1");
}

} // namespace tqbse::emu
