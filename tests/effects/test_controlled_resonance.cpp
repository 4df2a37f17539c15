// Controlled resonance: the start request, the lease heartbeat, and pause/resume
// through the throttled sender.

#include "EffectsFixture.h"

#include <QTest>

using namespace vibrelle;
using namespace vibrelle::testing;

namespace {

constexpr double eps = 1e-9;

QJsonObject pausedReply(bool paused) {
    return QJsonObject{{QStringLiteral("paused"), paused}};
}

// Answers every request at once, for `seconds`, in steps of `step`.
void runWithPromptReplies(EffectsFixture &f, double seconds, double step = 0.001) {
    const double end = f.now() + seconds;
    while (f.now() < end - eps) {
        f.advance(step);
        while (f.open() > 0) {
            f.transport->replyOk();
        }
    }
}

} // namespace

class ControlledResonanceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startBodyCarriesTheParameters();
    void heartbeatEveryHalfSecondAfterTheStartReply();
    void heartbeatWaitsForALeaseThatIsOldEnough_data();
    void heartbeatWaitsForALeaseThatIsOldEnough();
    void noHeartbeatWhileUpdatesRenewTheLease();
    void heartbeatKeepsAPausedEffectAlive();
    void failedHeartbeatStopsAndGoesIdle_data();
    void failedHeartbeatStopsAndGoesIdle();
    void pausePressedTwiceSendsOnePause();
    void pauseOvertakesQueuedUpdatesAndResumeFollowsThem();
    void pauseWishDuringTheStartIsSentAfterIt();
    void pauseWhileAStopIsPendingDoesNothing();
    void pauseOutsideControlledModeDoesNothing();
    void replyWithoutPausedKeepsTheState();
};

void ControlledResonanceTest::startBodyCarriesTheParameters() {
    EffectsFixture f;
    f.c().controlledResonance();
    QCOMPARE(f.count(), 1);
    const auto start = f.last();
    QCOMPARE(start.method, QByteArray("POST"));
    QCOMPARE(start.url, QStringLiteral("http://127.0.0.1:59723/v1/resonance"));
    QCOMPARE(start.body, (QJsonObject{{QStringLiteral("mode"), QStringLiteral("controlled")},
                                      {QStringLiteral("intensity"), 0.5},
                                      {QStringLiteral("pulseRateHz"), 30},
                                      {QStringLiteral("sharpness"), 0.5},
                                      {QStringLiteral("transitionMs"), 40}}));
    QVERIFY(!f.c().effectRunning());
    QVERIFY(!f.c().controlsEnabled());
    // A second press while starting sends nothing.
    f.c().controlledResonance();
    QCOMPARE(f.count(), 1);
    f.transport->replyOk();
    QVERIFY(f.c().effectRunning());
    QVERIFY(f.c().heartbeatActive());
    QVERIFY(f.c().status().startsWith(QStringLiteral("Connesso \u00B7 ")));
}

void ControlledResonanceTest::heartbeatEveryHalfSecondAfterTheStartReply() {
    EffectsFixture f;
    f.c().controlledResonance();
    f.advance(0.003);
    f.transport->replyOk();
    const double confirmed = f.now();

    runWithPromptReplies(f, 1.6);
    const auto beats = f.requestsTo(paths::heartbeat);
    QCOMPARE(f.count() - 1, beats.size());
    QCOMPARE(beats.size(), 3);
    for (int i = 0; i < beats.size(); ++i) {
        VERIFY_NEAR(beats.at(i).at, confirmed + 0.5 * (i + 1), 0.0011);
        QCOMPARE(beats.at(i).method, QByteArray("POST"));
        QVERIFY(beats.at(i).hasBody);
        QCOMPARE(beats.at(i).body, QJsonObject{});
        QCOMPARE(beats.at(i).url, QStringLiteral("http://127.0.0.1:59723/v1/heartbeat"));
    }
    // Successful heartbeats are neither logged nor shown.
    QCOMPARE(f.c().entries().size(), 2); // status at construction, the start
    QVERIFY(f.c().status().startsWith(QStringLiteral("Connesso \u00B7 ")));
}

void ControlledResonanceTest::heartbeatWaitsForALeaseThatIsOldEnough_data() {
    QTest::addColumn<double>("replyDelay");
    QTest::addColumn<bool>("beatAtOneSecond");
    // A slow reply renews the lease late; the next tick then finds it younger than 0.45 s.
    QTest::newRow("renewed 0.44 s before the tick") << 0.060 << false;
    QTest::newRow("renewed 0.46 s before the tick") << 0.040 << true;
}

void ControlledResonanceTest::heartbeatWaitsForALeaseThatIsOldEnough() {
    QFETCH(double, replyDelay);
    QFETCH(bool, beatAtOneSecond);
    EffectsFixture f;
    f.c().controlledResonance();
    f.transport->replyOk();
    const double confirmed = f.now();

    f.clock->advanceTo(confirmed + 0.5);
    QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::heartbeat}));
    f.clock->advanceTo(confirmed + 0.5 + replyDelay);
    f.transport->replyOk();

    f.clock->advanceTo(confirmed + 1.0 + 0.0001);
    QCOMPARE(f.countOf(paths::heartbeat), beatAtOneSecond ? 2 : 1);
    if (beatAtOneSecond) {
        f.transport->replyOk();
    }
    // Either way the next beat is no more than one tick late.
    f.clock->advanceTo(confirmed + 1.5 + 0.0001);
    QCOMPARE(f.countOf(paths::heartbeat), beatAtOneSecond ? 3 : 2);
    VERIFY_NEAR(f.last().at, confirmed + 1.5, 1e-6);
}

void ControlledResonanceTest::noHeartbeatWhileUpdatesRenewTheLease() {
    EffectsFixture f;
    f.startControlled();
    // A slider step every 0.1 s for three seconds.
    for (int i = 0; i < 30; ++i) {
        f.c().setIntensity(0.3 + i * 0.01);
        runWithPromptReplies(f, 0.1);
    }
    QCOMPARE(f.countOf(paths::heartbeat), 0);
    QCOMPARE(f.countOf(paths::update), 30);

    // Once the slider rests, the heartbeat takes over.
    runWithPromptReplies(f, 1.0);
    QVERIFY(f.countOf(paths::heartbeat) >= 1);
}

void ControlledResonanceTest::heartbeatKeepsAPausedEffectAlive() {
    EffectsFixture f;
    f.startControlled();
    f.advance(0.1);
    f.c().togglePause();
    f.advance(0.002);
    QCOMPARE(f.last().path, paths::pause);
    QCOMPARE(f.last().body, QJsonObject{});
    f.transport->replyOk(pausedReply(true));
    QVERIFY(f.c().controlledPaused());
    const double paused = f.now();
    f.clearWire();

    runWithPromptReplies(f, 2.45);
    const auto beats = f.requestsTo(paths::heartbeat);
    QCOMPARE(f.count(), beats.size());
    QCOMPARE(beats.size(), 4);
    // The pause reply renewed the lease: the first beat comes at the first tick at least 0.45 s later.
    QVERIFY(beats.first().at >= paused + 0.45 - eps);
    QVERIFY(f.c().controlledPaused());
    QVERIFY(f.c().effectRunning());
}

void ControlledResonanceTest::failedHeartbeatStopsAndGoesIdle_data() {
    QTest::addColumn<bool>("transportFailure");
    QTest::newRow("error reply") << false;
    QTest::newRow("transport failure") << true;
}

void ControlledResonanceTest::failedHeartbeatStopsAndGoesIdle() {
    QFETCH(bool, transportFailure);
    EffectsFixture f;
    f.startControlled();
    f.c().setAddress(QStringLiteral("http://127.0.0.1:2"));
    f.advance(0.6);
    QCOMPARE(f.last().path, paths::heartbeat);
    if (transportFailure) {
        f.transport->fail();
    } else {
        f.transport->replyJson(410, QJsonObject{{QStringLiteral("ok"), false},
                                                {QStringLiteral("error"), QStringLiteral("lease expired")}});
    }
    QVERIFY(f.c().entries().first().failed);
    QVERIFY(!f.c().heartbeatActive());
    QCOMPARE(f.last().path, paths::stop);
    QCOMPARE(f.last().url, QStringLiteral("http://127.0.0.1:59723/v1/stop")); // where the effect runs
    f.transport->replyOk();
    QVERIFY(!f.c().effectRunning());
    QVERIFY(!f.c().resonanceMode().has_value());
    QVERIFY(f.c().controlsEnabled());
    QCOMPARE(f.c().status(), QStringLiteral("Feedback fermato."));
    const int sent = f.count();
    f.advance(3);
    QCOMPARE(f.count(), sent);
}

void ControlledResonanceTest::pausePressedTwiceSendsOnePause() {
    EffectsFixture f;
    f.startControlled();
    f.advance(0.1);
    // Twice before the throttle fires.
    f.c().togglePause();
    f.c().togglePause();
    QCOMPARE(f.c().desiredPause(), std::optional<bool>(true));
    f.advance(0.002);
    QCOMPARE(f.countOf(paths::pause), 1);
    // And once more while the pause is in flight.
    f.c().togglePause();
    f.advance(0.01);
    f.transport->replyOk(pausedReply(true));
    runWithPromptReplies(f, 0.3);
    QCOMPARE(f.countOf(paths::pause), 1);
    QCOMPARE(f.countOf(paths::resume), 0);
    QVERIFY(f.c().controlledPaused());

    // Pressed again once paused, it resumes.
    f.c().togglePause();
    runWithPromptReplies(f, 0.01);
    QCOMPARE(f.countOf(paths::resume), 1);
}

void ControlledResonanceTest::pauseOvertakesQueuedUpdatesAndResumeFollowsThem() {
    EffectsFixture f;
    f.c().controlledResonance();
    const double startSent = f.now();
    f.transport->replyOk();
    f.clearWire();

    // Within the first turn: an intensity change, then pause.
    f.advance(0.01);
    f.c().setIntensity(0.8);
    f.c().togglePause();
    f.clock->advanceTo(startSent + 0.05);
    QCOMPARE(f.paths(), QStringList{paths::pause});
    f.advance(0.004);
    f.transport->replyOk(pausedReply(true));
    f.advance(0.1);
    QCOMPARE(f.paths(), (QStringList{paths::pause, paths::update}));
    QCOMPARE(f.last().body, (QJsonObject{{QStringLiteral("intensity"), 0.8}}));
    VERIFY_NEAR(f.at(1).at - f.at(0).at, 0.05, 1e-6);
    f.transport->replyOk();

    // Paused: a change and a resume within one turn; the change goes first.
    f.c().setSharpness(0.1);
    f.c().togglePause();
    QCOMPARE(f.c().desiredPause(), std::optional<bool>(false));
    f.advance(0.01);
    QCOMPARE(f.last().path, paths::update);
    QCOMPARE(f.last().body, (QJsonObject{{QStringLiteral("sharpness"), 0.1}}));
    f.transport->replyOk();
    f.advance(0.1);
    QCOMPARE(f.last().path, paths::resume);
    QCOMPARE(f.last().body, QJsonObject{});
    VERIFY_NEAR(f.at(3).at - f.at(2).at, 0.05, 1e-6);
    f.transport->replyOk(pausedReply(false));
    QVERIFY(!f.c().controlledPaused());
    QCOMPARE(f.paths(), (QStringList{paths::pause, paths::update, paths::update, paths::resume}));
}

void ControlledResonanceTest::pauseWishDuringTheStartIsSentAfterIt() {
    EffectsFixture f;
    f.c().controlledResonance();
    const double startSent = f.now();
    f.advance(0.005);
    f.c().togglePause();
    f.advance(0.1);
    QCOMPARE(f.count(), 1);
    f.transport->replyOk();
    f.advance(0.01);
    QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::pause}));
    QVERIFY(f.last().at >= startSent + 0.05);
}

void ControlledResonanceTest::pauseWhileAStopIsPendingDoesNothing() {
    EffectsFixture f;
    f.startControlled();
    f.advance(0.1);
    f.c().setIntensity(0.2);
    f.advance(0.002); // the update is in flight
    f.c().stop();
    QVERIFY(f.c().pendingStop());
    f.c().togglePause();
    QVERIFY(!f.c().desiredPause().has_value());
    f.transport->replyOk();
    QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::update, paths::stop}));
    f.transport->replyOk();
    f.advance(1);
    QCOMPARE(f.count(), 3);
}

void ControlledResonanceTest::pauseOutsideControlledModeDoesNothing() {
    EffectsFixture f;
    f.c().togglePause();
    QVERIFY(!f.c().desiredPause().has_value());
    f.c().beginGesture(true);
    f.transport->replyOk();
    f.c().togglePause();
    QVERIFY(!f.c().desiredPause().has_value());
    f.advance(0.3);
    QCOMPARE(f.countOf(paths::pause), 0);
}

void ControlledResonanceTest::replyWithoutPausedKeepsTheState() {
    EffectsFixture f;
    f.startControlled();
    f.advance(0.1);
    f.c().togglePause();
    f.advance(0.002);
    f.transport->replyOk(); // no "paused" member
    QVERIFY(!f.c().controlledPaused());
    // The button offers the same action again, and it is sent again.
    f.c().togglePause();
    f.advance(0.1);
    QCOMPARE(f.countOf(paths::pause), 2);
}

QTEST_GUILESS_MAIN(ControlledResonanceTest)
#include "test_controlled_resonance.moc"
