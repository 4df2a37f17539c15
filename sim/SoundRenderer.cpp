#include "SoundRenderer.h"

#include <numbers>

namespace vibrelle::sim {

SoundRenderer::Click SoundRenderer::clickOf(const Pulse &pulse) {
    Click click{};
    switch (pulse.kind) {
    case PulseKind::Crisp:
        click = {3200, 0.8, 4};
        break;
    case PulseKind::Natural:
        click = {1400, 2.2, 11};
        break;
    case PulseKind::Soft:
        click = {500, 5.5, 26};
        break;
    case PulseKind::Beat: {
        // Sharpness (or fineness) 1: a bright tick; 0: a dull knock. Never longer than the beat.
        const double c = qBound(0.0, pulse.character, 1.0);
        const double decayMs = 0.6 + 3.4 * (1 - c);
        click = {400 + 2800 * c, decayMs, qMin(decayMs * std::log(100.0), 0.9 * pulse.periodMs)};
        break;
    }
    }
    return click;
}

void SoundRenderer::mix(const QList<Pulse> &pulses, qint64 firstSample, float *out, qsizetype count) {
    for (const Pulse &pulse : pulses) {
        const Click click = clickOf(pulse);
        const qint64 onset = sampleAt(pulse.tMs);
        const qint64 length = qint64(click.lengthMs * sampleRate / 1000.0);
        const qint64 from = qMax(onset, firstSample);
        const qint64 to = qMin(onset + length, firstSample + count);
        const double height = fullScale * qBound(0.0, pulse.intensity, 1.0);
        const double step = 2 * std::numbers::pi * click.pitchHz / sampleRate;
        const double decay = 1000.0 / (click.decayMs * sampleRate);
        for (qint64 i = from; i < to; ++i) {
            const double n = double(i - onset);
            out[i - firstSample] += float(height * std::exp(-n * decay) * std::cos(n * step));
        }
    }
}

qint16 SoundRenderer::toPcm(float sample) {
    return qint16(std::lround(qBound(-1.0f, sample, 1.0f) * 32767.0f));
}

} // namespace vibrelle::sim
