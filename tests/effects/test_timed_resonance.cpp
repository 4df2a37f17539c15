// Timed resonance: the local deadline, the stop 0.15 s after it, the service's
// remaining time, duration changes while running, and the end task's cancellation.

#include "EffectsFixture.h"

#include <QTest>

using namespace vibrelle;
using namespace vibrelle::testing;

namespace {

QJsonObject remaining(double ms) {
    return QJsonObject{{QStringLiteral("remainingDurationMs"), ms}};
}

// Steps until a stop is on the wire or `limit` seconds have passed; returns its send time or -1.
double stopTime(EffectsFixture &f, double limit) {
    const double end = f.now() + limit;
    while (f.now() < end) {
        const auto stops = f.requestsTo(paths::stop);
        if (!stops.isEmpty()) {
            return stops.first().at;
        }
        f.advance(0.001);
    }
    const auto stops = f.requestsTo(paths::stop);
    return stops.isEmpty() ? -1 : stops.first().at;
}

} // namespace

class TimedResonanceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void stopsAboutPoint45SecondsAfterAStartOf300Ms();
    void durationIsSentAsAWholeNumber_data();
    void durationIsSentAsAWholeNumber();
    void remainingDurationMovesTheDeadline_data();
    void remainingDurationMovesTheDeadline();
    void lengtheningWhileRunningPostponesTheStop();
    void shorteningBelowTheElapsedTimeStopsSoonAfterTheReply();
    void remainingDurationInAnUpdateReplyMovesTheDeadline();
    void updateWithoutDurationLeavesTheEndAlone();
    void activeEffectNoneEndsWithoutAStop_data();
    void activeEffectNoneEndsWithoutAStop();
    void stoppingEarlyCancelsTheEndTask();
    void noHeartbeatForATimedResonance();
    void failedStartStopsAtTheSameAddress();
};

void TimedResonanceTest::stopsAboutPoint45SecondsAfterAStartOf300Ms() {
    EffectsFixture f;
    f.c().timedResonance();
    const auto start = f.last();
    QCOMPARE(start.path, paths::resonance);
    QCOMPARE(start.body, (QJsonObject{{QStringLiteral("mode"), QStringLiteral("timed")},
                                      {QStringLiteral("intensity"), 0.5},
                                      {QStringLiteral("fineness"), 0.5},
                                      {QStringLiteral("durationMs"), 300}}));
    f.advance(0.004);
    f.transport->replyOk();
    QVERIFY(f.c().effectRunning());
    QVERIFY(f.c().effectEndPending());

    const double stopped = stopTime(f, 1.0);
    VERIFY_NEAR(stopped - start.at, 0.45, 1e-6);
    QCOMPARE(f.paths(), (QStringList{paths::resonance, paths::stop}));
    QCOMPARE(f.last().body, QJsonObject{});
    // Still shown as running until the stop is answered.
    QVERIFY(f.c().effectRunning());
    f.transport->replyOk();
    QVERIFY(!f.c().effectRunning());
    QVERIFY(!f.c().resonanceMode().has_value());
    QCOMPARE(f.c().status(), QStringLiteral("Feedback fermato."));
    f.advance(2);
    QCOMPARE(f.count(), 2);
}

void TimedResonanceTest::durationIsSentAsAWholeNumber_data() {
    QTest::addColumn<double>("duration");
    QTest::addColumn<int>("sent");
    QTest::newRow("250.4") << 250.4 << 250;
    QTest::newRow("250.5") << 250.5 << 251;
    QTest::newRow("1999.5") << 1999.5 << 2000;
}

void TimedResonanceTest::durationIsSentAsAWholeNumber() {
    QFETCH(double, duration);
    QFETCH(int, sent);
    EffectsFixture f;
    f.c().setDurationMilliseconds(duration);
    f.c().timedResonance();
    const QByteArray raw = f.transport->last().rawBody();
    QVERIFY2(raw.startsWith("{\"durationMs\":" + QByteArray::number(sent) + ","), raw.constData());
    const double startSent = f.last().at;
    f.transport->replyOk();
    // The local deadline uses the rounded duration.
    VERIFY_NEAR(f.c().timedDeadline(), startSent + sent / 1000.0, 1e-9);
    VERIFY_NEAR(stopTime(f, 3.0) - startSent, sent / 1000.0 + 0.15, 1e-6);
}

void TimedResonanceTest::remainingDurationMovesTheDeadline_data() {
    QTest::addColumn<double>("remainingMs");
    QTest::addColumn<double>("stopAfterReply");
    QTest::newRow("1000 ms: one second after the reply") << 1000.0 << 1.15;
    QTest::newRow("negative: at the reply") << -250.0 << 0.15;
    QTest::newRow("zero") << 0.0 << 0.15;
    QTest::newRow("fraction") << 100.5 << 0.2505;
}

void TimedResonanceTest::remainingDurationMovesTheDeadline() {
    QFETCH(double, remainingMs);
    QFETCH(double, stopAfterReply);
    EffectsFixture f;
    f.c().timedResonance();
    f.advance(0.02);
    f.transport->replyOk(remaining(remainingMs));
    const double replied = f.now();
    VERIFY_NEAR(f.c().timedDeadline(), replied + std::max(remainingMs, 0.0) / 1000.0, 1e-9);
    VERIFY_NEAR(stopTime(f, 2.0) - replied, stopAfterReply, 1e-6);
    QCOMPARE(f.countOf(paths::stop), 1);
}

void TimedResonanceTest::lengtheningWhileRunningPostponesTheStop() {
    EffectsFixture f;
    f.c().timedResonance(); // 300 ms
    const double startSent = f.now();
    f.advance(0.002);
    f.transport->replyOk();
    f.advance(0.1);
    f.c().setDurationMilliseconds(1200);
    f.advance(0.002);
    QCOMPARE(f.last().path, paths::update);
    QCOMPARE(f.last().body, (QJsonObject{{QStringLiteral("durationMs"), 1200}}));
    f.advance(0.003);
    f.transport->replyOk();
    // Counted from the start: 1.2 s after it, plus the margin.
    VERIFY_NEAR(f.c().timedDeadline(), startSent + 1.2, 1e-9);
    f.clock->advanceTo(startSent + 0.5);
    QCOMPARE(f.countOf(paths::stop), 0); // not at the original 0.45 s
    VERIFY_NEAR(stopTime(f, 2.0) - startSent, 1.35, 1e-6);
    QCOMPARE(f.countOf(paths::stop), 1);
}

void TimedResonanceTest::shorteningBelowTheElapsedTimeStopsSoonAfterTheReply() {
    EffectsFixture f;
    f.c().setDurationMilliseconds(2000);
    f.c().timedResonance();
    f.advance(0.002);
    f.transport->replyOk();
    f.advance(0.5);
    f.c().setDurationMilliseconds(100);
    f.advance(0.002);
    QCOMPARE(f.last().body, (QJsonObject{{QStringLiteral("durationMs"), 100}}));
    f.advance(0.004);
    f.transport->replyOk();
    const double replied = f.now();
    VERIFY_NEAR(stopTime(f, 3.0) - replied, 0.15, 1e-6);
    f.transport->replyOk();
    f.advance(3);
    QCOMPARE(f.countOf(paths::stop), 1);
}

void TimedResonanceTest::remainingDurationInAnUpdateReplyMovesTheDeadline() {
    EffectsFixture f;
    f.c().timedResonance();
    f.transport->replyOk();
    f.advance(0.1);
    f.c().setDurationMilliseconds(900);
    f.advance(0.002);
    f.advance(0.003);
    // The service's own count wins over the start plus the new duration.
    f.transport->replyOk(remaining(400));
    const double replied = f.now();
    VERIFY_NEAR(stopTime(f, 2.0) - replied, 0.55, 1e-6);
}

void TimedResonanceTest::updateWithoutDurationLeavesTheEndAlone() {
    EffectsFixture f;
    f.c().timedResonance();
    const double startSent = f.now();
    f.transport->replyOk();
    f.advance(0.1);
    f.c().setIntensity(0.9);
    f.c().setFineness(0.1);
    f.advance(0.002);
    QCOMPARE(f.last().body,
             (QJsonObject{{QStringLiteral("fineness"), 0.1}, {QStringLiteral("intensity"), 0.9}}));
    // A remaining time in a reply to an update without "durationMs" is not used.
    f.transport->replyOk(remaining(5000));
    VERIFY_NEAR(f.c().timedDeadline(), startSent + 0.3, 1e-9);
    VERIFY_NEAR(stopTime(f, 2.0) - startSent, 0.45, 1e-6);
}

void TimedResonanceTest::activeEffectNoneEndsWithoutAStop_data() {
    QTest::addColumn<bool>("inUpdateReply");
    QTest::newRow("start reply") << false;
    QTest::newRow("update reply") << true;
}

void TimedResonanceTest::activeEffectNoneEndsWithoutAStop() {
    QFETCH(bool, inUpdateReply);
    EffectsFixture f;
    f.c().setDurationMilliseconds(1000);
    f.c().timedResonance();
    const QJsonObject ended{{QStringLiteral("activeEffect"), QStringLiteral("none")}};
    if (inUpdateReply) {
        f.transport->replyOk();
        f.advance(0.1);
        f.c().setIntensity(0.7);
        f.advance(0.002);
        QCOMPARE(f.last().path, paths::update);
    }
    f.transport->replyOk(ended);
    QVERIFY(!f.c().effectRunning());
    QVERIFY(!f.c().resonanceMode().has_value());
    QVERIFY(!f.c().effectEndPending());
    QVERIFY(f.c().controlsEnabled());
    f.advance(3);
    QCOMPARE(f.countOf(paths::stop), 0);
}

void TimedResonanceTest::stoppingEarlyCancelsTheEndTask() {
    EffectsFixture f;
    f.c().timedResonance();
    f.transport->replyOk();
    f.advance(0.1);
    f.c().stop();
    QCOMPARE(f.last().path, paths::stop);
    QVERIFY(!f.c().effectEndPending());
    // The deadline passes while the stop is still in flight, and after it was answered.
    f.advance(0.5);
    QCOMPARE(f.countOf(paths::stop), 1);
    f.transport->replyOk();
    f.advance(2);
    QCOMPARE(f.countOf(paths::stop), 1);
    QCOMPARE(f.count(), 2);
}

void TimedResonanceTest::noHeartbeatForATimedResonance() {
    EffectsFixture f;
    f.c().setDurationMilliseconds(3000);
    f.c().timedResonance();
    f.transport->replyOk();
    QVERIFY(!f.c().heartbeatActive());
    f.advance(2.5);
    QCOMPARE(f.countOf(paths::heartbeat), 0);
}

void TimedResonanceTest::failedStartStopsAtTheSameAddress() {
    EffectsFixture f;
    f.c().timedResonance();
    f.c().setAddress(QStringLiteral("http://127.0.0.1:3"));
    f.transport->replyJson(503, QJsonObject{{QStringLiteral("ok"), false}});
    QCOMPARE(f.last().path, paths::stop);
    QCOMPARE(f.last().url, QStringLiteral("http://127.0.0.1:59723/v1/stop"));
    QVERIFY(!f.c().effectRunning());
    QVERIFY(!f.c().effectEndPending());
    f.transport->replyOk();
    f.advance(1);
    QCOMPARE(f.countOf(paths::stop), 1);
    QVERIFY(f.c().controlsEnabled());
}

QTEST_GUILESS_MAIN(TimedResonanceTest)
#include "test_timed_resonance.moc"
