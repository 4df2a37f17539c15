#pragma once

namespace vibrelle {

// Maps the cue charge (0 at rest, 1 fully drawn) to the three parameters of a
// controlled resonance. Stores whatever it is given; every limit applies when sampling.
struct TensionCurve {
    struct Sample {
        double intensity = 0;
        double cadence = 0;
        double sharpness = 0;
    };

    double exponent = 1.7;
    double lowIntensity = 0.08;
    double highIntensity = 0.8;
    double lowCadence = 8;
    double highCadence = 55;
    double lowSharpness = 0.1;
    double highSharpness = 0.9;

    // Pure, never fails, never allocates; every field of the result lies in its range.
    [[nodiscard]] Sample sample(double charge) const noexcept;

    // Field-by-field float comparison: a NaN field makes the curve unequal to every curve.
    friend bool operator==(const TensionCurve &a, const TensionCurve &b) noexcept
    {
        return a.exponent == b.exponent && a.lowIntensity == b.lowIntensity && a.highIntensity == b.highIntensity &&
               a.lowCadence == b.lowCadence && a.highCadence == b.highCadence &&
               a.lowSharpness == b.lowSharpness && a.highSharpness == b.highSharpness;
    }
};

} // namespace vibrelle
