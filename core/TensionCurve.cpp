#include "core/TensionCurve.h"

#include <cmath>

namespace vibrelle {

namespace {

// A value at or below the lower bound becomes the lower bound, then one above the upper bound the upper bound.
double clampTo(double value, double lower, double upper, double fallback) noexcept
{
    if (!std::isfinite(value)) {
        return fallback;
    }
    if (value <= lower) {
        value = lower;
    }
    if (value > upper) {
        value = upper;
    }
    return value;
}

} // namespace

TensionCurve::Sample TensionCurve::sample(double charge) const noexcept
{
    const double c = clampTo(charge, 0.0, 1.0, 0.0);
    const double e = clampTo(exponent, 0.25, 4.0, 1.0);
    const double li = clampTo(lowIntensity, 0.0, 1.0, 0.0);
    const double hi = clampTo(highIntensity, 0.0, 1.0, 1.0);
    const double lc = clampTo(lowCadence, 1.0, 60.0, 1.0);
    const double hc = clampTo(highCadence, 1.0, 60.0, 60.0);
    const double ls = clampTo(lowSharpness, 0.0, 1.0, 0.0);
    const double hs = clampTo(highSharpness, 0.0, 1.0, 1.0);

    const double s = std::pow(c, e);
    Sample result;
    result.intensity = li + (hi - li) * s;
    result.cadence = lc + (hc - lc) * s;
    result.sharpness = ls + s * (hs - ls);
    return result;
}

} // namespace vibrelle
