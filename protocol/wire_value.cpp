// The value model's out-of-line parts.
#include "protocol/wire_value.h"

namespace tqbse {

std::vector<double> WireValue::arrayValues() const
{
    if (const auto* view = std::get_if<codec::DoubleArrayView>(&value_)) {
        std::vector<double> values(std::size_t(std::max(view->count, 0)));
        view->copyTo(values.data());
        return values;
    }
    const std::span<const double> v = doubles();
    return {v.begin(), v.end()};
}

} // namespace tqbse
