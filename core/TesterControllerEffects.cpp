// TesterController: impulses and the sequence, timed resonance, live parameter updates,
// controlled resonance and the continuous gesture.

#include "core/TesterController.h"

#include "api/WireFormat.h"
#include "core/ControllerTiming.h"

#include <QPointer>

#include <algorithm>

namespace vibrelle {

namespace {

constexpr double sequenceDuration = 0.18;

bool keyAccepted(ResonanceMode mode, const QString &key)
{
    switch (mode) {
    case ResonanceMode::gesture:
        return key == QLatin1String("intensity") || key == QLatin1String("fineness") ||
               key == QLatin1String("reactivity");
    case ResonanceMode::timed:
        return key == QLatin1String("intensity") || key == QLatin1String("fineness") ||
               key == QLatin1String("durationMs");
    case ResonanceMode::controlled:
        return key == QLatin1String("intensity") || key == QLatin1String("pulseRateHz") ||
               key == QLatin1String("sharpness") || key == QLatin1String("transitionMs");
    }
    return false;
}

} // namespace

// --- Impulses and sequence -----------------------------------------------------------------

void TesterController::impulse(const QString &style)
{
    if (!controlsEnabled()) {
        return;
    }
    send(Command::impulse, impulseBody(style, m_intensity), 0);
}

void TesterController::sequence()
{
    if (!controlsEnabled()) {
        return;
    }
    send(Command::sequence, sequenceBody(m_intensity), sequenceDuration);
}

// --- Timed resonance -------------------------------------------------------------------------

void TesterController::timedResonance()
{
    if (!controlsEnabled()) {
        return;
    }
    publish(m_resonanceMode, std::optional<ResonanceMode>(ResonanceMode::timed));
    const double now = m_time->now();
    m_timedStart = now;
    m_lastUpdateSent = now;
    // A duration the body cannot carry makes a request without a body, which the service refuses.
    const double seconds = roundHalfAwayFromZero(m_durationMilliseconds) / 1000.0;
    m_timedDeadline = now + seconds;
    send(Command::timed, timedBody(m_durationMilliseconds, m_fineness, m_intensity), seconds);
}

void TesterController::scheduleTimedEnd()
{
    m_effectEndTask.reset();
    double delay = m_timedDeadline - m_time->now();
    if (!(delay >= 0)) {
        delay = 0;
    }
    m_effectEndTask = m_time->startOneShot(delay + timing::effectEndMargin, [self = QPointer<TesterController>(this)] {
        if (self) {
            self->stop();
        }
    });
}

// --- Live parameter updates -------------------------------------------------------------------

void TesterController::queueUpdate(const QString &key, double value)
{
    if (m_pendingStop || !m_resonanceMode || !keyAccepted(*m_resonanceMode, key)) {
        return;
    }
    m_pendingUpdates.insert(key, value);
    scheduleUpdate();
}

void TesterController::scheduleUpdate()
{
    if (m_requestTask) {
        return;
    }
    if (m_desiredPause && *m_desiredPause == m_controlledPaused) {
        m_desiredPause.reset();
    }
    if (m_pendingUpdates.isEmpty() && !m_desiredPause) {
        return;
    }
    if (m_updateTimer && m_updateTimer->isValid()) {
        return;
    }
    if (!m_effectRunning || !m_resonanceMode || m_pendingStop) {
        return;
    }
    const double delay = std::max(m_lastUpdateSent + timing::updateSpacing - m_time->now(), timing::minimumTimerDelay);
    m_updateTimer = m_time->startOneShot(delay, [self = QPointer<TesterController>(this)] {
        if (self) {
            self->updateTimerFired();
        }
    });
}

void TesterController::updateTimerFired()
{
    m_updateTimer.reset();
    if (m_pendingStop || m_requestTask || !m_effectRunning || !m_resonanceMode || !m_effectAddress) {
        return;
    }
    if (m_desiredPause && *m_desiredPause == m_controlledPaused) {
        m_desiredPause.reset();
    }
    m_lastUpdateSent = m_time->now();
    if (m_desiredPause == true) {
        m_desiredPause.reset();
        send(Command::pause, emptyBody(), 0, m_effectAddress);
    } else if (!m_pendingUpdates.isEmpty()) {
        const QJsonObject body = updateBody(m_pendingUpdates);
        m_pendingUpdates.clear();
        send(Command::update, body, 0, m_effectAddress);
    } else if (m_desiredPause == false) {
        m_desiredPause.reset();
        send(Command::resume, emptyBody(), 0, m_effectAddress);
    }
}

// --- Controlled resonance ----------------------------------------------------------------------

void TesterController::controlledResonance()
{
    if (!controlsEnabled()) {
        return;
    }
    publish(m_resonanceMode, std::optional<ResonanceMode>(ResonanceMode::controlled));
    publish(m_controlledPaused, false);
    m_lastUpdateSent = m_time->now();
    send(Command::controlled, controlledBody(m_intensity, m_pulseRateHz, m_sharpness, m_transitionMilliseconds), 0);
}

void TesterController::togglePause()
{
    if (m_resonanceMode != ResonanceMode::controlled || m_pendingStop) {
        return;
    }
    m_desiredPause = !m_controlledPaused;
    scheduleUpdate();
}

// --- Continuous gesture -------------------------------------------------------------------------

void TesterController::beginGesture(bool continuous)
{
    if (m_gestureWanted || !controlsEnabled()) {
        return;
    }
    publish(m_resonanceMode, std::optional<ResonanceMode>(ResonanceMode::gesture));
    publish(m_continuousGesture, continuous);
    publish(m_gestureWanted, true);
    m_lastUpdateSent = m_time->now();
    send(Command::gesture, gestureBody(m_fineness, m_intensity, m_reactivity), 0);
}

void TesterController::toggleContinuousGesture()
{
    if (m_gestureWanted) {
        stop();
    } else {
        beginGesture(true);
    }
}

void TesterController::endGesturePadDrag()
{
    if (m_gestureWanted && !m_continuousGesture) {
        stop();
    }
}

} // namespace vibrelle
