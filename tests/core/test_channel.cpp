// The request channel on virtual time with a scripted transport: one request at a time, log and status
// lines, address refusal, the stop that waits for the channel, before quitting and on deactivation, nothing
// running once the controller is gone. Then request bodies byte for byte, replies, the address rule, the log.

#include "api/ServiceReply.h"
#include "api/WireFormat.h"
#include "core/Types.h"
#include "support/ControllerFixture.h"

#include <QHash>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <limits>

using namespace vibrelle;
using namespace vibrelle::testing;

Q_DECLARE_METATYPE(vibrelle::HttpOutcome)
Q_DECLARE_METATYPE(std::optional<QByteArray>)

namespace {

const QString invalidAddress = QStringLiteral("Usa un indirizzo locale http://127.0.0.1:porta. [failed]");
const QString quitting = QStringLiteral("Stop automatico: chiusura del tester");
const HttpOutcome ok{false, {}, 200, R"({"ok":true})", false};

// The log line at `index` (0: newest), marked when it was logged as a failure.
QString top(const TesterController &c, int index = 0) {
    const LogEntry entry = c.entries().value(index);
    return entry.text + (entry.failed ? QStringLiteral(" [failed]") : QString());
}

// Everything an ignored operation must leave alone: the published properties, the log,
// and the bookkeeping of the stop and of the effect.
QVariantMap snapshot(const TesterController &c) {
    QVariantMap s;
    const QMetaObject *meta = c.metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        s.insert(meta->property(i).name(), meta->property(i).read(&c));
    }
    for (int i = 0; i < c.entries().size(); ++i) {
        s.insert(QStringLiteral("log %1").arg(i), top(c, i));
    }
    s.insert("pendingStop", c.pendingStop());
    s.insert("mode", c.resonanceMode() ? int(*c.resonanceMode()) : -1);
    s.insert("effectAddress", c.effectAddress().value_or("none"));
    return s;
}

// Hands every request to a fake that outlives the controller.
struct ForwardingTransport final : HttpTransport {
    std::shared_ptr<FakeTransport> fake;
    void send(const HttpRequest &request, Completion done) override { fake->send(request, std::move(done)); }
};

// Every operation a user or the window can trigger; the first eight send a request when idle.
const QList<std::function<void(TesterController &)>> operations{
    &TesterController::verifyConnection,
    [](TesterController &c) { c.impulse("crisp"); },
    &TesterController::sequence,
    &TesterController::timedResonance,
    &TesterController::controlledResonance,
    [](TesterController &c) { c.beginGesture(false); },
    &TesterController::toggleContinuousGesture,
    &TesterController::beginCueDrag,
    &TesterController::endGesturePadDrag,
    &TesterController::togglePause,
    [](TesterController &c) { c.updateCueDrag(100); },
    &TesterController::endCueDrag,
    [](TesterController &c) { c.stopOnDeactivation("perso il primo piano"); }};

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();

// One line per decoded reply; optional members and the status summary appear only when present.
QString describe(const ServiceReply &r) {
    const auto flag = [](const char *name, const std::optional<bool> &value) {
        return value ? QStringLiteral(" %1=%2").arg(name, *value ? "true" : "false") : QString();
    };
    const auto summary = statusSummary(r.object.value_or(QJsonObject()));
    return QStringLiteral("%1 %2%3 \"%4\"")
               .arg(r.statusCode)
               .arg(r.object ? "" : "no-object ", r.ok ? "ok" : "failed", r.message) +
           flag("emitted", r.emitted) + flag("paused", r.paused) +
           (r.activeEffect ? " active=" + *r.activeEffect : QString()) +
           (r.remainingDurationMs ? QStringLiteral(" remaining=%1").arg(*r.remainingDurationMs) : QString()) +
           (summary ? " | " + *summary : QString());
}

} // namespace

class TestChannel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The construction's status request and a client ID of every controller's own (the headers that carry
    // it, as the service reads them: test_transport). What a successful reply leaves besides its line: a
    // status summary above it, the paused flag only in controlled mode, and nothing at all from a heartbeat.
    void constructionAndWhatRepliesLeave() {
        ControllerFixture f(home, false);
        TesterController &c = f.c();
        QCOMPARE(c.status(), QStringLiteral("Collegamento al servizio API locale\u2026"));
        QVERIFY(c.busy() && !c.connected() && !c.controlsEnabled() && c.entries().isEmpty());
        QVERIFY(!c.effectAddress()); // a status request fixes no effect address
        const QRegularExpression uuid(
            "^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
        QVERIFY2(uuid.match(c.clientID()).hasMatch(), qPrintable(c.clientID()));
        QVERIFY(ControllerFixture(home, false).c().clientID() != c.clientID());
        f.advance(0.012);
        f.transport->replyOk({{"available", true}, {"state", "ready"}, {"version", "2"}, {"paused", true}});
        QVERIFY(!c.busy() && c.connected() && c.controlsEnabled());
        QCOMPARE(c.entries().size(), 2);
        QCOMPARE(top(c, 0), "state: ready · available: true");
        QVERIFY(!c.entries().at(0).request && c.entries().at(1).request);
        QCOMPARE(top(c, 1), "GET /v1/status · 200 · 12 ms · OK");
        QVERIFY(!c.controlledPaused());
        c.verifyConnection(); // a failed status reply logs no summary
        f.transport->replyJson(503, {{"ok", false}, {"state", "busy"}});
        QCOMPARE(c.entries().size(), 3);
        c.controlledResonance();
        f.advance(0.02);
        f.transport->replyOk({{"paused", true}});
        QVERIFY(c.controlledPaused());
        const QList<LogEntry> log = c.entries();
        f.advance(0.5);
        QCOMPARE(f.transport->last().path(), "/v1/heartbeat");
        f.advance(0.003);
        f.transport->replyOk();
        QCOMPARE(c.entries(), log);
        QCOMPARE(c.status(), "Connesso · 20 ms"); // the start's, untouched by the heartbeat
    }

    // The controller keeps the trimmed base for its effect; a refused address sends nothing,
    // whatever the operation, and resets the effect state (the rule itself: addressRule).
    void addressAsTyped() {
        ControllerFixture trimmed(" http://127.0.0.1:59723/ \n");
        trimmed.c().impulse("crisp");
        QCOMPARE(trimmed.transport->last().request.url.toString(), home + "/v1/impulses");
        QCOMPARE(trimmed.c().effectAddress(), std::optional<QString>(home + "/"));

        const QStringList refused{"https://127.0.0.1:59723", "http://127.0.0.1:59723/v1", "http://127.1"};
        for (int i = 0; i < 8; ++i) {
            ControllerFixture f;
            QVERIFY(f.c().connected());
            f.c().setAddress(refused.at(i % refused.size()));
            operations.at(i)(f.c());
            const TesterController &c = f.c();
            QCOMPARE(c.entries().size(), 2);
            QCOMPARE(top(c), invalidAddress);
            QVERIFY(!c.entries().first().request); // nothing was sent
            QCOMPARE(c.status() + " [failed]", invalidAddress);
            QVERIFY(!c.connected() && !c.busy() && !c.requestInFlight() && c.controlsEnabled());
            QVERIFY(!c.resonanceMode() && !c.effectAddress() && !c.effectRunning());
            QVERIFY(!c.gestureWanted() && !c.continuousGesture() && !c.cueDragging());
            QVERIFY(c.timedStart() == 0 && c.timedDeadline() == 0);
            f.advance(2.0);
            QVERIFY2(f.transport->sent().isEmpty(), qPrintable(QString::number(i)));
        }
    }

    void operationsWhileInFlightChangeNothing() {
        for (int i = 0; i < operations.size(); ++i) {
            ControllerFixture f(home, false); // the construction's status request is in flight
            f.advance(0.2);
            const QVariantMap before = snapshot(f.c());
            operations.at(i)(f.c());
            f.advance(1.0);
            QVERIFY2(snapshot(f.c()) == before, qPrintable(QString::number(i)));
            // The one reply completes the one request; nothing else was queued.
            f.transport->replyOk();
            QCOMPARE(top(f.c()), "GET /v1/status · 200 · 1200 ms · OK");
            f.advance(1.0);
            QCOMPARE(f.transport->sent().size(), 1);
        }
        // A running effect disables the connection check as well.
        ControllerFixture f;
        f.startControlled();
        f.c().verifyConnection();
        QVERIFY(f.transport->sent().isEmpty());
    }

    void replyLine_data() {
        QTest::addColumn<bool>("impulse"); // else a status request
        QTest::addColumn<double>("delay");
        QTest::addColumn<HttpOutcome>("outcome");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("status");
        const auto row = [](const char *name, bool impulse, double delay, const HttpOutcome &outcome,
                            const char *line, const char *status) {
            QTest::addRow("%s", name) << impulse << delay << outcome << QString(line) << QString(status);
        };
        const auto reply = [](std::optional<int> code, const char *body, bool cut = false) {
            return HttpOutcome{false, {}, code, body, cut};
        };
        row("emitted, 2.9 ms shows 2", true, 0.0029, reply(200, R"({"ok":true,"emitted":true})"),
            "POST /v1/impulses · 200 · 2 ms · OK · emitted: true", "Connesso · 2 ms");
        row("status 204, 1.2 s", false, 1.2, reply(204, R"({"ok":true})"),
            "GET /v1/status · 204 · 1200 ms · OK", "Connesso · 1200 ms");
        row("ok false", false, 0.007, reply(200, R"({"ok":false,"error":"Servizio in avvio"})"),
            "GET /v1/status · 200 · 7 ms · Servizio in avvio [failed]", "200: Servizio in avvio");
        row("impulse 409", true, 0.007, reply(409, R"({"ok":false,"error":"Occupato","emitted":false})"),
            "POST /v1/impulses · 409 · 7 ms · Occupato · emitted: false [failed]", "409: Occupato");
        // A body cut at the transport's limit is never decoded, however well it starts.
        row("cut body", false, 0.007, reply(200, R"({"ok":true,"state":"ready"})", true),
            "GET /v1/status · 200 · 7 ms · Risposta non valida [failed]", "200: Risposta non valida");
        row("status, transport failure", false, 0.3, HttpOutcome{true, "Connection refused", {}, {}, false},
            "/v1/status · Connessione non riuscita: Connection refused [failed]",
            "Connessione non riuscita: Connection refused");
        row("impulse, transport failure", true, 1.5,
            HttpOutcome{true, "nessun dato dal servizio per 1,5 s", {}, {}, false},
            "/v1/impulses · Connessione non riuscita: nessun dato dal servizio per 1,5 s [failed]",
            "Connessione non riuscita: nessun dato dal servizio per 1,5 s");
    }

    void replyLine() {
        QFETCH(bool, impulse);
        QFETCH(double, delay);
        QFETCH(HttpOutcome, outcome);
        QFETCH(QString, line);
        QFETCH(QString, status);
        const bool failed = line.endsWith(" [failed]");
        ControllerFixture f;
        if (!failed) { // the success itself must set the connection indicator
            f.c().verifyConnection();
            f.transport->fail();
            f.transport->clearSent();
        }
        QCOMPARE(f.c().connected(), failed);
        const qsizetype logged = f.c().entries().size();
        impulse ? f.c().impulse("crisp") : f.c().verifyConnection();
        f.advance(delay);
        f.transport->complete(outcome);
        QCOMPARE(f.c().entries().size(), logged + 1);
        QCOMPARE(top(f.c()), line);
        // The line keeps the very request the transport was handed, for copying it out.
        QCOMPARE(f.c().entries().first().request, std::optional(f.transport->sent().first().request));
        QCOMPARE(f.c().status(), status);
        QCOMPARE(f.c().connected(), !failed);
        // A failed effect request is followed at once by the automatic stop; nothing else asks for more.
        const bool stops = failed && impulse;
        const QString path = impulse ? "/v1/impulses" : "/v1/status";
        QCOMPARE(f.transport->paths(), stops ? QStringList({path, "/v1/stop"}) : QStringList(path));
        QCOMPARE(f.c().busy(), stops);
        f.advance(5.0);
        QCOMPARE(f.transport->sent().size(), stops ? 2 : 1);
    }

    // A stop goes to the address field while idle, and after the request in flight to the
    // address its effect runs at.
    void stopGoesWhereTheEffectRuns() {
        ControllerFixture f;
        f.c().setAddress("http://127.0.0.1:4100/");
        f.c().stop();
        QCOMPARE(f.transport->last().request.url.toString(), "http://127.0.0.1:4100/v1/stop");
        QCOMPARE(f.transport->last().rawBody(), "{}");
        f.advance(0.008);
        f.transport->replyOk();
        QCOMPARE(f.c().status(), "Feedback fermato.");
        QCOMPARE(top(f.c()), "POST /v1/stop · 200 · 8 ms · OK");

        f.c().controlledResonance();
        f.c().stop();
        QVERIFY(f.c().pendingStop() && !f.c().controlsEnabled() && !f.c().controlledParametersEditable());
        f.c().setAddress(home);
        f.advance(0.01);
        f.transport->replyOk();
        QCOMPARE(f.transport->paths().mid(1), (QStringList{"/v1/resonance", "/v1/stop"}));
        QCOMPARE(f.transport->last().request.url.toString(), "http://127.0.0.1:4100/v1/stop");
        QVERIFY(!f.c().effectRunning() && !f.c().heartbeatActive() && !f.c().pendingStop() && f.c().busy());
        f.transport->replyOk();
        QCOMPARE(top(f.c(), 1), "POST /v1/resonance · 200 · 10 ms · OK");
        QVERIFY(!f.c().resonanceMode() && f.c().controlsEnabled());
        f.advance(3.0);
        QCOMPARE(f.transport->sent().size(), 3);
    }

    void termination_data() {
        QTest::addColumn<int>("setup");
        QTest::addColumn<HttpOutcome>("stopReply");
        QTest::addColumn<QStringList>("paths"); // everything sent once the stop for quitting is asked for
        QTest::addColumn<QString>("line");      // the newest log line at the end
        const QStringList stop{"/v1/stop"};
        QTest::addRow("idle") << 0 << ok << QStringList() << "GET /v1/status · 200 · 0 ms · OK";
        QTest::addRow("nothing could be sent") << 1 << ok << QStringList() << invalidAddress;
        QTest::addRow("effect running") << 2 << ok << stop << "POST /v1/stop · 200 · 1000 ms · OK";
        // A failed stop still ends the effect and the quit; it is not answered with yet another stop.
        QTest::addRow("effect running, stop fails")
            << 2 << HttpOutcome{false, {}, 500, R"({"ok":false,"error":"Guasto"})", false} << stop
            << "POST /v1/stop · 500 · 1000 ms · Guasto [failed]";
        QTest::addRow("effect running, stop unanswered")
            << 2 << HttpOutcome{true, "Connection refused", {}, {}, false} << stop
            << "/v1/stop · Connessione non riuscita: Connection refused [failed]";
        QTest::addRow("request in flight")
            << 3 << ok << QStringList{"/v1/status", "/v1/stop"} << "POST /v1/stop · 200 · 0 ms · OK";
        // The stop that follows the request is refused, and the refusal completes.
        QTest::addRow("request in flight, address refused")
            << 4 << ok << QStringList{"/v1/status"} << invalidAddress;
    }

    // Quitting waits for the stop's outcome only while something may be running on the service.
    void termination() {
        QFETCH(int, setup);
        QFETCH(HttpOutcome, stopReply);
        QFETCH(QStringList, paths);
        QFETCH(QString, line);
        ControllerFixture f(setup == 1 ? "http://localhost:59723" : home, setup == 0 || setup == 2);
        if (setup == 2) {
            f.startControlled();
        } else if (setup == 4) {
            f.c().setAddress("http://localhost:59723");
        }
        const qsizetype logged = f.c().entries().size();
        int first = 0;
        int second = 0;
        f.c().stopForTermination([&first] { ++first; });
        const bool waits = !paths.isEmpty();
        QCOMPARE(first, waits ? 0 : 1);
        QCOMPARE(f.c().entries().size(), logged + (waits ? 1 : 0));
        if (waits) {
            QCOMPARE(top(f.c()), quitting);
            f.c().stopForTermination([&second] { ++second; }); // replaces the earlier completion
            f.advance(1.0);                                    // no heartbeat in between, no second stop
            while (f.transport->openCount() > 0) {
                QCOMPARE(second, 0);
                f.transport->complete(f.transport->last().path() == "/v1/stop" ? stopReply : ok);
            }
            QCOMPARE(second, 1);
            QCOMPARE(first, 0);
        }
        f.advance(3.0);
        QCOMPARE(f.transport->paths(), paths);
        QCOMPARE(top(f.c()), line);
        QCOMPARE(first + second, 1);
        const TesterController &c = f.c();
        QVERIFY(!c.terminationPending() && !c.effectRunning() && !c.pendingStop() && !c.heartbeatActive());
        QVERIFY(!c.resonanceMode() && !c.effectAddress() && c.controlsEnabled());
    }

    // A status request in flight is no effect (operationsWhileInFlightChangeNothing); within the sequence
    // window an effect still counts as running, and so does a start still in flight.
    void deactivation() {
        const QString reason = QStringLiteral("il tester ha perso il primo piano");
        ControllerFixture f;
        f.c().sequence();
        f.transport->replyOk();
        f.transport->clearSent();
        f.advance(0.1);
        f.c().stopOnDeactivation(reason);
        QCOMPARE(top(f.c()), "Stop automatico: " + reason);
        QCOMPARE(f.transport->paths(), QStringList{"/v1/stop"});
        QVERIFY(!f.c().effectEndPending());
        f.transport->replyOk();
        QVERIFY(!f.c().effectRunning());
        f.c().controlledResonance(); // not yet running: the stop follows the start's reply
        f.c().stopOnDeactivation(reason);
        f.transport->replyOk();
        QCOMPARE(f.transport->paths(), (QStringList{"/v1/stop", "/v1/resonance", "/v1/stop"}));
    }

    void nothingRunsAfterTheControllerIsGone() {
        auto fake = std::make_shared<FakeTransport>();
        auto clock = std::make_shared<ManualTimeSource>();
        auto forward = std::make_unique<ForwardingTransport>();
        forward->fake = fake;
        auto controller = std::make_unique<TesterController>(home, std::move(forward), clock);
        fake->replyOk();
        controller->controlledResonance();
        fake->replyOk();
        clock->advance(0.5); // a heartbeat in flight, a live update waiting behind it
        controller->setPulseRateHz(50);
        QCOMPARE(fake->paths().last(), "/v1/heartbeat");
        QVERIFY(clock->activeTimerCount() > 0);
        int changes = 0;
        QObject::connect(controller.get(), &TesterController::changed, [&changes] { ++changes; });
        controller.reset();
        QCOMPARE(clock->activeTimerCount(), 0);
        fake->replyOk(); // a late outcome is dropped
        clock->advance(5.0);
        QCOMPARE(changes, 0);
        QCOMPARE(fake->sent().size(), 3);
    }

    // Keys ascending at every depth, integers without a fraction, doubles to their last digit, compact
    // UTF-8; a body JSON cannot carry is not encoded (the controller's own: controllerStartBodies).
    void bodies_data() {
        QTest::addColumn<QJsonObject>("body");
        QTest::addColumn<QByteArray>("expected");
        QTest::addRow("escaped UTF-8 style")
            << impulseBody(QStringLiteral("t\u00E9\"s"), 0.25)
            << QByteArray("{\"intensity\":0.25,\"style\":\"t\xC3\xA9\\\"s\"}");
        QTest::addRow("-(0.1 + 0.2)") << impulseBody("crisp", -(0.1 + 0.2))
                                      << QByteArray(R"({"intensity":-0.30000000000000004,"style":"crisp"})");
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
        QTest::addRow("update, NaN") << updateBody({{"pulseRateHz", notANumber}}) << QByteArray("<none>");
    }

    void bodies() {
        QFETCH(QJsonObject, body);
        QFETCH(QByteArray, expected);
        QCOMPARE(encodeBody(body).value_or("<none>"), expected);
    }

    // The starts read the controller's fields: their defaults, values distinct enough that none can
    // stand in for another (milliseconds rounded below one half), and values JSON cannot carry: those
    // go out as an empty POST, content type unchanged.
    void controllerStartBodies_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QVariantMap>("fields");
        QTest::addColumn<std::optional<QByteArray>>("body");
        const auto row = [](const char *name, const char *start, const QVariantMap &fields,
                            std::optional<QByteArray> body) {
            QTest::addRow("%s", name) << QString(start) << fields << body;
        };
        const QVariantMap distinct{{"intensity", 0.25},
                                   {"fineness", 0.75},
                                   {"reactivity", 0.125},
                                   {"durationMilliseconds", 250.4},
                                   {"pulseRateHz", 12.5},
                                   {"sharpness", 0.625},
                                   {"transitionMilliseconds", 40.4}};
        row("timed, defaults", "timed", {},
            R"({"durationMs":300,"fineness":0.5,"intensity":0.5,"mode":"timed"})");
        row("controlled, defaults", "controlled", {},
            R"({"intensity":0.5,"mode":"controlled","pulseRateHz":30,"sharpness":0.5,"transitionMs":40})");
        row("gesture, defaults", "gesture", {},
            R"({"fineness":0.5,"intensity":0.5,"mode":"gesture","reactivity":0.5})");
        row("timed, 250.4 ms", "timed", distinct,
            R"({"durationMs":250,"fineness":0.75,"intensity":0.25,"mode":"timed"})");
        row("controlled, 40.4 ms", "controlled", distinct,
            R"({"intensity":0.25,"mode":"controlled","pulseRateHz":12.5,"sharpness":0.625,"transitionMs":40})");
        row("gesture", "gesture", distinct,
            R"({"fineness":0.75,"intensity":0.25,"mode":"gesture","reactivity":0.125})");
        row("sequence", "sequence", distinct,
            R"({"steps":[{"delayMs":0,"intensity":0.25,"style":"crisp"},)"
            R"({"delayMs":180,"intensity":0.25,"style":"soft"}]})");
        row("impulse", "impulse", distinct, R"({"intensity":0.25,"style":"soft"})");
        row("impulse, NaN", "impulse", {{"intensity", notANumber}}, std::nullopt);
        row("impulse, infinity", "impulse", {{"intensity", infinity}}, std::nullopt);
        row("gesture, -infinity", "gesture", {{"reactivity", -infinity}}, std::nullopt);
        row("sequence, NaN", "sequence", {{"intensity", notANumber}}, std::nullopt);
        for (const double duration : {notANumber, infinity, -infinity, 1e19, 9007199254740992.0}) {
            QTest::addRow("timed, %g ms", duration)
                << QString("timed") << QVariantMap{{"durationMilliseconds", duration}}
                << std::optional<QByteArray>();
        }
    }

    void controllerStartBodies() {
        QFETCH(QString, start);
        QFETCH(QVariantMap, fields);
        QFETCH(std::optional<QByteArray>, body);
        ControllerFixture f;
        TesterController &c = f.c();
        for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
            QVERIFY(c.setProperty(it.key().toLatin1().constData(), it.value()));
        }
        const QHash<QString, std::function<void()>> starts{{"timed", [&] { c.timedResonance(); }},
                                                           {"controlled", [&] { c.controlledResonance(); }},
                                                           {"gesture", [&] { c.beginGesture(true); }},
                                                           {"sequence", [&] { c.sequence(); }},
                                                           {"impulse", [&] { c.impulse("soft"); }}};
        starts.value(start)();
        QCOMPARE(f.transport->sent().size(), 1);
        QCOMPARE(f.transport->last().request.body, body);
        QCOMPARE(f.transport->last().request.method, "POST");
        QCOMPARE(f.transport->last().header("Content-Type"), "application/json");
        QVERIFY(c.busy());
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
        // The status summary: the nine members in their order, as plain text.
        row("all nine, given in reverse", 200,
            R"({"materialAudioEnabled":false,"hapticAvailable":true,"hapticEnabled":true,)"
            R"("gestureAvailable":false,"outputAvailable":true,"available":true,"state":"idle",)"
            R"("authentication":"none","mode":"local","ok":true})",
            "200 ok \"OK\" | mode: local · authentication: none · state: idle · available: true · "
            "outputAvailable: true · gestureAvailable: false · hapticEnabled: true · hapticAvailable: true · "
            "materialAudioEnabled: false");
        row("summary of numbers", 200, R"({"ok":true,"mode":3,"state":2.5,"available":-4})",
            "200 ok \"OK\" | mode: 3 · state: 2.5 · available: -4");
        row("summary of null, array, object", 200,
            R"({"ok":true,"mode":null,"state":[1,"a"],"available":{"b":true}})",
            "200 ok \"OK\" | mode: null · state: [1,\"a\"] · available: {\"b\":true}");
        row("none of the nine", 200, R"({"ok":true,"version":"1.0"})", "200 ok \"OK\"");
        row("names are case-sensitive", 200, R"({"ok":true,"State":"x","MODE":"y"})", "200 ok \"OK\"");
    }

    void decodeReply() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QCOMPARE(describe(vibrelle::decodeReply(status < 0 ? std::nullopt : std::optional(status), body)),
                 expected);
    }

    // The rule reads the text as typed: no URL parser may normalise the refused ones into acceptance.
    void addressRule_data() {
        QTest::addColumn<QString>("address"); // as typed
        QTest::addColumn<QString>("url");     // of the status request; none: refused
        const QString standard = QStringLiteral("http://127.0.0.1:59723/v1/status");
        for (const QString address :
             {"http://127.0.0.1:59723/", " http://127.0.0.1:59723 \n", "\t\thttp://127.0.0.1:59723\r\n",
              "\u00A0http://127.0.0.1:59723/\u00A0"})
            QTest::addRow("%s", qPrintable(address.trimmed())) << address << standard;
        QTest::addRow("no port") << "http://127.0.0.1/"
                                 << "http://127.0.0.1/v1/status";
        QTest::addRow("port 1") << "http://127.0.0.1:1"
                                << "http://127.0.0.1:1/v1/status";
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

    // The construction's status request, or its refusal: a log line and nothing sent.
    void addressRule() {
        QFETCH(QString, address);
        QFETCH(QString, url);
        ControllerFixture f(address, false);
        const QList<FakeTransport::Sent> &sent = f.transport->sent();
        QCOMPARE(sent.isEmpty() ? QString() : sent.first().request.url.toString(), url);
        QCOMPARE(f.c().entries().size(), url.isNull() ? 1 : 0);
        QCOMPARE(top(f.c()), url.isNull() ? invalidAddress : QString());
        QCOMPARE(f.c().controlsEnabled(), url.isNull());
    }

    void logCutsByUserPerceivedCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        // Thumbs up with a skin tone, e with a combining accent, a flag, a joined family, a surrogate pair.
        const QString thumb = QStringLiteral("\U0001F44D\U0001F3FD"), accented = QStringLiteral("e\u0301");
        const QStringList pieces =
            QStringLiteral(
                "x|%1|%2|\U0001F1EE\U0001F1F9|\U0001F468\u200D\U0001F469\u200D\U0001F467|\U0001F600|\r\n")
                .arg(thumb, accented)
                .split('|');
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
        ControllerFixture f; // its status request has logged one line already
        f.c().addLog(text, true);
        QCOMPARE(f.c().entries().size(), 2);
        QCOMPARE(top(f.c()), expected + " [failed]");
    }

    void logKeepsThirtyNewest() {
        ControllerFixture f;
        QSet<QUuid> ids;
        for (int i = 1; i <= 32; ++i) {
            f.c().addLog(QStringLiteral("entry %1").arg(i), i % 2 == 0);
            ids.insert(f.c().entries().first().id);
        }
        QCOMPARE(ids.size(), 32);
        QCOMPARE(f.c().entries().size(), 30);
        for (int i = 0; i < 30; ++i) {
            QCOMPARE(top(f.c(), i),
                     QStringLiteral("entry %1%2").arg(32 - i).arg(i % 2 == 0 ? " [failed]" : ""));
        }
    }
};

QTEST_GUILESS_MAIN(TestChannel)
#include "test_channel.moc"
