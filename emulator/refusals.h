// The wording of the model's common refusals (emulator/refusals.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "emulator/model.h"
#include "protocol/wire_value.h"

namespace tqbse::emu {

// A name from a request, quoted for a reason (NULL for the null text).
std::string quoted(WireText name);
// -18 with "<what> index 9 is outside 0..4", or "no <what> is configured".
ResultCode refuseIndex(Model& m, const char* what, int32_t index, int32_t size);
// The same for an RF path.
ResultCode refusePath(Model& m, int32_t index);
// -13 for a text of `length` bytes that does not fit `bufferSize`.
ResultCode refuseBuffer(Model& m, int32_t bufferSize, std::size_t length);

} // namespace tqbse::emu
