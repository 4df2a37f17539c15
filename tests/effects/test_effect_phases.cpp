// The phases every effect passes through: impulses and the sequence's 0.33 s window,
// the automatic stop after a failed start, and which controls are editable in each phase.

#include "EffectsFixture.h"

#include <functional>

using namespace vibrelle;
using namespace vibrelle::testing;

namespace {

using Setup = std::function<void(EffectsFixture &)>;

// Every operation that starts something; none may send while the controls are disabled.
void pressEverything(TesterController &c) {
    c.impulse(QStringLiteral("crisp"));
    c.sequence();
    c.timedResonance();
    c.controlledResonance();
    c.beginGesture(false);
    c.beginCueDrag();
    c.verifyConnection();
}

enum : int {
    controls = 1,
    connection = 2,
    reactivity = 4,
    duration = 8,
    fineness = 16,
    controlled = 32,
    all = 63
};

int predicates(const TesterController &c) {
    return (c.controlsEnabled() ? controls : 0) | (c.connectionEditable() ? connection : 0) |
           (c.reactivityEditable() ? reactivity : 0) | (c.durationEditable() ? duration : 0) |
           (c.finenessEditable() ? fineness : 0) | (c.controlledParametersEditable() ? controlled : 0);
}

const Setup sequence = [](EffectsFixture &f) { f.c().sequence(); };
const Setup timed = [](EffectsFixture &f) { f.c().timedResonance(); };
const Setup controlledStart = [](EffectsFixture &f) { f.c().controlledResonance(); };
const Setup gesture = [](EffectsFixture &f) { f.c().toggleContinuousGesture(); };

} // namespace

Q_DECLARE_METATYPE(Setup)

class EffectPhasesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Nothing can start during the window, which ends 0.18 + 0.15 s after the reply without a
    // request; an impulse leaves no effect behind.
    void sequenceWindowAndImpulse() {
        EffectsFixture f;
        f.c().sequence();
        f.advance(0.01);
        f.ok();
        const double replied = f.now();
        QVERIFY(f.c().effectRunning() && !f.c().controlsEnabled());
        f.advanceTo(replied + 0.329);
        pressEverything(f.c());
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
        QTest::newRow("controlled, transport failure") << controlledStart << true;
        QTest::newRow("gesture, transport failure") << gesture << true;
    }
    void failedStartStopsAtTheSameAddress() {
        QFETCH(Setup, start);
        QFETCH(bool, transportFailure);
        EffectsFixture f(QStringLiteral("http://127.0.0.1:59724"));
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
        QTest::addColumn<int>("expected");
        auto confirmed = [](const Setup &start) {
            return Setup([start](EffectsFixture &f) { start(f), f.ok(); });
        };
        // Stopped at once: while a start is in flight, the stop waits.
        auto stopped = [](const Setup &start) {
            return Setup([start](EffectsFixture &f) { start(f), f.c().stop(); });
        };
        QTest::newRow("idle") << Setup([](EffectsFixture &) {}) << int(all);
        QTest::newRow("impulse in flight")
            << Setup([](EffectsFixture &f) { f.c().impulse(QStringLiteral("soft")); }) << 0;
        QTest::newRow("sequence window") << confirmed(sequence) << 0;
        QTest::newRow("timed starting") << timed << (duration | fineness);
        QTest::newRow("timed running") << confirmed(timed) << (duration | fineness);
        QTest::newRow("timed, stop pending") << stopped(timed) << 0;
        QTest::newRow("controlled starting") << controlledStart << int(controlled);
        QTest::newRow("controlled, stop pending") << stopped(controlledStart) << 0;
        QTest::newRow("controlled, stop in flight") << stopped(confirmed(controlledStart)) << int(controlled);
        QTest::newRow("gesture running") << confirmed(gesture) << (reactivity | fineness);
        QTest::newRow("gesture, stop pending") << stopped(gesture) << 0;
        QTest::newRow("cue release pending") << Setup([](EffectsFixture &f) {
            f.c().beginCueDrag();
            f.ok();
            f.c().updateCueDrag(100);
            f.c().endCueDrag();
            f.ok();
        }) << 0;
        QTest::newRow("after the stop reply") << confirmed(stopped(confirmed(controlledStart))) << int(all);
        QTest::newRow("after an automatic stop") << Setup([](EffectsFixture &f) {
            f.c().timedResonance();
            f.transport->fail();
            f.ok();
        }) << int(all);
    }
    void editableControlsInEveryPhase() {
        QFETCH(Setup, setup);
        QFETCH(int, expected);
        EffectsFixture f;
        setup(f);
        QCOMPARE(predicates(f.c()), expected);
    }
};

QTEST_GUILESS_MAIN(EffectPhasesTest)
#include "test_effect_phases.moc"
