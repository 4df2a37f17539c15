#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

namespace vibrelle::sim {

class Timeline;

// Who sent a request: the X-VBL-Client identifier and the X-VBL-Client-Name.
struct Client {
    QString id;
    QString name;
};

// Outcome of one API command: HTTP status and the JSON object of the reply.
struct ApiResult {
    int status = 200;
    QJsonObject body;

    static ApiResult ok(QJsonObject body);
    static ApiResult failure(int status, const QString &message);
};

// The simulated haptic device: at most one resonance (timed, gesture or controlled) plus at most
// one impulse or sequence playing on top of it. Commands validate their body completely before
// changing anything, so a refused command leaves the state exactly as it was.
class HapticEngine : public QObject {
    Q_OBJECT

public:
    static constexpr double impulsePlayMs = 30;

    HapticEngine(Timeline *timeline, int leaseMs, QObject *parent = nullptr);

    ApiResult status();
    ApiResult impulse(const QJsonObject &body, const Client &client);
    ApiResult sequence(const QJsonObject &body, const Client &client);
    ApiResult resonance(const QJsonObject &body, const Client &client);
    ApiResult update(const QJsonObject &body, const Client &client);
    ApiResult pause(const QJsonObject &body, const Client &client);
    ApiResult resume(const QJsonObject &body, const Client &client);
    ApiResult heartbeat(const QJsonObject &body, const Client &client);
    ApiResult stop(const QJsonObject &body, const Client &client);

    // Ends whatever plays, recording the reason; used when the sim shuts down.
    void endAll(const QString &reason);

    // "idle", "impulse", "sequence", "timed", "gesture", "controlled" or "paused".
    QString state();
    // What plays, each with "running" or "paused", and the lease of a gesture or controlled
    // resonance: {"playing":[{"effect":"controlled","state":"paused"}],"lease":{"alive":true,"msLeft":N}}.
    QJsonObject playing();
    int leaseMs() const { return m_leaseMs; }

private:
    enum class Mode { Timed, Gesture, Controlled };

    struct Resonance {
        Mode mode = Mode::Timed;
        QJsonObject params;
        bool paused = false;
        double startedMs = 0;
        double durationMs = 0; // timed only
        double renewedMs = 0;  // gesture and controlled: last lease renewal
        Client owner;
    };

    struct Transient {
        QString kind; // "impulse" or "sequence"
        double untilMs = 0;
        Client owner;
    };

    ApiResult setPaused(bool paused, const QJsonObject &body, const Client &client);
    static QString modeName(Mode mode);
    static std::optional<Mode> modeFromName(const QString &name);
    static QStringList updateKeys(Mode mode);

    // Ends effects whose deadline or lease has passed, so that every command sees the state as
    // of now even if a timer has not fired yet.
    void settle();
    void endResonance(const QString &reason, const Client &by, bool endedOnItsOwn);
    void endTransient(const QString &reason, const Client &by);
    void startTransient(const QString &kind, double playMs, const QJsonObject &params, const Client &client);
    void renewLease();
    void armResonanceTimers();
    double remainingMs() const;
    QJsonObject effectReply() const;
    QString nothingRunningMessage() const;
    void record(const QString &event, QJsonObject fields, const Client &client);

    Timeline *m_timeline;
    int m_leaseMs;
    std::optional<Resonance> m_resonance;
    std::optional<Transient> m_transient;
    // The last resonance that ended by itself (deadline or lease), until the next start or stop.
    std::optional<Mode> m_endedOnItsOwn;
    QString m_lastEnd;
    QTimer m_deadlineTimer;
    QTimer m_leaseTimer;
    QTimer m_transientTimer;
};

} // namespace vibrelle::sim
