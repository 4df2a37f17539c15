#pragma once

#include <cmath>

namespace vibrelle {

// Rounds to the nearest whole number with halves away from zero: how milliseconds travel on the
// wire, and how the window shows whole numbers.
inline double roundHalfAwayFromZero(double value)
{
    // std::round rounds halves away from zero, unlike the banker's rounding of nearbyint.
    return std::round(value);
}

} // namespace vibrelle
