// Floating-point to integer conversion that is defined for every input: NaN
// becomes 0, values beyond the type's range become its limits, and the
// fraction is cut off toward zero. (A plain cast of an out-of-range value is
// undefined behaviour.)
#pragma once

#include <cmath>
#include <limits>

namespace vorlix {

template <typename Int>
Int saturating_cast(double value) {
    using Limits = std::numeric_limits<Int>;
    if (std::isnan(value)) return 0;
    // The limits as doubles are exact or round up to a power of two, so a
    // value below the upper one converts without overflow.
    if (value <= static_cast<double>(Limits::min())) return Limits::min();
    if (value >= static_cast<double>(Limits::max())) return Limits::max();
    return static_cast<Int>(value);
}

}  // namespace vorlix
