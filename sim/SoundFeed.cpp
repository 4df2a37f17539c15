#include "SoundFeed.h"

#include "SoundRenderer.h"

#include <cstdio>
#include <vector>

namespace vibrelle::sim {

namespace {

constexpr qint64 chunkSamples = SoundRenderer::sampleRate / 10;

double msAt(qint64 sample) {
    return double(sample) * 1000.0 / SoundRenderer::sampleRate;
}

} // namespace

SoundFeed::SoundFeed(PlayTrack *track, std::function<double()> nowMs, SoundSink *sink, QObject *parent)
    : QObject(parent)
    , m_track(track)
    , m_nowMs(std::move(nowMs))
    , m_sink(sink) {
    m_timer.setInterval(tickMs);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SoundFeed::catchUp);
}

void SoundFeed::catchUp() {
    const double now = m_nowMs();
    renderTo(SoundRenderer::sampleAt(now));
    if (m_track->beating(now) || now < m_soundEndMs + holdMs) {
        if (!m_timer.isActive())
            m_timer.start();
    } else if (m_timer.isActive()) {
        m_timer.stop();
        m_sink->rest();
    }
}

void SoundFeed::renderTo(qint64 endSample) {
    std::vector<float> mixed;
    std::vector<qint16> pcm;
    while (m_cursor < endSample) {
        // A quiet stretch (nothing was playing) goes over in one piece.
        const double fromMs = msAt(m_cursor) - SoundRenderer::longestClickMs;
        const QList<Pulse> ahead = m_track->pulses(fromMs, msAt(endSample));
        const qint64 quietUntil = ahead.isEmpty() ? endSample : SoundRenderer::sampleAt(ahead.first().tMs);
        if (quietUntil > m_cursor) {
            m_sink->silence(quietUntil - m_cursor);
            m_cursor = quietUntil;
            continue;
        }
        const qint64 count = qMin(chunkSamples, endSample - m_cursor);
        const QList<Pulse> pulses = m_track->pulses(fromMs, msAt(m_cursor + count));
        mixed.assign(size_t(count), 0.0f);
        SoundRenderer::mix(pulses, m_cursor, mixed.data(), count);
        pcm.resize(size_t(count));
        for (qint64 i = 0; i < count; ++i)
            pcm[size_t(i)] = SoundRenderer::toPcm(mixed[size_t(i)]);
        for (const Pulse &pulse : pulses)
            m_soundEndMs = qMax(m_soundEndMs, pulse.tMs + SoundRenderer::clickOf(pulse).lengthMs);
        m_sink->play(pcm.data(), count);
        m_cursor += count;
    }
}

bool WavSink::open(const QString &path, QString *error) {
    return m_writer.open(path, SoundRenderer::sampleRate, error);
}

void WavSink::play(const qint16 *samples, qint64 count) {
    m_writer.write(samples, count);
    warnWhenFull();
}

void WavSink::silence(qint64 count) {
    m_writer.writeSilence(count);
    warnWhenFull();
}

void WavSink::warnWhenFull() {
    if (m_writer.full() && !m_warned) {
        m_warned = true;
        std::fputs(
            "vibrelle-sim: --audio-file: the WAV file has reached 4 GiB; later sound is not recorded\n",
            stderr);
    }
}

} // namespace vibrelle::sim
