// TesterController: stop, the effect reset, and the automatic stops on deactivation and before
// termination.

#include "core/TesterController.h"

namespace vibrelle {

// --- Stop, reset and shutdown ------------------------------------------------------------------

void TesterController::stop()
{
    m_pendingReleaseImpulse.reset();
    m_releaseTimer.reset();
    publish(m_releasePending, false);
    publish(m_cueDragging, false);
    publish(m_cueCharge, 0.0);
    stopEffectTimers();
    publish(m_gestureWanted, false);
    publish(m_continuousGesture, false);
    publish(m_pendingStop, true);
    flushPendingStop();
}

void TesterController::stopEffectTimers()
{
    m_heartbeatTimer.reset();
    m_cueIdleTimer.reset();
    m_desiredPause.reset();
    m_updateTimer.reset();
    m_pendingUpdates.clear();
    m_effectEndTask.reset();
}

void TesterController::resetEffectState()
{
    stopEffectTimers();
    m_releaseTimer.reset();
    m_pendingReleaseImpulse.reset();
    publish(m_releasePending, false);
    publish(m_cueDragging, false);
    publish(m_controlledPaused, false);
    publish(m_effectRunning, false);
    publish(m_gestureWanted, false);
    publish(m_continuousGesture, false);
    publish(m_resonanceMode, std::optional<ResonanceMode>());
    m_effectAddress.reset();
    m_timedStart = 0;
    m_timedDeadline = 0;
}

void TesterController::stopForTermination(std::function<void()> completion)
{
    m_terminationCompletion = std::move(completion);
    if (m_effectAddress || m_requestTask || m_effectRunning || m_releasePending) {
        addLog(QStringLiteral("Stop automatico: chiusura del tester"), false);
        stop();
        return;
    }
    auto callback = std::move(m_terminationCompletion);
    m_terminationCompletion = nullptr;
    if (callback) {
        callback();
    }
}

void TesterController::stopOnDeactivation(const QString &reason)
{
    if (m_gestureWanted || m_effectRunning || m_effectAddress || m_releasePending || m_pendingReleaseImpulse) {
        addLog(QStringLiteral("Stop automatico: ") + reason, false);
        stop();
    }
}

} // namespace vibrelle
