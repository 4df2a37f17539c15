// The phases every effect passes through: impulses and the sequence's 0.33 s window,
// the automatic stop after a failed start, and which controls are editable in each phase.

#include "support/ControllerFixture.h"

#include <functional>

using namespace vibrelle;
using namespace vibrelle::testing;

namespace {

using Setup = std::function<void(ControllerFixture &)>;

const Setup sequence = [](ControllerFixture &f) { f.c().sequence(); };
const Setup timed = [](ControllerFixture &f) { f.c().timedResonance(); };
const Setup controlled = [](ControllerFixture &f) { f.c().controlledResonance(); };
const Setup gesture = [](ControllerFixture &f) { f.c().toggleContinuousGesture(); };

// "1" or "0" for: the controls, the connection, reactivity, duration, fineness, the controlled parameters.
QString editable(const TesterController &c) {
    QString flags;
    for (const bool on : {c.controlsEnabled(), c.connectionEditable(), c.reactivityEditable(),
                          c.durationEditable(), c.finenessEditable(), c.controlledParametersEditable()}) {
        flags += on ? u'1' : u'0';
    }
    return flags;
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class EffectPhasesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Nothing can start during the window, which ends 0.18 + 0.15 s after the reply without a
    // request; an impulse leaves no effect behind.
    void sequenceWindowAndImpulse() {
        ControllerFixture f;
        f.c().sequence();
        f.advance(0.01);
        f.ok();
        const double replied = f.now();
        QVERIFY(f.c().effectRunning() && !f.c().controlsEnabled());
        f.advanceTo(replied + 0.329);
        for (const Setup &start : {sequence, timed, controlled, gesture}) {
            start(f);
        }
        f.c().impulse(QStringLiteral("crisp"));
        f.c().beginGesture(false);
        f.c().beginCueDrag();
        f.c().verifyConnection();
        QCOMPARE(f.count(), 1);
        f.advanceTo(replied + 0.3301);
        QVERIFY(!f.c().effectRunning() && !f.c().effectAddress().has_value() && f.c().controlsEnabled());
        QCOMPARE(f.count(), 1);
        f.c().impulse(QStringLiteral("natural"));
        QCOMPARE(f.paths(), (QStringList{paths::sequences, paths::impulses}));
        QVERIFY(f.c().effectAddress().has_value());
        f.ok({{QStringLiteral("emitted"), true}});
        QVERIFY(!f.c().effectAddress().has_value() && !f.c().effectRunning() && f.c().controlsEnabled());
        f.advance(2);
        QCOMPARE(f.count(), 2);
    }

    void failedStartStopsAtTheSameAddress_data() {
        QTest::addColumn<Setup>("start");
        QTest::addColumn<bool>("transportFailure");
        QTest::newRow("sequence, error reply") << sequence << false;
        QTest::newRow("sequence, transport failure") << sequence << true;
        QTest::newRow("timed, error reply") << timed << false;
        QTest::newRow("controlled, transport failure") << controlled << true;
        QTest::newRow("gesture, transport failure") << gesture << true;
    }
    void failedStartStopsAtTheSameAddress() {
        QFETCH(Setup, start);
        QFETCH(bool, transportFailure);
        ControllerFixture f(QStringLiteral("http://127.0.0.1:59724"));
        start(f);
        f.c().setAddress(home);
        transportFailure ? f.transport->fail() : f.transport->reply(500, "not json");
        QCOMPARE(f.count(), 2);
        QCOMPARE(f.lastUrl(), QStringLiteral("http://127.0.0.1:59724/v1/stop"));
        QVERIFY(!f.c().effectRunning() && !f.c().effectEndPending() && !f.c().heartbeatActive());
        QVERIFY(!f.c().gestureWanted() && !f.c().continuousGesture());
        f.ok();
        QVERIFY(f.c().controlsEnabled());
        f.advance(1);
        QCOMPARE(f.count(), 2);
    }

    void editableControlsInEveryPhase_data() {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QString>("expected");
        const auto confirmed = [](const Setup &start) {
            return Setup([start](ControllerFixture &f) { start(f), f.ok(); });
        };
        // Stopped at once: while a start is in flight, the stop waits.
        const auto stopped = [](const Setup &start) {
            return Setup([start](ControllerFixture &f) { start(f), f.c().stop(); });
        };
        QTest::newRow("idle") << Setup([](ControllerFixture &) {}) << "111111";
        QTest::newRow("impulse in flight") << Setup([](ControllerFixture &f) { f.c().impulse("soft"); }) << "000000";
        QTest::newRow("sequence window") << confirmed(sequence) << "000000";
        QTest::newRow("timed starting") << timed << "000110";
        QTest::newRow("timed running") << confirmed(timed) << "000110";
        QTest::newRow("timed, stop pending") << stopped(timed) << "000000";
        QTest::newRow("controlled starting") << controlled << "000001";
        QTest::newRow("controlled, stop pending") << stopped(controlled) << "000000";
        QTest::newRow("controlled, stop in flight") << stopped(confirmed(controlled)) << "000001";
        QTest::newRow("gesture running") << confirmed(gesture) << "001010";
        QTest::newRow("gesture, stop pending") << stopped(gesture) << "000000";
        QTest::newRow("cue release pending") << Setup([](ControllerFixture &f) {
            f.c().beginCueDrag();
            f.ok();
            f.c().updateCueDrag(100);
            f.c().endCueDrag();
            f.ok();
        }) << "000000";
        QTest::newRow("after the stop reply") << confirmed(stopped(confirmed(controlled))) << "111111";
        QTest::newRow("after an automatic stop") << Setup([](ControllerFixture &f) {
            f.c().timedResonance();
            f.transport->fail();
            f.ok();
        }) << "111111";
    }
    void editableControlsInEveryPhase() {
        QFETCH(Setup, setup);
        QFETCH(QString, expected);
        ControllerFixture f;
        setup(f);
        QCOMPARE(editable(f.c()), expected);
    }
};

QTEST_GUILESS_MAIN(EffectPhasesTest)
#include "test_effect_phases.moc"
