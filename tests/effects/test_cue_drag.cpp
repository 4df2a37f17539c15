// The billiards cue: pull to charge to curve values on the wire, the rest detector and
// hold-behaviour switches, curve edits during a drag, and the release impulse with its
// threshold, address, timing and cancellation. The tension curve itself: worked values of the
// initial curve; for any curve, every parameter runs from its start to its end value along
// charge^exponent, with the exponent and the end values limited to their ranges (a non-finite one
// replaced by its fallback).

#include "support/ControllerFixture.h"

#include <limits>

using namespace vibrelle;
using namespace vibrelle::testing;

namespace {

constexpr double none = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double sentIntensity(const FakeTransport::Sent &sent) {
    return sent.json().value(QStringLiteral("intensity")).toDouble();
}
QJsonObject curveValues(double charge, const TensionCurve &curve = {}) {
    const auto s = curve.sample(charge);
    return {{"intensity", s.intensity}, {"pulseRateHz", s.cadence}, {"sharpness", s.sharpness}};
}

// Begins a drag, confirms its resonance 2 ms later, and pulls by `pull` points 0.1 s on.
void dragTo(ControllerFixture &f, double pull) {
    f.c().beginCueDrag();
    f.advance(0.002);
    f.ok();
    f.advance(0.1);
    if (pull != 0) {
        f.c().updateCueDrag(pull);
    }
}

struct Release {
    double pull;
    bool enabled;
    QString inFlight;        // at the release: the start, an update, or nothing
    bool fails;              // the request in flight
    double impulseAfterStop; // seconds after the stop's send; none: no impulse
};

struct Limited {
    TensionCurve curve;
    double exponent;     // the one sampling uses
    QList<double> ends; // intensity, cadence and sharpness, start and end, as sampling uses them
};

} // namespace

Q_DECLARE_METATYPE(Release)
Q_DECLARE_METATYPE(Limited)

class CueDragTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pullMapsToChargeAndCurveValues() {
        ControllerFixture f;
        f.c().setTransitionMilliseconds(55);
        f.c().beginCueDrag();
        QJsonObject start = curveValues(0);
        start.insert("mode", "controlled");
        start.insert("transitionMs", 55);
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

    // The release sends the stop where the drag began (not to a later address field), once the
    // request in flight has its reply. Once the stop is answered, the release impulse follows with
    // the charge at release, at least 50 ms after the last live update; none for a charge up to
    // 0.02, with the impulse switched off, or after a failed request.
    void release_data() {
        rows<Release>({
            {"4.4 points: charge exactly 0.02", {4.4, true, "", false, none}},
            {"5 points: charge 0.0227", {5, true, "", false, 0.011}},
            {"release impulse switched off", {180, false, "", false, none}},
            {"during the start: 50 ms after it", {100, true, "start", false, 0.041}},
            {"during an update: 50 ms after it", {100, true, "update", false, 0.042}},
            {"during an update that fails", {100, true, "update", true, none}},
        });
    }
    void release() {
        QFETCH(Release, row);
        ControllerFixture f(QStringLiteral("http://127.0.0.1:59723/"));
        f.c().setReleaseImpulseEnabled(row.enabled);
        row.inFlight == "start" ? f.c().beginCueDrag() : dragTo(f, row.pull);
        f.c().setAddress(QStringLiteral("http://127.0.0.1:41000"));
        f.advance(0.001);
        if (row.inFlight == "start") {
            f.c().updateCueDrag(row.pull); // the update queued behind the start dies with the drag
        } else if (row.inFlight.isEmpty()) {
            f.runWithPromptReplies(0.1);
        }
        const int sent = f.count();
        f.advance(0.003);
        f.c().endCueDrag();
        QVERIFY(!f.c().cueDragging());
        QCOMPARE(f.c().cueCharge(), 0.0);
        if (!row.inFlight.isEmpty()) {
            QCOMPARE(f.count(), sent);
            f.advance(0.005);
            row.fails ? f.transport->fail() : f.ok();
        }
        QCOMPARE(f.lastUrl(), home + paths::stop); // never an impulse before the stop is confirmed
        QCOMPARE(f.last().at, f.now());
        QVERIFY(!f.c().heartbeatActive());
        const double stopSent = f.now();
        f.advance(0.01);
        f.ok();
        const bool impulse = !std::isnan(row.impulseAfterStop);
        QCOMPARE(f.c().releasePending(), impulse);
        QCOMPARE(f.c().controlsEnabled(), !impulse);
        f.runWithPromptReplies(0.5);
        QStringList expected{paths::resonance, paths::update, paths::stop};
        if (row.inFlight == "start") {
            expected.removeAll(paths::update);
        }
        QCOMPARE(f.pathsWithoutHeartbeats(), impulse ? expected << paths::impulses : expected);
        if (impulse) {
            QCOMPARE(f.lastUrl(), home + paths::impulses);
            VERIFY_NEAR(f.last().at - stopSent, row.impulseAfterStop, 1e-6);
            QCOMPARE(f.last().json(),
                     (QJsonObject{{"intensity", TensionCurve{}.sample(row.pull / 220).intensity}, {"style", "crisp"}}));
            QVERIFY(!f.c().releasePending() && f.c().controlsEnabled());
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
        const QString lostForeground = QStringLiteral("Stop automatico: perso il primo piano");
        ControllerFixture f;
        dragTo(f, 150);
        f.runWithPromptReplies(0.1);
        int terminated = 0;
        const auto automaticStop = [&](int how) {
            if (how % 4 == 0) {
                f.c().stop();
            } else if (how % 4 == 1) {
                f.c().stopOnDeactivation(QStringLiteral("perso il primo piano"));
                QCOMPARE(f.c().entries().first().text, lostForeground);
            } else {
                f.c().stopForTermination([&terminated] { ++terminated; });
                QCOMPARE(f.c().entries().first().text, QStringLiteral("Stop automatico: chiusura del tester"));
            }
        };
        if (how < 2) {
            automaticStop(how);
        }
        QCOMPARE(f.c().cueDragging(), how >= 2);
        f.c().updateCueDrag(200); // the finger keeps moving and is then lifted
        f.c().endCueDrag();
        if (how == 2) {
            automaticStop(how);
        }
        how == 3 ? f.failWith(500) : f.ok();
        QCOMPARE(terminated, how == 2 ? 1 : 0);
        QStringList expected{paths::resonance, paths::update, paths::stop};
        if (how >= 4) { // the effect is over, so this stop goes to the address field
            QVERIFY(f.c().releasePending() && !f.c().effectAddress() && !f.c().effectRunning());
            f.c().setAddress(QStringLiteral("http://127.0.0.1:4100"));
            automaticStop(how);
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
        ControllerFixture f;
        f.c().beginCueDrag();
        f.advance(0.01);
        f.c().updateCueDrag(90);
        f.transport->replyJson(409, {{"ok", false}, {"error", "busy"}});
        QVERIFY(!f.c().cueDragging());
        QCOMPARE(f.c().cueCharge(), 0.0); // an abandoned drag shows no leftover charge
        QCOMPARE(f.c().status(), QStringLiteral("409: busy"));
        f.c().updateCueDrag(150);
        f.c().endCueDrag();
        f.ok();
        f.runWithPromptReplies(0.5);
        QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::stop}));
    }

    // "maintain" never pauses. With "pause", 0.25 s without real movement (tremor up to 0.02
    // points is none) pauses, counted from the last movement or from the switch; movement sends
    // the new values, then the resume; the heartbeat keeps the paused resonance alive. Switching
    // back to "maintain" resumes at once, or cancels a rest still counting.
    void restDetectorAndHoldBehaviour() {
        ControllerFixture f;
        QCOMPARE(f.c().holdBehavior(), HoldBehavior::maintain);
        dragTo(f, 50);
        f.runWithPromptReplies(0.6);
        QCOMPARE(f.countOf(paths::pause), 0);
        f.c().setHoldBehavior(HoldBehavior::pause);
        for (const double pull : {60.0, 70.0}) { // movements 0.2 s apart
            f.runWithPromptReplies(0.2);
            f.c().updateCueDrag(pull);
        }
        const double moved = f.now();
        f.runWithPromptReplies(0.2);
        f.c().updateCueDrag(70.01);
        f.runWithPromptReplies(0.1);
        QCOMPARE(f.countOf(paths::pause), 1);
        VERIFY_NEAR(f.requestsTo(paths::pause).first().at, moved + 0.251, 1e-6);
        QVERIFY(f.c().controlledPaused());

        f.c().updateCueDrag(80);
        const double movedAgain = f.now();
        f.runWithPromptReplies(0.2);
        const QStringList sent = f.pathsWithoutHeartbeats();
        QCOMPARE(sent.mid(sent.size() - 3), (QStringList{paths::pause, paths::update, paths::resume}));
        QCOMPARE(f.requestsTo(paths::update).last().json(), curveValues(80.0 / 220));
        QVERIFY(!f.c().controlledPaused());
        f.runWithPromptReplies(1.0);
        VERIFY_NEAR(f.requestsTo(paths::pause).last().at, movedAgain + 0.251, 1e-6);
        QVERIFY(f.countOf(paths::heartbeat) >= 1);
        QCOMPARE(f.countOf(paths::pause), 2);

        f.c().setHoldBehavior(HoldBehavior::maintain); // paused: resumes at once
        const double resumed = f.now();
        f.runWithPromptReplies(0.01);
        QCOMPARE(f.last().path(), paths::resume);
        VERIFY_NEAR(f.last().at, resumed + 0.001, 1e-6);
        f.c().setHoldBehavior(HoldBehavior::pause); // the rest counts from the switch
        f.runWithPromptReplies(0.3);
        VERIFY_NEAR(f.requestsTo(paths::pause).last().at, resumed + 0.01 + 0.251, 1e-6);
        f.c().updateCueDrag(90);
        f.runWithPromptReplies(0.1);
        f.c().setHoldBehavior(HoldBehavior::maintain); // before the rest: cancels it, sends nothing
        const int before = f.pathsWithoutHeartbeats().size();
        f.runWithPromptReplies(1.0);
        QCOMPARE(f.pathsWithoutHeartbeats().size(), before);
        QVERIFY(f.c().cueDragging());
    }

    void curveEditDuringTheDragSendsNewValues() {
        ControllerFixture f;
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
        expected.remove("sharpness"); // unchanged, so not sent
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
        ControllerFixture f;
        f.c().impulse(QStringLiteral("crisp")); // in flight: the controls are disabled
        f.c().beginCueDrag();
        QVERIFY(!f.c().cueDragging());
        QCOMPARE(f.c().intensity(), 0.5); // the curve's start values were not applied
        f.c().updateCueDrag(100);
        f.ok();
        f.c().endCueDrag();
        QCOMPARE(f.c().cueCharge(), 0.0);

        QCOMPARE(f.paths(), QStringList{paths::impulses});
        f.startControlled(); // outside a drag, a curve edit only stores
        TensionCurve curve;
        curve.lowIntensity = 0.3;
        f.c().setTensionCurve(curve);
        QCOMPARE(f.c().intensity(), 0.5);
        f.runWithPromptReplies(0.3);
        f.c().stop();
        f.ok();
        QCOMPARE(f.paths(), QStringList{paths::stop});

        // Non-finite pulls are ignored and do not move the reference for the next movement.
        dragTo(f, 100);
        const double charge = f.c().cueCharge();
        for (const double pull : {none, std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(), 100.01}) {
            f.c().updateCueDrag(pull);
            QCOMPARE(f.c().cueCharge(), charge);
        }
        f.c().updateCueDrag(100.5);
        QVERIFY(f.c().cueCharge() > charge);
    }

    // --- Tension curve -------------------------------------------------------------------------------

    void initialCurveValues_data() {
        QTest::addColumn<double>("charge");
        QTest::addColumn<QList<double>>("expected"); // intensity, cadence, sharpness
        // Its ends are the initial row of shapeAndLimits; halfway shows the exponent.
        QTest::newRow("0.5") << 0.5 << QList<double>{0.3016, 22.466, 0.3462};
        // Charges outside [0, 1], and NaN, behave as the nearest end (NaN and +inf as 0).
        QTest::newRow("-0.3") << -0.3 << QList<double>{0.08, 8.0, 0.1};
        QTest::newRow("NaN") << none << QList<double>{0.08, 8.0, 0.1};
        QTest::newRow("+inf") << kInf << QList<double>{0.08, 8.0, 0.1};
        QTest::newRow("1.7") << 1.7 << QList<double>{0.8, 55.0, 0.9};
    }
    void initialCurveValues() {
        QFETCH(double, charge);
        QFETCH(QList<double>, expected);
        const auto s = TensionCurve{}.sample(charge);
        VERIFY_NEAR(s.intensity, expected[0], 0.00005);
        VERIFY_NEAR(s.cadence, expected[1], 0.0005);
        VERIFY_NEAR(s.sharpness, expected[2], 0.00005);
    }

    void shapeAndLimits_data() {
        const QList<double> full{0, 1, 1, 60, 0, 1}, initial{0.08, 0.8, 8, 55, 0.1, 0.9};
        rows<Limited>({
            {"rising", {{2.3, 0.21, 0.77, 3.5, 41, 0.33, 0.66}, 2.3, {0.21, 0.77, 3.5, 41, 0.33, 0.66}}},
            {"falling, constant", {{1.7, 0.9, 0.2, 55, 55, 0.5, 0.5}, 1.7, {0.9, 0.2, 55, 55, 0.5, 0.5}}},
            {"exponent 0.1 -> 0.25", {{0.1}, 0.25, initial}},
            {"exponent 9 -> 4", {{9}, 4, initial}},
            {"exponent NaN -> 1", {{none}, 1, initial}},
            {"exponent +inf -> 1, not 4", {{kInf}, 1, initial}},
            {"exponent -inf -> 1, not 0.25", {{-kInf}, 1, initial}},
            {"all beyond", {{1, -0.5, 1.5, 0, 90, -0.1, 1.5}, 1, full}},
            {"start above the top, end below the bottom",
             {{1, 1.2, -0.2, 75, 0.5, 2, -1}, 1, {1, 0, 60, 1, 1, 0}}},
            // A non-finite field takes its fallback (the full range), not the bound it lies beyond.
            {"NaN", {{1, none, none, none, none, none, none}, 1, full}},
            {"+inf starts", {{1, kInf, 0.7, kInf, 50, kInf, 0.6}, 1, {0, 0.7, 1, 50, 0, 0.6}}},
            {"-inf ends", {{1, 0.2, -kInf, 5, -kInf, 0.3, -kInf}, 1, {0.2, 1, 5, 60, 0.3, 1}}},
        });
    }
    void shapeAndLimits() {
        QFETCH(Limited, row);
        const QList<double> &e = row.ends;
        for (const double c : {0.0, 0.1, 0.25, 0.5, 0.9, 1.0}) {
            const double shape = std::pow(c, row.exponent);
            const auto s = row.curve.sample(c);
            VERIFY_NEAR(s.intensity, e[0] + (e[1] - e[0]) * shape, 1e-12);
            VERIFY_NEAR(s.cadence, e[2] + (e[3] - e[2]) * shape, 1e-10);
            VERIFY_NEAR(s.sharpness, e[4] + (e[5] - e[4]) * shape, 1e-12);
        }
    }

    // A curve edit notifies the window only when the curve differs: a field left out of the
    // comparison would hide an edit. A NaN field never compares equal.
    void equalityComparesEveryField() {
        const TensionCurve a;
        QVERIFY(a == TensionCurve{});
        for (auto field : {&TensionCurve::exponent, &TensionCurve::lowIntensity, &TensionCurve::highIntensity,
                           &TensionCurve::lowCadence, &TensionCurve::highCadence, &TensionCurve::lowSharpness,
                           &TensionCurve::highSharpness}) {
            TensionCurve changed = a;
            changed.*field += 0.001;
            QVERIFY(!(changed == a));
            changed.*field = none;
            const TensionCurve copy = changed;
            QVERIFY(!(changed == copy));
        }
    }
};

QTEST_GUILESS_MAIN(CueDragTest)
#include "test_cue_drag.moc"
