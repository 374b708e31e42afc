// A value's token as the codec writes it, for tests that compare tokens.
#pragma once

#include <string>

#include "protocol/wire_value.h"

namespace tqbse::test {

inline std::string encoded(const WireValue& v)
{
    std::string out;
    encodeValue(out, v);
    return out;
}

} // namespace tqbse::test
