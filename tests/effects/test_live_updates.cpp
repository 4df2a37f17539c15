// Live parameter updates: the 50 ms throttle, coalescing by key, the per-mode key
// filter, rounding of millisecond keys, and where and when updates go out.

#include "EffectsFixture.h"

#include <QTest>

using namespace vibrelle;
using namespace vibrelle::testing;

namespace {

constexpr double spacing = 0.05;
constexpr double eps = 1e-9;

enum class Mode { none, gesture, timed, controlled };

// Starts the given resonance and confirms it; leaves the wire empty.
void startConfirmed(EffectsFixture &f, Mode mode) {
    switch (mode) {
    case Mode::none:
        return;
    case Mode::gesture:
        f.c().beginGesture(true);
        break;
    case Mode::timed:
        f.c().setDurationMilliseconds(5000);
        f.c().timedResonance();
        break;
    case Mode::controlled:
        f.c().controlledResonance();
        break;
    }
    f.advance(0.002);
    f.transport->replyOk();
    f.clearWire();
}

// Replies to every open exchange that has been open at least `after` seconds.
void replyDueExchanges(EffectsFixture &f, double after) {
    while (f.open() > 0) {
        const int index = f.count() - f.open();
        if (f.now() - f.at(index).at < after - eps) {
            return;
        }
        f.transport->replyOk();
    }
}

} // namespace

class LiveUpdatesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sliderSweepIsThrottledAndSendsTheCurrentValue();
    void changesWithinOneTurnShareOneBody();
    void changeDuringTheStartWaitsForItsReplyAndItsTurn_data();
    void changeDuringTheStartWaitsForItsReplyAndItsTurn();
    void changeWhileAnotherRequestIsInFlightFollowsItsReply();
    void sameValueSendsNothing();
    void keysOfOtherModesAreDropped_data();
    void keysOfOtherModesAreDropped();
    void changesWhileIdleAreNotKeptForLater();
    void millisecondKeysAreRoundedHalfAwayFromZero();
    void updatesGoToTheEffectAddressNotTheAddressField();
    void successfulUpdateIsNotLoggedAndShowsItsTime();
    void failedUpdateStopsTheEffect();
    void changesWhileAStopIsPendingAreDropped();
};

void LiveUpdatesTest::sliderSweepIsThrottledAndSendsTheCurrentValue() {
    EffectsFixture f;
    f.c().controlledResonance();
    const double startSent = f.at(0).at;
    f.advance(0.002);
    f.transport->replyOk();
    f.clearWire();

    // What the slider showed at the instant each request left.
    QList<double> currentAtSend;
    f.transport->onSend = [&f, &currentAtSend](const HttpRequest &) { currentAtSend.append(f.c().intensity()); };

    // One slider step every millisecond for a second; the service answers each update after 5 ms.
    double lastValue = 0;
    for (int i = 1; i <= 1000; ++i) {
        lastValue = 0.2 + i * 0.0005;
        f.c().setIntensity(lastValue);
        f.advance(0.001);
        replyDueExchanges(f, 0.005);
    }
    // The slider rests; the service keeps answering.
    for (int i = 0; i < 200; ++i) {
        f.advance(0.001);
        replyDueExchanges(f, 0.005);
    }

    const auto updates = f.requestsTo(paths::update);
    QCOMPARE(f.count(), updates.size()); // no heartbeat, pause or anything else while updates flow
    QVERIFY2(updates.size() >= 18, qPrintable(QString::number(updates.size())));
    QVERIFY2(updates.size() <= 21, qPrintable(QString::number(updates.size())));

    QVERIFY(updates.first().at >= startSent + spacing - eps);
    for (int i = 0; i < updates.size(); ++i) {
        const auto &u = updates.at(i);
        QCOMPARE(u.method, QByteArray("POST"));
        QCOMPARE(u.body.keys(), QStringList{QStringLiteral("intensity")});
        // The value current at the moment of sending, not an older one.
        QCOMPARE(u.body.value(QStringLiteral("intensity")).toDouble(), currentAtSend.at(i));
        if (i > 0) {
            const double gap = u.at - updates.at(i - 1).at;
            QVERIFY2(gap >= spacing - eps, qPrintable(QStringLiteral("gap %1 at %2").arg(gap).arg(i)));
            // Sent at its turn, not later: the 50 ms count from the previous send, not from its reply.
            QVERIFY2(gap <= spacing + 0.0015, qPrintable(QStringLiteral("gap %1 at %2").arg(gap).arg(i)));
        }
    }
    // The last position of the slider reaches the service.
    QCOMPARE(updates.last().body.value(QStringLiteral("intensity")).toDouble(), lastValue);
    QCOMPARE(f.c().pendingUpdates().size(), 0);
}

void LiveUpdatesTest::changesWithinOneTurnShareOneBody() {
    EffectsFixture f;
    f.c().controlledResonance();
    const double startSent = f.at(0).at;
    f.advance(0.002);
    f.transport->replyOk();

    f.advance(0.008);
    f.c().setIntensity(0.61);
    f.advance(0.010);
    f.c().setSharpness(0.22);
    f.c().setIntensity(0.64); // the latest value of a key wins
    QCOMPARE(f.count(), 1);

    f.advance(0.1);
    const auto updates = f.requestsTo(paths::update);
    QCOMPARE(updates.size(), 1);
    VERIFY_NEAR(updates.first().at, startSent + spacing, 1e-6);
    QCOMPARE(updates.first().body,
             (QJsonObject{{QStringLiteral("intensity"), 0.64}, {QStringLiteral("sharpness"), 0.22}}));
}

void LiveUpdatesTest::changeDuringTheStartWaitsForItsReplyAndItsTurn_data() {
    QTest::addColumn<double>("replyAfter");
    QTest::addColumn<double>("expectedSendAfterStart");
    // Reply within the 50 ms: the update waits for its turn at 50 ms.
    QTest::newRow("reply after 30 ms") << 0.030 << spacing;
    // Reply after the turn has passed: the update follows the reply at once (1 ms timer).
    QTest::newRow("reply after 80 ms") << 0.080 << 0.081;
}

void LiveUpdatesTest::changeDuringTheStartWaitsForItsReplyAndItsTurn() {
    QFETCH(double, replyAfter);
    QFETCH(double, expectedSendAfterStart);
    EffectsFixture f;
    f.c().controlledResonance();
    const double startSent = f.at(0).at;
    f.advance(0.010);
    f.c().setIntensity(0.9);
    f.advance(replyAfter - 0.010 - 0.0005);
    QCOMPARE(f.count(), 1); // nothing overtakes the start

    f.advance(0.0005);
    f.transport->replyOk();
    QVERIFY(f.advanceUntilCount(2, 0.2, 0.0005));
    const auto update = f.last();
    QCOMPARE(update.path, paths::update);
    QCOMPARE(update.body, (QJsonObject{{QStringLiteral("intensity"), 0.9}}));
    VERIFY_NEAR(update.at - startSent, expectedSendAfterStart, 0.0006);
}

void LiveUpdatesTest::changeWhileAnotherRequestIsInFlightFollowsItsReply() {
    EffectsFixture f;
    startConfirmed(f, Mode::controlled);
    // Let a heartbeat go out and hold its reply for 70 ms.
    QVERIFY(f.advanceUntilCount(1, 0.6));
    QCOMPARE(f.last().path, paths::heartbeat);
    const double heartbeatSent = f.last().at;
    f.clock->advanceTo(heartbeatSent + 0.005);
    f.c().setPulseRateHz(12);
    f.clock->advanceTo(heartbeatSent + 0.070);
    QCOMPARE(f.count(), 1);
    f.transport->replyOk();
    QVERIFY(f.advanceUntilCount(2, 0.1, 0.0005));
    QCOMPARE(f.last().path, paths::update);
    QCOMPARE(f.last().body, (QJsonObject{{QStringLiteral("pulseRateHz"), 12}}));
    // The heartbeat's send does not count as a live update; the update goes out right after the reply.
    VERIFY_NEAR(f.last().at, heartbeatSent + 0.070 + 0.001, 0.0006);
}

void LiveUpdatesTest::sameValueSendsNothing() {
    EffectsFixture f;
    f.c().setTransitionMilliseconds(40);
    startConfirmed(f, Mode::controlled);
    f.advance(0.1);
    f.c().setIntensity(f.c().intensity());
    f.c().setPulseRateHz(30);
    f.c().setSharpness(0.5);
    f.c().setTransitionMilliseconds(40);
    f.advance(0.3);
    QCOMPARE(f.count(), 0);
    QVERIFY(f.c().pendingUpdates().isEmpty());

    // A different value that rounds to the same whole millisecond still counts as a change.
    f.c().setTransitionMilliseconds(40.2);
    f.advance(0.01);
    QCOMPARE(f.count(), 1);
    QCOMPARE(f.last().body, (QJsonObject{{QStringLiteral("transitionMs"), 40}}));
}

void LiveUpdatesTest::keysOfOtherModesAreDropped_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("accepted");
    QTest::newRow("gesture") << int(Mode::gesture)
                             << QStringList{QStringLiteral("fineness"), QStringLiteral("intensity"),
                                            QStringLiteral("reactivity")};
    QTest::newRow("timed") << int(Mode::timed)
                           << QStringList{QStringLiteral("durationMs"), QStringLiteral("fineness"),
                                          QStringLiteral("intensity")};
    QTest::newRow("controlled") << int(Mode::controlled)
                                << QStringList{QStringLiteral("intensity"), QStringLiteral("pulseRateHz"),
                                               QStringLiteral("sharpness"), QStringLiteral("transitionMs")};
}

void LiveUpdatesTest::keysOfOtherModesAreDropped() {
    QFETCH(int, mode);
    QFETCH(QStringList, accepted);
    EffectsFixture f;
    startConfirmed(f, Mode(mode));
    f.advance(0.1);

    // Change all seven parameters at once; only the mode's keys may reach the wire.
    auto &c = f.c();
    c.setIntensity(0.71);
    c.setFineness(0.72);
    c.setReactivity(0.73);
    c.setDurationMilliseconds(6000);
    c.setPulseRateHz(17);
    c.setSharpness(0.74);
    c.setTransitionMilliseconds(90);
    f.advance(0.01);
    replyDueExchanges(f, 0);
    f.advance(0.2);

    const auto updates = f.requestsTo(paths::update);
    QCOMPARE(updates.size(), 1);
    QCOMPARE(updates.first().body.keys(), accepted);
    const QJsonObject all{{QStringLiteral("intensity"), 0.71},  {QStringLiteral("fineness"), 0.72},
                          {QStringLiteral("reactivity"), 0.73}, {QStringLiteral("durationMs"), 6000},
                          {QStringLiteral("pulseRateHz"), 17},  {QStringLiteral("sharpness"), 0.74},
                          {QStringLiteral("transitionMs"), 90}};
    for (const auto &key : accepted) {
        QCOMPARE(updates.first().body.value(key).toDouble(), all.value(key).toDouble());
    }
    QVERIFY(c.pendingUpdates().isEmpty()); // the dropped keys were not kept either
}

void LiveUpdatesTest::changesWhileIdleAreNotKeptForLater() {
    EffectsFixture f;
    f.c().setIntensity(0.33);
    f.c().setPulseRateHz(44);
    QVERIFY(f.c().pendingUpdates().isEmpty());
    f.c().controlledResonance();
    QCOMPARE(f.last().body.value(QStringLiteral("intensity")).toDouble(), 0.33);
    QCOMPARE(f.last().body.value(QStringLiteral("pulseRateHz")).toDouble(), 44.0);
    f.advance(0.002);
    f.transport->replyOk();
    f.advance(0.3);
    QCOMPARE(f.countOf(paths::update), 0);
}

void LiveUpdatesTest::millisecondKeysAreRoundedHalfAwayFromZero() {
    {
        EffectsFixture f;
        startConfirmed(f, Mode::timed);
        f.advance(0.1);
        f.c().setDurationMilliseconds(450.4);
        f.advance(0.01);
        QCOMPARE(f.count(), 1);
        QCOMPARE(f.last().body.value(QStringLiteral("durationMs")).toDouble(), 450.0);
        // A whole number on the wire.
        QVERIFY(f.transport->last().rawBody().contains("\"durationMs\":450}"));
        f.transport->replyOk();
        f.advance(0.1);
        f.c().setDurationMilliseconds(2500.5);
        f.advance(0.01);
        QCOMPARE(f.last().body.value(QStringLiteral("durationMs")).toDouble(), 2501.0);
    }
    {
        EffectsFixture f;
        startConfirmed(f, Mode::controlled);
        f.advance(0.1);
        f.c().setTransitionMilliseconds(40.5);
        f.advance(0.01);
        QCOMPARE(f.count(), 1);
        QVERIFY(f.transport->last().rawBody().contains("\"transitionMs\":41}"));
        QCOMPARE(f.c().transitionMilliseconds(), 40.5); // the field keeps the unrounded value
    }
}

void LiveUpdatesTest::updatesGoToTheEffectAddressNotTheAddressField() {
    EffectsFixture f(QStringLiteral(" http://127.0.0.1:59723/ "));
    startConfirmed(f, Mode::controlled);
    f.c().setAddress(QStringLiteral("http://127.0.0.1:1"));
    f.advance(0.1);
    f.c().setIntensity(0.2);
    f.advance(0.01);
    QCOMPARE(f.count(), 1);
    QCOMPARE(f.last().url, QStringLiteral("http://127.0.0.1:59723/v1/resonance/update"));
}

void LiveUpdatesTest::successfulUpdateIsNotLoggedAndShowsItsTime() {
    EffectsFixture f;
    startConfirmed(f, Mode::controlled);
    const auto logBefore = f.c().entries();
    f.advance(0.1);
    f.c().setIntensity(0.2);
    f.advance(0.001);
    QCOMPARE(f.count(), 1);
    f.advance(0.007);
    f.transport->replyOk();
    QCOMPARE(f.c().entries(), logBefore);
    QCOMPARE(f.c().status(), QStringLiteral("Parametri aggiornati \u00B7 7 ms"));
}

void LiveUpdatesTest::failedUpdateStopsTheEffect() {
    EffectsFixture f;
    startConfirmed(f, Mode::controlled);
    f.advance(0.1);
    f.c().setIntensity(0.2);
    f.advance(0.01);
    f.c().setSharpness(0.9); // queued behind the update in flight
    f.transport->replyJson(
        500, QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("x")}});
    QCOMPARE(f.count(), 2);
    QCOMPARE(f.last().path, paths::stop);
    QCOMPARE(f.last().body, QJsonObject{});
    QVERIFY(f.c().pendingUpdates().isEmpty());
    QVERIFY(f.c().entries().first().failed);
    f.transport->replyOk();
    f.advance(1.0);
    QCOMPARE(f.count(), 2);
    QVERIFY(!f.c().effectRunning());
    QVERIFY(!f.c().resonanceMode().has_value());
}

void LiveUpdatesTest::changesWhileAStopIsPendingAreDropped() {
    EffectsFixture f;
    startConfirmed(f, Mode::controlled);
    f.advance(0.1);
    f.c().setIntensity(0.2);
    f.advance(0.01); // update in flight
    f.c().stop();
    QVERIFY(f.c().pendingStop());
    f.c().setIntensity(0.3);
    QVERIFY(f.c().pendingUpdates().isEmpty());
    f.transport->replyOk();
    QCOMPARE(f.paths(), (QStringList{paths::update, paths::stop}));
    f.transport->replyOk();
    f.advance(0.5);
    QCOMPARE(f.count(), 2);
}

QTEST_GUILESS_MAIN(LiveUpdatesTest)
#include "test_live_updates.moc"
