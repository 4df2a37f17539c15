// TesterController: the billiards cue, whose pull drives a controlled resonance through the
// tension curve and whose release fires an impulse once the resonance has stopped.

#include "core/TesterController.h"

#include <QPointer>

#include <cmath>

namespace vibrelle {

namespace {

constexpr double cueFullPull = 220;
constexpr double cueMovementThreshold = 0.02;
constexpr double cueReleaseThreshold = 0.02;
constexpr double cueRestInterval = 0.25;

} // namespace

// --- Cue drag -------------------------------------------------------------------------------------

void TesterController::beginCueDrag()
{
    if (!controlsEnabled()) {
        return;
    }
    publish(m_cueCharge, 0.0);
    m_lastCuePullPoints = 0;
    const TensionCurve::Sample start = m_tensionCurve.sample(0);
    setIntensity(start.intensity);
    setPulseRateHz(start.cadence);
    setSharpness(start.sharpness);
    publish(m_cueDragging, true);
    controlledResonance();
    renewCueIdleDeadline();
}

void TesterController::updateCueDrag(double pullPoints)
{
    if (!m_cueDragging || !std::isfinite(pullPoints)) {
        return;
    }
    if (std::fabs(pullPoints - m_lastCuePullPoints) <= cueMovementThreshold) {
        return;
    }
    m_lastCuePullPoints = pullPoints;
    double charge = pullPoints / cueFullPull;
    if (charge <= 0) {
        charge = 0;
    }
    if (charge > 1) {
        charge = 1;
    }
    if (charge != m_cueCharge) {
        publish(m_cueCharge, charge);
        applyCueCharge();
    }
    if (m_holdBehavior == HoldBehavior::pause && m_resonanceMode == ResonanceMode::controlled && !m_pendingStop) {
        m_desiredPause = false;
        scheduleUpdate();
    }
    renewCueIdleDeadline();
}

void TesterController::endCueDrag()
{
    if (!m_cueDragging) {
        return;
    }
    std::optional<ReleaseImpulse> release;
    if (m_releaseImpulseEnabled && m_cueCharge > cueReleaseThreshold) {
        release = ReleaseImpulse{m_tensionCurve.sample(m_cueCharge).intensity, m_effectAddress.value_or(m_address)};
    }
    stop();
    m_pendingReleaseImpulse = release;
}

void TesterController::applyCueCharge()
{
    const TensionCurve::Sample sample = m_tensionCurve.sample(m_cueCharge);
    setIntensity(sample.intensity);
    setPulseRateHz(sample.cadence);
    setSharpness(sample.sharpness);
}

void TesterController::renewCueIdleDeadline()
{
    if (!m_cueDragging || m_holdBehavior != HoldBehavior::pause) {
        return;
    }
    if (m_cueIdleTimer && m_cueIdleTimer->isValid()) {
        m_cueIdleTimer->setFireTime(m_time->now() + cueRestInterval);
        return;
    }
    m_cueIdleTimer = m_time->startOneShot(cueRestInterval, [self = QPointer<TesterController>(this)] {
        if (self) {
            self->cueIdleTimerFired();
        }
    });
}

void TesterController::cueIdleTimerFired()
{
    if (!m_cueDragging) {
        return;
    }
    m_cueIdleTimer.reset();
    if (m_resonanceMode == ResonanceMode::controlled && !m_pendingStop) {
        m_desiredPause = true;
        scheduleUpdate();
    }
}

void TesterController::holdBehaviorChanged()
{
    if (!m_cueDragging) {
        return;
    }
    if (m_holdBehavior == HoldBehavior::pause) {
        renewCueIdleDeadline();
        return;
    }
    m_cueIdleTimer.reset();
    if (m_resonanceMode == ResonanceMode::controlled && !m_pendingStop) {
        m_desiredPause = false;
        scheduleUpdate();
    }
}

void TesterController::tensionCurveChanged()
{
    if (m_cueDragging) {
        applyCueCharge();
    }
}

} // namespace vibrelle
