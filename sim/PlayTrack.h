#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <deque>
#include <limits>
#include <optional>
#include <utility>

namespace vibrelle::sim {

// One beat of a resonance, or an impulse in one of the three styles.
enum class PulseKind { Beat, Crisp, Natural, Soft };

// One pulse of the simulated trackpad, as the sound and the window render it.
struct Pulse {
    double tMs = 0; // on the timeline's clock
    PulseKind kind = PulseKind::Beat;
    double intensity = 0; // 0..1
    double character = 0; // beats: sharpness (controlled) or fineness (timed, gesture); 1 is the crispest
    double periodMs = 0;  // beats: the time to the next beat at the cadence of this one
};

// The parameters of a resonance, named as on the wire.
struct ResonanceParams {
    double intensity = 0;
    double pulseRateHz = 0;
    double sharpness = 0;
    double transitionMs = 0;
    double fineness = 0;
    double reactivity = 0;
    double durationMs = 0;

    // These values with the members of `values` (wire keys) put in.
    ResonanceParams with(const QJsonObject &values) const;
    // The linear mix from `a` (f = 0) to `b` (f = 1).
    static ResonanceParams mix(const ResonanceParams &a, const ResonanceParams &b, double f);
};

struct RequestMark {
    double tMs = 0;
    QString path;
    int status = 0; // 0: no reply
};

// The simulated trackpad's present and recent past, built from the sim's timeline events alone
// (the printed ones plus the "lease" and "sequence" notes). Beats are laid out lazily, never past
// the time asked for, so every event must be applied before anything later than it is asked.
// Resonances beat at their cadence from their start, restarting at every resume; parameter
// changes of a controlled resonance ramp over its transition time.
class PlayTrack {
public:
    static constexpr double keptMs = 6000;        // how far behind the latest request the past is kept
    static constexpr double steadyCadenceHz = 50; // timed and gesture resonances beat at this cadence
    static constexpr double inf = std::numeric_limits<double>::infinity();

    struct Resonance {
        QString mode; // "timed", "gesture" or "controlled"
        QString client;
        double startMs = 0;
        double endMs = inf;
        QString endReason;
        struct Change {
            double tMs;
            ResonanceParams from, to;
            double rampMs;
        };
        QList<Change> changes;                   // the first one is the start
        QList<std::pair<double, double>> pauses; // [from, to); to is inf while paused
        bool paused() const { return !pauses.isEmpty() && pauses.last().second == inf; }
        ResonanceParams paramsAt(double tMs) const;
        const ResonanceParams &target() const { return changes.last().to; }

        // Beat layout: the beats laid out so far, and where the next one falls.
        QList<Pulse> beats;
        double nextMs = 0;
        double anchorMs = 0;
        double anchorPeriodMs = 0;
        qint64 sinceAnchor = 0;
    };

    struct Transient {
        QString kind; // "impulse" or "sequence"
        QString client;
        QJsonObject params;
    };

    explicit PlayTrack(int leaseMs);

    void apply(double tMs, const QString &event, const QJsonObject &fields);

    // The pulses that start in [fromMs, toMs), in time order.
    QList<Pulse> pulses(double fromMs, double toMs);
    // The paused stretches that overlap [fromMs, toMs).
    QList<std::pair<double, double>> pauses(double fromMs, double toMs) const;
    QList<RequestMark> marks(double fromMs, double toMs) const;

    // The resonance running or paused now, if any.
    const Resonance *resonance() const;
    const std::optional<Transient> &transient() const { return m_transient; }
    int leaseMs() const { return m_leaseMs; }
    // The part of the lease left at this time, 0..1; none when no leased resonance plays.
    std::optional<double> leaseLeft(double nowMs) const;
    // The last resonance ended because its lease ran out, and no effect has started since.
    bool leaseExpired() const { return m_leaseExpired; }
    // Whether a pulse may still start at or after this time: a resonance beats, or an impulse is due.
    bool beating(double nowMs) const;
    // The last moment anything was played or asked for: the strip shows it until 5 s later.
    // Infinite while a resonance runs or is paused.
    double lastActivityMs() const;

private:
    void layOut(Resonance &run, double toMs);
    void forgetBefore(double tMs);
    Resonance *current();

    int m_leaseMs;
    std::deque<Resonance> m_runs;
    std::deque<Pulse> m_impulses; // in time order; sequence steps may lie ahead
    std::deque<RequestMark> m_marks;
    std::optional<Transient> m_transient;
    double m_renewedMs = 0;
    bool m_leaseExpired = false;
    double m_lastActivityMs = -inf;
};

} // namespace vibrelle::sim
