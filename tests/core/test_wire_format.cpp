// What the tester puts on the wire and how it reads the service's replies: request
// bodies byte for byte, the command table, reply decoding, the status summary, the
// base-address rule, and the small value helpers the log and the parameters use.

#include "AddressCases.h"
#include "api/Address.h"
#include "api/Command.h"
#include "api/ServiceReply.h"
#include "api/WireFormat.h"
#include "core/Types.h"
#include "support/ControllerFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTest>

#include <cmath>
#include <cstdlib>
#include <limits>

using namespace vibrelle;
using vibrelle::testing::ControllerFixture;

Q_DECLARE_METATYPE(vibrelle::Command)

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();

QByteArray encoded(const QJsonObject &body) {
    const auto bytes = encodeBody(body);
    return bytes ? *bytes : QByteArrayLiteral("<none>");
}

QString repeated(const QString &piece, int times) {
    QString text;
    for (int i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

} // namespace

class TestWireFormat : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // --- Request bodies -----------------------------------------------------------
    void bodies_data();
    void bodies();
    void floatsTravelExactly_data();
    void floatsTravelExactly();
    void unrepresentableBodyEncodesToNothing_data();
    void unrepresentableBodyEncodesToNothing();
    void controllerBodiesOnTheWire();
    void controllerSendsEmptyPostWhenBodyCannotBeEncoded();
    void millisecondParametersQueueWholeValues();

    // --- Commands -------------------------------------------------------------------
    void commandTable_data();
    void commandTable();

    // --- Replies --------------------------------------------------------------------
    void decodeReply_data();
    void decodeReply();
    void statusSummary_data();
    void statusSummary();

    // --- Base address ---------------------------------------------------------------
    void acceptedAddresses_data();
    void acceptedAddresses();
    void refusedAddresses_data();
    void refusedAddresses();

    // --- Log, labels, rounding ------------------------------------------------------
    void logCutsByUserPerceivedCharacters_data();
    void logCutsByUserPerceivedCharacters();
    void logKeepsThirtyNewest();
    void holdBehaviorLabels();
    void roundHalfAwayFromZero_data();
    void roundHalfAwayFromZero();
};

// --- Request bodies ---------------------------------------------------------------------

void TestWireFormat::bodies_data() {
    QTest::addColumn<QJsonObject>("body");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("impulse crisp") << impulseBody(QStringLiteral("crisp"), 0.5)
                                   << QByteArrayLiteral(R"({"intensity":0.5,"style":"crisp"})");
    QTest::newRow("impulse natural, whole intensity")
        << impulseBody(QStringLiteral("natural"), 1.0)
        << QByteArrayLiteral(R"({"intensity":1,"style":"natural"})");
    QTest::newRow("impulse soft, zero")
        << impulseBody(QStringLiteral("soft"), 0.0) << QByteArrayLiteral(R"({"intensity":0,"style":"soft"})");
    QTest::newRow("impulse, escaped UTF-8 style")
        << impulseBody(QStringLiteral("t\u00E9\"s"), 0.25)
        << QByteArray("{\"intensity\":0.25,\"style\":\"t\xC3\xA9\\\"s\"}");
    QTest::newRow("timed") << timedBody(251, 0.5, 0.75)
                           << QByteArrayLiteral(
                                  R"({"durationMs":251,"fineness":0.5,"intensity":0.75,"mode":"timed"})");
    QTest::newRow("gesture") << gestureBody(0.1, 0.2, 0.3)
                             << QByteArrayLiteral(
                                    R"({"fineness":0.1,"intensity":0.2,"mode":"gesture","reactivity":0.3})");
    QTest::newRow("controlled, transition 40.5 -> 41")
        << controlledBody(0.5, 30, 0.5, 40.5)
        << QByteArrayLiteral(
               R"({"intensity":0.5,"mode":"controlled","pulseRateHz":30,"sharpness":0.5,"transitionMs":41})");
    QTest::newRow("controlled, transition 40.4 -> 40")
        << controlledBody(0.8, 55.5, 0.9, 40.4)
        << QByteArrayLiteral(
               R"({"intensity":0.8,"mode":"controlled","pulseRateHz":55.5,"sharpness":0.9,"transitionMs":40})");
    QTest::newRow("controlled, transition 39.5 -> 40")
        << controlledBody(0.5, 30, 0.5, 39.5)
        << QByteArrayLiteral(
               R"({"intensity":0.5,"mode":"controlled","pulseRateHz":30,"sharpness":0.5,"transitionMs":40})");
    QTest::newRow("sequence") << sequenceBody(0.6)
                              << QByteArrayLiteral(
                                     R"({"steps":[{"delayMs":0,"intensity":0.6,"style":"crisp"},)"
                                     R"({"delayMs":180,"intensity":0.6,"style":"soft"}]})");
    QTest::newRow("update, controlled keys")
        << updateBody({{QStringLiteral("transitionMs"), 41},
                       {QStringLiteral("sharpness"), 0.25},
                       {QStringLiteral("pulseRateHz"), 12.5},
                       {QStringLiteral("intensity"), 0.75}})
        << QByteArrayLiteral(R"({"intensity":0.75,"pulseRateHz":12.5,"sharpness":0.25,"transitionMs":41})");
    QTest::newRow("update, timed keys")
        << updateBody({{QStringLiteral("intensity"), 0.5},
                       {QStringLiteral("durationMs"), 251},
                       {QStringLiteral("fineness"), 0.125}})
        << QByteArrayLiteral(R"({"durationMs":251,"fineness":0.125,"intensity":0.5})");
    QTest::newRow("empty object") << emptyBody() << QByteArrayLiteral("{}");
}

void TestWireFormat::bodies() {
    QFETCH(QJsonObject, body);
    QFETCH(QByteArray, expected);
    QCOMPARE(encoded(body), expected);
}

void TestWireFormat::floatsTravelExactly_data() {
    QTest::addColumn<double>("value");
    QTest::newRow("0.1") << 0.1;
    QTest::newRow("0.1 + 0.2") << 0.1 + 0.2;
    QTest::newRow("tiny") << 1e-7;
    QTest::newRow("many digits") << 0.123456789012345678;
    QTest::newRow("third") << 1.0 / 3.0;
    QTest::newRow("negative") << -0.7;
}

void TestWireFormat::floatsTravelExactly() {
    QFETCH(double, value);
    const QByteArray bytes = encoded(impulseBody(QStringLiteral("crisp"), value));
    const QByteArray prefix = QByteArrayLiteral("{\"intensity\":");
    QVERIFY2(bytes.startsWith(prefix), bytes.constData());
    const QByteArray number = bytes.mid(prefix.size(), bytes.indexOf(',') - prefix.size());
    // Parsed independently of Qt: the decimal text must name the very same double.
    QCOMPARE(std::strtod(number.constData(), nullptr), value);
}

void TestWireFormat::unrepresentableBodyEncodesToNothing_data() {
    QTest::addColumn<QJsonObject>("body");
    QTest::newRow("NaN intensity") << impulseBody(QStringLiteral("crisp"), notANumber);
    QTest::newRow("infinite intensity") << impulseBody(QStringLiteral("crisp"), infinity);
    QTest::newRow("negative infinity") << gestureBody(0.5, 0.5, -infinity);
    QTest::newRow("NaN inside the sequence steps") << sequenceBody(notANumber);
    QTest::newRow("NaN in an update")
        << updateBody(QMap<QString, double>{{QStringLiteral("pulseRateHz"), notANumber}});
}

void TestWireFormat::unrepresentableBodyEncodesToNothing() {
    QFETCH(QJsonObject, body);
    QVERIFY(!encodeBody(body).has_value());
}

void TestWireFormat::controllerBodiesOnTheWire() {
    struct Case {
        const char *name;
        std::function<void(TesterController &)> act;
        QByteArray path;
        QByteArray body;
    };
    const QList<Case> cases{
        {"timed 250.5 ms",
         [](TesterController &c) {
             c.setDurationMilliseconds(250.5);
             c.timedResonance();
         },
         "/v1/resonance", R"({"durationMs":251,"fineness":0.5,"intensity":0.5,"mode":"timed"})"},
        {"timed 250.4 ms",
         [](TesterController &c) {
             c.setDurationMilliseconds(250.4);
             c.timedResonance();
         },
         "/v1/resonance", R"({"durationMs":250,"fineness":0.5,"intensity":0.5,"mode":"timed"})"},
        {"controlled, transition 40.5",
         [](TesterController &c) {
             c.setTransitionMilliseconds(40.5);
             c.setPulseRateHz(12.5);
             c.controlledResonance();
         },
         "/v1/resonance",
         R"({"intensity":0.5,"mode":"controlled","pulseRateHz":12.5,"sharpness":0.5,"transitionMs":41})"},
        {"gesture",
         [](TesterController &c) {
             c.setReactivity(0.25);
             c.beginGesture(true);
         },
         "/v1/resonance", R"({"fineness":0.5,"intensity":0.5,"mode":"gesture","reactivity":0.25})"},
        {"sequence",
         [](TesterController &c) {
             c.setIntensity(0.75);
             c.sequence();
         },
         "/v1/sequences",
         R"({"steps":[{"delayMs":0,"intensity":0.75,"style":"crisp"},{"delayMs":180,"intensity":0.75,"style":"soft"}]})"},
        {"impulse", [](TesterController &c) { c.impulse(QStringLiteral("natural")); }, "/v1/impulses",
         R"({"intensity":0.5,"style":"natural"})"},
        {"stop", [](TesterController &c) { c.stop(); }, "/v1/stop", "{}"},
    };
    for (const Case &testCase : cases) {
        ControllerFixture f;
        testCase.act(f.c());
        QVERIFY2(f.transport->sent().size() == 1, testCase.name);
        const auto &sent = f.transport->last();
        QCOMPARE(sent.request.method, QByteArrayLiteral("POST"));
        QCOMPARE(sent.path().toLatin1(), testCase.path);
        QCOMPARE(sent.rawBody(), testCase.body);
        QCOMPARE(sent.header("Content-Type"), QByteArrayLiteral("application/json"));
    }
}

void TestWireFormat::controllerSendsEmptyPostWhenBodyCannotBeEncoded() {
    ControllerFixture f;
    f.c().setIntensity(notANumber);
    f.c().impulse(QStringLiteral("crisp"));
    QCOMPARE(f.transport->sent().size(), 1);
    const auto &sent = f.transport->last();
    QCOMPARE(sent.request.method, QByteArrayLiteral("POST"));
    QCOMPARE(sent.path(), QStringLiteral("/v1/impulses"));
    QVERIFY(!sent.request.body.has_value());
    QCOMPARE(sent.header("Content-Type"), QByteArrayLiteral("application/json"));
    QCOMPARE(sent.header("X-VBL-Client-Name"), QByteArrayLiteral("API Tester"));
    QVERIFY(f.c().busy());
}

void TestWireFormat::millisecondParametersQueueWholeValues() {
    // A running timed resonance accepts "durationMs" as a live update: the queued value
    // is the rounded one, while the change itself is judged on the unrounded value.
    ControllerFixture f;
    f.c().setDurationMilliseconds(300);
    f.c().timedResonance();
    f.transport->replyOk({{QStringLiteral("remainingDurationMs"), 300}});
    f.transport->clearSent();
    QVERIFY(f.c().effectRunning());

    f.c().setDurationMilliseconds(300.4);
    f.advance(0.06);
    QCOMPARE(f.transport->sent().size(), 1);
    QCOMPARE(f.transport->last().path(), QStringLiteral("/v1/resonance/update"));
    QCOMPARE(f.transport->last().rawBody(), QByteArrayLiteral(R"({"durationMs":300})"));
    f.transport->replyOk({{QStringLiteral("remainingDurationMs"), 200}});
    f.transport->clearSent();

    f.c().setDurationMilliseconds(300.4); // the same value: nothing is handed over
    f.advance(0.06);
    QVERIFY(f.transport->sent().isEmpty());

    f.c().setDurationMilliseconds(250.5);
    f.advance(0.06);
    QCOMPARE(f.transport->sent().size(), 1);
    QCOMPARE(f.transport->last().rawBody(), QByteArrayLiteral(R"({"durationMs":251})"));
}

// --- Commands -------------------------------------------------------------------------

void TestWireFormat::commandTable_data() {
    QTest::addColumn<Command>("command");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<bool>("startsEffect");
    QTest::newRow("status") << Command::status << "/v1/status" << QByteArray("GET") << false;
    QTest::newRow("impulse") << Command::impulse << "/v1/impulses" << QByteArray("POST") << true;
    QTest::newRow("timed") << Command::timed << "/v1/resonance" << QByteArray("POST") << true;
    QTest::newRow("gesture") << Command::gesture << "/v1/resonance" << QByteArray("POST") << true;
    QTest::newRow("controlled") << Command::controlled << "/v1/resonance" << QByteArray("POST") << true;
    QTest::newRow("pause") << Command::pause << "/v1/resonance/pause" << QByteArray("POST") << false;
    QTest::newRow("resume") << Command::resume << "/v1/resonance/resume" << QByteArray("POST") << false;
    QTest::newRow("heartbeat") << Command::heartbeat << "/v1/heartbeat" << QByteArray("POST") << false;
    QTest::newRow("update") << Command::update << "/v1/resonance/update" << QByteArray("POST") << false;
    QTest::newRow("sequence") << Command::sequence << "/v1/sequences" << QByteArray("POST") << true;
    QTest::newRow("stop") << Command::stop << "/v1/stop" << QByteArray("POST") << false;
}

void TestWireFormat::commandTable() {
    QFETCH(Command, command);
    QFETCH(QString, path);
    QFETCH(QByteArray, method);
    QFETCH(bool, startsEffect);
    QCOMPARE(commandPath(command), path);
    QCOMPARE(methodForBody(commandHasBody(command)), method);
    QCOMPARE(commandStartsEffect(command), startsEffect);
}

// --- Replies ----------------------------------------------------------------------------

namespace {

// Optional columns: an invalid QVariant stands for "absent".
const QVariant absent;

} // namespace

void TestWireFormat::decodeReply_data() {
    QTest::addColumn<int>("status"); // -1: the reply carries no status code
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("statusCode");
    QTest::addColumn<bool>("hasObject");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QVariant>("emitted");
    QTest::addColumn<QVariant>("paused");
    QTest::addColumn<QVariant>("activeEffect");
    QTest::addColumn<QVariant>("remaining");

    const QString invalid = QStringLiteral("Risposta non valida");
    QTest::newRow("200 ok without message") << 200 << QByteArray(R"({"ok":true})") << 200 << true << true
                                            << "OK" << absent << absent << absent << absent;
    QTest::newRow("201 ok") << 201 << QByteArray(R"({"ok":true})") << 201 << true << true << "OK" << absent
                            << absent << absent << absent;
    QTest::newRow("299 ok") << 299 << QByteArray(R"({"ok":true})") << 299 << true << true << "OK" << absent
                            << absent << absent << absent;
    QTest::newRow("199 with ok true") << 199 << QByteArray(R"({"ok":true})") << 199 << true << false
                                      << invalid << absent << absent << absent << absent;
    QTest::newRow("300 with ok true") << 300 << QByteArray(R"({"ok":true})") << 300 << true << false
                                      << invalid << absent << absent << absent << absent;
    QTest::newRow("302 redirect") << 302 << QByteArray(R"({"ok":true,"message":"moved"})") << 302 << true
                                  << false << "moved" << absent << absent << absent << absent;
    QTest::newRow("500 with ok true") << 500 << QByteArray(R"({"ok":true})") << 500 << true << false
                                      << invalid << absent << absent << absent << absent;
    QTest::newRow("no status code") << -1 << QByteArray(R"({"ok":true})") << 0 << true << false << invalid
                                    << absent << absent << absent << absent;
    QTest::newRow("status 0") << 0 << QByteArray(R"({"ok":true})") << 0 << true << false << invalid << absent
                              << absent << absent << absent;
    QTest::newRow("200 empty body") << 200 << QByteArray() << 200 << false << false << invalid << absent
                                    << absent << absent << absent;
    QTest::newRow("200 invalid JSON") << 200 << QByteArray(R"({"ok":true)") << 200 << false << false
                                      << invalid << absent << absent << absent << absent;
    QTest::newRow("200 trailing garbage") << 200 << QByteArray(R"({"ok":true} x)") << 200 << false << false
                                          << invalid << absent << absent << absent << absent;
    QTest::newRow("200 top-level array") << 200 << QByteArray(R"([{"ok":true}])") << 200 << false << false
                                         << invalid << absent << absent << absent << absent;
    QTest::newRow("200 top-level string") << 200 << QByteArray(R"("ok")") << 200 << false << false << invalid
                                          << absent << absent << absent << absent;
    QTest::newRow("200 top-level true") << 200 << QByteArray("true") << 200 << false << false << invalid
                                        << absent << absent << absent << absent;
    QTest::newRow("200 null") << 200 << QByteArray("null") << 200 << false << false << invalid << absent
                              << absent << absent << absent;
    QTest::newRow("200 whitespace around object") << 200 << QByteArray(" \n{\"ok\":true}\n ") << 200 << true
                                                  << true << "OK" << absent << absent << absent << absent;
    QTest::newRow("200 ok missing") << 200 << QByteArray(R"({"emitted":true})") << 200 << true << false
                                    << invalid << QVariant(true) << absent << absent << absent;
    QTest::newRow("200 ok false with error")
        << 200 << QByteArray(R"({"ok":false,"error":"Occupato"})") << 200 << true << false << "Occupato"
        << absent << absent << absent << absent;
    QTest::newRow("ok as number 1") << 200 << QByteArray(R"({"ok":1})") << 200 << true << false << invalid
                                    << absent << absent << absent << absent;
    QTest::newRow("ok as string") << 200 << QByteArray(R"({"ok":"true"})") << 200 << true << false << invalid
                                  << absent << absent << absent << absent;
    QTest::newRow("409 with error") << 409 << QByteArray(R"({"ok":false,"error":"Effetto gi\u00e0 attivo"})")
                                    << 409 << true << false << QString::fromUtf8("Effetto gi\u00E0 attivo")
                                    << absent << absent << absent << absent;
    QTest::newRow("409 without words") << 409 << QByteArray(R"({"ok":false})") << 409 << true << false
                                       << invalid << absent << absent << absent << absent;
    QTest::newRow("message preferred over error")
        << 200 << QByteArray(R"({"ok":true,"message":"Fatto","error":"x"})") << 200 << true << true << "Fatto"
        << absent << absent << absent << absent;
    QTest::newRow("message a number, error a string")
        << 200 << QByteArray(R"({"ok":true,"message":5,"error":"Parola"})") << 200 << true << true << "Parola"
        << absent << absent << absent << absent;
    QTest::newRow("message and error of wrong types")
        << 500 << QByteArray(R"({"message":null,"error":{"a":1}})") << 500 << true << false << invalid
        << absent << absent << absent << absent;
    QTest::newRow("message on a success reply")
        << 200 << QByteArray(R"({"ok":true,"message":"Impulso emesso"})") << 200 << true << true
        << "Impulso emesso" << absent << absent << absent << absent;
    QTest::newRow("empty message is still a message")
        << 200 << QByteArray(R"({"ok":true,"message":""})") << 200 << true << true << "" << absent << absent
        << absent << absent;
    QTest::newRow("emitted and paused")
        << 200 << QByteArray(R"({"ok":true,"emitted":false,"paused":true,"activeEffect":"controlled"})")
        << 200 << true << true << "OK" << QVariant(false) << QVariant(true)
        << QVariant(QStringLiteral("controlled")) << absent;
    QTest::newRow("wrong-typed optional members")
        << 200
        << QByteArray(R"({"ok":true,"emitted":"true","paused":1,"activeEffect":0,)"
                      R"("remainingDurationMs":"120"})")
        << 200 << true << true << "OK" << absent << absent << absent << absent;
    QTest::newRow("remaining integer")
        << 200 << QByteArray(R"({"ok":true,"activeEffect":"timed","remainingDurationMs":120})") << 200 << true
        << true << "OK" << absent << absent << QVariant(QStringLiteral("timed")) << QVariant(120.0);
    QTest::newRow("remaining fraction")
        << 200 << QByteArray(R"({"ok":true,"remainingDurationMs":12.5})") << 200 << true << true << "OK"
        << absent << absent << absent << QVariant(12.5);
    QTest::newRow("remaining negative")
        << 200 << QByteArray(R"({"ok":true,"remainingDurationMs":-5})") << 200 << true << true << "OK"
        << absent << absent << absent << QVariant(-5.0);
    QTest::newRow("remaining null") << 200 << QByteArray(R"({"ok":true,"remainingDurationMs":null})") << 200
                                    << true << true << "OK" << absent << absent << absent << absent;
    QTest::newRow("members read on failure too")
        << 503 << QByteArray(R"({"ok":false,"emitted":false,"activeEffect":"none"})") << 503 << true << false
        << invalid << QVariant(false) << absent << QVariant(QStringLiteral("none")) << absent;
}

void TestWireFormat::decodeReply() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, statusCode);
    QFETCH(bool, hasObject);
    QFETCH(bool, ok);
    QFETCH(QString, message);
    QFETCH(QVariant, emitted);
    QFETCH(QVariant, paused);
    QFETCH(QVariant, activeEffect);
    QFETCH(QVariant, remaining);

    const ServiceReply reply =
        vibrelle::decodeReply(status < 0 ? std::nullopt : std::optional<int>(status), body);
    QCOMPARE(reply.statusCode, statusCode);
    QCOMPARE(reply.object.has_value(), hasObject);
    QCOMPARE(reply.ok, ok);
    QCOMPARE(reply.message, message);
    QCOMPARE(reply.emitted.has_value(), emitted.isValid());
    if (emitted.isValid()) {
        QCOMPARE(*reply.emitted, emitted.toBool());
    }
    QCOMPARE(reply.paused.has_value(), paused.isValid());
    if (paused.isValid()) {
        QCOMPARE(*reply.paused, paused.toBool());
    }
    QCOMPARE(reply.activeEffect.has_value(), activeEffect.isValid());
    if (activeEffect.isValid()) {
        QCOMPARE(*reply.activeEffect, activeEffect.toString());
    }
    QCOMPARE(reply.remainingDurationMs.has_value(), remaining.isValid());
    if (remaining.isValid()) {
        QCOMPARE(*reply.remainingDurationMs, remaining.toDouble());
    }
}

void TestWireFormat::statusSummary_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected"); // null: no summary

    QTest::newRow("state and available") << QByteArray(R"({"ok":true,"available":true,"state":"ready"})")
                                         << QStringLiteral("state: ready \u00B7 available: true");
    QTest::newRow("all nine, given in reverse")
        << QByteArray(R"({"materialAudioEnabled":false,"hapticAvailable":true,"hapticEnabled":true,)"
                      R"("gestureAvailable":false,"outputAvailable":true,"available":true,"state":"idle",)"
                      R"("authentication":"none","mode":"local","ok":true})")
        << QStringLiteral(
               "mode: local \u00B7 authentication: none \u00B7 state: idle \u00B7 available: true \u00B7 "
               "outputAvailable: true \u00B7 gestureAvailable: false \u00B7 hapticEnabled: true \u00B7 "
               "hapticAvailable: true \u00B7 materialAudioEnabled: false");
    QTest::newRow("whole number") << QByteArray(R"({"mode":3})") << QStringLiteral("mode: 3");
    QTest::newRow("fraction") << QByteArray(R"({"state":2.5})") << QStringLiteral("state: 2.5");
    QTest::newRow("negative number") << QByteArray(R"({"state":-4})") << QStringLiteral("state: -4");
    QTest::newRow("string with separator characters")
        << QByteArray(R"({"authentication":"a \u00b7 b"})") << QStringLiteral("authentication: a \u00B7 b");
    QTest::newRow("none of the nine")
        << QByteArray(R"({"ok":true,"version":"1.0","emitted":true})") << QString();
    QTest::newRow("empty object") << QByteArray("{}") << QString();
    QTest::newRow("names are case-sensitive") << QByteArray(R"({"State":"x","MODE":"y"})") << QString();
}

void TestWireFormat::statusSummary() {
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    const std::optional<QString> summary = vibrelle::statusSummary(QJsonDocument::fromJson(body).object());
    QCOMPARE(summary.has_value(), !expected.isNull());
    if (summary) {
        QCOMPARE(*summary, expected);
    }
}

// --- Base address -----------------------------------------------------------------------

void TestWireFormat::acceptedAddresses_data() {
    vibrelle::testing::addAcceptedAddressRows();
}

void TestWireFormat::acceptedAddresses() {
    QFETCH(QString, address);
    QFETCH(QString, url);
    const QString trimmed = trimBaseAddress(address);
    QVERIFY(!trimmed.front().isSpace() && !trimmed.back().isSpace());
    QVERIFY(isLocalServiceAddress(trimmed));
    const std::optional<QUrl> request = requestUrl(trimmed, QStringLiteral("/v1/status"));
    QVERIFY(request.has_value());
    QCOMPARE(request->toString(), url);
    QCOMPARE(request->host(), QStringLiteral("127.0.0.1"));
    QCOMPARE(request->path(), QStringLiteral("/v1/status"));
}

void TestWireFormat::refusedAddresses_data() {
    vibrelle::testing::addRefusedAddressRows();
}

void TestWireFormat::refusedAddresses() {
    QFETCH(QString, address);
    const QString trimmed = trimBaseAddress(address);
    QVERIFY(!isLocalServiceAddress(trimmed));
    QVERIFY(!requestUrl(trimmed, QStringLiteral("/v1/status")).has_value());
}

// --- Log, labels, rounding --------------------------------------------------------------

void TestWireFormat::logCutsByUserPerceivedCharacters_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    const QString thumb = QStringLiteral("\U0001F44D\U0001F3FD");  // thumbs up, medium skin tone
    const QString accented = QStringLiteral("e\u0301");            // e + combining acute
    const QString stacked = QStringLiteral("a\u0308\u0323\u0301"); // a with three combining marks
    const QString flag = QStringLiteral("\U0001F1EE\U0001F1F9");   // two regional indicators
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");
    const QString grin = QStringLiteral("\U0001F600"); // one surrogate pair

    QTest::newRow("399 stays whole") << repeated(QStringLiteral("x"), 399)
                                     << repeated(QStringLiteral("x"), 399);
    QTest::newRow("400 stays whole") << repeated(QStringLiteral("x"), 400)
                                     << repeated(QStringLiteral("x"), 400);
    QTest::newRow("401 loses the last")
        << repeated(QStringLiteral("x"), 400) + QStringLiteral("Z") << repeated(QStringLiteral("x"), 400);
    QTest::newRow("1000 keeps 400") << repeated(QStringLiteral("ab"), 500)
                                    << repeated(QStringLiteral("ab"), 200);
    QTest::newRow("401 emoji with skin tone") << repeated(thumb, 401) << repeated(thumb, 400);
    QTest::newRow("skin tone at the cut") << repeated(QStringLiteral("a"), 399) + thumb + QStringLiteral("b")
                                          << repeated(QStringLiteral("a"), 399) + thumb;
    QTest::newRow("401 combining accents") << repeated(accented, 401) << repeated(accented, 400);
    QTest::newRow("stacked marks at the cut")
        << repeated(QStringLiteral("a"), 399) + stacked + QStringLiteral("bc")
        << repeated(QStringLiteral("a"), 399) + stacked;
    QTest::newRow("401 flags") << repeated(flag, 401) << repeated(flag, 400);
    QTest::newRow("401 joined family") << repeated(family, 401) << repeated(family, 400);
    QTest::newRow("401 surrogate pairs") << repeated(grin, 401) << repeated(grin, 400);
    QTest::newRow("300 emoji: more units than 400, fewer characters")
        << repeated(thumb, 300) << repeated(thumb, 300);
    QTest::newRow("400 accents stay whole") << repeated(accented, 400) << repeated(accented, 400);
    QTest::newRow("401 CRLF pairs") << repeated(QStringLiteral("\r\n"), 401)
                                    << repeated(QStringLiteral("\r\n"), 400);
}

void TestWireFormat::logCutsByUserPerceivedCharacters() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    ControllerFixture f; // its status request has logged one line already
    f.c().addLog(text, true);
    QCOMPARE(f.c().entries().size(), 2);
    QCOMPARE(f.c().entries().first().text, expected);
    QCOMPARE(f.c().entries().first().failed, true);
    QCOMPARE(truncateGraphemes(text, 400), expected);
}

void TestWireFormat::logKeepsThirtyNewest() {
    ControllerFixture f;
    QSet<QUuid> ids;
    for (int i = 1; i <= 31; ++i) {
        f.c().addLog(QStringLiteral("entry %1").arg(i), i % 2 == 0);
        ids.insert(f.c().entries().first().id);
    }
    const auto &entries = f.c().entries();
    QCOMPARE(entries.size(), 30);
    QCOMPARE(ids.size(), 31);
    for (int i = 0; i < 30; ++i) {
        QCOMPARE(entries.at(i).text, QStringLiteral("entry %1").arg(31 - i));
        QCOMPARE(entries.at(i).failed, (31 - i) % 2 == 0);
    }
    f.c().addLog(QStringLiteral("entry 32"), false);
    QCOMPARE(entries.size(), 30);
    QCOMPARE(entries.first().text, QStringLiteral("entry 32"));
    QCOMPARE(entries.last().text, QStringLiteral("entry 3"));
}

void TestWireFormat::holdBehaviorLabels() {
    QCOMPARE(allHoldBehaviors(), (QList<HoldBehavior>{HoldBehavior::maintain, HoldBehavior::pause}));
    QCOMPARE(holdBehaviorLabel(HoldBehavior::maintain), QStringLiteral("Mantieni tensione"));
    QCOMPARE(holdBehaviorLabel(HoldBehavior::pause), QStringLiteral("Pausa da fermo"));
    QCOMPARE(holdBehaviorFromLabel(QStringLiteral("Pausa da fermo")), std::optional(HoldBehavior::pause));
    QCOMPARE(holdBehaviorFromLabel(QStringLiteral("Mantieni tensione")),
             std::optional(HoldBehavior::maintain));
    QCOMPARE(holdBehaviorFromLabel(QStringLiteral("pausa da fermo")), std::optional<HoldBehavior>());
    QCOMPARE(holdBehaviorFromLabel(QStringLiteral("Pausa da fermo ")), std::optional<HoldBehavior>());
    QCOMPARE(holdBehaviorFromLabel(QStringLiteral("pause")), std::optional<HoldBehavior>());
    QCOMPARE(holdBehaviorFromLabel(QString()), std::optional<HoldBehavior>());
}

void TestWireFormat::roundHalfAwayFromZero_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("expected");
    QTest::newRow("0.5") << 0.5 << 1.0;
    QTest::newRow("1.5") << 1.5 << 2.0;
    QTest::newRow("2.5") << 2.5 << 3.0;
    QTest::newRow("40.5") << 40.5 << 41.0;
    QTest::newRow("250.4") << 250.4 << 250.0;
    QTest::newRow("250.5") << 250.5 << 251.0;
    QTest::newRow("300.4") << 300.4 << 300.0;
    QTest::newRow("-0.5") << -0.5 << -1.0;
    QTest::newRow("-2.5") << -2.5 << -3.0;
    QTest::newRow("-2.4") << -2.4 << -2.0;
    QTest::newRow("just below a half") << 0.49999999999999994 << 0.0;
    QTest::newRow("whole") << 7.0 << 7.0;
}

void TestWireFormat::roundHalfAwayFromZero() {
    QFETCH(double, value);
    QFETCH(double, expected);
    QCOMPARE(vibrelle::roundHalfAwayFromZero(value), expected);
}

QTEST_GUILESS_MAIN(TestWireFormat)
#include "test_wire_format.moc"
