// The billiards cue: pull to charge to curve values on the wire, the rest detector and
// hold-behaviour switches, curve edits during a drag, and the release impulse with its
// threshold, address, timing and cancellation.

#include "EffectsFixture.h"

#include <limits>

using namespace vibrelle;
using namespace vibrelle::testing;

namespace {

double intensityAt(double charge) {
    return TensionCurve{}.sample(charge).intensity;
}
double sentIntensity(const FakeTransport::Sent &sent) {
    return sent.json().value(QStringLiteral("intensity")).toDouble();
}
QJsonObject curveValues(double charge, const TensionCurve &curve = {}) {
    const auto s = curve.sample(charge);
    return {{QStringLiteral("intensity"), s.intensity},
            {QStringLiteral("pulseRateHz"), s.cadence},
            {QStringLiteral("sharpness"), s.sharpness}};
}

// Begins a drag, confirms its resonance 2 ms later, and pulls by `pull` points 0.1 s on.
void dragTo(EffectsFixture &f, double pull) {
    f.c().beginCueDrag();
    f.advance(0.002);
    f.ok();
    f.advance(0.1);
    if (pull != 0) {
        f.c().updateCueDrag(pull);
    }
}

} // namespace

class CueDragTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pullMapsToChargeAndCurveValues() {
        EffectsFixture f;
        f.c().setTransitionMilliseconds(55);
        f.c().beginCueDrag();
        QJsonObject start = curveValues(0);
        start.insert(QStringLiteral("mode"), QStringLiteral("controlled"));
        start.insert(QStringLiteral("transitionMs"), 55);
        QCOMPARE(f.last().json(), start);
        f.advance(0.002);
        f.ok();
        f.c().updateCueDrag(0.02); // up to 0.02 points is no movement
        f.c().updateCueDrag(-0.015);
        QCOMPARE(f.c().cueCharge(), 0.0);
        // Pull (points), the charge it maps to, and whether an update follows.
        const struct {
            double pull, charge;
            bool sends;
        } steps[] = {{110, 0.5, true}, {300, 1, true}, {400, 1, false}, {44, 0.2, true}, {-30, 0, true}};
        int updates = 0;
        for (const auto &step : steps) {
            f.c().updateCueDrag(step.pull);
            QCOMPARE(f.c().cueCharge(), step.charge);
            f.runWithPromptReplies(0.1);
            QCOMPARE(f.countOf(paths::update), updates += step.sends);
            QCOMPARE(f.last().json(), curveValues(step.charge));
            QCOMPARE(f.c().pulseRateHz(), TensionCurve{}.sample(step.charge).cadence); // the slider shows it
        }
    }

    void releaseImpulseThreshold_data() {
        QTest::addColumn<double>("pull");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("impulse");
        QTest::newRow("4.4 points: charge exactly 0.02") << 4.4 << true << false;
        QTest::newRow("5 points: charge 0.0227") << 5.0 << true << true;
        QTest::newRow("release impulse disabled") << 180.0 << false << false;
    }
    // Also: the impulse goes where the drag started, not to a later address field.
    void releaseImpulseThreshold() {
        QFETCH(double, pull);
        QFETCH(bool, enabled);
        QFETCH(bool, impulse);
        EffectsFixture f(QStringLiteral("http://127.0.0.1:59723/"));
        f.c().setReleaseImpulseEnabled(enabled);
        dragTo(f, pull);
        f.c().setAddress(QStringLiteral("http://127.0.0.1:41000"));
        f.runWithPromptReplies(0.1);
        f.c().endCueDrag();
        QVERIFY(!f.c().cueDragging());
        QCOMPARE(f.c().cueCharge(), 0.0);
        QCOMPARE(f.lastUrl(), home + paths::stop); // never an impulse before the stop is confirmed
        f.advance(0.01);
        f.ok();
        const double stopReplied = f.now();
        QCOMPARE(f.c().releasePending(), impulse);
        QCOMPARE(f.c().controlsEnabled(), !impulse);
        f.runWithPromptReplies(0.5);
        const QStringList expected{paths::resonance, paths::update, paths::stop};
        QCOMPARE(f.pathsWithoutHeartbeats(), impulse ? expected + QStringList{paths::impulses} : expected);
        if (impulse) {
            QCOMPARE(f.lastUrl(), home + paths::impulses);
            VERIFY_NEAR(f.last().at - stopReplied, 0.001, 1e-6); // the last update was long before
            QCOMPARE(f.last().json(), (QJsonObject{{QStringLiteral("intensity"), intensityAt(pull / 220)},
                                                   {QStringLiteral("style"), QStringLiteral("crisp")}}));
            QVERIFY(!f.c().releasePending() && f.c().controlsEnabled());
        }
    }

    void releaseWhileARequestIsInFlight_data() {
        QTest::addColumn<bool>("duringStart");
        QTest::addColumn<bool>("fails");
        QTest::newRow("the start") << true << false;
        QTest::newRow("an update") << false << false;
        QTest::newRow("an update that fails: no impulse") << false << true;
    }
    // The stop waits for the reply; the impulse then keeps 50 ms from the request before it,
    // and carries the charge at release, not a value sent before.
    void releaseWhileARequestIsInFlight() {
        QFETCH(bool, duringStart);
        QFETCH(bool, fails);
        EffectsFixture f;
        duringStart ? f.c().beginCueDrag() : dragTo(f, 100);
        f.advance(0.001);
        const auto inFlight = f.last();
        QCOMPARE(inFlight.path(), duringStart ? paths::resonance : paths::update);
        if (duringStart) {
            f.c().updateCueDrag(100);
        }
        f.advance(0.003);
        f.c().endCueDrag();
        QCOMPARE(f.count(), duringStart ? 1 : 2);
        f.advance(0.005);
        fails ? f.transport->fail() : f.ok();
        QCOMPARE(f.last().path(), paths::stop);
        VERIFY_NEAR(f.last().at - inFlight.at, duringStart ? 0.009 : 0.008, 1e-9);
        QVERIFY(!f.c().heartbeatActive());
        f.advance(0.005);
        f.ok();
        f.runWithPromptReplies(0.5);
        QStringList expected{paths::resonance, paths::stop}; // the update queued during the start is dropped
        if (!duringStart) {
            expected.insert(1, paths::update);
        }
        QCOMPARE(f.pathsWithoutHeartbeats(), fails ? expected : expected + QStringList{paths::impulses});
        if (!fails) {
            QCOMPARE(sentIntensity(f.last()), intensityAt(100.0 / 220));
            VERIFY_NEAR(f.last().at - inFlight.at, 0.05, 1e-6);
        }
    }

    void releaseImpulseIsDropped_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("Esc during the drag") << 0;
        QTest::newRow("loss of the foreground during the drag") << 1;
        QTest::newRow("quit before the stop reply") << 2;
        QTest::newRow("the stop fails") << 3;
        QTest::newRow("Esc while the impulse waits for its turn") << 4;
        QTest::newRow("loss of the foreground while the impulse waits") << 5;
        QTest::newRow("quit while the impulse waits") << 6;
    }
    void releaseImpulseIsDropped() {
        QFETCH(int, how);
        EffectsFixture f;
        dragTo(f, 150);
        f.runWithPromptReplies(0.1);
        int terminated = 0;
        if (how == 0) {
            f.c().stop();
        } else if (how == 1) {
            f.c().stopOnDeactivation(QStringLiteral("perso il primo piano"));
            QCOMPARE(f.c().entries().first().text, QStringLiteral("Stop automatico: perso il primo piano"));
        }
        QCOMPARE(f.c().cueDragging(), how >= 2);
        f.c().updateCueDrag(200); // the finger keeps moving and is then lifted
        f.c().endCueDrag();
        if (how == 2) {
            f.c().stopForTermination([&terminated] { ++terminated; });
        }
        how == 3 ? f.transport->replyJson(500, {{QStringLiteral("ok"), false}}) : f.ok();
        QCOMPARE(terminated, how == 2 ? 1 : 0);
        QStringList expected{paths::resonance, paths::update, paths::stop};
        if (how >= 4) { // the effect is over, so this stop goes to the address field
            QVERIFY(f.c().releasePending() && !f.c().effectAddress() && !f.c().effectRunning());
            f.c().setAddress(QStringLiteral("http://127.0.0.1:4100"));
            if (how == 4) {
                f.c().stop();
            } else if (how == 5) {
                f.c().stopOnDeactivation(QStringLiteral("perso il primo piano"));
            } else {
                f.c().stopForTermination([&terminated] { ++terminated; });
            }
            if (how > 4) {
                QCOMPARE(f.c().entries().first().text, how == 5 ? QStringLiteral("Stop automatico: perso il primo piano")
                                                                : QStringLiteral("Stop automatico: chiusura del tester"));
            }
            QCOMPARE(f.lastUrl(), QStringLiteral("http://127.0.0.1:4100/v1/stop"));
            QCOMPARE(terminated, 0);
            f.ok();
            QCOMPARE(terminated, how == 6 ? 1 : 0);
            expected.append(paths::stop);
        }
        QVERIFY(!f.c().releasePending() && !f.c().effectRunning());
        f.runWithPromptReplies(0.5);
        QCOMPARE(f.pathsWithoutHeartbeats(), expected);
        QVERIFY(f.c().controlsEnabled());
    }

    void failedStartEndsTheDrag() {
        EffectsFixture f;
        f.c().beginCueDrag();
        f.advance(0.01);
        f.c().updateCueDrag(90);
        f.transport->replyJson(
            409, {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("busy")}});
        QVERIFY(!f.c().cueDragging());
        QCOMPARE(f.c().cueCharge(), 0.0); // an abandoned drag shows no leftover charge
        QCOMPARE(f.c().status(), QStringLiteral("409: busy"));
        f.c().updateCueDrag(150);
        f.c().endCueDrag();
        f.ok();
        f.runWithPromptReplies(0.5);
        QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::stop}));
    }

    // With "pause" as hold behaviour, 0.25 s without real movement pauses; movement sends the
    // new values first, then the resume. Tremor up to 0.02 points is no movement.
    void restDetectorPausesAndMovementResumes() {
        EffectsFixture f;
        f.c().setHoldBehavior(HoldBehavior::pause);
        dragTo(f, 0);
        for (int i = 1; i <= 5; ++i) {
            f.c().updateCueDrag(10.0 * i);
            f.runWithPromptReplies(0.2);
        }
        const double moved = f.now() - 0.2;
        f.c().updateCueDrag(50.01);
        f.runWithPromptReplies(0.1);
        QCOMPARE(f.countOf(paths::pause), 1);
        VERIFY_NEAR(f.requestsTo(paths::pause).first().at, moved + 0.251, 1e-6);
        QVERIFY(f.c().controlledPaused());

        f.c().updateCueDrag(60);
        const double movedAgain = f.now();
        f.runWithPromptReplies(0.2);
        const QStringList sent = f.pathsWithoutHeartbeats();
        QCOMPARE(sent.mid(sent.size() - 3), (QStringList{paths::pause, paths::update, paths::resume}));
        QCOMPARE(f.requestsTo(paths::update).last().json(), curveValues(60.0 / 220));
        QVERIFY(!f.c().controlledPaused());
        f.runWithPromptReplies(0.2);
        VERIFY_NEAR(f.requestsTo(paths::pause).last().at, movedAgain + 0.251, 1e-6);
        f.runWithPromptReplies(1.0); // the heartbeat keeps the paused resonance alive
        QVERIFY(f.countOf(paths::heartbeat) >= 1);
        QCOMPARE(f.countOf(paths::pause), 2);
    }

    void holdBehaviourSwitchesDuringTheDrag() {
        EffectsFixture f;
        QCOMPARE(f.c().holdBehavior(), HoldBehavior::maintain);
        dragTo(f, 50);
        f.runWithPromptReplies(0.6);
        QCOMPARE(f.countOf(paths::pause), 0);       // "maintain" never pauses
        f.c().setHoldBehavior(HoldBehavior::pause); // starts the countdown
        const double switched = f.now();
        f.runWithPromptReplies(0.3);
        QCOMPARE(f.countOf(paths::pause), 1);
        VERIFY_NEAR(f.requestsTo(paths::pause).first().at, switched + 0.251, 1e-6);

        f.c().setHoldBehavior(HoldBehavior::maintain); // paused: resumes at once
        const double resumed = f.now();
        f.runWithPromptReplies(0.01);
        QCOMPARE(f.last().path(), paths::resume);
        VERIFY_NEAR(f.last().at, resumed + 0.001, 1e-6);

        f.c().setHoldBehavior(HoldBehavior::pause);
        f.runWithPromptReplies(0.1);
        f.c().setHoldBehavior(HoldBehavior::maintain); // before the rest: cancels it, sends nothing
        const int sent = f.pathsWithoutHeartbeats().size();
        f.runWithPromptReplies(1.0);
        QCOMPARE(f.pathsWithoutHeartbeats().size(), sent);
        QVERIFY(f.c().cueDragging());
    }

    void curveEditDuringTheDragSendsNewValues() {
        EffectsFixture f;
        dragTo(f, 110);
        f.runWithPromptReplies(0.2);
        TensionCurve curve = f.c().tensionCurve();
        curve.highIntensity = 0.6;
        curve.highCadence = 40;
        f.c().setTensionCurve(curve);
        const double edited = f.now();
        f.runWithPromptReplies(0.01);
        const auto updates = f.requestsTo(paths::update);
        QCOMPARE(updates.size(), 2);
        VERIFY_NEAR(updates.last().at, edited + 0.001, 1e-6);
        QJsonObject expected = curveValues(0.5, curve);
        expected.remove(QStringLiteral("sharpness")); // unchanged, so not sent
        QCOMPARE(updates.last().json(), expected);

        f.advance(0.1);
        f.c().updateCueDrag(220); // later pulls sample the new curve, and so does the release
        f.runWithPromptReplies(0.01);
        QCOMPARE(sentIntensity(f.last()), curve.sample(1).intensity);
        f.c().endCueDrag();
        f.runWithPromptReplies(0.2);
        QCOMPARE(f.last().path(), paths::impulses);
        QCOMPARE(sentIntensity(f.last()), curve.sample(1).intensity);
    }

    void ignoredDrags() {
        EffectsFixture f;
        f.c().impulse(QStringLiteral("crisp")); // in flight: the controls are disabled
        f.c().beginCueDrag();
        QVERIFY(!f.c().cueDragging());
        QCOMPARE(f.c().intensity(), 0.5); // the curve's start values were not applied
        f.c().updateCueDrag(100);
        f.ok();
        f.c().endCueDrag();
        QCOMPARE(f.c().cueCharge(), 0.0);

        f.startControlled(); // outside a drag, a curve edit only stores
        TensionCurve curve;
        curve.lowIntensity = 0.3;
        f.c().setTensionCurve(curve);
        QCOMPARE(f.c().intensity(), 0.5);
        f.runWithPromptReplies(0.3);
        f.c().stop();
        f.ok();
        QCOMPARE(f.paths(), (QStringList{paths::impulses, paths::resonance, paths::stop}));

        // Non-finite pulls are ignored and do not move the reference for the next movement.
        dragTo(f, 100);
        const double charge = f.c().cueCharge();
        for (double pull : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(), 100.01}) {
            f.c().updateCueDrag(pull);
            QCOMPARE(f.c().cueCharge(), charge);
        }
        f.c().updateCueDrag(100.5);
        QVERIFY(f.c().cueCharge() > charge);
    }
};

QTEST_GUILESS_MAIN(CueDragTest)
#include "test_cue_drag.moc"
