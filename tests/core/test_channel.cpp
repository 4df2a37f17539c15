// The request channel on virtual time with a scripted transport: what goes out, one request
// at a time, log and status lines, address refusal, the stop that waits for the channel, the
// stop before quitting and on deactivation, and nothing left running once the controller is gone.

#include "support/ControllerFixture.h"

#include <QMetaProperty>
#include <QRegularExpression>
#include <QTest>

using namespace vibrelle;
using namespace vibrelle::testing;

Q_DECLARE_METATYPE(vibrelle::HttpOutcome)

namespace {

const QString invalidAddress = QStringLiteral("Usa un indirizzo locale http://127.0.0.1:porta. [failed]");
const QString quitting = QStringLiteral("Stop automatico: chiusura del tester");

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

using Operation = std::function<void(TesterController &)>;

// Hands every request to a fake that outlives the controller.
struct ForwardingTransport final : HttpTransport {
    std::shared_ptr<FakeTransport> fake;
    void send(const HttpRequest &request, Completion done) override { fake->send(request, std::move(done)); }
};

// Every operation a user can trigger; the first eight send a request when idle.
const QList<Operation> operations{&TesterController::verifyConnection,
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
                                  &TesterController::endCueDrag};

} // namespace

class TestChannel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void requestsCarryTheClientHeaders() {
        ControllerFixture f(home, false);
        TesterController &c = f.c();
        QCOMPARE(c.status(), QStringLiteral("Collegamento al servizio API locale\u2026"));
        QVERIFY(c.busy() && !c.connected() && !c.controlsEnabled() && c.entries().isEmpty());
        QVERIFY(!c.effectAddress()); // a status request fixes no effect address
        const QRegularExpression uuid(
            "^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
        QVERIFY2(uuid.match(c.clientID()).hasMatch(), qPrintable(c.clientID()));
        f.transport->replyOk();
        QVERIFY(!c.busy() && c.connected() && c.controlsEnabled());

        c.impulse("soft");
        f.transport->replyOk();
        c.verifyConnection();
        f.transport->replyOk();
        c.stop();
        QCOMPARE(f.transport->paths(), (QStringList{"/v1/status", "/v1/impulses", "/v1/status", "/v1/stop"}));
        for (const auto &sent : f.transport->sent()) {
            const bool get = sent.path() == "/v1/status";
            QCOMPARE(sent.request.method, QByteArray(get ? "GET" : "POST"));
            QCOMPARE(sent.request.url.toString(), home + sent.path());
            QCOMPARE(sent.header("X-VBL-Client"), c.clientID().toLatin1());
            QCOMPARE(sent.header("X-VBL-Client-Name"), QByteArray("API Tester"));
            QCOMPARE(sent.header("Accept"), QByteArray("application/json"));
            QCOMPARE(sent.header("Content-Type"), QByteArray(get ? "" : "application/json"));
            QCOMPARE(sent.hasHeader("Content-Type"), !get);
            QCOMPARE(sent.request.body.has_value(), !get);
        }
        QVERIFY(ControllerFixture(home, false).c().clientID() != c.clientID());
    }

    // The address rule itself is checked case by case in test_wire_format: here the controller
    // keeps the trimmed base for its effect, and a refused address sends nothing and resets it.
    void addressAsTyped() {
        ControllerFixture trimmed(" http://127.0.0.1:59723/ \n");
        trimmed.c().impulse("crisp");
        QCOMPARE(trimmed.transport->last().request.url.toString(), home + "/v1/impulses");
        QCOMPARE(trimmed.c().effectAddress(), std::optional<QString>(home + "/"));

        ControllerFixture atStart("http://localhost:59723", false);
        QCOMPARE(atStart.c().entries().size(), 1);
        QCOMPARE(top(atStart.c()), invalidAddress);
        QVERIFY(!atStart.c().busy() && atStart.c().controlsEnabled());
        QVERIFY(atStart.transport->sent().isEmpty());

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
        const auto failure = [](const char *description) {
            return HttpOutcome{true, description, {}, {}, false};
        };
        row("emitted, 4 ms", true, 0.004, reply(200, R"({"ok":true,"emitted":true})"),
            "POST /v1/impulses · 200 · 4 ms · OK · emitted: true", "Connesso · 4 ms");
        row("2.9 ms shows 2", true, 0.0029, reply(200, R"({"ok":true,"emitted":false})"),
            "POST /v1/impulses · 200 · 2 ms · OK · emitted: false", "Connesso · 2 ms");
        row("status 204, 1.2 s", false, 1.2, reply(204, R"({"ok":true})"),
            "GET /v1/status · 204 · 1200 ms · OK", "Connesso · 1200 ms");
        row("503, not JSON", false, 0.007, reply(503, "Service Unavailable"),
            "GET /v1/status · 503 · 7 ms · Risposta non valida [failed]", "503: Risposta non valida");
        row("ok false", false, 0.007, reply(200, R"({"ok":false,"error":"Servizio in avvio"})"),
            "GET /v1/status · 200 · 7 ms · Servizio in avvio [failed]", "200: Servizio in avvio");
        row("impulse 409", true, 0.007, reply(409, R"({"ok":false,"error":"Occupato","emitted":false})"),
            "POST /v1/impulses · 409 · 7 ms · Occupato · emitted: false [failed]", "409: Occupato");
        // A body cut at the transport's limit is never decoded, however well it starts.
        row("cut body", false, 0.007, reply(200, R"({"ok":true,"state":"ready"})", true),
            "GET /v1/status · 200 · 7 ms · Risposta non valida [failed]", "200: Risposta non valida");
        row("no status code", false, 0.007, reply(std::nullopt, R"({"ok":true})"),
            "GET /v1/status · 0 · 7 ms · Risposta non valida [failed]", "0: Risposta non valida");
        row("status, transport failure", false, 0.3, failure("Connection refused"),
            "/v1/status · Connessione non riuscita: Connection refused [failed]",
            "Connessione non riuscita: Connection refused");
        row("impulse, transport failure", true, 1.5, failure("nessun dato dal servizio per 1,5 s"),
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

    // What a successful reply leaves besides its line: a status summary above it, the paused flag
    // only in controlled mode, and nothing at all from a heartbeat.
    void whatRepliesLeaveBehind() {
        ControllerFixture f(home, false);
        f.advance(0.012);
        f.transport->replyOk({{"available", true}, {"state", "ready"}, {"version", "2"}, {"paused", true}});
        QCOMPARE(f.c().entries().size(), 2);
        QCOMPARE(top(f.c(), 0), "state: ready · available: true");
        QVERIFY(!f.c().entries().at(0).request && f.c().entries().at(1).request);
        QCOMPARE(top(f.c(), 1), "GET /v1/status · 200 · 12 ms · OK");
        QVERIFY(!f.c().controlledPaused());
        f.c().verifyConnection(); // a failed status reply logs no summary
        f.transport->replyJson(503, {{"ok", false}, {"state", "busy"}});
        QCOMPARE(f.c().entries().size(), 3);
        f.c().controlledResonance();
        f.advance(0.02);
        f.transport->replyOk({{"paused", true}});
        QVERIFY(f.c().controlledPaused());
        const QList<LogEntry> log = f.c().entries();
        f.advance(0.5);
        QCOMPARE(f.transport->last().path(), "/v1/heartbeat");
        f.advance(0.003);
        f.transport->replyOk();
        QCOMPARE(f.c().entries(), log);
        QCOMPARE(f.c().status(), "Connesso · 20 ms"); // the start's, untouched by the heartbeat
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

    void failedStopStillResets_data() {
        QTest::addColumn<HttpOutcome>("outcome");
        QTest::addColumn<QString>("line");
        QTest::addRow("500") << HttpOutcome{false, {}, 500, R"({"ok":false,"error":"Guasto"})", false}
                             << "POST /v1/stop · 500 · 0 ms · Guasto [failed]";
        QTest::addRow("transport failure")
            << HttpOutcome{true, "Connection refused", {}, {}, false}
            << "/v1/stop · Connessione non riuscita: Connection refused [failed]";
    }

    // A failed stop still ends the effect and the quit that waits for it; it is not answered with
    // yet another stop, and nothing keeps the lease.
    void failedStopStillResets() {
        QFETCH(HttpOutcome, outcome);
        QFETCH(QString, line);
        for (const bool quit : {false, true}) {
            ControllerFixture f;
            f.startControlled();
            int calls = 0;
            quit ? f.c().stopForTermination([&calls] { ++calls; }) : f.c().stop();
            QCOMPARE(f.transport->paths(), QStringList{"/v1/stop"});
            QCOMPARE(calls, 0);
            f.transport->complete(outcome);
            QCOMPARE(top(f.c()), line);
            QCOMPARE(calls, quit ? 1 : 0);
            const TesterController &c = f.c();
            QVERIFY(!c.terminationPending() && !c.effectRunning() && !c.resonanceMode() &&
                    !c.effectAddress());
            QVERIFY(!c.pendingStop() && !c.heartbeatActive() && !c.connected() && c.controlsEnabled());
            f.advance(3.0);
            QCOMPARE(f.transport->sent().size(), 1);
            QCOMPARE(calls, quit ? 1 : 0);
        }
    }

    void termination_data() {
        QTest::addColumn<int>("setup");
        QTest::addColumn<QStringList>("paths"); // everything sent once the stop for quitting is asked for
        QTest::addColumn<QString>("line");      // the newest log line at the end
        const QString stopped = QStringLiteral("POST /v1/stop · 200 · 0 ms · OK");
        QTest::addRow("idle") << 0 << QStringList() << "GET /v1/status · 200 · 0 ms · OK";
        QTest::addRow("nothing could be sent") << 1 << QStringList() << invalidAddress;
        QTest::addRow("effect running")
            << 2 << QStringList{"/v1/stop"} << "POST /v1/stop · 200 · 1000 ms · OK";
        QTest::addRow("request in flight") << 3 << QStringList{"/v1/status", "/v1/stop"} << stopped;
        // The stop that follows the request is refused, and the refusal completes.
        QTest::addRow("request in flight, address refused")
            << 4 << QStringList{"/v1/status"} << invalidAddress;
    }

    // Quitting waits for the stop's outcome only while something may be running on the service.
    void termination() {
        QFETCH(int, setup);
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
                f.transport->replyOk();
            }
            QCOMPARE(second, 1);
            QCOMPARE(first, 0);
        }
        f.advance(3.0);
        QCOMPARE(f.transport->paths(), paths);
        QCOMPARE(top(f.c()), line);
        QCOMPARE(first + second, 1);
        QVERIFY(!f.c().terminationPending() && !f.c().effectRunning() && !f.c().pendingStop());
    }

    void deactivation() {
        const QString reason = QStringLiteral("il tester ha perso il primo piano");
        ControllerFixture idle;
        ControllerFixture checking(home, false); // a status request in flight is not an effect
        for (ControllerFixture *f : {&idle, &checking}) {
            const QVariantMap before = snapshot(f->c());
            f->c().stopOnDeactivation(reason);
            QVERIFY(snapshot(f->c()) == before);
            QCOMPARE(f->transport->sent().size(), f == &idle ? 0 : 1);
        }
        // Within the sequence window an effect still counts as running.
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
};

QTEST_GUILESS_MAIN(TestChannel)
#include "test_channel.moc"
