// The HTTP transport against a real server on 127.0.0.1 started by the test: what the
// server sees, what comes back, redirects and cookies refused, the two time-outs (the
// only checks here that run on real time), the body cap, and the controller's log after
// real exchanges.

#include "api/NetworkTransport.h"
#include "api/WireFormat.h"
#include "core/TesterController.h"
#include "support/ScriptedServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <memory>

using namespace vibrelle;
using vibrelle::testing::RecordedRequest;
using vibrelle::testing::ScriptedServer;
using Behaviour = ScriptedServer::Behaviour;

Q_DECLARE_METATYPE(vibrelle::testing::ScriptedServer::Behaviour)

namespace {

constexpr int patience = 5000; // ms; upper bound of every wait below

const QByteArray clientID = QByteArrayLiteral("0F8E4A52-3C1D-4B7E-9A60-2D5F11C7B934");

HttpRequest makeRequest(const ScriptedServer &server, const QString &path, std::optional<QByteArray> body) {
    HttpRequest request;
    request.method = methodForBody(body.has_value());
    request.url = QUrl(server.baseUrl() + path);
    request.headers = {
        {"X-VBL-Client", clientID}, {"X-VBL-Client-Name", "API Tester"}, {"Accept", "application/json"}};
    if (body) {
        request.headers.append({QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json")});
    }
    request.body = std::move(body);
    return request;
}

HttpRequest getStatus(const ScriptedServer &server) {
    return makeRequest(server, QStringLiteral("/v1/status"), std::nullopt);
}

// One exchange and everything observable about its completion.
struct Exchange {
    std::optional<HttpOutcome> outcome;
    int calls = 0;
    bool calledInsideSend = false;
    bool onMainThread = false;
    qint64 elapsedMs = -1;

    void start(HttpTransport &transport, const HttpRequest &request) {
        m_clock.start();
        m_inside = true;
        transport.send(request, [this](const HttpOutcome &result) {
            ++calls;
            calledInsideSend = calledInsideSend || m_inside;
            onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            elapsedMs = m_clock.elapsed();
            outcome = result;
        });
        m_inside = false;
    }

private:
    QElapsedTimer m_clock;
    bool m_inside = false;
};

quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QByteArray jsonOfSize(qsizetype size) {
    const QByteArray head = "{\"ok\":true,\"pad\":\"";
    const QByteArray tail = "\"}";
    return head + QByteArray(size - head.size() - tail.size(), 'x') + tail;
}

} // namespace

class TestTransport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // --- On the wire ------------------------------------------------------------------
    void getAsTheServerSawIt();
    void postAsTheServerSawIt();
    void postWithoutBodyKeepsItsContentType();
    void everyStatusIsAReply_data();
    void everyStatusIsAReply();
    void redirectIsNotFollowed_data();
    void redirectIsNotFollowed();
    void cookiesAreNeverSentBack();

    // --- Failures and limits ----------------------------------------------------------
    void connectionRefusedFailsQuickly();
    void closedOrResetConnectionFails_data();
    void closedOrResetConnectionFails();
    void timeOutsFailTheExchange_data();
    void timeOutsFailTheExchange();
    void bodyUpToTheCapIsKept();
    void oversizedBodyIsCapped_data();
    void oversizedBodyIsCapped();
    void completionNeverRunsInsideSend();
    void destroyedTransportNeverCallsBack();

    // --- The controller on a real exchange --------------------------------------------
    void controllerLogsARealStatusExchange();
    void controllerOnRealFailures();
};

// --- On the wire ---------------------------------------------------------------------------

void TestTransport::getAsTheServerSawIt() {
    ScriptedServer server;
    QVERIFY(server.listen());
    const QByteArray body = R"({"ok":true,"state":"ready"})";
    server.setDefault({Behaviour::reply, ScriptedServer::response(200, body)});

    NetworkTransport transport;
    Exchange exchange;
    exchange.start(transport, getStatus(server));
    QTRY_VERIFY_WITH_TIMEOUT(exchange.outcome.has_value(), patience);

    QCOMPARE(server.requests().size(), 1);
    const RecordedRequest &seen = server.requests().first();
    QCOMPARE(seen.method, QByteArrayLiteral("GET"));
    QCOMPARE(seen.target, QByteArrayLiteral("/v1/status"));
    QVERIFY2(seen.raw.startsWith("GET /v1/status HTTP/1.1\r\n"), seen.raw.constData());
    QCOMPARE(seen.header("Host"), QStringLiteral("127.0.0.1:%1").arg(server.port()).toLatin1());
    QCOMPARE(seen.header("X-VBL-Client"), clientID);
    QCOMPARE(seen.header("X-VBL-Client-Name"), QByteArrayLiteral("API Tester"));
    QCOMPARE(seen.header("Accept"), QByteArrayLiteral("application/json"));
    QCOMPARE(seen.headerCount("Accept"), 1);
    QVERIFY2(!seen.hasHeader("Content-Type"), seen.raw.constData());
    QVERIFY(seen.header("Content-Length").isEmpty() || seen.header("Content-Length") == "0");
    QVERIFY(!seen.hasHeader("Cookie"));
    QVERIFY(seen.body.isEmpty());

    const HttpOutcome &outcome = *exchange.outcome;
    QVERIFY(!outcome.failed);
    QCOMPARE(outcome.statusCode, std::optional<int>(200));
    QCOMPARE(outcome.body, body);
    QVERIFY(!outcome.bodyTruncated);
    QCOMPARE(exchange.calls, 1);
    QVERIFY(exchange.onMainThread);
    QVERIFY(!exchange.calledInsideSend);
}

void TestTransport::postAsTheServerSawIt() {
    ScriptedServer server;
    QVERIFY(server.listen());
    server.setDefault({Behaviour::reply, ScriptedServer::response(200, R"({"ok":true,"emitted":true})")});

    NetworkTransport transport;
    const QByteArray body = *encodeBody(sequenceBody(0.625));
    Exchange exchange;
    exchange.start(transport, makeRequest(server, QStringLiteral("/v1/sequences"), body));
    QTRY_VERIFY_WITH_TIMEOUT(exchange.outcome.has_value(), patience);

    QCOMPARE(server.requests().size(), 1);
    const RecordedRequest &seen = server.requests().first();
    QVERIFY2(seen.raw.startsWith("POST /v1/sequences HTTP/1.1\r\n"), seen.raw.constData());
    QCOMPARE(seen.body, body);
    QCOMPARE(seen.header("Content-Length"), QByteArray::number(body.size()));
    QCOMPARE(seen.header("Content-Type"), QByteArrayLiteral("application/json"));
    QCOMPARE(seen.headerCount("Content-Type"), 1);
    QCOMPARE(seen.header("X-VBL-Client"), clientID);
    QCOMPARE(seen.header("X-VBL-Client-Name"), QByteArrayLiteral("API Tester"));
    QCOMPARE(seen.header("Accept"), QByteArrayLiteral("application/json"));
    QCOMPARE(exchange.outcome->statusCode, std::optional<int>(200));
    QCOMPARE(exchange.outcome->body, QByteArrayLiteral(R"({"ok":true,"emitted":true})"));
}

void TestTransport::postWithoutBodyKeepsItsContentType() {
    // A body that could not be encoded goes out as an empty POST, content type unchanged.
    ScriptedServer server;
    QVERIFY(server.listen());
    server.setDefault(
        {Behaviour::reply, ScriptedServer::response(400, R"({"ok":false,"error":"Corpo mancante"})")});

    NetworkTransport transport;
    HttpRequest request = makeRequest(server, QStringLiteral("/v1/impulses"), QByteArray());
    request.body.reset();
    Exchange exchange;
    exchange.start(transport, request);
    QTRY_VERIFY_WITH_TIMEOUT(exchange.outcome.has_value(), patience);

    QCOMPARE(server.requests().size(), 1);
    const RecordedRequest &seen = server.requests().first();
    QCOMPARE(seen.method, QByteArrayLiteral("POST"));
    QCOMPARE(seen.header("Content-Type"), QByteArrayLiteral("application/json"));
    QVERIFY(seen.body.isEmpty());
    QCOMPARE(exchange.outcome->statusCode, std::optional<int>(400));
}

void TestTransport::everyStatusIsAReply_data() {
    QTest::addColumn<int>("status");
    for (int status : {200, 201, 204, 400, 401, 403, 404, 405, 407, 409, 410, 429, 500, 503}) {
        QTest::newRow(QByteArray::number(status).constData()) << status;
    }
}

void TestTransport::everyStatusIsAReply() {
    // The service's own words come back with any status; none of these is a transport failure.
    QFETCH(int, status);
    ScriptedServer server;
    QVERIFY(server.listen());
    const QByteArray body =
        status == 204 ? QByteArray() : QByteArrayLiteral(R"({"ok":false,"error":"Parole"})");
    server.setDefault({Behaviour::reply, ScriptedServer::response(status, body)});

    NetworkTransport transport;
    Exchange exchange;
    exchange.start(transport, makeRequest(server, QStringLiteral("/v1/stop"), QByteArrayLiteral("{}")));
    QTRY_VERIFY_WITH_TIMEOUT(exchange.outcome.has_value(), patience);
    QVERIFY2(!exchange.outcome->failed, qPrintable(exchange.outcome->errorDescription));
    QCOMPARE(exchange.outcome->statusCode, std::optional<int>(status));
    QCOMPARE(exchange.outcome->body, body);
    QCOMPARE(server.requests().size(), 1);
}

void TestTransport::redirectIsNotFollowed_data() {
    QTest::addColumn<int>("status");
    QTest::newRow("301") << 301;
    QTest::newRow("302") << 302;
    QTest::newRow("307") << 307;
    QTest::newRow("308") << 308;
}

void TestTransport::redirectIsNotFollowed() {
    QFETCH(int, status);
    ScriptedServer elsewhere;
    QVERIFY(elsewhere.listen());
    elsewhere.setDefault({Behaviour::reply, ScriptedServer::response(200, R"({"ok":true})")});

    ScriptedServer server;
    QVERIFY(server.listen());
    const QByteArray location = (elsewhere.baseUrl() + QStringLiteral("/v1/status")).toLatin1();
    server.setDefault(
        {Behaviour::reply, ScriptedServer::response(status, QByteArray(), {{"Location", location}})});

    NetworkTransport transport;
    Exchange exchange;
    exchange.start(transport, getStatus(server));
    QTRY_VERIFY_WITH_TIMEOUT(exchange.outcome.has_value(), patience);
    QVERIFY(!exchange.outcome->failed);
    QCOMPARE(exchange.outcome->statusCode, std::optional<int>(status));
    QCOMPARE(elsewhere.connectionCount(), 0);
    QCOMPARE(server.requests().size(), 1);

    // A second exchange on the same transport does not follow it either.
    Exchange again;
    again.start(transport, getStatus(server));
    QTRY_VERIFY_WITH_TIMEOUT(again.outcome.has_value(), patience);
    QCOMPARE(again.outcome->statusCode, std::optional<int>(status));
    QCOMPARE(elsewhere.connectionCount(), 0);
}

void TestTransport::cookiesAreNeverSentBack() {
    ScriptedServer server;
    QVERIFY(server.listen());
    server.enqueue(
        {Behaviour::reply, ScriptedServer::response(200, R"({"ok":true})",
                                                    {{"Set-Cookie", "session=abc123; Path=/"},
                                                     {"Set-Cookie", "lease=7; Path=/v1; Max-Age=3600"}})});
    server.setDefault({Behaviour::reply, ScriptedServer::response(200, R"({"ok":true})")});

    NetworkTransport transport;
    for (const QString &path :
         {QStringLiteral("/v1/status"), QStringLiteral("/v1/stop"), QStringLiteral("/v1/status")}) {
        Exchange exchange;
        const bool post = path == QStringLiteral("/v1/stop");
        exchange.start(transport,
                       makeRequest(server, path, post ? std::optional(QByteArray("{}")) : std::nullopt));
        QTRY_VERIFY_WITH_TIMEOUT(exchange.outcome.has_value(), patience);
        QCOMPARE(exchange.outcome->statusCode, std::optional<int>(200));
    }
    QCOMPARE(server.requests().size(), 3);
    for (const RecordedRequest &seen : server.requests()) {
        QVERIFY2(!seen.hasHeader("Cookie"), seen.raw.constData());
    }
}

// --- Failures and limits -----------------------------------------------------------------------

void TestTransport::connectionRefusedFailsQuickly() {
    NetworkTransport transport;
    HttpRequest request;
    request.method = "GET";
    request.url = QUrl(QStringLiteral("http://127.0.0.1:%1/v1/status").arg(closedPort()));
    Exchange exchange;
    exchange.start(transport, request);
    QTRY_VERIFY_WITH_TIMEOUT(exchange.outcome.has_value(), patience);
    QVERIFY(exchange.outcome->failed);
    QVERIFY(!exchange.outcome->statusCode.has_value());
    QVERIFY2(exchange.outcome->errorDescription.trimmed().size() > 3,
             qPrintable(exchange.outcome->errorDescription));
    QVERIFY2(exchange.elapsedMs < 1000, QByteArray::number(exchange.elapsedMs).constData());
    QVERIFY(!exchange.calledInsideSend);
    QVERIFY(exchange.onMainThread);
}

void TestTransport::closedOrResetConnectionFails_data() {
    QTest::addColumn<Behaviour>("behaviour");
    QTest::newRow("closed without reply") << Behaviour::closeWithoutReply;
    QTest::newRow("connection reset") << Behaviour::reset;
}

void TestTransport::closedOrResetConnectionFails() {
    QFETCH(Behaviour, behaviour);
    ScriptedServer server;
    QVERIFY(server.listen());
    server.setDefault({behaviour, {}});

    NetworkTransport transport;
    Exchange exchange;
    exchange.start(transport, makeRequest(server, QStringLiteral("/v1/impulses"), QByteArrayLiteral("{}")));
    QTRY_VERIFY_WITH_TIMEOUT(exchange.outcome.has_value(), patience);
    QVERIFY(exchange.outcome->failed);
    QVERIFY(!exchange.outcome->errorDescription.trimmed().isEmpty());
    QVERIFY2(exchange.elapsedMs < 1400, QByteArray::number(exchange.elapsedMs).constData());
    QCOMPARE(exchange.calls, 1);
    // The network stack may resend a request once when the peer drops it unanswered.
    QVERIFY(server.requests().size() >= 1 && server.requests().size() <= 2);
}

void TestTransport::timeOutsFailTheExchange_data() {
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<int>("earliestMs");
    QTest::addColumn<int>("latestMs");
    QTest::addColumn<QString>("description");
    QTest::newRow("stalled: no data for 1.5 s") << int(Behaviour::stall) << 1300 << 1900 << "nessun dato";
    QTest::newRow("headers, then silence")
        << int(Behaviour::headersThenSilence) << 1300 << 1900 << "nessun dato";
    QTest::newRow("dripped: over the 2 s deadline")
        << int(Behaviour::drip) << 1800 << 2600 << "tempo massimo";
}

void TestTransport::timeOutsFailTheExchange() {
    QFETCH(int, behaviour);
    QFETCH(int, earliestMs);
    QFETCH(int, latestMs);
    QFETCH(QString, description);
    ScriptedServer server;
    QVERIFY(server.listen());
    server.setDefault({Behaviour(behaviour), {}});

    NetworkTransport transport;
    Exchange exchange;
    exchange.start(transport, getStatus(server));
    QTRY_VERIFY_WITH_TIMEOUT(exchange.outcome.has_value(), patience);
    QVERIFY(exchange.outcome->failed);
    QVERIFY2(exchange.elapsedMs >= earliestMs && exchange.elapsedMs <= latestMs,
             QByteArray::number(exchange.elapsedMs).constData());
    QVERIFY2(exchange.outcome->errorDescription.contains(description),
             qPrintable(exchange.outcome->errorDescription));
    QCOMPARE(exchange.calls, 1);
}

void TestTransport::bodyUpToTheCapIsKept() {
    ScriptedServer server;
    QVERIFY(server.listen());
    const QByteArray body = jsonOfSize(1024 * 1024);
    server.setDefault({Behaviour::reply, ScriptedServer::response(200, body)});

    NetworkTransport transport;
    Exchange exchange;
    exchange.start(transport, getStatus(server));
    QTRY_VERIFY_WITH_TIMEOUT(exchange.outcome.has_value(), patience);
    QVERIFY(!exchange.outcome->failed);
    QVERIFY(!exchange.outcome->bodyTruncated);
    QCOMPARE(exchange.outcome->body.size(), body.size());
    QVERIFY(exchange.outcome->body == body);
}

void TestTransport::oversizedBodyIsCapped_data() {
    QTest::addColumn<Behaviour>("behaviour");
    QTest::addColumn<qsizetype>("size");
    QTest::newRow("one byte over") << Behaviour::reply << qsizetype(1024 * 1024 + 1);
    QTest::newRow("5 MiB") << Behaviour::reply << qsizetype(5 * 1024 * 1024);
    QTest::newRow("endless chunked") << Behaviour::endlessBody << qsizetype(0);
}

void TestTransport::oversizedBodyIsCapped() {
    QFETCH(Behaviour, behaviour);
    QFETCH(qsizetype, size);
    ScriptedServer server;
    QVERIFY(server.listen());
    server.setDefault({behaviour, size > 0 ? ScriptedServer::response(200, jsonOfSize(size)) : QByteArray()});

    NetworkTransport transport;
    Exchange exchange;
    exchange.start(transport, getStatus(server));
    QTRY_VERIFY_WITH_TIMEOUT(exchange.outcome.has_value(), patience);
    QVERIFY2(!exchange.outcome->failed, qPrintable(exchange.outcome->errorDescription));
    QVERIFY(exchange.outcome->bodyTruncated);
    QCOMPARE(exchange.outcome->statusCode, std::optional<int>(200));
    QVERIFY(exchange.outcome->body.size() <= 1024 * 1024);
    // Cut off as soon as the cap is passed, not at a time-out.
    QVERIFY2(exchange.elapsedMs < 1300, QByteArray::number(exchange.elapsedMs).constData());
    QCOMPARE(exchange.calls, 1);
    if (behaviour == Behaviour::endlessBody) {
        QTRY_COMPARE_WITH_TIMEOUT(server.closedCount(), 1, patience);
        QVERIFY(server.endlessBytesWritten() < 64LL * 1024 * 1024);
    }
}

void TestTransport::completionNeverRunsInsideSend() {
    NetworkTransport transport;
    const QList<QUrl> urls{QUrl(QStringLiteral("http://127.0.0.1:%1/v1/status").arg(closedPort())),
                           QUrl(QStringLiteral("http://127.0.0.1:0/v1/status"))};
    for (const QUrl &url : urls) {
        HttpRequest request;
        request.method = "GET";
        request.url = url;
        Exchange exchange;
        exchange.start(transport, request);
        QCOMPARE(exchange.calls, 0);
        QTRY_VERIFY_WITH_TIMEOUT(exchange.outcome.has_value(), patience);
        QVERIFY(!exchange.calledInsideSend);
        QVERIFY(exchange.outcome->failed);
        QCOMPARE(exchange.calls, 1);
    }
}

void TestTransport::destroyedTransportNeverCallsBack() {
    ScriptedServer server;
    QVERIFY(server.listen());
    server.setDefault({Behaviour::stall, {}});

    auto transport = std::make_unique<NetworkTransport>();
    Exchange exchange;
    exchange.start(*transport, getStatus(server));
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, patience);
    transport.reset();
    // The connection goes away with the transport; its completion must not follow.
    QTRY_COMPARE_WITH_TIMEOUT(server.closedCount(), 1, patience);
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QCOMPARE(exchange.calls, 0);
}

// --- The controller on a real exchange -------------------------------------------------------

void TestTransport::controllerLogsARealStatusExchange() {
    ScriptedServer server;
    QVERIFY(server.listen());
    server.enqueue(
        {Behaviour::reply, ScriptedServer::response(200, R"({"ok":true,"available":true,"state":"ready"})")});
    server.setDefault({Behaviour::reply, ScriptedServer::response(200, R"({"ok":true,"emitted":true})")});

    TesterController controller(QStringLiteral(" %1/ ").arg(server.baseUrl()));
    QVERIFY(controller.busy());
    QTRY_VERIFY_WITH_TIMEOUT(!controller.busy(), patience);

    QCOMPARE(controller.entries().size(), 2);
    QCOMPARE(controller.entries().at(0).text, QStringLiteral("state: ready · available: true"));
    const QRegularExpression line(QStringLiteral("^GET /v1/status · 200 · (\\d+) ms · OK$"));
    const auto match = line.match(controller.entries().at(1).text);
    QVERIFY2(match.hasMatch(), qPrintable(controller.entries().at(1).text));
    QCOMPARE(controller.status(), QStringLiteral("Connesso · %1 ms").arg(match.captured(1)));
    QVERIFY(controller.connected());

    QCOMPARE(server.requests().size(), 1);
    const RecordedRequest &status = server.requests().first();
    QCOMPARE(status.target, QByteArrayLiteral("/v1/status"));
    QCOMPARE(status.header("X-VBL-Client"), controller.clientID().toLatin1());
    QVERIFY(!status.hasHeader("Content-Type"));

    controller.impulse(QStringLiteral("soft"));
    QTRY_VERIFY_WITH_TIMEOUT(!controller.busy(), patience);
    QCOMPARE(server.requests().size(), 2);
    const RecordedRequest &impulse = server.requests().last();
    QVERIFY(impulse.raw.startsWith("POST /v1/impulses HTTP/1.1\r\n"));
    QCOMPARE(impulse.body, QByteArrayLiteral(R"({"intensity":0.5,"style":"soft"})"));
    QCOMPARE(impulse.header("X-VBL-Client"), controller.clientID().toLatin1());
    QVERIFY2(QRegularExpression(QStringLiteral("^POST /v1/impulses · 200 · \\d+ ms · OK · emitted: true$"))
                 .match(controller.entries().first().text)
                 .hasMatch(),
             qPrintable(controller.entries().first().text));
}

void TestTransport::controllerOnRealFailures() {
    ScriptedServer server;
    QVERIFY(server.listen());
    auto controller = std::make_unique<TesterController>(
        server.baseUrl(), std::make_unique<NetworkTransport>(), std::make_shared<SystemTimeSource>());
    // The construction's request is answered by the first step: a 5 MiB object.
    server.enqueue({Behaviour::reply, ScriptedServer::response(200, jsonOfSize(5 * 1024 * 1024))});
    server.enqueue({Behaviour::reply,
                    ScriptedServer::response(302, QByteArray(), {{"Location", "http://127.0.0.1:9/"}})});
    server.enqueue(
        {Behaviour::reply, ScriptedServer::response(409, R"({"ok":false,"error":"Servizio occupato"})")});
    // Then every connection is dropped unanswered (a resent request included).
    server.setDefault({Behaviour::closeWithoutReply, {}});
    TesterController &c = *controller;

    QTRY_VERIFY_WITH_TIMEOUT(!c.busy(), patience);
    QVERIFY2(QRegularExpression(QStringLiteral("^GET /v1/status · 200 · \\d+ ms · Risposta non valida$"))
                 .match(c.entries().first().text)
                 .hasMatch(),
             qPrintable(c.entries().first().text));
    QVERIFY(c.entries().first().failed);
    QCOMPARE(c.status(), QStringLiteral("200: Risposta non valida"));
    QVERIFY(!c.connected());

    c.verifyConnection();
    QTRY_VERIFY_WITH_TIMEOUT(!c.busy(), patience);
    QCOMPARE(c.status(), QStringLiteral("302: Risposta non valida"));

    c.verifyConnection();
    QTRY_VERIFY_WITH_TIMEOUT(!c.busy(), patience);
    QCOMPARE(c.status(), QStringLiteral("409: Servizio occupato"));
    QVERIFY(c.entries().first().failed);

    c.verifyConnection();
    QTRY_VERIFY_WITH_TIMEOUT(!c.busy(), patience);
    QVERIFY2(c.status().startsWith(QStringLiteral("Connessione non riuscita: ")) &&
                 c.status().size() > QStringLiteral("Connessione non riuscita: ").size(),
             qPrintable(c.status()));
    QCOMPARE(c.entries().first().text, QStringLiteral("/v1/status · ") + c.status());
    QVERIFY(c.entries().first().failed);

    // Gone with a request out: the late outcome is dropped.
    server.setDefault({Behaviour::stall, {}});
    const qsizetype requests = server.requests().size();
    c.verifyConnection();
    QVERIFY(c.busy());
    QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), requests + 1, patience);
    const int closed = server.closedCount();
    controller.reset();
    QTRY_VERIFY_WITH_TIMEOUT(server.closedCount() > closed, patience);
}

QTEST_GUILESS_MAIN(TestTransport)
#include "test_transport.moc"
