#pragma once

// TesterController is the one model object of the tester.
//
// The window reads its published properties (and re-renders on changed()) and calls
// its public operations; it never talks to the service itself. Every operation that
// talks to the service ends in send(), the only road to the network: send() checks
// the address, builds the request from the wire format (api/WireFormat.h), marks the
// controller busy and hands the request to the HttpTransport. Exactly one request is
// in flight at a time. When the reply (or a transport failure) comes back on the main
// thread, the channel logs it, updates the status line and the connection indicator,
// and calls complete(), which advances the effect's life cycle: it arms the heartbeat,
// the timed end, the sequence window, sends queued live updates, or sends the stop that
// waited in pendingStop.
//
// Time comes from one injected TimeSource: the uptime for every effect time and
// response time, and every one-shot, repeating and deferred wake-up. Timers and
// exchanges hold the controller only weakly and do nothing once it is gone.

#include "api/Command.h"
#include "api/HttpTransport.h"
#include "api/ServiceReply.h"
#include "core/TensionCurve.h"
#include "core/TimeSource.h"
#include "core/Types.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <functional>
#include <limits>
#include <memory>
#include <optional>

namespace vibrelle {

class TesterController final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString address READ address WRITE setAddress NOTIFY changed)
    Q_PROPERTY(double intensity READ intensity WRITE setIntensity NOTIFY changed)
    Q_PROPERTY(double fineness READ fineness WRITE setFineness NOTIFY changed)
    Q_PROPERTY(double reactivity READ reactivity WRITE setReactivity NOTIFY changed)
    Q_PROPERTY(double durationMilliseconds READ durationMilliseconds WRITE setDurationMilliseconds NOTIFY changed)
    Q_PROPERTY(double pulseRateHz READ pulseRateHz WRITE setPulseRateHz NOTIFY changed)
    Q_PROPERTY(double sharpness READ sharpness WRITE setSharpness NOTIFY changed)
    Q_PROPERTY(double transitionMilliseconds READ transitionMilliseconds WRITE setTransitionMilliseconds NOTIFY changed)
    Q_PROPERTY(bool releaseImpulseEnabled READ releaseImpulseEnabled WRITE setReleaseImpulseEnabled NOTIFY changed)
    Q_PROPERTY(bool controlledPaused READ controlledPaused NOTIFY changed)
    Q_PROPERTY(bool cueDragging READ cueDragging NOTIFY changed)
    Q_PROPERTY(double cueCharge READ cueCharge NOTIFY changed)
    Q_PROPERTY(bool releasePending READ releasePending NOTIFY changed)
    Q_PROPERTY(QString status READ status NOTIFY changed)
    Q_PROPERTY(bool connected READ connected NOTIFY changed)
    Q_PROPERTY(bool busy READ busy NOTIFY changed)
    Q_PROPERTY(bool gestureWanted READ gestureWanted NOTIFY changed)
    Q_PROPERTY(bool effectRunning READ effectRunning NOTIFY changed)
    Q_PROPERTY(bool continuousGesture READ continuousGesture NOTIFY changed)
    Q_PROPERTY(bool controlsEnabled READ controlsEnabled NOTIFY changed)

public:
    static constexpr const char *defaultAddress = "http://127.0.0.1:59723";
    static constexpr const char *clientName = "API Tester";

    // Production: QNetworkAccessManager transport and the steady clock with QTimers.
    explicit TesterController(const QString &address, QObject *parent = nullptr);
    // Any transport and time source (tests, benchmarks, snapshots).
    TesterController(const QString &address, std::unique_ptr<HttpTransport> transport,
                     std::shared_ptr<TimeSource> time, QObject *parent = nullptr);
    ~TesterController() override;

    // --- Published fields -------------------------------------------------------
    QString address() const { return m_address; }
    double intensity() const { return m_intensity; }
    double fineness() const { return m_fineness; }
    double reactivity() const { return m_reactivity; }
    double durationMilliseconds() const { return m_durationMilliseconds; }
    double pulseRateHz() const { return m_pulseRateHz; }
    double sharpness() const { return m_sharpness; }
    double transitionMilliseconds() const { return m_transitionMilliseconds; }
    TensionCurve tensionCurve() const { return m_tensionCurve; }
    HoldBehavior holdBehavior() const { return m_holdBehavior; }
    bool releaseImpulseEnabled() const { return m_releaseImpulseEnabled; }
    bool controlledPaused() const { return m_controlledPaused; }
    bool cueDragging() const { return m_cueDragging; }
    double cueCharge() const { return m_cueCharge; }
    bool releasePending() const { return m_releasePending; }
    QString status() const { return m_status; }
    bool connected() const { return m_connected; }
    bool busy() const { return m_busy; }
    bool gestureWanted() const { return m_gestureWanted; }
    bool effectRunning() const { return m_effectRunning; }
    std::optional<ResonanceMode> resonanceMode() const { return m_resonanceMode; }
    bool continuousGesture() const { return m_continuousGesture; }
    const QList<LogEntry> &entries() const { return m_entries; }

    void setAddress(const QString &address);
    void setIntensity(double value);
    void setFineness(double value);
    void setReactivity(double value);
    void setDurationMilliseconds(double value);
    void setPulseRateHz(double value);
    void setSharpness(double value);
    void setTransitionMilliseconds(double value);
    void setTensionCurve(const TensionCurve &curve);
    void setHoldBehavior(HoldBehavior behavior);
    void setReleaseImpulseEnabled(bool enabled);

    // --- Derived predicates -------------------------------------------------------
    bool controlsEnabled() const;
    bool connectionEditable() const;
    bool reactivityEditable() const;
    bool durationEditable() const;
    bool finenessEditable() const;
    bool controlledParametersEditable() const;

    // --- Operations ---------------------------------------------------------------
    void verifyConnection();
    void impulse(const QString &style);
    void sequence();
    void timedResonance();
    void controlledResonance();
    // The pause/resume button of the controlled page: pause when playing, resume when paused.
    void togglePause();
    void beginGesture(bool continuous);
    // The gesture workspace button: starts a continuous gesture, or stops a wanted one.
    void toggleContinuousGesture();
    // End of a drag on the gesture pad: stops a gesture tied to that drag.
    void endGesturePadDrag();
    void beginCueDrag();
    void updateCueDrag(double pullPoints);
    void endCueDrag();
    void stop();
    void stopForTermination(std::function<void()> completion);
    void stopOnDeactivation(const QString &reason);

    // `request`: the request of the exchange the line reports, if it reports one.
    void addLog(const QString &text, bool failed, std::optional<HttpRequest> request = std::nullopt);

    // --- Read-only views of the internal bookkeeping (diagnostics and tests) --------
    QString clientID() const { return m_clientID; }
    bool pendingStop() const { return m_pendingStop; }
    bool requestInFlight() const { return m_requestTask.has_value(); }
    std::optional<QString> effectAddress() const { return m_effectAddress; }
    std::optional<bool> desiredPause() const { return m_desiredPause; }
    QMap<QString, double> pendingUpdates() const { return m_pendingUpdates; }
    double timedStart() const { return m_timedStart; }
    double timedDeadline() const { return m_timedDeadline; }
    double lastUpdateSent() const { return m_lastUpdateSent; }
    double lastLeaseRenewal() const { return m_lastLeaseRenewal; }
    bool heartbeatActive() const { return m_heartbeatTimer != nullptr; }
    bool effectEndPending() const { return m_effectEndTask != nullptr; }
    bool cueIdleTimerActive() const { return m_cueIdleTimer && m_cueIdleTimer->isValid(); }
    struct ReleaseImpulse {
        double intensity = 0;
        QString address;
    };
    std::optional<ReleaseImpulse> pendingReleaseImpulse() const { return m_pendingReleaseImpulse; }
    bool terminationPending() const { return static_cast<bool>(m_terminationCompletion); }

Q_SIGNALS:
    // Any published field was assigned a new value, or the log changed.
    void changed();

private:
    struct InFlight {
        Command command;
        QString path;
        QJsonObject body;
        bool hasBody = false;
        double duration = 0;
        bool updatesDuration = false;
        double start = 0;
        HttpRequest request; // exactly as handed to the transport
    };

    void send(Command command, const std::optional<QJsonObject> &body, double duration,
              const std::optional<QString> &destination = std::nullopt);
    void handleOutcome(const HttpOutcome &outcome);
    void handleReply(const InFlight &request, const ServiceReply &reply, const QJsonObject &replyObject);
    void handleTransportFailure(const InFlight &request, const QString &description);
    void handleInvalidAddress(Command command);
    void complete(Command command, bool succeeded, double duration, bool effectEnded, bool updatesDuration);
    void sendStopNow();
    void flushPendingStop();
    void renewLease();
    void startHeartbeat();
    void heartbeatTick();
    void armReleaseTimer(const ReleaseImpulse &release);
    void releaseTimerFired(const ReleaseImpulse &release);
    void startSequenceEndWait(double duration);
    void scheduleTimedEnd();
    void queueUpdate(const QString &key, double value);
    void scheduleUpdate();
    void updateTimerFired();
    void applyCueCharge();
    void renewCueIdleDeadline();
    void cueIdleTimerFired();
    void holdBehaviorChanged();
    void tensionCurveChanged();
    void stopEffectTimers();
    void resetEffectState();

    // Assigns a published field and notifies when the value differs.
    template <typename T> void publish(T &field, const T &value);
    bool setParameter(double &field, double value, const char *key, bool wholeMilliseconds);
    void setStatus(const QString &status);
    void setConnected(bool connected);
    void setBusy(bool busy);

    std::unique_ptr<HttpTransport> m_transport;
    std::shared_ptr<TimeSource> m_time;

    // Published fields.
    QString m_address;
    double m_intensity = 0.5;
    double m_fineness = 0.5;
    double m_reactivity = 0.5;
    double m_durationMilliseconds = 300;
    double m_pulseRateHz = 30;
    double m_sharpness = 0.5;
    double m_transitionMilliseconds = 40;
    TensionCurve m_tensionCurve;
    HoldBehavior m_holdBehavior = HoldBehavior::maintain;
    bool m_releaseImpulseEnabled = true;
    bool m_controlledPaused = false;
    bool m_cueDragging = false;
    double m_cueCharge = 0;
    bool m_releasePending = false;
    QString m_status;
    bool m_connected = false;
    bool m_busy = false;
    bool m_gestureWanted = false;
    bool m_effectRunning = false;
    std::optional<ResonanceMode> m_resonanceMode;
    bool m_continuousGesture = false;
    QList<LogEntry> m_entries;

    // Private fields.
    QString m_clientID;
    std::optional<InFlight> m_requestTask;
    std::unique_ptr<Timer> m_heartbeatTimer;
    std::unique_ptr<Timer> m_updateTimer;
    QMap<QString, double> m_pendingUpdates;
    std::optional<bool> m_desiredPause;
    std::unique_ptr<Timer> m_cueIdleTimer;
    double m_lastCuePullPoints = 0;
    std::unique_ptr<Timer> m_releaseTimer;
    std::optional<ReleaseImpulse> m_pendingReleaseImpulse;
    double m_lastUpdateSent = -std::numeric_limits<double>::infinity();
    double m_lastLeaseRenewal = -std::numeric_limits<double>::infinity();
    double m_timedStart = 0;
    double m_timedDeadline = 0;
    std::unique_ptr<Timer> m_effectEndTask;
    bool m_pendingStop = false;
    std::function<void()> m_terminationCompletion;
    std::optional<QString> m_effectAddress;
};

template <typename T> void TesterController::publish(T &field, const T &value)
{
    if (field == value) {
        return;
    }
    field = value;
    Q_EMIT changed();
}

} // namespace vibrelle
