// The billiards cue: pull to charge to curve values on the wire, the rest detector,
// hold-behaviour and curve changes during a drag, and the release impulse with its
// threshold, address, timing and cancellation.

#include "EffectsFixture.h"

#include <QTest>

#include <limits>

using namespace vibrelle;
using namespace vibrelle::testing;

namespace {

constexpr double eps = 1e-9;

TensionCurve::Sample curveAt(double charge) {
    return TensionCurve{}.sample(charge);
}

// The requests that belong to the effect, heartbeats left out.
QStringList effectPaths(const EffectsFixture &f) {
    QStringList result = f.paths();
    result.removeAll(paths::heartbeat);
    return result;
}

// Answers every open exchange at once, for `seconds`; pause and resume replies carry "paused".
void runWithPromptReplies(EffectsFixture &f, double seconds) {
    const double end = f.now() + seconds;
    while (f.now() < end - eps) {
        f.advance(0.001);
        while (f.open() > 0) {
            const QString path = f.at(f.count() - f.open()).path;
            if (path == paths::pause) {
                f.transport->replyOk(QJsonObject{{QStringLiteral("paused"), true}});
            } else if (path == paths::resume) {
                f.transport->replyOk(QJsonObject{{QStringLiteral("paused"), false}});
            } else {
                f.transport->replyOk();
            }
        }
    }
}

// Begins a drag and confirms its resonance 2 ms later.
void beginConfirmed(EffectsFixture &f) {
    f.c().beginCueDrag();
    f.advance(0.002);
    f.transport->replyOk();
}

void verifyCurveValues(const QJsonObject &body, double charge) {
    const auto s = curveAt(charge);
    QCOMPARE(body.value(QStringLiteral("intensity")).toDouble(), s.intensity);
    QCOMPARE(body.value(QStringLiteral("pulseRateHz")).toDouble(), s.cadence);
    QCOMPARE(body.value(QStringLiteral("sharpness")).toDouble(), s.sharpness);
}

} // namespace

class CueDragTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dragStartsAtTheCurveStartAndStillReleaseSendsNoImpulse();
    void pullOf110PointsSendsTheHalfChargeValues();
    void pullBeyondFullThenBackThenRightOfTheStart();
    void releaseThreshold_data();
    void releaseThreshold();
    void releaseImpulseKeepsItsSpacingFromTheLastUpdate_data();
    void releaseImpulseKeepsItsSpacingFromTheLastUpdate();
    void releaseGoesToTheAddressTheDragStartedAt();
    void releaseIntensityIsSampledAtRelease();
    void releaseImpulseDisabled();
    void escDuringTheDrag_data();
    void escDuringTheDrag();
    void escWhileTheReleaseIsPending();
    void quitDuringTheReleaseDropsTheImpulse();
    void failedStopDropsTheImpulse();
    void releaseWhileAnUpdateIsInFlight_data();
    void releaseWhileAnUpdateIsInFlight();
    void releaseBeforeTheStartIsConfirmed();
    void failedStartEndsTheDrag();
    void restDetectorPausesAndMovementResumes();
    void onlyRealMovementPostponesTheRest();
    void maintainNeverPauses();
    void switchingToMaintainWhilePausedResumes();
    void switchingToPauseStartsTheCountdown();
    void switchingToMaintainBeforeTheRestCancelsIt();
    void curveEditDuringTheDragSendsNewValues();
    void curveEditOutsideADragOnlyStores();
    void dragWhileControlsAreDisabledDoesNothing();
    void nonFinitePullIsIgnored();
};

void CueDragTest::dragStartsAtTheCurveStartAndStillReleaseSendsNoImpulse() {
    EffectsFixture f;
    f.c().setTransitionMilliseconds(55);
    f.c().beginCueDrag();
    QVERIFY(f.c().cueDragging());
    QCOMPARE(f.count(), 1);
    QCOMPARE(f.last().path, paths::resonance);
    QCOMPARE(f.last().body, (QJsonObject{{QStringLiteral("mode"), QStringLiteral("controlled")},
                                         {QStringLiteral("intensity"), 0.08},
                                         {QStringLiteral("pulseRateHz"), 8},
                                         {QStringLiteral("sharpness"), 0.1},
                                         {QStringLiteral("transitionMs"), 55}}));
    f.advance(0.002);
    f.transport->replyOk();
    f.advance(0.1);
    f.c().updateCueDrag(0.02); // not a movement
    f.c().updateCueDrag(-0.015);
    QCOMPARE(f.c().cueCharge(), 0.0);
    f.advance(0.1);
    f.c().endCueDrag();
    QCOMPARE(effectPaths(f), (QStringList{paths::resonance, paths::stop}));
    f.transport->replyOk();
    QVERIFY(!f.c().releasePending());
    f.advance(1);
    QCOMPARE(effectPaths(f), (QStringList{paths::resonance, paths::stop}));
}

void CueDragTest::pullOf110PointsSendsTheHalfChargeValues() {
    EffectsFixture f;
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(110);
    QCOMPARE(f.c().cueCharge(), 0.5);
    f.advance(0.002);
    QCOMPARE(f.last().path, paths::update);
    const QJsonObject body = f.last().body;
    QCOMPARE(body.keys(), (QStringList{QStringLiteral("intensity"), QStringLiteral("pulseRateHz"),
                                       QStringLiteral("sharpness")}));
    VERIFY_NEAR(body.value(QStringLiteral("intensity")).toDouble(), 0.3016, 0.00005);
    VERIFY_NEAR(body.value(QStringLiteral("pulseRateHz")).toDouble(), 22.466, 0.0005);
    VERIFY_NEAR(body.value(QStringLiteral("sharpness")).toDouble(), 0.3462, 0.00005);
    // The sliders elsewhere show the same values.
    QCOMPARE(f.c().intensity(), body.value(QStringLiteral("intensity")).toDouble());
    QCOMPARE(f.c().pulseRateHz(), body.value(QStringLiteral("pulseRateHz")).toDouble());
    QCOMPARE(f.c().sharpness(), body.value(QStringLiteral("sharpness")).toDouble());
}

void CueDragTest::pullBeyondFullThenBackThenRightOfTheStart() {
    EffectsFixture f;
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(300);
    QCOMPARE(f.c().cueCharge(), 1.0);
    runWithPromptReplies(f, 0.01);
    QCOMPARE(f.last().path, paths::update);
    VERIFY_NEAR(f.last().body.value(QStringLiteral("intensity")).toDouble(), 0.8, 1e-12);
    VERIFY_NEAR(f.last().body.value(QStringLiteral("pulseRateHz")).toDouble(), 55, 1e-12);
    VERIFY_NEAR(f.last().body.value(QStringLiteral("sharpness")).toDouble(), 0.9, 1e-12);

    // Pulling further keeps the charge at 1 and sends nothing new.
    f.advance(0.1);
    f.c().updateCueDrag(400);
    runWithPromptReplies(f, 0.1);
    QCOMPARE(f.countOf(paths::update), 1);

    f.c().updateCueDrag(44);
    QCOMPARE(f.c().cueCharge(), 0.2);
    runWithPromptReplies(f, 0.01);
    QCOMPARE(f.countOf(paths::update), 2);
    verifyCurveValues(f.last().body, 0.2);

    f.advance(0.1);
    f.c().updateCueDrag(-30);
    QCOMPARE(f.c().cueCharge(), 0.0);
    runWithPromptReplies(f, 0.01);
    QCOMPARE(f.countOf(paths::update), 3);
    verifyCurveValues(f.last().body, 0);
}

void CueDragTest::releaseThreshold_data() {
    QTest::addColumn<double>("pull");
    QTest::addColumn<bool>("impulse");
    QTest::newRow("4.4 points: charge exactly 0.02") << 4.4 << false;
    QTest::newRow("5 points: charge 0.0227") << 5.0 << true;
}

void CueDragTest::releaseThreshold() {
    QFETCH(double, pull);
    QFETCH(bool, impulse);
    EffectsFixture f;
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(pull);
    runWithPromptReplies(f, 0.1);
    f.c().endCueDrag();
    QVERIFY(!f.c().cueDragging());
    QCOMPARE(f.c().cueCharge(), 0.0);
    QCOMPARE(f.last().path, paths::stop);
    QCOMPARE(f.countOf(paths::impulses), 0); // never before the stop is confirmed
    f.advance(0.01);
    f.transport->replyOk();
    QCOMPARE(f.c().releasePending(), impulse);
    QCOMPARE(f.c().controlsEnabled(), !impulse);
    runWithPromptReplies(f, 0.5);
    const auto impulses = f.requestsTo(paths::impulses);
    QCOMPARE(impulses.size(), impulse ? 1 : 0);
    if (impulse) {
        QCOMPARE(impulses.first().body,
                 (QJsonObject{{QStringLiteral("intensity"), curveAt(pull / 220).intensity},
                              {QStringLiteral("style"), QStringLiteral("crisp")}}));
        QVERIFY(!f.c().releasePending());
        QVERIFY(f.c().controlsEnabled());
    }
    QCOMPARE(f.countOf(paths::stop), 1);
}

void CueDragTest::releaseImpulseKeepsItsSpacingFromTheLastUpdate_data() {
    QTest::addColumn<double>("stopReplyAfterUpdate");
    QTest::addColumn<double>("impulseAfterStopReply");
    QTest::newRow("last update 10 ms before the stop reply") << 0.010 << 0.040;
    QTest::newRow("last update 0.3 s before the stop reply") << 0.300 << 0.001;
}

void CueDragTest::releaseImpulseKeepsItsSpacingFromTheLastUpdate() {
    QFETCH(double, stopReplyAfterUpdate);
    QFETCH(double, impulseAfterStopReply);
    EffectsFixture f;
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(120);
    f.advance(0.001);
    const auto update = f.last();
    QCOMPARE(update.path, paths::update);
    f.advance(0.002);
    f.transport->replyOk();

    f.clock->advanceTo(update.at + stopReplyAfterUpdate - 0.005);
    f.c().endCueDrag();
    QCOMPARE(f.last().path, paths::stop);
    f.clock->advanceTo(update.at + stopReplyAfterUpdate);
    f.transport->replyOk();
    const double stopReplied = f.now();
    QVERIFY(f.c().releasePending());

    QVERIFY(f.advanceUntilCount(f.count() + 1, 0.2, 0.0005));
    QCOMPARE(f.last().path, paths::impulses);
    VERIFY_NEAR(f.last().at - stopReplied, impulseAfterStopReply, 1e-6);
    QVERIFY(f.last().at - update.at >= 0.05 - eps);
}

void CueDragTest::releaseGoesToTheAddressTheDragStartedAt() {
    EffectsFixture f(QStringLiteral("http://127.0.0.1:59723/"));
    beginConfirmed(f);
    f.c().setAddress(QStringLiteral("http://127.0.0.1:41000"));
    f.advance(0.1);
    f.c().updateCueDrag(150);
    runWithPromptReplies(f, 0.1);
    f.c().endCueDrag();
    QCOMPARE(f.last().url, QStringLiteral("http://127.0.0.1:59723/v1/stop"));
    f.transport->replyOk();
    runWithPromptReplies(f, 0.1);
    QCOMPARE(f.last().path, paths::impulses);
    QCOMPARE(f.last().url, QStringLiteral("http://127.0.0.1:59723/v1/impulses"));
    QVERIFY(f.c().pendingReleaseImpulse() == std::nullopt);
}

void CueDragTest::releaseIntensityIsSampledAtRelease() {
    EffectsFixture f;
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(60);
    f.advance(0.001); // this update goes out
    f.transport->replyOk();
    f.advance(0.005);
    f.c().updateCueDrag(200); // still waiting for its turn when released
    f.c().endCueDrag();
    f.transport->replyOk();
    runWithPromptReplies(f, 0.1);
    const auto updates = f.requestsTo(paths::update);
    QCOMPARE(updates.size(), 1);
    verifyCurveValues(updates.first().body, 60.0 / 220);
    const auto impulses = f.requestsTo(paths::impulses);
    QCOMPARE(impulses.size(), 1);
    QCOMPARE(impulses.first().body.value(QStringLiteral("intensity")).toDouble(),
             curveAt(200.0 / 220).intensity);
}

void CueDragTest::releaseImpulseDisabled() {
    EffectsFixture f;
    f.c().setReleaseImpulseEnabled(false);
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(180);
    runWithPromptReplies(f, 0.1);
    f.c().endCueDrag();
    QVERIFY(!f.c().pendingReleaseImpulse().has_value());
    f.transport->replyOk();
    QVERIFY(!f.c().releasePending());
    runWithPromptReplies(f, 0.5);
    QCOMPARE(effectPaths(f), (QStringList{paths::resonance, paths::update, paths::stop}));
}

void CueDragTest::escDuringTheDrag_data() {
    QTest::addColumn<bool>("deactivation");
    QTest::newRow("Esc") << false;
    QTest::newRow("loss of the foreground") << true;
}

void CueDragTest::escDuringTheDrag() {
    QFETCH(bool, deactivation);
    EffectsFixture f;
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(150);
    runWithPromptReplies(f, 0.1);
    if (deactivation) {
        f.c().stopOnDeactivation(QStringLiteral("il tester ha perso il primo piano"));
        QCOMPARE(f.c().entries().first().text,
                 QStringLiteral("Stop automatico: il tester ha perso il primo piano"));
    } else {
        f.c().stop();
    }
    QVERIFY(!f.c().cueDragging());
    QCOMPARE(f.c().cueCharge(), 0.0);
    // The finger keeps moving and is then lifted.
    f.c().updateCueDrag(200);
    f.c().endCueDrag();
    f.transport->replyOk();
    runWithPromptReplies(f, 0.5);
    QCOMPARE(effectPaths(f), (QStringList{paths::resonance, paths::update, paths::stop}));
    QVERIFY(f.c().controlsEnabled());
}

void CueDragTest::escWhileTheReleaseIsPending() {
    EffectsFixture f;
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(150);
    f.advance(0.001);
    f.transport->replyOk(); // the update, just sent: the release will wait 50 ms from it
    f.c().endCueDrag();
    f.transport->replyOk();
    QVERIFY(f.c().releasePending());
    QVERIFY(!f.c().controlsEnabled());
    QVERIFY(!f.c().connectionEditable());

    f.advance(0.01);
    f.c().stop();
    QVERIFY(!f.c().releasePending());
    QCOMPARE(f.countOf(paths::stop), 2);
    // The effect is over, so the further stop goes to the address field.
    QCOMPARE(f.last().url, QStringLiteral("http://127.0.0.1:59723/v1/stop"));
    f.transport->replyOk();
    runWithPromptReplies(f, 0.5);
    QCOMPARE(f.countOf(paths::impulses), 0);
    QVERIFY(f.c().controlsEnabled());
}

void CueDragTest::quitDuringTheReleaseDropsTheImpulse() {
    EffectsFixture f;
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(150);
    runWithPromptReplies(f, 0.1);
    f.c().endCueDrag();
    int calls = 0;
    f.c().stopForTermination([&calls] { ++calls; });
    QCOMPARE(calls, 0);
    f.transport->replyOk();
    QCOMPARE(calls, 1);
    QVERIFY(!f.c().releasePending());
    runWithPromptReplies(f, 0.5);
    QCOMPARE(f.countOf(paths::impulses), 0);
    QCOMPARE(f.countOf(paths::stop), 1);
}

void CueDragTest::failedStopDropsTheImpulse() {
    EffectsFixture f;
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(150);
    runWithPromptReplies(f, 0.1);
    f.c().endCueDrag();
    f.transport->replyJson(500, QJsonObject{{QStringLiteral("ok"), false}});
    QVERIFY(!f.c().releasePending());
    QVERIFY(!f.c().effectRunning());
    runWithPromptReplies(f, 0.5);
    QCOMPARE(f.countOf(paths::impulses), 0);
    QCOMPARE(f.countOf(paths::stop), 1);
}

void CueDragTest::releaseWhileAnUpdateIsInFlight_data() {
    QTest::addColumn<bool>("updateFails");
    QTest::newRow("update succeeds") << false;
    QTest::newRow("update fails") << true;
}

void CueDragTest::releaseWhileAnUpdateIsInFlight() {
    QFETCH(bool, updateFails);
    EffectsFixture f;
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(100);
    f.advance(0.001);
    const auto update = f.last();
    QCOMPARE(update.path, paths::update);
    f.advance(0.004);
    f.c().endCueDrag();
    QVERIFY(f.c().pendingStop());
    QCOMPARE(f.count(), 2); // the stop waits
    f.advance(0.005);
    if (updateFails) {
        f.transport->fail();
    } else {
        f.transport->replyOk();
    }
    QCOMPARE(f.last().path, paths::stop);
    VERIFY_NEAR(f.last().at, update.at + 0.009, 1e-9);
    f.advance(0.005);
    f.transport->replyOk();
    runWithPromptReplies(f, 0.5);
    const auto impulses = f.requestsTo(paths::impulses);
    if (updateFails) {
        QCOMPARE(impulses.size(), 0);
    } else {
        QCOMPARE(impulses.size(), 1);
        QCOMPARE(impulses.first().body.value(QStringLiteral("intensity")).toDouble(),
                 curveAt(100.0 / 220).intensity);
        VERIFY_NEAR(impulses.first().at, update.at + 0.05, 1e-6);
    }
    QCOMPARE(f.countOf(paths::stop), 1);
}

void CueDragTest::releaseBeforeTheStartIsConfirmed() {
    EffectsFixture f;
    f.c().beginCueDrag();
    const double startSent = f.now();
    f.advance(0.01);
    f.c().updateCueDrag(90);
    f.c().endCueDrag();
    QCOMPARE(f.count(), 1);
    f.advance(0.01);
    f.transport->replyOk();
    QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::stop}));
    QVERIFY(!f.c().heartbeatActive());
    f.transport->replyOk();
    runWithPromptReplies(f, 0.2);
    QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::stop, paths::impulses}));
    QCOMPARE(f.last().body.value(QStringLiteral("intensity")).toDouble(), curveAt(90.0 / 220).intensity);
    VERIFY_NEAR(f.last().at, startSent + 0.05, 1e-6);
}

void CueDragTest::failedStartEndsTheDrag() {
    EffectsFixture f;
    f.c().beginCueDrag();
    f.advance(0.01);
    f.c().updateCueDrag(90);
    f.transport->replyJson(
        409, QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("busy")}});
    QVERIFY(!f.c().cueDragging());
    // An abandoned drag shows no leftover charge.
    QCOMPARE(f.c().cueCharge(), 0.0);
    QCOMPARE(f.c().status(), QStringLiteral("409: busy"));
    QCOMPARE(f.last().path, paths::stop);
    f.c().updateCueDrag(150);
    f.c().endCueDrag();
    f.transport->replyOk();
    runWithPromptReplies(f, 0.5);
    QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::stop}));
    QVERIFY(f.c().controlsEnabled());
}

void CueDragTest::restDetectorPausesAndMovementResumes() {
    EffectsFixture f;
    f.c().setHoldBehavior(HoldBehavior::pause);
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(50);
    const double moved = f.now();
    runWithPromptReplies(f, 0.4);
    QCOMPARE(effectPaths(f), (QStringList{paths::resonance, paths::update, paths::pause}));
    const auto pause = f.requestsTo(paths::pause).first();
    VERIFY_NEAR(pause.at, moved + 0.25 + 0.001, 1e-6);
    QVERIFY(f.c().controlledPaused());

    // Movement: the changed values first, then the resume.
    f.c().updateCueDrag(60);
    const double movedAgain = f.now();
    runWithPromptReplies(f, 0.2);
    QCOMPARE(effectPaths(f),
             (QStringList{paths::resonance, paths::update, paths::pause, paths::update, paths::resume}));
    verifyCurveValues(f.requestsTo(paths::update).last().body, 60.0 / 220);
    QVERIFY(!f.c().controlledPaused());

    // Still again: paused again, 0.25 s after the last movement.
    runWithPromptReplies(f, 0.2);
    QCOMPARE(effectPaths(f).last(), paths::pause);
    VERIFY_NEAR(f.requestsTo(paths::pause).last().at, movedAgain + 0.25 + 0.001, 1e-6);

    // The heartbeat keeps the paused resonance alive meanwhile.
    runWithPromptReplies(f, 1.0);
    QVERIFY(f.countOf(paths::heartbeat) >= 1);
    QCOMPARE(f.countOf(paths::pause), 2);
}

void CueDragTest::onlyRealMovementPostponesTheRest() {
    EffectsFixture f;
    f.c().setHoldBehavior(HoldBehavior::pause);
    beginConfirmed(f);
    // Real movement every 0.1 s for a second: no pause.
    double lastMove = 0;
    for (int i = 1; i <= 10; ++i) {
        runWithPromptReplies(f, 0.1);
        f.c().updateCueDrag(10.0 * i);
        lastMove = f.now();
    }
    QCOMPARE(f.countOf(paths::pause), 0);
    // Tremor of 0.01 points does not count as movement.
    for (int i = 1; i <= 4; ++i) {
        runWithPromptReplies(f, 0.05);
        f.c().updateCueDrag(100 + (i % 2) * 0.01);
    }
    runWithPromptReplies(f, 0.2);
    const auto pauses = f.requestsTo(paths::pause);
    QCOMPARE(pauses.size(), 1);
    VERIFY_NEAR(pauses.first().at, lastMove + 0.25 + 0.001, 1e-6);
}

void CueDragTest::maintainNeverPauses() {
    EffectsFixture f;
    QCOMPARE(f.c().holdBehavior(), HoldBehavior::maintain);
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(80);
    runWithPromptReplies(f, 2.0);
    QCOMPARE(f.countOf(paths::pause), 0);
    QCOMPARE(f.countOf(paths::resume), 0);
    QVERIFY(!f.c().cueIdleTimerActive());
    QVERIFY(f.c().cueDragging());
}

void CueDragTest::switchingToMaintainWhilePausedResumes() {
    EffectsFixture f;
    f.c().setHoldBehavior(HoldBehavior::pause);
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(50);
    runWithPromptReplies(f, 0.5);
    QVERIFY(f.c().controlledPaused());
    const int before = f.count();

    f.c().setHoldBehavior(HoldBehavior::maintain);
    const double switched = f.now();
    runWithPromptReplies(f, 0.01);
    QCOMPARE(f.count(), before + 1);
    QCOMPARE(f.last().path, paths::resume);
    VERIFY_NEAR(f.last().at, switched + 0.001, 1e-6);
    QVERIFY(!f.c().controlledPaused());
    runWithPromptReplies(f, 1.0);
    QCOMPARE(f.countOf(paths::pause), 1);
}

void CueDragTest::switchingToPauseStartsTheCountdown() {
    EffectsFixture f;
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(50);
    runWithPromptReplies(f, 0.6);
    QCOMPARE(f.countOf(paths::pause), 0);
    f.c().setHoldBehavior(HoldBehavior::pause);
    const double switched = f.now();
    QVERIFY(f.c().cueIdleTimerActive());
    runWithPromptReplies(f, 0.3);
    const auto pauses = f.requestsTo(paths::pause);
    QCOMPARE(pauses.size(), 1);
    VERIFY_NEAR(pauses.first().at, switched + 0.25 + 0.001, 1e-6);
}

void CueDragTest::switchingToMaintainBeforeTheRestCancelsIt() {
    EffectsFixture f;
    f.c().setHoldBehavior(HoldBehavior::pause);
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(50);
    runWithPromptReplies(f, 0.1);
    f.c().setHoldBehavior(HoldBehavior::maintain);
    QVERIFY(!f.c().cueIdleTimerActive());
    runWithPromptReplies(f, 1.0);
    QCOMPARE(f.countOf(paths::pause), 0);
    QCOMPARE(f.countOf(paths::resume), 0); // a resume wish that matches the state is dropped
}

void CueDragTest::curveEditDuringTheDragSendsNewValues() {
    EffectsFixture f;
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(110);
    runWithPromptReplies(f, 0.2);
    QCOMPARE(f.countOf(paths::update), 1);

    TensionCurve curve = f.c().tensionCurve();
    curve.highIntensity = 0.6;
    curve.highCadence = 40;
    f.c().setTensionCurve(curve);
    const double edited = f.now();
    QCOMPARE(f.c().intensity(), curve.sample(0.5).intensity);
    runWithPromptReplies(f, 0.01);
    const auto updates = f.requestsTo(paths::update);
    QCOMPARE(updates.size(), 2);
    VERIFY_NEAR(updates.last().at, edited + 0.001, 1e-6);
    // Sharpness did not change, so only the two changed keys travel.
    QCOMPARE(updates.last().body, (QJsonObject{{QStringLiteral("intensity"), curve.sample(0.5).intensity},
                                               {QStringLiteral("pulseRateHz"), curve.sample(0.5).cadence}}));

    // Moving the cue afterwards samples the new curve.
    f.advance(0.1);
    f.c().updateCueDrag(220);
    runWithPromptReplies(f, 0.01);
    QCOMPARE(f.requestsTo(paths::update).last().body.value(QStringLiteral("intensity")).toDouble(),
             curve.sample(1).intensity);

    // The release impulse uses the new curve too.
    f.c().endCueDrag();
    runWithPromptReplies(f, 0.2);
    QCOMPARE(f.last().path, paths::impulses);
    QCOMPARE(f.last().body.value(QStringLiteral("intensity")).toDouble(), curve.sample(1).intensity);
}

void CueDragTest::curveEditOutsideADragOnlyStores() {
    EffectsFixture f;
    f.startControlled();
    TensionCurve curve;
    curve.lowIntensity = 0.3;
    f.c().setTensionCurve(curve);
    QVERIFY(f.c().tensionCurve() == curve);
    QCOMPARE(f.c().intensity(), 0.5);
    runWithPromptReplies(f, 0.3);
    QCOMPARE(f.countOf(paths::update), 0);
}

void CueDragTest::dragWhileControlsAreDisabledDoesNothing() {
    EffectsFixture f;
    f.c().impulse(QStringLiteral("crisp")); // in flight
    f.c().beginCueDrag();
    QVERIFY(!f.c().cueDragging());
    QCOMPARE(f.c().intensity(), 0.5); // the curve's start values were not applied
    f.c().updateCueDrag(100);
    QCOMPARE(f.c().cueCharge(), 0.0);
    f.transport->replyOk();
    f.c().endCueDrag();
    runWithPromptReplies(f, 0.5);
    QCOMPARE(f.paths(), QStringList{paths::impulses});
}

void CueDragTest::nonFinitePullIsIgnored() {
    EffectsFixture f;
    beginConfirmed(f);
    f.advance(0.1);
    f.c().updateCueDrag(100);
    const double charge = f.c().cueCharge();
    f.c().updateCueDrag(std::numeric_limits<double>::quiet_NaN());
    f.c().updateCueDrag(std::numeric_limits<double>::infinity());
    f.c().updateCueDrag(-std::numeric_limits<double>::infinity());
    QCOMPARE(f.c().cueCharge(), charge);
    // The last accepted pull is still 100: a report of 100.01 is not a movement.
    f.c().updateCueDrag(100.01);
    QCOMPARE(f.c().cueCharge(), charge);
    f.c().updateCueDrag(100.5);
    QVERIFY(f.c().cueCharge() > charge);
}

QTEST_GUILESS_MAIN(CueDragTest)
#include "test_cue_drag.moc"
