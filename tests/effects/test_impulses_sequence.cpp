// Single impulses and the two-impulse sequence with its 0.33 s window.

#include "EffectsFixture.h"

#include <QJsonArray>
#include <QTest>

using namespace vibrelle;
using namespace vibrelle::testing;

namespace {

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

} // namespace

class ImpulsesSequenceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void impulseBodyAndStyles();
    void secondPressWhileInFlightSendsNothing();
    void sequenceBody();
    void pressesDuringTheWindowSendNothingAndWorkAfterIt();
    void stopDuringTheWindowCancelsItsReset();
    void stopWhileTheSequenceIsInFlightNeverOpensTheWindow();
    void failedSequenceStopsAtTheSameAddress_data();
    void failedSequenceStopsAtTheSameAddress();
};

void ImpulsesSequenceTest::impulseBodyAndStyles() {
    EffectsFixture f;
    f.c().setIntensity(0.37);
    for (const QString &style : {QStringLiteral("crisp"), QStringLiteral("natural"), QStringLiteral("soft"),
                                 QStringLiteral("anything at all")}) {
        f.c().impulse(style);
        const auto sent = f.last();
        QCOMPARE(sent.method, QByteArray("POST"));
        QCOMPARE(sent.url, QStringLiteral("http://127.0.0.1:59723/v1/impulses"));
        QCOMPARE(sent.body,
                 (QJsonObject{{QStringLiteral("intensity"), 0.37}, {QStringLiteral("style"), style}}));
        QVERIFY(f.c().effectAddress().has_value());
        f.transport->replyOk(QJsonObject{{QStringLiteral("emitted"), true}});
        QVERIFY(!f.c().effectAddress().has_value());
        QVERIFY(!f.c().effectRunning());
        QVERIFY(f.c().controlsEnabled());
    }
    QCOMPARE(f.count(), 4);
    QVERIFY(f.c().entries().first().text.startsWith(QStringLiteral("POST /v1/impulses \u00B7 200 \u00B7 ")));
    QVERIFY(f.c().entries().first().text.endsWith(QStringLiteral(" ms \u00B7 OK \u00B7 emitted: true")));
}

void ImpulsesSequenceTest::secondPressWhileInFlightSendsNothing() {
    EffectsFixture f;
    f.c().impulse(QStringLiteral("crisp"));
    pressEverything(f.c());
    QCOMPARE(f.count(), 1);
    f.advance(0.01);
    f.transport->replyOk();
    f.c().impulse(QStringLiteral("soft"));
    QCOMPARE(f.count(), 2);
}

void ImpulsesSequenceTest::sequenceBody() {
    EffectsFixture f;
    f.c().setIntensity(0.66);
    f.c().sequence();
    QCOMPARE(f.last().path, paths::sequences);
    const QJsonArray steps = f.last().body.value(QStringLiteral("steps")).toArray();
    QCOMPARE(f.last().body.keys(), QStringList{QStringLiteral("steps")});
    QCOMPARE(steps.size(), 2);
    QCOMPARE(steps.at(0).toObject(), (QJsonObject{{QStringLiteral("delayMs"), 0},
                                                  {QStringLiteral("intensity"), 0.66},
                                                  {QStringLiteral("style"), QStringLiteral("crisp")}}));
    QCOMPARE(steps.at(1).toObject(), (QJsonObject{{QStringLiteral("delayMs"), 180},
                                                  {QStringLiteral("intensity"), 0.66},
                                                  {QStringLiteral("style"), QStringLiteral("soft")}}));
    // Delays are whole numbers on the wire, in key order.
    QCOMPARE(f.transport->last().rawBody(),
             QByteArray(R"({"steps":[{"delayMs":0,"intensity":0.66,"style":"crisp"},)"
                        R"({"delayMs":180,"intensity":0.66,"style":"soft"}]})"));
}

void ImpulsesSequenceTest::pressesDuringTheWindowSendNothingAndWorkAfterIt() {
    EffectsFixture f;
    f.c().sequence();
    f.advance(0.01);
    f.transport->replyOk();
    const double replied = f.now();
    QVERIFY(f.c().effectRunning());
    QVERIFY(!f.c().controlsEnabled());

    f.clock->advanceTo(replied + 0.329);
    pressEverything(f.c());
    QCOMPARE(f.count(), 1);
    QVERIFY(f.c().effectRunning());

    // The window ends 0.18 + 0.15 s after the reply, without any request.
    f.clock->advanceTo(replied + 0.3301);
    QVERIFY(!f.c().effectRunning());
    QVERIFY(!f.c().effectAddress().has_value());
    QVERIFY(f.c().controlsEnabled());
    QCOMPARE(f.count(), 1);
    f.c().impulse(QStringLiteral("natural"));
    QCOMPARE(f.count(), 2);
    QCOMPARE(f.last().path, paths::impulses);
}

void ImpulsesSequenceTest::stopDuringTheWindowCancelsItsReset() {
    EffectsFixture f;
    f.c().sequence();
    f.transport->replyOk();
    const double replied = f.now();
    f.advance(0.1);
    f.c().stop();
    QCOMPARE(f.last().path, paths::stop);
    QCOMPARE(f.last().url, QStringLiteral("http://127.0.0.1:59723/v1/stop"));
    QVERIFY(!f.c().effectEndPending());
    f.transport->replyOk();
    QVERIFY(!f.c().effectRunning());

    // A new effect starts before the old window would have closed; the window must not end it.
    f.c().controlledResonance();
    f.transport->replyOk();
    QVERIFY(f.c().effectRunning());
    f.clock->advanceTo(replied + 0.4);
    QVERIFY(f.c().effectRunning());
    QCOMPARE(f.c().resonanceMode(), std::optional<ResonanceMode>(ResonanceMode::controlled));
    QVERIFY(f.c().heartbeatActive());
}

void ImpulsesSequenceTest::stopWhileTheSequenceIsInFlightNeverOpensTheWindow() {
    EffectsFixture f;
    f.c().sequence();
    f.c().stop();
    QCOMPARE(f.count(), 1);
    QVERIFY(f.c().pendingStop());
    f.transport->replyOk();
    QCOMPARE(f.paths(), (QStringList{paths::sequences, paths::stop}));
    QVERIFY(!f.c().effectRunning());
    QVERIFY(!f.c().effectEndPending());
    f.transport->replyOk();
    f.advance(1);
    QCOMPARE(f.count(), 2);
    QVERIFY(f.c().controlsEnabled());
}

void ImpulsesSequenceTest::failedSequenceStopsAtTheSameAddress_data() {
    QTest::addColumn<bool>("transportFailure");
    QTest::newRow("error reply") << false;
    QTest::newRow("transport failure") << true;
}

void ImpulsesSequenceTest::failedSequenceStopsAtTheSameAddress() {
    QFETCH(bool, transportFailure);
    EffectsFixture f(QStringLiteral("http://127.0.0.1:59724"));
    f.c().sequence();
    f.c().setAddress(QStringLiteral("http://127.0.0.1:59723"));
    if (transportFailure) {
        f.transport->fail();
    } else {
        f.transport->reply(500, "not json");
    }
    QCOMPARE(f.paths(), (QStringList{paths::sequences, paths::stop}));
    QCOMPARE(f.last().url, QStringLiteral("http://127.0.0.1:59724/v1/stop"));
    QVERIFY(!f.c().effectRunning());
    QVERIFY(!f.c().effectEndPending());
    f.transport->replyOk();
    QVERIFY(!f.c().effectRunning());
    f.advance(1);
    QCOMPARE(f.count(), 2);
}

QTEST_GUILESS_MAIN(ImpulsesSequenceTest)
#include "test_impulses_sequence.moc"
