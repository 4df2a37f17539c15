#pragma once

#include "PlayTrack.h"

#include <QList>

#include <cmath>

namespace vibrelle::sim {

// The sound of the simulated trackpad: every pulse is a click, a cosine at its pitch under an
// exponential decay, starting at its full height on the pulse's sample. The height is in
// proportion to the intensity; crisper pulses are higher in pitch and shorter.
class SoundRenderer {
public:
    static constexpr int sampleRate = 48000;
    static constexpr double fullScale = 0.5; // a click's height at intensity 1 (1 is the sample limit)
    static constexpr double longestClickMs = 30;

    struct Click {
        double pitchHz;
        double decayMs; // time constant of the decay
        double lengthMs;
    };
    static Click clickOf(const Pulse &pulse);

    // The sample a time falls on; sample 0 is time 0.
    static qint64 sampleAt(double tMs) { return std::llround(tMs * sampleRate / 1000.0); }

    // Adds the clicks of `pulses` to out[0 .. count), whose first sample is `firstSample`.
    static void mix(const QList<Pulse> &pulses, qint64 firstSample, float *out, qsizetype count);
    // 16-bit samples, clipped at the limits.
    static qint16 toPcm(float sample);
};

} // namespace vibrelle::sim
