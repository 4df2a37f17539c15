// The request channel and every way an effect ends, on virtual time with a scripted
// transport: what goes out (headers, method, URL), one request at a time, the log and
// status lines, address refusal, the stop that waits for the channel, the stop before
// quitting and on deactivation, the automatic stop after a failure, and the three
// channel timers (lease heartbeat, release impulse, sequence window).

#include "AddressCases.h"
#include "support/ControllerFixture.h"

#include <QRegularExpression>
#include <QTest>

#include <deque>
#include <functional>
#include <memory>

using namespace vibrelle;
using vibrelle::testing::ControllerFixture;
using vibrelle::testing::FakeTransport;

namespace {

const QString defaultAddress = QStringLiteral("http://127.0.0.1:59723");
const QString invalidAddressText = QStringLiteral("Usa un indirizzo locale http://127.0.0.1:porta.");

QJsonObject object(std::initializer_list<QPair<QString, QJsonValue>> members) {
    QJsonObject result;
    for (const auto &member : members) {
        result.insert(member.first, member.second);
    }
    return result;
}

// Everything an ignored operation must leave alone.
struct Snapshot {
    QStringList log;
    QString status;
    bool connected = false;
    bool busy = false;
    bool effectRunning = false;
    bool gestureWanted = false;
    bool continuousGesture = false;
    bool cueDragging = false;
    double cueCharge = 0;
    bool releasePending = false;
    bool controlledPaused = false;
    bool pendingStop = false;
    std::optional<ResonanceMode> mode;
    std::optional<QString> effectAddress;
    double intensity = 0;
    double pulseRateHz = 0;
    double sharpness = 0;

    static Snapshot of(const TesterController &c) {
        Snapshot s;
        for (const LogEntry &entry : c.entries()) {
            s.log.append(entry.text + (entry.failed ? QStringLiteral(" [failed]") : QString()));
        }
        s.status = c.status();
        s.connected = c.connected();
        s.busy = c.busy();
        s.effectRunning = c.effectRunning();
        s.gestureWanted = c.gestureWanted();
        s.continuousGesture = c.continuousGesture();
        s.cueDragging = c.cueDragging();
        s.cueCharge = c.cueCharge();
        s.releasePending = c.releasePending();
        s.controlledPaused = c.controlledPaused();
        s.pendingStop = c.pendingStop();
        s.mode = c.resonanceMode();
        s.effectAddress = c.effectAddress();
        s.intensity = c.intensity();
        s.pulseRateHz = c.pulseRateHz();
        s.sharpness = c.sharpness();
        return s;
    }
    friend bool operator==(const Snapshot &, const Snapshot &) = default;
};

QString topText(const TesterController &c, int index = 0) {
    return c.entries().size() > index ? c.entries().at(index).text
                                      : QStringLiteral("<no entry %1>").arg(index);
}

bool topFailed(const TesterController &c, int index = 0) {
    return c.entries().size() > index && c.entries().at(index).failed;
}

int countPath(const FakeTransport &transport, const QString &path) {
    return static_cast<int>(transport.paths().count(path));
}

// Hands every request to a fake that outlives the controller.
class ForwardingTransport final : public HttpTransport {
public:
    explicit ForwardingTransport(std::shared_ptr<FakeTransport> fake)
        : m_fake(std::move(fake)) {}
    void send(const HttpRequest &request, Completion done) override {
        m_fake->send(request, std::move(done));
    }

private:
    std::shared_ptr<FakeTransport> m_fake;
};

// Completes each exchange with whatever outcome the test builds, cut bodies included.
class OutcomeTransport final : public HttpTransport {
public:
    void send(const HttpRequest &, Completion done) override { m_open.push_back(std::move(done)); }
    int openCount() const { return static_cast<int>(m_open.size()); }
    void complete(const HttpOutcome &outcome) {
        auto done = std::move(m_open.front());
        m_open.pop_front();
        done(outcome);
    }

private:
    std::deque<Completion> m_open;
};

// A controlled resonance confirmed by the service: effect running, heartbeat armed.
void startControlled(ControllerFixture &f) {
    f.c().controlledResonance();
    f.transport->replyOk();
    f.transport->clearSent();
    QVERIFY(f.c().effectRunning());
    QVERIFY(f.c().heartbeatActive());
}

} // namespace

class TestChannel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // --- What goes out ------------------------------------------------------------
    void constructionSendsOneStatusRequest();
    void everyRequestCarriesTheSameClientHeaders();
    void acceptedAddressesReachTheService_data();
    void acceptedAddressesReachTheService();
    void effectAddressKeepsTheTrimmedBase();

    // --- One request at a time ------------------------------------------------------
    void operationsWhileInFlightChangeNothing();
    void verifyConnectionOnlyWhenControlsEnabled();

    // --- Reply handling -------------------------------------------------------------
    void successLine_data();
    void successLine();
    void failedReplyLine_data();
    void failedReplyLine();
    void transportFailureLine();
    void cutOrStatuslessReplyIsInvalid();
    void statusSummaryLandsAboveRequestLine();
    void failedStatusLogsNoSummary();
    void successfulHeartbeatAndUpdateAreNotLogged();
    void failedHeartbeatIsLoggedAndStops();
    void pausedIsCopiedOnlyInControlledMode();

    // --- Refused address ------------------------------------------------------------
    void refusedAddressSendsNothing_data();
    void refusedAddressSendsNothing();
    void refusedAddressAtConstruction();
    void refusedAddressResetsEffectState();

    // --- Stop -----------------------------------------------------------------------
    void stopWhileIdleGoesToAddressField();
    void stopDuringRequestIsSentAfterIt();
    void twoStopsSendOne();
    void failedStopStillResetsAndCallsTermination_data();
    void failedStopStillResetsAndCallsTermination();
    void failedControlledStartStopsAtTheSameAddress_data();
    void failedControlledStartStopsAtTheSameAddress();

    // --- Termination and deactivation -----------------------------------------------
    void terminationWhileIdleCompletesAtOnce();
    void terminationWithRequestInFlightWaitsForTheStop();
    void terminationDuringEffectWaitsForStopReply();
    void terminationWithBadAddressCompletesAtOnce();
    void terminationReplacesEarlierCompletion();
    void deactivationWhileIdleDoesNothing();
    void deactivationDuringSequenceWindowStops();

    // --- Lifetime -------------------------------------------------------------------
    void outcomeAfterControllerIsGoneIsDropped();
    void timersAfterControllerIsGoneDoNothing();
};

// --- What goes out --------------------------------------------------------------------

void TestChannel::constructionSendsOneStatusRequest() {
    ControllerFixture f(defaultAddress, /*answerStatus=*/false);
    TesterController &c = f.c();
    QCOMPARE(f.transport->sent().size(), 1);
    const auto &sent = f.transport->last();
    QCOMPARE(sent.request.method, QByteArrayLiteral("GET"));
    QCOMPARE(sent.request.url.toString(), QStringLiteral("http://127.0.0.1:59723/v1/status"));
    QVERIFY(!sent.request.body.has_value());
    QVERIFY(!sent.hasHeader("Content-Type"));
    QCOMPARE(sent.header("Accept"), QByteArrayLiteral("application/json"));
    QCOMPARE(sent.header("X-VBL-Client-Name"), QByteArrayLiteral("API Tester"));

    const QRegularExpression uuid(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"));
    const QString client = QString::fromLatin1(sent.header("X-VBL-Client"));
    QVERIFY2(uuid.match(client).hasMatch(), qPrintable(client));
    QCOMPARE(client, c.clientID());

    QCOMPARE(c.status(), QStringLiteral("Collegamento al servizio API locale\u2026"));
    QVERIFY(c.busy());
    QVERIFY(!c.connected());
    QVERIFY(c.entries().isEmpty());
    QVERIFY(!c.controlsEnabled());
    QVERIFY(!c.effectAddress().has_value()); // a status request fixes no effect address

    f.transport->replyOk();
    QVERIFY(!c.busy());
    QVERIFY(c.connected());
    QVERIFY(c.controlsEnabled());
    QCOMPARE(f.transport->sent().size(), 1);
}

void TestChannel::everyRequestCarriesTheSameClientHeaders() {
    ControllerFixture f(defaultAddress, false);
    f.transport->replyOk();
    f.c().impulse(QStringLiteral("soft"));
    f.transport->replyOk();
    f.c().verifyConnection();
    f.transport->replyOk();
    f.c().stop();

    const auto &sent = f.transport->sent();
    QCOMPARE(sent.size(), 4);
    const QByteArray client = sent.first().header("X-VBL-Client");
    QCOMPARE(client.size(), 36);
    for (const auto &request : sent) {
        QCOMPARE(request.header("X-VBL-Client"), client);
        QCOMPARE(request.header("X-VBL-Client-Name"), QByteArrayLiteral("API Tester"));
        QCOMPARE(request.header("Accept"), QByteArrayLiteral("application/json"));
        const bool isGet = request.path() == QStringLiteral("/v1/status");
        QCOMPARE(request.request.method, isGet ? QByteArrayLiteral("GET") : QByteArrayLiteral("POST"));
        QCOMPARE(request.hasHeader("Content-Type"), !isGet);
        QCOMPARE(request.request.body.has_value(), !isGet);
        if (!isGet) {
            QCOMPARE(request.header("Content-Type"), QByteArrayLiteral("application/json"));
        }
    }

    ControllerFixture other(defaultAddress, false);
    QVERIFY(other.transport->last().header("X-VBL-Client") != client);
}

void TestChannel::acceptedAddressesReachTheService_data() {
    vibrelle::testing::addAcceptedAddressRows();
}

void TestChannel::acceptedAddressesReachTheService() {
    QFETCH(QString, address);
    QFETCH(QString, url);
    ControllerFixture f(address, false);
    QCOMPARE(f.transport->sent().size(), 1);
    QCOMPARE(f.transport->last().request.url.toString(), url);
    QCOMPARE(f.c().status(), QStringLiteral("Collegamento al servizio API locale\u2026"));
}

void TestChannel::effectAddressKeepsTheTrimmedBase() {
    ControllerFixture f(QStringLiteral(" http://127.0.0.1:59723/ \n"));
    f.c().impulse(QStringLiteral("crisp"));
    QCOMPARE(f.transport->last().request.url.toString(),
             QStringLiteral("http://127.0.0.1:59723/v1/impulses"));
    QCOMPARE(f.c().effectAddress(), std::optional<QString>(QStringLiteral("http://127.0.0.1:59723/")));
    f.transport->replyOk();
    QVERIFY(!f.c().effectAddress().has_value()); // an impulse leaves no effect behind
}

// --- One request at a time ---------------------------------------------------------------

void TestChannel::operationsWhileInFlightChangeNothing() {
    const QList<QPair<const char *, std::function<void(TesterController &)>>> operations{
        {"verifyConnection", [](TesterController &c) { c.verifyConnection(); }},
        {"impulse", [](TesterController &c) { c.impulse(QStringLiteral("crisp")); }},
        {"sequence", [](TesterController &c) { c.sequence(); }},
        {"timedResonance", [](TesterController &c) { c.timedResonance(); }},
        {"controlledResonance", [](TesterController &c) { c.controlledResonance(); }},
        {"beginGesture", [](TesterController &c) { c.beginGesture(false); }},
        {"toggleContinuousGesture", [](TesterController &c) { c.toggleContinuousGesture(); }},
        {"endGesturePadDrag", [](TesterController &c) { c.endGesturePadDrag(); }},
        {"togglePause", [](TesterController &c) { c.togglePause(); }},
        {"beginCueDrag", [](TesterController &c) { c.beginCueDrag(); }},
        {"updateCueDrag", [](TesterController &c) { c.updateCueDrag(100); }},
        {"endCueDrag", [](TesterController &c) { c.endCueDrag(); }},
    };
    for (const auto &operation : operations) {
        // The construction's status request is in flight.
        ControllerFixture f(defaultAddress, false);
        f.advance(0.2);
        const Snapshot before = Snapshot::of(f.c());
        operation.second(f.c());
        f.advance(1.0);
        QVERIFY2(Snapshot::of(f.c()) == before, operation.first);
        QVERIFY2(f.transport->sent().size() == 1, operation.first);
        QVERIFY2(f.transport->openCount() == 1, operation.first);

        // The one reply completes the one request; nothing else was queued.
        f.transport->replyOk();
        QVERIFY2(f.c().entries().size() == 1, operation.first);
        QCOMPARE(topText(f.c()), QStringLiteral("GET /v1/status · 200 · 1200 ms · OK"));
        QCOMPARE(f.c().status(), QStringLiteral("Connesso · 1200 ms"));
        f.advance(1.0);
        QVERIFY2(f.transport->sent().size() == 1, operation.first);
    }
}

void TestChannel::verifyConnectionOnlyWhenControlsEnabled() {
    ControllerFixture f;
    startControlled(f);
    f.c().verifyConnection();
    QVERIFY(f.transport->sent().isEmpty());

    ControllerFixture idle;
    idle.c().verifyConnection();
    QCOMPARE(idle.transport->paths(), QStringList{QStringLiteral("/v1/status")});
    QCOMPARE(idle.transport->last().request.method, QByteArrayLiteral("GET"));
}

// --- Reply handling ------------------------------------------------------------------------

void TestChannel::successLine_data() {
    QTest::addColumn<bool>("impulse"); // else a status request through verifyConnection
    QTest::addColumn<double>("delay");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("status");

    QTest::newRow("impulse, emitted true, 4 ms")
        << true << 0.004 << 200 << QByteArray(R"({"ok":true,"emitted":true})")
        << QStringLiteral("POST /v1/impulses · 200 · 4 ms · OK · emitted: true")
        << QStringLiteral("Connesso · 4 ms");
    QTest::newRow("impulse, emitted false, truncated to 2 ms")
        << true << 0.0029 << 200 << QByteArray(R"({"ok":true,"emitted":false})")
        << QStringLiteral("POST /v1/impulses · 200 · 2 ms · OK · emitted: false")
        << QStringLiteral("Connesso · 2 ms");
    QTest::newRow("impulse, own message, no emitted")
        << true << 0.0 << 200 << QByteArray(R"({"ok":true,"message":"Impulso emesso"})")
        << QStringLiteral("POST /v1/impulses · 200 · 0 ms · Impulso emesso")
        << QStringLiteral("Connesso · 0 ms");
    QTest::newRow("impulse, emitted of wrong type")
        << true << 0.0999 << 200 << QByteArray(R"({"ok":true,"emitted":"yes"})")
        << QStringLiteral("POST /v1/impulses · 200 · 99 ms · OK") << QStringLiteral("Connesso · 99 ms");
    QTest::newRow("status after 1.2 s")
        << false << 1.2 << 200 << QByteArray(R"({"ok":true})")
        << QStringLiteral("GET /v1/status · 200 · 1200 ms · OK") << QStringLiteral("Connesso · 1200 ms");
    QTest::newRow("status 204 after 1.0009 s")
        << false << 1.0009 << 204 << QByteArray(R"({"ok":true})")
        << QStringLiteral("GET /v1/status · 204 · 1000 ms · OK") << QStringLiteral("Connesso · 1000 ms");
}

void TestChannel::successLine() {
    QFETCH(bool, impulse);
    QFETCH(double, delay);
    QFETCH(int, code);
    QFETCH(QByteArray, body);
    QFETCH(QString, line);
    QFETCH(QString, status);

    ControllerFixture f;
    f.c().verifyConnection(); // would be ignored if the fixture had left a request open
    f.transport->fail();      // connected now false, so the success below must set it
    f.transport->clearSent();
    QVERIFY(!f.c().connected());
    const int before = static_cast<int>(f.c().entries().size());

    if (impulse) {
        f.c().impulse(QStringLiteral("crisp"));
    } else {
        f.c().verifyConnection();
    }
    QCOMPARE(f.transport->sent().size(), 1);
    f.advance(delay);
    f.transport->reply(code, body);

    QCOMPARE(f.c().entries().size(), before + 1);
    QCOMPARE(topText(f.c()), line);
    QVERIFY(!topFailed(f.c()));
    QCOMPARE(f.c().status(), status);
    QVERIFY(f.c().connected());
    QVERIFY(!f.c().busy());
    QCOMPARE(f.transport->openCount(), 0);
}

void TestChannel::failedReplyLine_data() {
    QTest::addColumn<bool>("impulse");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("status");

    QTest::newRow("status 503, not JSON")
        << false << 503 << QByteArray("Service Unavailable")
        << QStringLiteral("GET /v1/status · 503 · 7 ms · Risposta non valida")
        << QStringLiteral("503: Risposta non valida");
    QTest::newRow("status 200, ok false with error")
        << false << 200 << QByteArray(R"({"ok":false,"error":"Servizio in avvio"})")
        << QStringLiteral("GET /v1/status · 200 · 7 ms · Servizio in avvio")
        << QStringLiteral("200: Servizio in avvio");
    QTest::newRow("status 302") << false << 302 << QByteArray()
                                << QStringLiteral("GET /v1/status · 302 · 7 ms · Risposta non valida")
                                << QStringLiteral("302: Risposta non valida");
    QTest::newRow("impulse 409 with error and emitted")
        << true << 409 << QByteArray(R"({"ok":false,"error":"Occupato","emitted":false})")
        << QStringLiteral("POST /v1/impulses · 409 · 7 ms · Occupato · emitted: false")
        << QStringLiteral("409: Occupato");
    QTest::newRow("impulse 500, ok true")
        << true << 500 << QByteArray(R"({"ok":true})")
        << QStringLiteral("POST /v1/impulses · 500 · 7 ms · Risposta non valida")
        << QStringLiteral("500: Risposta non valida");
}

void TestChannel::failedReplyLine() {
    QFETCH(bool, impulse);
    QFETCH(int, code);
    QFETCH(QByteArray, body);
    QFETCH(QString, line);
    QFETCH(QString, status);

    ControllerFixture f;
    QVERIFY(f.c().connected());
    if (impulse) {
        f.c().impulse(QStringLiteral("crisp"));
    } else {
        f.c().verifyConnection();
    }
    f.advance(0.007);
    f.transport->reply(code, body);

    QCOMPARE(topText(f.c()), line);
    QVERIFY(topFailed(f.c()));
    QCOMPARE(f.c().status(), status);
    QVERIFY(!f.c().connected());
    if (impulse) {
        // A failed effect request is followed at once by the automatic stop.
        QCOMPARE(f.transport->paths(),
                 (QStringList{QStringLiteral("/v1/impulses"), QStringLiteral("/v1/stop")}));
        QVERIFY(f.c().busy());
    } else {
        // A failed status request asks for nothing more.
        QCOMPARE(f.transport->paths(), QStringList{QStringLiteral("/v1/status")});
        QVERIFY(!f.c().busy());
        QVERIFY(f.c().controlsEnabled());
        f.advance(5.0);
        QCOMPARE(f.transport->sent().size(), 1);
    }
}

void TestChannel::transportFailureLine() {
    ControllerFixture f;
    QVERIFY(f.c().connected());
    f.c().verifyConnection();
    f.advance(0.3);
    f.transport->fail(QStringLiteral("Connection refused"));
    QCOMPARE(topText(f.c()), QStringLiteral("/v1/status · Connessione non riuscita: Connection refused"));
    QVERIFY(topFailed(f.c()));
    QCOMPARE(f.c().status(), QStringLiteral("Connessione non riuscita: Connection refused"));
    QVERIFY(!f.c().connected());
    QVERIFY(!f.c().busy());
    QVERIFY(f.c().controlsEnabled());
    f.advance(5.0);
    QCOMPARE(f.transport->sent().size(), 1);

    // An effect request that fails in transport is stopped like a failed reply.
    f.c().impulse(QStringLiteral("soft"));
    f.transport->fail(QStringLiteral("nessun dato dal servizio per 1,5 s"));
    QCOMPARE(topText(f.c()),
             QStringLiteral("/v1/impulses · Connessione non riuscita: nessun dato dal servizio per 1,5 s"));
    QVERIFY(topFailed(f.c()));
    QCOMPARE(f.transport->last().path(), QStringLiteral("/v1/stop"));
    f.transport->fail(QStringLiteral("Connection refused"));
    QCOMPARE(topText(f.c()), QStringLiteral("/v1/stop · Connessione non riuscita: Connection refused"));
    QVERIFY(!f.c().busy());
    QVERIFY(f.c().controlsEnabled());
    QCOMPARE(f.transport->openCount(), 0);
}

void TestChannel::cutOrStatuslessReplyIsInvalid() {
    auto clock = std::make_shared<ManualTimeSource>();
    auto owned = std::make_unique<OutcomeTransport>();
    OutcomeTransport &transport = *owned;
    TesterController c(defaultAddress, std::move(owned), clock);

    // A body cut at the transport's limit is never decoded, however well it starts.
    HttpOutcome cut;
    cut.statusCode = 200;
    cut.body = QByteArrayLiteral(R"({"ok":true,"state":"ready"})");
    cut.bodyTruncated = true;
    transport.complete(cut);
    QCOMPARE(c.entries().size(), 1);
    QCOMPARE(topText(c), QStringLiteral("GET /v1/status · 200 · 0 ms · Risposta non valida"));
    QVERIFY(topFailed(c));
    QCOMPARE(c.status(), QStringLiteral("200: Risposta non valida"));
    QVERIFY(!c.connected());

    // A reply without a status code counts as status 0.
    c.verifyConnection();
    QCOMPARE(transport.openCount(), 1);
    HttpOutcome statusless;
    statusless.body = QByteArrayLiteral(R"({"ok":true})");
    transport.complete(statusless);
    QCOMPARE(topText(c), QStringLiteral("GET /v1/status · 0 · 0 ms · Risposta non valida"));
    QCOMPARE(c.status(), QStringLiteral("0: Risposta non valida"));
}

void TestChannel::statusSummaryLandsAboveRequestLine() {
    ControllerFixture f(defaultAddress, false);
    f.advance(0.012);
    f.transport->replyOk(object({{QStringLiteral("available"), true},
                                 {QStringLiteral("state"), QStringLiteral("ready")},
                                 {QStringLiteral("version"), QStringLiteral("2")}}));
    QCOMPARE(f.c().entries().size(), 2);
    QCOMPARE(topText(f.c(), 0), QStringLiteral("state: ready · available: true"));
    QVERIFY(!topFailed(f.c(), 0));
    QCOMPARE(topText(f.c(), 1), QStringLiteral("GET /v1/status · 200 · 12 ms · OK"));
    QVERIFY(!topFailed(f.c(), 1));

    // Without any of the summary members only the request line is added.
    f.c().verifyConnection();
    f.transport->replyOk(object({{QStringLiteral("version"), QStringLiteral("2")}}));
    QCOMPARE(f.c().entries().size(), 3);
    QCOMPARE(topText(f.c()), QStringLiteral("GET /v1/status · 200 · 0 ms · OK"));
}

void TestChannel::failedStatusLogsNoSummary() {
    ControllerFixture f(defaultAddress, false);
    f.transport->replyJson(
        503, object({{QStringLiteral("ok"), false}, {QStringLiteral("state"), QStringLiteral("busy")}}));
    QCOMPARE(f.c().entries().size(), 1);
    QCOMPARE(topText(f.c()), QStringLiteral("GET /v1/status · 503 · 0 ms · Risposta non valida"));
}

void TestChannel::successfulHeartbeatAndUpdateAreNotLogged() {
    ControllerFixture f;
    f.c().controlledResonance();
    f.advance(0.02);
    f.transport->replyOk();
    f.transport->clearSent();
    const int logged = static_cast<int>(f.c().entries().size());
    QCOMPARE(f.c().status(), QStringLiteral("Connesso · 20 ms"));

    f.advance(0.5); // first heartbeat tick: the lease is 0.5 s old
    QCOMPARE(f.transport->paths(), QStringList{QStringLiteral("/v1/heartbeat")});
    QCOMPARE(f.transport->last().rawBody(), QByteArrayLiteral("{}"));
    f.advance(0.003);
    f.transport->replyOk();
    QCOMPARE(f.c().entries().size(), logged);
    QCOMPARE(f.c().status(), QStringLiteral("Connesso · 20 ms")); // a heartbeat leaves the status line alone

    f.c().setPulseRateHz(42);
    f.advance(0.001); // the start request is long past: the update goes out after the minimum delay
    QCOMPARE(f.transport->last().path(), QStringLiteral("/v1/resonance/update"));
    QCOMPARE(f.transport->last().rawBody(), QByteArrayLiteral(R"({"pulseRateHz":42})"));
    f.advance(0.005);
    f.transport->replyOk();
    QCOMPARE(f.c().entries().size(), logged);
    QCOMPARE(f.c().status(), QStringLiteral("Parametri aggiornati · 5 ms"));
    QVERIFY(f.c().connected());
}

void TestChannel::failedHeartbeatIsLoggedAndStops() {
    ControllerFixture f;
    startControlled(f);
    f.advance(0.5);
    QCOMPARE(f.transport->paths(), QStringList{QStringLiteral("/v1/heartbeat")});
    f.transport->replyJson(410, object({{QStringLiteral("ok"), false},
                                        {QStringLiteral("error"), QStringLiteral("Lease scaduto")}}));
    QCOMPARE(topText(f.c()), QStringLiteral("POST /v1/heartbeat · 410 · 0 ms · Lease scaduto"));
    QVERIFY(topFailed(f.c()));
    QCOMPARE(f.c().status(), QStringLiteral("410: Lease scaduto"));
    QVERIFY(!f.c().heartbeatActive());
    QCOMPARE(f.transport->last().path(), QStringLiteral("/v1/stop"));
    QCOMPARE(f.transport->last().request.url.toString(), QStringLiteral("http://127.0.0.1:59723/v1/stop"));
}

void TestChannel::pausedIsCopiedOnlyInControlledMode() {
    ControllerFixture f(defaultAddress, false);
    f.transport->replyOk(object({{QStringLiteral("paused"), true}}));
    QVERIFY(!f.c().controlledPaused());

    f.c().controlledResonance();
    f.transport->replyOk(object({{QStringLiteral("paused"), true}}));
    QVERIFY(f.c().controlledPaused());
}

// --- Refused address ---------------------------------------------------------------------------

void TestChannel::refusedAddressSendsNothing_data() {
    vibrelle::testing::addRefusedAddressRows();
}

void TestChannel::refusedAddressSendsNothing() {
    QFETCH(QString, address);
    ControllerFixture f;
    QVERIFY(f.c().connected());
    const int logged = static_cast<int>(f.c().entries().size());
    f.c().setAddress(address);
    f.c().verifyConnection();

    QVERIFY(f.transport->sent().isEmpty());
    QCOMPARE(f.c().status(), invalidAddressText);
    QVERIFY(!f.c().connected());
    QCOMPARE(f.c().entries().size(), logged + 1);
    QCOMPARE(topText(f.c()), invalidAddressText);
    QVERIFY(topFailed(f.c()));
    QVERIFY(!f.c().busy());
    QVERIFY(!f.c().requestInFlight());
    QVERIFY(f.c().controlsEnabled());
}

void TestChannel::refusedAddressAtConstruction() {
    ControllerFixture f(QStringLiteral("http://localhost:59723"), false);
    QVERIFY(f.transport->sent().isEmpty());
    QCOMPARE(f.c().status(), invalidAddressText);
    QCOMPARE(f.c().entries().size(), 1);
    QVERIFY(topFailed(f.c()));
    QVERIFY(!f.c().busy());
}

void TestChannel::refusedAddressResetsEffectState() {
    const QList<QPair<const char *, std::function<void(TesterController &)>>> starts{
        {"timed", [](TesterController &c) { c.timedResonance(); }},
        {"controlled", [](TesterController &c) { c.controlledResonance(); }},
        {"gesture", [](TesterController &c) { c.beginGesture(true); }},
        {"cue drag", [](TesterController &c) { c.beginCueDrag(); }},
        {"sequence", [](TesterController &c) { c.sequence(); }},
    };
    for (const auto &start : starts) {
        ControllerFixture f;
        f.c().setAddress(QStringLiteral("https://127.0.0.1:59723"));
        start.second(f.c());
        QVERIFY2(f.transport->sent().isEmpty(), start.first);
        QCOMPARE(f.c().status(), invalidAddressText);
        QVERIFY2(!f.c().resonanceMode().has_value(), start.first);
        QVERIFY2(!f.c().gestureWanted() && !f.c().continuousGesture(), start.first);
        QVERIFY2(!f.c().cueDragging() && !f.c().effectRunning(), start.first);
        QVERIFY2(!f.c().effectAddress().has_value(), start.first);
        QVERIFY2(f.c().timedStart() == 0 && f.c().timedDeadline() == 0, start.first);
        QVERIFY2(f.c().controlsEnabled(), start.first);
        f.advance(2.0);
        QVERIFY2(f.transport->sent().isEmpty(), start.first);
    }
}

// --- Stop ----------------------------------------------------------------------------------------

void TestChannel::stopWhileIdleGoesToAddressField() {
    ControllerFixture f;
    f.c().setAddress(QStringLiteral("http://127.0.0.1:4100/"));
    f.c().stop();
    QCOMPARE(f.transport->last().request.url.toString(), QStringLiteral("http://127.0.0.1:4100/v1/stop"));
    QCOMPARE(f.transport->last().rawBody(), QByteArrayLiteral("{}"));
    QVERIFY(!f.c().pendingStop());
    f.advance(0.008);
    f.transport->replyOk();
    QCOMPARE(f.c().status(), QStringLiteral("Feedback fermato."));
    QCOMPARE(topText(f.c()), QStringLiteral("POST /v1/stop · 200 · 8 ms · OK"));
    QVERIFY(f.c().controlsEnabled());
}

void TestChannel::stopDuringRequestIsSentAfterIt() {
    ControllerFixture f;
    f.c().controlledResonance();
    f.c().stop();
    QCOMPARE(f.transport->paths(), QStringList{QStringLiteral("/v1/resonance")});
    QVERIFY(f.c().pendingStop());
    QVERIFY(!f.c().controlsEnabled());
    QVERIFY(!f.c().controlledParametersEditable());

    f.c().setAddress(QStringLiteral("http://127.0.0.1:4200")); // the stop follows the effect, not the field
    f.advance(0.01);
    f.transport->replyOk();
    QCOMPARE(f.transport->paths(),
             (QStringList{QStringLiteral("/v1/resonance"), QStringLiteral("/v1/stop")}));
    QCOMPARE(f.transport->last().request.url.toString(), QStringLiteral("http://127.0.0.1:59723/v1/stop"));
    QVERIFY(!f.c().effectRunning());
    QVERIFY(!f.c().heartbeatActive());
    QVERIFY(!f.c().pendingStop());
    QVERIFY(f.c().busy());

    f.transport->replyOk();
    QCOMPARE(f.c().status(), QStringLiteral("Feedback fermato."));
    QCOMPARE(topText(f.c(), 0), QStringLiteral("POST /v1/stop · 200 · 0 ms · OK"));
    QCOMPARE(topText(f.c(), 1), QStringLiteral("POST /v1/resonance · 200 · 10 ms · OK"));
    QVERIFY(!f.c().resonanceMode().has_value());
    QVERIFY(f.c().controlsEnabled());
    f.advance(3.0);
    QCOMPARE(f.transport->sent().size(), 2);
}

void TestChannel::twoStopsSendOne() {
    {
        ControllerFixture f;
        startControlled(f);
        f.c().stop();
        f.c().stop();
        QCOMPARE(f.transport->paths(), QStringList{QStringLiteral("/v1/stop")});
        QVERIFY(f.c().pendingStop()); // the second stop waits, and is absorbed by the first one's completion
        f.transport->replyOk();
        QVERIFY(!f.c().pendingStop());
        QCOMPARE(f.transport->openCount(), 0);
        f.advance(3.0);
        QCOMPARE(countPath(*f.transport, QStringLiteral("/v1/stop")), 1);
        QVERIFY(f.c().controlsEnabled());
    }
    {
        // Pressed three times while the start request is still out: one stop afterwards.
        ControllerFixture f;
        f.c().controlledResonance();
        f.c().stop();
        f.c().stop();
        f.c().stop();
        f.transport->replyOk();
        f.transport->replyOk();
        f.advance(3.0);
        QCOMPARE(f.transport->paths(),
                 (QStringList{QStringLiteral("/v1/resonance"), QStringLiteral("/v1/stop")}));
        QCOMPARE(f.transport->openCount(), 0);
    }
}

void TestChannel::failedStopStillResetsAndCallsTermination_data() {
    QTest::addColumn<int>("code"); // 0: transport failure
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("line");
    QTest::newRow("500") << 500 << QByteArray(R"({"ok":false,"error":"Guasto"})")
                         << QStringLiteral("POST /v1/stop · 500 · 0 ms · Guasto");
    QTest::newRow("200 but not ok") << 200 << QByteArray(R"({"ok":false})")
                                    << QStringLiteral("POST /v1/stop · 200 · 0 ms · Risposta non valida");
    QTest::newRow("transport failure")
        << 0 << QByteArray() << QStringLiteral("/v1/stop · Connessione non riuscita: Connection refused");
}

void TestChannel::failedStopStillResetsAndCallsTermination() {
    QFETCH(int, code);
    QFETCH(QByteArray, body);
    QFETCH(QString, line);

    for (bool quitting : {false, true}) {
        ControllerFixture f;
        startControlled(f);
        int calls = 0;
        if (quitting) {
            f.c().stopForTermination([&calls] { ++calls; });
            QCOMPARE(topText(f.c()), QStringLiteral("Stop automatico: chiusura del tester"));
            QVERIFY(!topFailed(f.c()));
        } else {
            f.c().stop();
        }
        QCOMPARE(f.transport->paths(), QStringList{QStringLiteral("/v1/stop")});
        QCOMPARE(calls, 0);

        if (code == 0) {
            f.transport->fail();
        } else {
            f.transport->reply(code, body);
        }
        QCOMPARE(topText(f.c()), line);
        QVERIFY(topFailed(f.c()));
        QCOMPARE(calls, quitting ? 1 : 0);
        QVERIFY(!f.c().terminationPending());
        QVERIFY(!f.c().effectRunning());
        QVERIFY(!f.c().resonanceMode().has_value());
        QVERIFY(!f.c().effectAddress().has_value());
        QVERIFY(!f.c().pendingStop());
        QVERIFY(!f.c().heartbeatActive());
        QVERIFY(!f.c().connected());
        QVERIFY(f.c().controlsEnabled());
        // A failed stop is not answered with yet another stop, and nothing keeps the lease.
        f.advance(3.0);
        QCOMPARE(f.transport->sent().size(), 1);
        QCOMPARE(calls, quitting ? 1 : 0);
    }
}

void TestChannel::failedControlledStartStopsAtTheSameAddress_data() {
    QTest::addColumn<bool>("transportFailure");
    QTest::addColumn<QString>("failedLine");
    QTest::newRow("409 reply") << false
                               << QStringLiteral("POST /v1/resonance · 409 · 0 ms · Risorsa occupata");
    QTest::newRow("transport failure")
        << true << QStringLiteral("/v1/resonance · Connessione non riuscita: Connection refused");
}

void TestChannel::failedControlledStartStopsAtTheSameAddress() {
    QFETCH(bool, transportFailure);
    QFETCH(QString, failedLine);

    ControllerFixture f(QStringLiteral("http://127.0.0.1:4300"));
    f.c().controlledResonance();
    f.c().setAddress(QStringLiteral("http://127.0.0.1:4301"));
    if (transportFailure) {
        f.transport->fail();
    } else {
        f.transport->replyJson(409, object({{QStringLiteral("ok"), false},
                                            {QStringLiteral("error"), QStringLiteral("Risorsa occupata")}}));
    }
    QCOMPARE(topText(f.c()), failedLine);
    QVERIFY(topFailed(f.c()));
    QCOMPARE(f.transport->paths(),
             (QStringList{QStringLiteral("/v1/resonance"), QStringLiteral("/v1/stop")}));
    QCOMPARE(f.transport->last().request.url.toString(), QStringLiteral("http://127.0.0.1:4300/v1/stop"));
    QVERIFY(!f.c().effectRunning());
    QVERIFY(!f.c().heartbeatActive());
    QVERIFY(!f.c().pendingStop());
    QVERIFY(f.c().busy());

    f.transport->replyOk();
    QCOMPARE(topText(f.c(), 0), QStringLiteral("POST /v1/stop · 200 · 0 ms · OK"));
    QVERIFY(!topFailed(f.c(), 0));
    QCOMPARE(topText(f.c(), 1), failedLine);
    QCOMPARE(f.c().status(), QStringLiteral("Feedback fermato."));
    QVERIFY(f.c().connected());
    QVERIFY(!f.c().resonanceMode().has_value());
    QVERIFY(f.c().controlsEnabled());
    f.advance(3.0);
    QCOMPARE(f.transport->sent().size(), 2);
}

// --- Termination and deactivation ------------------------------------------------------------

void TestChannel::terminationWhileIdleCompletesAtOnce() {
    ControllerFixture f;
    const int logged = static_cast<int>(f.c().entries().size());
    int calls = 0;
    f.c().stopForTermination([&calls] { ++calls; });
    QCOMPARE(calls, 1);
    QCOMPARE(f.c().entries().size(), logged);
    QVERIFY(f.transport->sent().isEmpty());
    QVERIFY(!f.c().terminationPending());
    f.advance(3.0);
    QCOMPARE(calls, 1);
    QVERIFY(f.transport->sent().isEmpty());
}

void TestChannel::terminationWithRequestInFlightWaitsForTheStop() {
    ControllerFixture f(defaultAddress, false); // only the status request is out
    int calls = 0;
    f.c().stopForTermination([&calls] { ++calls; });
    QCOMPARE(topText(f.c()), QStringLiteral("Stop automatico: chiusura del tester"));
    QVERIFY(!topFailed(f.c()));
    QCOMPARE(f.transport->sent().size(), 1);
    QCOMPARE(calls, 0);

    f.transport->replyOk();
    QCOMPARE(f.transport->paths(), (QStringList{QStringLiteral("/v1/status"), QStringLiteral("/v1/stop")}));
    QCOMPARE(f.transport->last().request.url.toString(), QStringLiteral("http://127.0.0.1:59723/v1/stop"));
    QCOMPARE(calls, 0);

    f.transport->replyOk();
    QCOMPARE(calls, 1);
    QCOMPARE(topText(f.c()), QStringLiteral("POST /v1/stop · 200 · 0 ms · OK"));
    f.advance(3.0);
    QCOMPARE(calls, 1);
    QCOMPARE(f.transport->sent().size(), 2);
}

void TestChannel::terminationDuringEffectWaitsForStopReply() {
    ControllerFixture f;
    startControlled(f);
    int calls = 0;
    f.c().stopForTermination([&calls] { ++calls; });
    QCOMPARE(topText(f.c()), QStringLiteral("Stop automatico: chiusura del tester"));
    QCOMPARE(f.transport->paths(), QStringList{QStringLiteral("/v1/stop")});
    QCOMPARE(calls, 0);
    f.advance(1.0); // no heartbeat in between, no second stop
    QCOMPARE(f.transport->sent().size(), 1);
    QCOMPARE(calls, 0);
    f.transport->replyOk();
    QCOMPARE(calls, 1);
    QVERIFY(!f.c().effectRunning());
}

void TestChannel::terminationWithBadAddressCompletesAtOnce() {
    {
        // Nothing could ever be sent: the completion runs at once.
        ControllerFixture f(QStringLiteral("http://localhost:59723"), false);
        int calls = 0;
        f.c().stopForTermination([&calls] { ++calls; });
        QCOMPARE(calls, 1);
        QVERIFY(f.transport->sent().isEmpty());
    }
    {
        // A request is out, and the stop that follows it is refused: the refusal completes.
        ControllerFixture f(defaultAddress, false);
        f.c().setAddress(QStringLiteral("http://localhost:59723"));
        int calls = 0;
        f.c().stopForTermination([&calls] { ++calls; });
        QCOMPARE(calls, 0);
        f.transport->replyOk();
        QCOMPARE(calls, 1);
        QCOMPARE(f.transport->sent().size(), 1);
        QCOMPARE(f.c().status(), invalidAddressText);
        QCOMPARE(topText(f.c()), invalidAddressText);
        QVERIFY(topFailed(f.c()));
        QVERIFY(!f.c().terminationPending());
        QVERIFY(!f.c().pendingStop());
    }
}

void TestChannel::terminationReplacesEarlierCompletion() {
    ControllerFixture f;
    startControlled(f);
    int first = 0;
    int second = 0;
    f.c().stopForTermination([&first] { ++first; });
    f.c().stopForTermination([&second] { ++second; });
    f.transport->replyOk();
    QCOMPARE(first, 0);
    QCOMPARE(second, 1);
    f.advance(3.0);
    QCOMPARE(countPath(*f.transport, QStringLiteral("/v1/stop")), 1);
    QCOMPARE(f.transport->openCount(), 0);
}

void TestChannel::deactivationWhileIdleDoesNothing() {
    const QString reason = QStringLiteral("il tester ha perso il primo piano");
    {
        ControllerFixture f;
        const Snapshot before = Snapshot::of(f.c());
        f.c().stopOnDeactivation(reason);
        QVERIFY(Snapshot::of(f.c()) == before);
        QVERIFY(f.transport->sent().isEmpty());
    }
    {
        // A status request in flight is not an effect: still nothing.
        ControllerFixture f(defaultAddress, false);
        const Snapshot before = Snapshot::of(f.c());
        f.c().stopOnDeactivation(reason);
        QVERIFY(Snapshot::of(f.c()) == before);
        f.transport->replyOk();
        QCOMPARE(f.transport->sent().size(), 1);
    }
}

void TestChannel::deactivationDuringSequenceWindowStops() {
    ControllerFixture f;
    f.c().sequence();
    f.transport->replyOk();
    f.transport->clearSent();
    QVERIFY(f.c().effectRunning());
    f.advance(0.1);
    f.c().stopOnDeactivation(QStringLiteral("il tester ha perso il primo piano"));
    QCOMPARE(topText(f.c()), QStringLiteral("Stop automatico: il tester ha perso il primo piano"));
    QVERIFY(!topFailed(f.c()));
    QCOMPARE(f.transport->paths(), QStringList{QStringLiteral("/v1/stop")});
    QVERIFY(!f.c().effectEndPending());
    f.transport->replyOk();
    QVERIFY(!f.c().effectRunning());
    QCOMPARE(f.c().status(), QStringLiteral("Feedback fermato."));
}

// --- Lifetime -----------------------------------------------------------------------------------

void TestChannel::outcomeAfterControllerIsGoneIsDropped() {
    auto fake = std::make_shared<FakeTransport>();
    auto clock = std::make_shared<ManualTimeSource>();
    auto controller = std::make_unique<TesterController>(defaultAddress,
                                                         std::make_unique<ForwardingTransport>(fake), clock);
    int changes = 0;
    QObject::connect(controller.get(), &TesterController::changed, [&changes] { ++changes; });
    QCOMPARE(fake->openCount(), 1);
    controller.reset();
    const int changesAtDestruction = changes;
    fake->replyOk();
    QCOMPARE(changes, changesAtDestruction);
    QCOMPARE(fake->sent().size(), 1);
}

void TestChannel::timersAfterControllerIsGoneDoNothing() {
    auto fake = std::make_shared<FakeTransport>();
    auto clock = std::make_shared<ManualTimeSource>();
    auto controller = std::make_unique<TesterController>(defaultAddress,
                                                         std::make_unique<ForwardingTransport>(fake), clock);
    fake->replyOk();
    controller->controlledResonance();
    fake->replyOk();
    controller->setPulseRateHz(50); // arms the live-update timer as well
    QVERIFY(controller->heartbeatActive());
    QVERIFY(clock->activeTimerCount() >= 2);
    controller.reset();
    QCOMPARE(clock->activeTimerCount(), 0);
    clock->advance(5.0);
    QCOMPARE(fake->sent().size(), 2);
}

QTEST_GUILESS_MAIN(TestChannel)
#include "test_channel.moc"
