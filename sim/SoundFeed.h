#pragma once

#include "PlayTrack.h"
#include "WavWriter.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace vibrelle::sim {

// Where the sound goes: a WAV file or the desktop's sound output. Sample by sample in the sim's
// time, without gaps.
class SoundSink {
public:
    virtual ~SoundSink() = default;
    virtual void play(const qint16 *samples, qint64 count) = 0;
    // `count` samples in which nothing sounds.
    virtual void silence(qint64 count) = 0;
    // Nothing sounds until further notice (a device closes its stream).
    virtual void rest() {}
};

// Renders the track's sound into a sink in the sim's real time, sample 0 being the sim's start.
// While something sounds it catches up every tick; while nothing does it has no timer at all, and
// the silence is handed over in one piece at the next event.
class SoundFeed : public QObject {
    Q_OBJECT

public:
    static constexpr int tickMs = 40;
    // How long the ticks go on after the last click has rung out, before the sink rests (so that
    // a device keeps its stream open across short pauses).
    static constexpr double holdMs = 500;

    SoundFeed(PlayTrack *track, std::function<double()> nowMs, SoundSink *sink, QObject *parent = nullptr);

    // Renders up to now, then keeps ticking while something sounds. Call after every event.
    void catchUp();
    qint64 renderedSamples() const { return m_cursor; }
    bool ticking() const { return m_timer.isActive(); }

private:
    void renderTo(qint64 endSample);

    PlayTrack *m_track;
    std::function<double()> m_nowMs;
    SoundSink *m_sink;
    QTimer m_timer;
    qint64 m_cursor = 0;
    double m_soundEndMs = -PlayTrack::inf; // when the last click rendered rings out
};

// The sound into a WAV file.
class WavSink : public SoundSink {
public:
    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_writer.isOpen(); }
    void play(const qint16 *samples, qint64 count) override;
    void silence(qint64 count) override;

private:
    void warnWhenFull();
    WavWriter m_writer;
    bool m_warned = false;
};

} // namespace vibrelle::sim
