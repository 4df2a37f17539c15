// Which controls the window may enable, in every phase of every effect.

#include "EffectsFixture.h"

#include <QTest>

#include <functional>

using namespace vibrelle;
using namespace vibrelle::testing;

namespace {

using Setup = std::function<void(EffectsFixture &)>;

// Bits of the expected predicates, in this order.
enum : int {
    controls = 1 << 0,
    connection = 1 << 1,
    reactivity = 1 << 2,
    duration = 1 << 3,
    fineness = 1 << 4,
    controlledParameters = 1 << 5,
    all = (1 << 6) - 1,
};

int predicates(const TesterController &c) {
    return (c.controlsEnabled() ? controls : 0) | (c.connectionEditable() ? connection : 0) |
           (c.reactivityEditable() ? reactivity : 0) | (c.durationEditable() ? duration : 0) |
           (c.finenessEditable() ? fineness : 0) |
           (c.controlledParametersEditable() ? controlledParameters : 0);
}

QString names(int bits) {
    static const char *const labels[] = {"controls", "connection", "reactivity",
                                         "duration", "fineness",   "controlledParameters"};
    QStringList parts;
    for (int i = 0; i < 6; ++i) {
        if (bits & (1 << i)) {
            parts.append(QString::fromLatin1(labels[i]));
        }
    }
    return QLatin1Char('{') + parts.join(QLatin1Char(',')) + QLatin1Char('}');
}

// Starts the effect and stops it while its start is still in flight, so that the stop waits.
Setup pendingStopDuring(const Setup &start) {
    return [start](EffectsFixture &f) {
        start(f);
        f.c().stop();
    };
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class EditabilityTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void predicatesInEveryPhase_data();
    void predicatesInEveryPhase();
};

void EditabilityTest::predicatesInEveryPhase_data() {
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<int>("expected");

    const Setup timed = [](EffectsFixture &f) { f.c().timedResonance(); };
    const Setup controlled = [](EffectsFixture &f) { f.c().controlledResonance(); };
    const Setup gesture = [](EffectsFixture &f) { f.c().beginGesture(true); };
    const Setup impulse = [](EffectsFixture &f) { f.c().impulse(QStringLiteral("soft")); };
    auto confirmed = [](const Setup &start) {
        return Setup([start](EffectsFixture &f) {
            start(f);
            f.transport->replyOk();
        });
    };

    QTest::newRow("idle") << Setup([](EffectsFixture &) {}) << int(all);
    QTest::newRow("impulse in flight") << impulse << 0;
    QTest::newRow("sequence window") << confirmed([](EffectsFixture &f) { f.c().sequence(); }) << 0;

    QTest::newRow("timed starting") << timed << (duration | fineness);
    QTest::newRow("timed running") << confirmed(timed) << (duration | fineness);
    QTest::newRow("timed, stop pending") << pendingStopDuring(timed) << 0;

    QTest::newRow("controlled starting") << controlled << int(controlledParameters);
    QTest::newRow("controlled running") << confirmed(controlled) << int(controlledParameters);
    QTest::newRow("controlled paused") << Setup([](EffectsFixture &f) {
        f.startControlled();
        f.c().togglePause();
        f.advance(0.1);
        f.transport->replyOk(QJsonObject{{QStringLiteral("paused"), true}});
    }) << int(controlledParameters);
    QTest::newRow("controlled, stop pending") << pendingStopDuring(controlled) << 0;
    QTest::newRow("controlled, stop in flight") << Setup([](EffectsFixture &f) {
        f.startControlled();
        f.c().stop();
    }) << int(controlledParameters);

    QTest::newRow("gesture starting") << gesture << (reactivity | fineness);
    QTest::newRow("gesture running") << confirmed(gesture) << (reactivity | fineness);
    QTest::newRow("gesture, stop pending") << pendingStopDuring(gesture) << 0;

    QTest::newRow("cue drag") << Setup([](EffectsFixture &f) {
        f.c().beginCueDrag();
        f.transport->replyOk();
    }) << int(controlledParameters);
    QTest::newRow("cue release pending") << Setup([](EffectsFixture &f) {
        f.c().beginCueDrag();
        f.transport->replyOk();
        f.c().updateCueDrag(100);
        f.c().endCueDrag();
        f.transport->replyOk();
        QVERIFY(f.c().releasePending());
    }) << 0;
    QTest::newRow("after the stop reply") << Setup([](EffectsFixture &f) {
        f.startControlled();
        f.c().stop();
        f.transport->replyOk();
    }) << int(all);
    QTest::newRow("after an automatic stop") << Setup([](EffectsFixture &f) {
        f.c().timedResonance();
        f.transport->fail();
        f.transport->replyOk();
    }) << int(all);
}

void EditabilityTest::predicatesInEveryPhase() {
    QFETCH(Setup, setup);
    QFETCH(int, expected);
    EffectsFixture f;
    setup(f);
    const int actual = predicates(f.c());
    QVERIFY2(actual == expected, qPrintable(names(actual) + QStringLiteral(" != ") + names(expected)));
}

QTEST_GUILESS_MAIN(EditabilityTest)
#include "test_editability.moc"
