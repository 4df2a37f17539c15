// TesterController: construction, published fields, derived predicates, the request log and
// the request channel with the timers it runs (heartbeat, release impulse, sequence window). The
// effect life cycles are in TesterControllerEffects.cpp (impulses, sequence, timed, controlled and
// gesture resonance, live updates), TesterControllerCue.cpp and TesterControllerStop.cpp.

#include "core/TesterController.h"

#include "api/Address.h"
#include "api/NetworkTransport.h"
#include "api/WireFormat.h"
#include "core/ControllerTiming.h"

#include <QPointer>
#include <QUuid>

#include <algorithm>

namespace vibrelle {

namespace {

constexpr int maxLogEntries = 30;
constexpr int maxLogCharacters = 400;
constexpr double heartbeatInterval = 0.5;
constexpr double leaseRenewalThreshold = 0.45;

const QString separator = QStringLiteral(" \u00B7 ");
const QString invalidAddressText = QStringLiteral("Usa un indirizzo locale http://127.0.0.1:porta.");

} // namespace

TesterController::TesterController(const QString &address, QObject *parent)
    : TesterController(address, std::make_unique<NetworkTransport>(), std::make_shared<SystemTimeSource>(), parent)
{
}

TesterController::TesterController(const QString &address, std::unique_ptr<HttpTransport> transport,
                                   std::shared_ptr<TimeSource> time, QObject *parent)
    : QObject(parent)
    , m_transport(std::move(transport))
    , m_time(std::move(time))
    , m_address(address)
    , m_status(QStringLiteral("Collegamento al servizio API locale\u2026"))
    , m_clientID(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())
{
    if (controlsEnabled()) {
        send(Command::status, std::nullopt, 0);
    }
}

TesterController::~TesterController()
{
    // Timers first: none of them may fire into a half-destroyed controller.
    m_heartbeatTimer.reset();
    m_updateTimer.reset();
    m_cueIdleTimer.reset();
    m_releaseTimer.reset();
    m_effectEndTask.reset();
}

// --- Published fields ---------------------------------------------------------------

void TesterController::setStatus(const QString &status)
{
    publish(m_status, status);
}

void TesterController::setConnected(bool connected)
{
    publish(m_connected, connected);
}

void TesterController::setBusy(bool busy)
{
    publish(m_busy, busy);
}

void TesterController::setAddress(const QString &address)
{
    publish(m_address, address);
}

bool TesterController::setParameter(double &field, double value, const char *key, bool wholeMilliseconds)
{
    if (field == value) {
        return false;
    }
    field = value;
    Q_EMIT changed();
    queueUpdate(QString::fromLatin1(key), wholeMilliseconds ? roundHalfAwayFromZero(value) : value);
    return true;
}

void TesterController::setIntensity(double value)
{
    setParameter(m_intensity, value, "intensity", false);
}

void TesterController::setFineness(double value)
{
    setParameter(m_fineness, value, "fineness", false);
}

void TesterController::setReactivity(double value)
{
    setParameter(m_reactivity, value, "reactivity", false);
}

void TesterController::setDurationMilliseconds(double value)
{
    setParameter(m_durationMilliseconds, value, "durationMs", true);
}

void TesterController::setPulseRateHz(double value)
{
    setParameter(m_pulseRateHz, value, "pulseRateHz", false);
}

void TesterController::setSharpness(double value)
{
    setParameter(m_sharpness, value, "sharpness", false);
}

void TesterController::setTransitionMilliseconds(double value)
{
    setParameter(m_transitionMilliseconds, value, "transitionMs", true);
}

void TesterController::setTensionCurve(const TensionCurve &curve)
{
    // Every assignment counts, even of an equal curve: during a drag it re-applies the charge.
    const bool differs = !(m_tensionCurve == curve);
    m_tensionCurve = curve;
    if (differs) {
        Q_EMIT changed();
    }
    tensionCurveChanged();
}

void TesterController::setHoldBehavior(HoldBehavior behavior)
{
    publish(m_holdBehavior, behavior);
    holdBehaviorChanged();
}

void TesterController::setReleaseImpulseEnabled(bool enabled)
{
    publish(m_releaseImpulseEnabled, enabled);
}

// --- Derived predicates -----------------------------------------------------------------

bool TesterController::controlsEnabled() const
{
    return !m_busy && !m_gestureWanted && !m_effectRunning && !m_pendingStop && !m_releasePending;
}

bool TesterController::connectionEditable() const
{
    return !m_busy && !m_effectRunning && !m_gestureWanted && !m_releasePending;
}

bool TesterController::reactivityEditable() const
{
    if (m_pendingStop) {
        return false;
    }
    if (!m_resonanceMode) {
        return connectionEditable();
    }
    return *m_resonanceMode == ResonanceMode::gesture;
}

bool TesterController::durationEditable() const
{
    if (m_pendingStop) {
        return false;
    }
    if (!m_resonanceMode) {
        return connectionEditable();
    }
    return *m_resonanceMode == ResonanceMode::timed;
}

bool TesterController::finenessEditable() const
{
    if (m_pendingStop) {
        return false;
    }
    if (!m_resonanceMode) {
        return connectionEditable();
    }
    return *m_resonanceMode != ResonanceMode::controlled;
}

bool TesterController::controlledParametersEditable() const
{
    if (m_pendingStop) {
        return false;
    }
    if (!m_resonanceMode) {
        return connectionEditable();
    }
    return *m_resonanceMode == ResonanceMode::controlled;
}

// --- Request log ----------------------------------------------------------------------------

void TesterController::addLog(const QString &text, bool failed, std::optional<HttpRequest> request)
{
    LogEntry entry{QUuid::createUuid(), truncateGraphemes(text, maxLogCharacters), failed, std::move(request)};
    m_entries.prepend(std::move(entry));
    if (m_entries.size() > maxLogEntries) {
        m_entries.resize(maxLogEntries);
    }
    Q_EMIT changed();
}

// --- Request channel ------------------------------------------------------------------------

void TesterController::send(Command command, const std::optional<QJsonObject> &body, double duration,
                            const std::optional<QString> &destination)
{
    if (m_requestTask) {
        return;
    }
    const QString path = commandPath(command);
    const QString trimmed = trimBaseAddress(destination.value_or(m_address));
    const std::optional<QUrl> url = requestUrl(trimmed, path);
    if (!url) {
        handleInvalidAddress(command);
        return;
    }

    HttpRequest request;
    request.method = methodForBody(body.has_value());
    request.url = *url;
    request.headers = {{QByteArrayLiteral("X-VBL-Client"), m_clientID.toLatin1()},
                       {QByteArrayLiteral("X-VBL-Client-Name"), QByteArray(clientName)},
                       {QByteArrayLiteral("Accept"), QByteArrayLiteral("application/json")}};
    if (body) {
        request.headers.append({QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json")});
        // A body JSON cannot represent goes out as an empty POST rather than not at all.
        request.body = encodeBody(*body);
    }

    if (commandStartsEffect(command)) {
        m_effectAddress = trimmed;
    }
    setBusy(true);

    InFlight inFlight;
    inFlight.command = command;
    inFlight.path = path;
    inFlight.body = body.value_or(QJsonObject{});
    inFlight.hasBody = body.has_value();
    inFlight.duration = duration;
    inFlight.updatesDuration = command == Command::update && inFlight.body.contains(QStringLiteral("durationMs"));
    inFlight.start = m_time->now();
    inFlight.request = std::move(request);
    m_requestTask = std::move(inFlight);

    const HttpRequest &sent = m_requestTask->request; // the log keeps this very request
    m_transport->send(sent, [self = QPointer<TesterController>(this)](const HttpOutcome &outcome) {
        if (self) {
            self->handleOutcome(outcome);
        }
    });
}

void TesterController::handleOutcome(const HttpOutcome &outcome)
{
    if (!m_requestTask) {
        return;
    }
    const InFlight request = *m_requestTask;
    if (outcome.failed) {
        handleTransportFailure(request, outcome.errorDescription);
        return;
    }
    // A body cut short at the transport's limit is no JSON object.
    const ServiceReply reply = decodeReply(outcome.statusCode, outcome.bodyTruncated ? QByteArray() : outcome.body);
    handleReply(request, reply, reply.object.value_or(QJsonObject{}));
}

void TesterController::handleReply(const InFlight &request, const ServiceReply &reply, const QJsonObject &replyObject)
{
    setConnected(reply.ok);

    // Whole milliseconds, truncated; the small bias absorbs the binary representation of uptimes.
    const double elapsed = std::max(0.0, m_time->now() - request.start);
    const qint64 milliseconds = static_cast<qint64>(elapsed * 1000.0 + 1e-6);
    const QString msText = QString::number(milliseconds);

    const Command command = request.command;
    if (!((command == Command::heartbeat || command == Command::update) && reply.ok)) {
        QString line = QString::fromLatin1(request.request.method) + QLatin1Char(' ') + request.path +
                       separator + QString::number(reply.statusCode) + separator + msText +
                       QStringLiteral(" ms") + separator + reply.message;
        if (reply.emitted) {
            line += separator + QStringLiteral("emitted: ") +
                    (*reply.emitted ? QStringLiteral("true") : QStringLiteral("false"));
        }
        addLog(line, !reply.ok, request.request);
    }

    bool effectEnded = false;
    if (!reply.ok) {
        setStatus(QString::number(reply.statusCode) + QStringLiteral(": ") + reply.message);
    } else {
        if (reply.paused && m_resonanceMode == ResonanceMode::controlled) {
            publish(m_controlledPaused, *reply.paused);
        }
        switch (command) {
        case Command::status:
            if (const auto summary = statusSummary(replyObject)) {
                addLog(*summary, false);
            }
            break;
        case Command::timed:
        case Command::update: {
            effectEnded = reply.activeEffect == QStringLiteral("none");
            const QJsonValue sentDuration = request.body.value(QStringLiteral("durationMs"));
            if (reply.remainingDurationMs && (command == Command::timed || request.updatesDuration)) {
                m_timedDeadline = m_time->now() + std::max(*reply.remainingDurationMs, 0.0) / 1000.0;
            } else if (command == Command::update && sentDuration.isDouble()) {
                m_timedDeadline = m_timedStart + sentDuration.toDouble() / 1000.0;
            }
            break;
        }
        default:
            break;
        }

        switch (command) {
        case Command::update:
            setStatus(QStringLiteral("Parametri aggiornati") + separator + msText + QStringLiteral(" ms"));
            if (m_resonanceMode != ResonanceMode::timed) {
                renewLease();
            }
            break;
        case Command::heartbeat:
            renewLease();
            break;
        case Command::stop:
            setStatus(QStringLiteral("Feedback fermato."));
            break;
        default:
            setStatus(QStringLiteral("Connesso") + separator + msText + QStringLiteral(" ms"));
            if (command == Command::gesture || command == Command::controlled || command == Command::pause ||
                command == Command::resume) {
                renewLease();
            }
            break;
        }
    }

    m_requestTask.reset();
    setBusy(false);
    complete(command, reply.ok, request.duration, effectEnded, request.updatesDuration);
}

void TesterController::handleTransportFailure(const InFlight &request, const QString &description)
{
    setConnected(false);
    setStatus(QStringLiteral("Connessione non riuscita: ") + description);
    addLog(request.path + separator + m_status, true, request.request);
    m_requestTask.reset();
    setBusy(false);
    complete(request.command, false, request.duration, false, request.updatesDuration);
}

void TesterController::handleInvalidAddress(Command command)
{
    setStatus(invalidAddressText);
    setConnected(false);
    addLog(invalidAddressText, true);
    resetEffectState();
    if (command == Command::stop && m_terminationCompletion) {
        auto completion = std::move(m_terminationCompletion);
        m_terminationCompletion = nullptr;
        completion();
    }
}

void TesterController::renewLease()
{
    m_lastLeaseRenewal = m_time->now();
}

void TesterController::complete(Command command, bool succeeded, double duration, bool effectEnded,
                                bool updatesDuration)
{
    if (command == Command::stop) {
        std::optional<ReleaseImpulse> release;
        if (succeeded && !m_terminationCompletion) {
            release = m_pendingReleaseImpulse;
        }
        resetEffectState();
        publish(m_pendingStop, false);
        if (release) {
            publish(m_releasePending, true);
            armReleaseTimer(*release);
        }
        if (m_terminationCompletion) {
            auto completion = std::move(m_terminationCompletion);
            m_terminationCompletion = nullptr;
            completion();
        }
        return;
    }

    if (!succeeded && command != Command::status) {
        // The automatic stop after a failed effect request. Like stop(), it also drops the
        // cue's charge, so an abandoned drag does not keep showing its tension.
        stopEffectTimers();
        publish(m_cueDragging, false);
        publish(m_cueCharge, 0.0);
        m_pendingReleaseImpulse.reset();
        publish(m_gestureWanted, false);
        publish(m_continuousGesture, false);
        publish(m_pendingStop, true);
    }
    if (m_pendingStop) {
        flushPendingStop();
        return;
    }
    if (!succeeded) {
        return;
    }
    if (effectEnded) {
        resetEffectState();
        return;
    }

    switch (command) {
    case Command::impulse:
        m_effectAddress.reset();
        break;
    case Command::timed:
        publish(m_effectRunning, true);
        scheduleTimedEnd();
        break;
    case Command::gesture:
        publish(m_effectRunning, true);
        if (!m_gestureWanted) {
            stop();
            return;
        }
        startHeartbeat();
        break;
    case Command::controlled:
        publish(m_effectRunning, true);
        startHeartbeat();
        break;
    case Command::update:
        if (m_resonanceMode == ResonanceMode::timed && updatesDuration) {
            scheduleTimedEnd();
        }
        break;
    case Command::sequence:
        publish(m_effectRunning, true);
        startSequenceEndWait(duration);
        break;
    default:
        break;
    }
    scheduleUpdate();
}

void TesterController::sendStopNow()
{
    send(Command::stop, emptyBody(), 0, m_effectAddress);
}

void TesterController::flushPendingStop()
{
    if (m_pendingStop && !m_requestTask) {
        publish(m_pendingStop, false);
        sendStopNow();
    }
}

void TesterController::verifyConnection()
{
    if (controlsEnabled()) {
        send(Command::status, std::nullopt, 0);
    }
}

// --- Heartbeat, release timer, sequence window ---------------------------------------------

void TesterController::startHeartbeat()
{
    if (m_heartbeatTimer) {
        m_heartbeatTimer->invalidate();
    }
    m_heartbeatTimer = m_time->startRepeating(heartbeatInterval, [self = QPointer<TesterController>(this)] {
        if (self) {
            self->heartbeatTick();
        }
    });
}

void TesterController::heartbeatTick()
{
    if (m_effectRunning && m_resonanceMode != ResonanceMode::timed && !m_pendingStop && !m_requestTask &&
        m_time->now() - m_lastLeaseRenewal >= leaseRenewalThreshold - 1e-9 && m_effectAddress) {
        send(Command::heartbeat, emptyBody(), 0, m_effectAddress);
    }
}

void TesterController::armReleaseTimer(const ReleaseImpulse &release)
{
    const double delay = std::max(m_lastUpdateSent - m_time->now() + timing::updateSpacing, timing::minimumTimerDelay);
    m_releaseTimer = m_time->startOneShot(delay, [self = QPointer<TesterController>(this), release] {
        if (self) {
            self->releaseTimerFired(release);
        }
    });
}

void TesterController::releaseTimerFired(const ReleaseImpulse &release)
{
    if (!m_releasePending) {
        return;
    }
    m_releaseTimer.reset();
    publish(m_releasePending, false);
    send(Command::impulse, impulseBody(QStringLiteral("crisp"), release.intensity), 0, release.address);
}

void TesterController::startSequenceEndWait(double duration)
{
    m_effectEndTask.reset();
    m_effectEndTask = m_time->startOneShot(duration + timing::effectEndMargin, [self = QPointer<TesterController>(this)] {
        if (self) {
            self->resetEffectState();
        }
    });
}

} // namespace vibrelle
