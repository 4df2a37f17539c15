// What the tester puts on the wire and how it reads the service's replies: request bodies
// byte for byte, reply decoding, the status summary, the base-address rule and the log.

#include "api/Address.h"
#include "api/ServiceReply.h"
#include "api/WireFormat.h"
#include "core/Types.h"
#include "support/ControllerFixture.h"

#include <QHash>
#include <QSet>
#include <QTest>

#include <cstdlib>
#include <limits>

using namespace vibrelle;
using vibrelle::testing::ControllerFixture;

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();

QByteArray encoded(const QJsonObject &body) {
    return encodeBody(body).value_or("<none>");
}

// One line per decoded reply; optional members appear only when present.
QString describe(const ServiceReply &r) {
    const auto flag = [](const char *name, const std::optional<bool> &value) {
        return value ? QStringLiteral(" %1=%2").arg(name, *value ? "true" : "false") : QString();
    };
    return QStringLiteral("%1 %2%3 \"%4\"")
               .arg(r.statusCode)
               .arg(r.object ? "" : "no-object ", r.ok ? "ok" : "failed", r.message) +
           flag("emitted", r.emitted) + flag("paused", r.paused) +
           (r.activeEffect ? " active=" + *r.activeEffect : QString()) +
           (r.remainingDurationMs ? QStringLiteral(" remaining=%1").arg(*r.remainingDurationMs) : QString());
}

} // namespace

class TestWireFormat : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Keys ascending at every depth, integers without a fraction, compact UTF-8 (the bodies the
    // controller builds from its fields are checked in controllerStartBodies).
    void bodies_data() {
        QTest::addColumn<QJsonObject>("body");
        QTest::addColumn<QByteArray>("expected");
        QTest::addRow("whole intensity")
            << impulseBody("natural", 1.0) << QByteArray(R"({"intensity":1,"style":"natural"})");
        QTest::addRow("escaped UTF-8 style")
            << impulseBody(QStringLiteral("t\u00E9\"s"), 0.25)
            << QByteArray("{\"intensity\":0.25,\"style\":\"t\xC3\xA9\\\"s\"}");
        QTest::addRow("timed, 250.5 ms -> 251")
            << timedBody(250.5, 0.5, 0.75)
            << QByteArray(R"({"durationMs":251,"fineness":0.5,"intensity":0.75,"mode":"timed"})");
        QTest::addRow("timed, largest exact JSON integer")
            << timedBody(9007199254740991.0, 0, 1)
            << QByteArray(R"({"durationMs":9007199254740991,"fineness":0,"intensity":1,"mode":"timed"})");
        QTest::addRow("controlled, 40.5 ms -> 41")
            << controlledBody(0.5, 30, 0.5, 40.5)
            << QByteArray(
                   R"({"intensity":0.5,"mode":"controlled","pulseRateHz":30,"sharpness":0.5,"transitionMs":41})");
        QTest::addRow("update, controlled keys")
            << updateBody(
                   {{"transitionMs", 41}, {"sharpness", 0.25}, {"pulseRateHz", 12.5}, {"intensity", 0.75}})
            << QByteArray(R"({"intensity":0.75,"pulseRateHz":12.5,"sharpness":0.25,"transitionMs":41})");
        QTest::addRow("empty") << emptyBody() << QByteArray("{}");
    }

    void bodies() {
        QFETCH(QJsonObject, body);
        QFETCH(QByteArray, expected);
        QCOMPARE(encoded(body), expected);
    }

    void floatsTravelExactly() {
        // The decimal text, parsed independently of Qt, names the very same double.
        for (const double value : {0.1, 0.1 + 0.2, 1e-7, 0.123456789012345678, 1.0 / 3.0, -0.7}) {
            const QByteArray bytes = encoded(impulseBody("crisp", value));
            const QByteArray number = bytes.mid(13, bytes.indexOf(',') - 13);
            QVERIFY2(bytes.startsWith("{\"intensity\":"), bytes.constData());
            QCOMPARE(std::strtod(number.constData(), nullptr), value);
        }
    }

    // A body JSON cannot carry goes out as an empty POST with its content type.
    void unrepresentableBodies_data() {
        QTest::addColumn<QJsonObject>("body");
        QTest::addColumn<QString>("start"); // the controller's start that builds it from `field`
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<double>("value");
        QTest::addRow("impulse, NaN")
            << impulseBody("crisp", notANumber) << "impulse" << QByteArray("intensity") << notANumber;
        QTest::addRow("impulse, infinity") << impulseBody("crisp", infinity) << "" << QByteArray() << 0.0;
        QTest::addRow("gesture, -infinity") << gestureBody(0.5, 0.5, -infinity) << "" << QByteArray() << 0.0;
        QTest::addRow("sequence, NaN") << sequenceBody(notANumber) << "" << QByteArray() << 0.0;
        QTest::addRow("update, NaN") << updateBody({{"pulseRateHz", notANumber}}) << "" << QByteArray()
                                     << 0.0;
        for (const double duration : {notANumber, infinity, -infinity, 1e19, 9007199254740992.0})
            QTest::addRow("timed, %g ms", duration)
                << timedBody(duration, 0.5, 0.5) << "timed" << QByteArray("durationMilliseconds") << duration;
    }

    void unrepresentableBodies() {
        QFETCH(QJsonObject, body);
        QFETCH(QString, start);
        QFETCH(QByteArray, field);
        QFETCH(double, value);
        QVERIFY(!encodeBody(body).has_value());
        if (start.isEmpty())
            return;
        ControllerFixture f;
        QVERIFY(f.c().setProperty(field.constData(), value));
        start == "timed" ? f.c().timedResonance() : f.c().impulse("crisp");
        QCOMPARE(f.transport->sent().size(), 1);
        QCOMPARE(f.transport->last().request.method, "POST");
        QVERIFY(!f.transport->last().request.body.has_value());
        QCOMPARE(f.transport->last().header("Content-Type"), "application/json");
        QVERIFY(f.c().busy());
    }

    // The starts read the controller's fields: their defaults, and values distinct enough that
    // none can stand in for another, with milliseconds rounded below one half.
    void controllerStartBodies_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<bool>("defaults");
        QTest::addColumn<QByteArray>("body");
        QTest::addRow("timed, defaults")
            << "timed" << true
            << QByteArray(R"({"durationMs":300,"fineness":0.5,"intensity":0.5,"mode":"timed"})");
        QTest::addRow("controlled, defaults")
            << "controlled" << true
            << QByteArray(
                   R"({"intensity":0.5,"mode":"controlled","pulseRateHz":30,"sharpness":0.5,"transitionMs":40})");
        QTest::addRow("gesture, defaults")
            << "gesture" << true
            << QByteArray(R"({"fineness":0.5,"intensity":0.5,"mode":"gesture","reactivity":0.5})");
        QTest::addRow("timed, 250.4 ms")
            << "timed" << false
            << QByteArray(R"({"durationMs":250,"fineness":0.75,"intensity":0.25,"mode":"timed"})");
        QTest::addRow("controlled, 40.4 ms")
            << "controlled" << false
            << QByteArray(
                   R"({"intensity":0.25,"mode":"controlled","pulseRateHz":12.5,"sharpness":0.625,"transitionMs":40})");
        QTest::addRow("gesture")
            << "gesture" << false
            << QByteArray(R"({"fineness":0.75,"intensity":0.25,"mode":"gesture","reactivity":0.125})");
        QTest::addRow("sequence") << "sequence" << false
                                  << QByteArray(R"({"steps":[{"delayMs":0,"intensity":0.25,"style":"crisp"},)"
                                                R"({"delayMs":180,"intensity":0.25,"style":"soft"}]})");
        QTest::addRow("impulse") << "impulse" << false << QByteArray(R"({"intensity":0.25,"style":"soft"})");
    }

    void controllerStartBodies() {
        QFETCH(QString, start);
        QFETCH(bool, defaults);
        QFETCH(QByteArray, body);
        ControllerFixture f;
        TesterController &c = f.c();
        if (!defaults) {
            c.setIntensity(0.25);
            c.setFineness(0.75);
            c.setReactivity(0.125);
            c.setDurationMilliseconds(250.4);
            c.setPulseRateHz(12.5);
            c.setSharpness(0.625);
            c.setTransitionMilliseconds(40.4);
        }
        const QHash<QString, std::function<void()>> starts{{"timed", [&] { c.timedResonance(); }},
                                                           {"controlled", [&] { c.controlledResonance(); }},
                                                           {"gesture", [&] { c.beginGesture(true); }},
                                                           {"sequence", [&] { c.sequence(); }},
                                                           {"impulse", [&] { c.impulse("soft"); }}};
        starts.value(start)();
        QCOMPARE(f.transport->sent().size(), 1);
        QCOMPARE(f.transport->last().rawBody(), body);
    }

    void decodeReply_data() {
        QTest::addColumn<int>("status"); // -1: the reply carries no status code
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, int status, const char *body, const QString &expected) {
            QTest::addRow("%s", name) << status << QByteArray(body) << expected;
        };
        const QString invalid = QStringLiteral("\"Risposta non valida\"");
        row("299 ok", 299, R"({"ok":true})", "299 ok \"OK\"");
        row("199", 199, R"({"ok":true})", "199 failed " + invalid);
        row("300", 300, R"({"ok":true})", "300 failed " + invalid);
        row("302 with message", 302, R"({"ok":true,"message":"moved"})", "302 failed \"moved\"");
        row("no status code", -1, R"({"ok":true})", "0 failed " + invalid);
        row("empty body", 200, "", "200 no-object failed " + invalid);
        row("invalid JSON", 200, R"({"ok":true)", "200 no-object failed " + invalid);
        row("trailing garbage", 200, R"({"ok":true} x)", "200 no-object failed " + invalid);
        row("top-level array", 200, R"([{"ok":true}])", "200 no-object failed " + invalid);
        row("white space around", 200, " \n{\"ok\":true}\n ", "200 ok \"OK\"");
        row("ok missing", 200, R"({"emitted":true})", "200 failed " + invalid + " emitted=true");
        row("ok false, error", 200, R"({"ok":false,"error":"Occupato"})", "200 failed \"Occupato\"");
        row("ok as number", 200, R"({"ok":1})", "200 failed " + invalid);
        row("message before error", 200, R"({"ok":true,"message":"Fatto","error":"x"})", "200 ok \"Fatto\"");
        row("message a number", 200, R"({"ok":true,"message":5,"error":"Parola"})", "200 ok \"Parola\"");
        row("both of wrong types", 500, R"({"message":null,"error":{"a":1}})", "500 failed " + invalid);
        row("empty message", 200, R"({"ok":true,"message":""})", "200 ok \"\"");
        row("members", 200, R"({"ok":true,"emitted":false,"paused":true,"activeEffect":"controlled"})",
            "200 ok \"OK\" emitted=false paused=true active=controlled");
        row("wrong-typed members", 200,
            R"({"ok":true,"emitted":"true","paused":1,"activeEffect":0,"remainingDurationMs":"120"})",
            "200 ok \"OK\"");
        row("remaining fraction", 200, R"({"ok":true,"remainingDurationMs":12.5})",
            "200 ok \"OK\" remaining=12.5");
        row("members of a failure", 503, R"({"ok":false,"emitted":false,"activeEffect":"none"})",
            "503 failed " + invalid + " emitted=false active=none");
    }

    void decodeReply() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QCOMPARE(describe(vibrelle::decodeReply(status < 0 ? std::nullopt : std::optional(status), body)),
                 expected);
    }

    void statusSummary_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected"); // null: no summary
        QTest::addRow("all nine, given in reverse")
            << QByteArray(
                   R"({"materialAudioEnabled":false,"hapticAvailable":true,"hapticEnabled":true,)"
                   R"("gestureAvailable":false,"outputAvailable":true,"available":true,"state":"idle",)"
                   R"("authentication":"none","mode":"local","ok":true})")
            << QStringLiteral(
                   "mode: local \u00B7 authentication: none \u00B7 state: idle \u00B7 available: true \u00B7 "
                   "outputAvailable: true \u00B7 gestureAvailable: false \u00B7 hapticEnabled: true \u00B7 "
                   "hapticAvailable: true \u00B7 materialAudioEnabled: false");
        QTest::addRow("numbers") << QByteArray(R"({"mode":3,"state":2.5,"available":-4})")
                                 << QStringLiteral("mode: 3 \u00B7 state: 2.5 \u00B7 available: -4");
        QTest::addRow("null, array, object")
            << QByteArray(R"({"mode":null,"state":[1,"a"],"available":{"b":true}})")
            << QStringLiteral("mode: null \u00B7 state: [1,\"a\"] \u00B7 available: {\"b\":true}");
        QTest::addRow("none of the nine") << QByteArray(R"({"ok":true,"version":"1.0"})") << QString();
        QTest::addRow("names are case-sensitive") << QByteArray(R"({"State":"x","MODE":"y"})") << QString();
    }

    void statusSummary() {
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        const auto summary = vibrelle::statusSummary(QJsonDocument::fromJson(body).object());
        QCOMPARE(summary.value_or(QString()), expected);
        QCOMPARE(summary.has_value(), !expected.isNull());
    }

    // The rule reads the text as typed: no URL parser may normalise the refused ones into acceptance.
    void addressRule_data() {
        QTest::addColumn<QString>("address"); // as typed
        QTest::addColumn<QString>("url");     // of the status request; none: refused
        const QString standard = QStringLiteral("http://127.0.0.1:59723/v1/status");
        for (const QString address : {"http://127.0.0.1:59723/", " http://127.0.0.1:59723 \n",
                                      "\t\thttp://127.0.0.1:59723\r\n", "\u00A0http://127.0.0.1:59723/\u00A0"})
            QTest::addRow("%s", qPrintable(address.trimmed())) << address << standard;
        QTest::addRow("no port") << "http://127.0.0.1/" << "http://127.0.0.1/v1/status";
        QTest::addRow("port 1") << "http://127.0.0.1:1" << "http://127.0.0.1:1/v1/status";
        const QString refused = QStringLiteral(
            "http://localhost:59723|https://127.0.0.1:59723|HTTP://127.0.0.1:59723|Http://127.0.0.1:59723|"
            "ftp://127.0.0.1:59723|http://127.0.0.1:59723/v1|http://127.0.0.1:59723/v1/status|"
            "http://127.0.0.1:59723//|http://127.0.0.1?|http://127.0.0.1:59723/?|http://127.0.0.1:59723?a=1|"
            "http://127.0.0.1#|http://127.0.0.1:59723/#x|http://user@127.0.0.1|http://u:p@127.0.0.1|"
            "http://127.1|http://2130706433:59723|http://127.0.0.2:59723|http://[::1]:59723|"
            "http://127.0.0.1.:59723|127.0.0.1:59723|http:127.0.0.1:59723||  \n |http://|"
            "http://127.0.0.1:59723 /|http://127.0.0.1:port|http://127.0.0.1:65536|http://127.0.0.1:-1");
        for (const QString &address : refused.split('|'))
            QTest::addRow("[%s]", qPrintable(QString(address).replace("\n", "\\n"))) << address << QString();
    }

    void addressRule() {
        QFETCH(QString, address);
        QFETCH(QString, url);
        const QString trimmed = trimBaseAddress(address);
        QCOMPARE(isLocalServiceAddress(trimmed), !url.isNull());
        QCOMPARE(requestUrl(trimmed, "/v1/status").value_or(QUrl()).toString(), url);
    }

    void logCutsByUserPerceivedCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        // Thumbs up with a skin tone, e with a combining accent, a flag, a joined family, a surrogate pair.
        const QString thumb = QStringLiteral("\U0001F44D\U0001F3FD"), accented = QStringLiteral("e\u0301");
        const QStringList pieces{"x",
                                 thumb,
                                 accented,
                                 QStringLiteral("\U0001F1EE\U0001F1F9"),
                                 QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467"),
                                 QStringLiteral("\U0001F600"),
                                 "\r\n"};
        for (int i = 0; i < pieces.size(); ++i) {
            QTest::addRow("401 of piece %d", i) << pieces[i].repeated(401) << pieces[i].repeated(400);
        }
        QTest::addRow("1000 keeps 400") << QString("ab").repeated(500) << QString("ab").repeated(200);
        QTest::addRow("400 stay whole") << accented.repeated(400) << accented.repeated(400);
        QTest::addRow("300 emoji, more than 400 units") << thumb.repeated(300) << thumb.repeated(300);
        for (const QString &cluster : {thumb, QStringLiteral("a\u0308\u0323\u0301")}) {
            QTest::addRow("%d units at the cut", int(cluster.size()))
                << QString("a").repeated(399) + cluster + "bc" << QString("a").repeated(399) + cluster;
        }
    }

    void logCutsByUserPerceivedCharacters() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(truncateGraphemes(text, 400), expected);
        ControllerFixture f; // its status request has logged one line already
        f.c().addLog(text, true);
        QCOMPARE(f.c().entries().size(), 2);
        QCOMPARE(f.c().entries().first().text, expected);
        QVERIFY(f.c().entries().first().failed);
    }

    void logKeepsThirtyNewest() {
        ControllerFixture f;
        QSet<QUuid> ids;
        for (int i = 1; i <= 32; ++i) {
            f.c().addLog(QStringLiteral("entry %1").arg(i), i % 2 == 0);
            ids.insert(f.c().entries().first().id);
        }
        const auto &entries = f.c().entries();
        QCOMPARE(entries.size(), 30);
        QCOMPARE(ids.size(), 32);
        for (int i = 0; i < 30; ++i) {
            QCOMPARE(entries.at(i).text, QStringLiteral("entry %1").arg(32 - i));
            QCOMPARE(entries.at(i).failed, i % 2 == 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestWireFormat)
#include "test_wire_format.moc"
