// Gesture resonance: the pad's press-and-release, the workspace's continuous
// gesture, and live updates of its three parameters.

#include "EffectsFixture.h"

#include <QTest>

using namespace vibrelle;
using namespace vibrelle::testing;

namespace {

constexpr double eps = 1e-9;

void runWithPromptReplies(EffectsFixture &f, double seconds) {
    const double end = f.now() + seconds;
    while (f.now() < end - eps) {
        f.advance(0.001);
        while (f.open() > 0) {
            f.transport->replyOk();
        }
    }
}

} // namespace

class GestureTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pressAndReleaseSendsStartThenStop();
    void padDragSendsOneStartAndItsReleaseStops();
    void startReplyAfterTheReleaseStopsAtOnce();
    void padDuringAContinuousGestureSendsNothing();
    void buttonStopsTheContinuousGesture();
    void escStopsTheContinuousGesture();
    void reactivitySliderSendsAnUpdate();
    void failedStartClearsTheGesture();
};

void GestureTest::pressAndReleaseSendsStartThenStop() {
    EffectsFixture f;
    f.c().setReactivity(0.8);
    f.c().beginGesture(false);
    QCOMPARE(f.count(), 1);
    QCOMPARE(f.last().path, paths::resonance);
    QCOMPARE(f.last().body, (QJsonObject{{QStringLiteral("fineness"), 0.5},
                                         {QStringLiteral("intensity"), 0.5},
                                         {QStringLiteral("mode"), QStringLiteral("gesture")},
                                         {QStringLiteral("reactivity"), 0.8}}));
    QVERIFY(f.c().gestureWanted());
    QVERIFY(!f.c().continuousGesture());

    f.c().endGesturePadDrag(); // released before the reply
    QVERIFY(!f.c().gestureWanted());
    QCOMPARE(f.count(), 1);
    f.advance(0.01);
    f.transport->replyOk();
    QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::stop}));
    QVERIFY(!f.c().heartbeatActive());
    f.transport->replyOk();
    QVERIFY(!f.c().effectRunning());
    QVERIFY(!f.c().resonanceMode().has_value());
    runWithPromptReplies(f, 1.0);
    QCOMPARE(f.count(), 2);
}

void GestureTest::padDragSendsOneStartAndItsReleaseStops() {
    EffectsFixture f;
    // Every reported movement calls beginGesture; only the first starts.
    for (int i = 0; i < 20; ++i) {
        f.c().beginGesture(false);
        if (i == 3) {
            f.transport->replyOk();
        }
        f.advance(0.01);
    }
    QCOMPARE(f.paths(), QStringList{paths::resonance});
    QVERIFY(f.c().effectRunning());
    QVERIFY(f.c().heartbeatActive());
    runWithPromptReplies(f, 0.6);
    QCOMPARE(f.countOf(paths::heartbeat), 1);
    f.c().endGesturePadDrag();
    QCOMPARE(f.last().path, paths::stop);
    f.transport->replyOk();
    QVERIFY(f.c().controlsEnabled());
}

void GestureTest::startReplyAfterTheReleaseStopsAtOnce() {
    EffectsFixture f;
    f.c().beginGesture(false);
    f.advance(0.02);
    f.c().endGesturePadDrag();
    f.advance(0.03);
    f.transport->replyOk();
    const double replied = f.now();
    QCOMPARE(f.last().path, paths::stop);
    QCOMPARE(f.last().at, replied);
    QCOMPARE(f.last().url, QStringLiteral("http://127.0.0.1:59723/v1/stop"));
}

void GestureTest::padDuringAContinuousGestureSendsNothing() {
    EffectsFixture f;
    f.c().toggleContinuousGesture();
    QVERIFY(f.c().continuousGesture());
    f.transport->replyOk();
    f.clearWire();

    for (int i = 0; i < 5; ++i) {
        f.c().beginGesture(false);
        f.advance(0.01);
    }
    f.c().endGesturePadDrag();
    QCOMPARE(f.count(), 0);
    QVERIFY(f.c().gestureWanted());
    QVERIFY(f.c().continuousGesture());
    QVERIFY(f.c().effectRunning());
    // Still kept alive.
    runWithPromptReplies(f, 1.0);
    QCOMPARE(f.paths(), (QStringList{paths::heartbeat, paths::heartbeat}));
}

void GestureTest::buttonStopsTheContinuousGesture() {
    EffectsFixture f;
    f.c().toggleContinuousGesture();
    f.transport->replyOk();
    f.advance(0.3);
    f.c().toggleContinuousGesture();
    QVERIFY(!f.c().gestureWanted());
    QVERIFY(!f.c().continuousGesture());
    QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::stop}));
    f.transport->replyOk();
    // Pressed again, it starts a new one.
    f.c().toggleContinuousGesture();
    QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::stop, paths::resonance}));
    QVERIFY(f.c().continuousGesture());
}

void GestureTest::escStopsTheContinuousGesture() {
    EffectsFixture f;
    f.c().toggleContinuousGesture();
    f.transport->replyOk();
    f.c().stop();
    QVERIFY(!f.c().gestureWanted());
    QVERIFY(!f.c().continuousGesture());
    QVERIFY(f.c().effectRunning()); // until the stop is answered
    QCOMPARE(f.last().path, paths::stop);
    f.transport->replyOk();
    QVERIFY(!f.c().effectRunning());
    runWithPromptReplies(f, 1.0);
    QCOMPARE(f.countOf(paths::heartbeat), 0);
}

void GestureTest::reactivitySliderSendsAnUpdate() {
    EffectsFixture f;
    f.c().toggleContinuousGesture();
    f.transport->replyOk();
    QVERIFY(f.c().reactivityEditable());
    QVERIFY(f.c().finenessEditable());
    f.advance(0.1);
    f.c().setReactivity(0.9);
    runWithPromptReplies(f, 0.01);
    QCOMPARE(f.last().path, paths::update);
    QCOMPARE(f.last().body, (QJsonObject{{QStringLiteral("reactivity"), 0.9}}));

    // Another key changed within the next turn travels with it.
    f.c().setFineness(0.2);
    f.c().setReactivity(0.95);
    f.c().setPulseRateHz(50); // not a gesture parameter
    runWithPromptReplies(f, 0.1);
    QCOMPARE(f.countOf(paths::update), 2);
    QCOMPARE(f.last().body,
             (QJsonObject{{QStringLiteral("fineness"), 0.2}, {QStringLiteral("reactivity"), 0.95}}));
    QVERIFY(f.last().at - f.requestsTo(paths::update).first().at >= 0.05 - eps);
}

void GestureTest::failedStartClearsTheGesture() {
    EffectsFixture f;
    f.c().toggleContinuousGesture();
    f.transport->fail();
    QVERIFY(!f.c().gestureWanted());
    QVERIFY(!f.c().continuousGesture());
    QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::stop}));
    f.transport->replyOk();
    QVERIFY(f.c().controlsEnabled());
    runWithPromptReplies(f, 1.0);
    QCOMPARE(f.count(), 2);
}

QTEST_GUILESS_MAIN(GestureTest)
#include "test_gesture.moc"
