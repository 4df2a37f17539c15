// The HTTP transport against a real server on 127.0.0.1: the controller's requests as the server sees them
// (again from their curl copies), any status, no redirects or cookies, failed connections, the two time-outs
// (real time) and the body cap. Then the real controller against peers that misbehave on purpose: it stays
// responsive, logs a failure, is idle within 2.5 s, keeps memory bounded, has one request in flight at most.

#include "api/Command.h"
#include "api/CurlCommand.h"
#include "api/NetworkTransport.h"
#include "api/WireFormat.h"
#include "core/ManualTimeSource.h"
#include "core/TesterController.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>

using namespace vibrelle;

namespace {

// The server's answer to one request: a function acting on the socket. An empty step stalls.
using Step = std::function<void(QTcpSocket *)>;

Step answer(const QByteArray &bytes) {
    return [bytes](QTcpSocket *socket) { socket->write(bytes); };
}
void closeWithoutReply(QTcpSocket *socket) {
    socket->disconnectFromHost();
}
void reset(QTcpSocket *socket) {
    const linger hard{1, 0};
    ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    socket->abort();
}
// Writes `head`, then one more body byte every 200 ms.
Step drip(const QByteArray &head) {
    return [head](QTcpSocket *socket) {
        socket->write(head);
        auto *timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket, [socket] { socket->write(" "); });
        timer->start(200);
    };
}
// Writes `head`, then `chunk` again and again while the peer keeps reading (at most 64 MiB).
Step endless(const QByteArray &head, const QByteArray &chunk) {
    return [head, chunk](QTcpSocket *socket) {
        socket->write(head);
        auto written = std::make_shared<qint64>(0);
        auto feed = [socket, chunk, written] {
            while (socket->state() == QAbstractSocket::ConnectedState &&
                   socket->bytesToWrite() < 512 * 1024 && *written < 64LL * 1024 * 1024) {
                socket->write(chunk);
                *written += chunk.size();
            }
        };
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, feed);
        feed();
    };
}

QByteArray reply(int status, const QByteArray &body, const QList<QPair<QByteArray, QByteArray>> &extra = {}) {
    QByteArray out =
        "HTTP/1.1 " + QByteArray::number(status) + " Scripted\r\nContent-Type: application/json\r\n";
    for (const auto &h : extra) {
        out += h.first + ": " + h.second + "\r\n";
    }
    if (status != 204) {
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    return out + "\r\n" + body;
}

struct RecordedRequest {
    QByteArray raw; // request line, headers and body as received
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArrayList values(const QByteArray &name) const {
        QByteArrayList found;
        for (const auto &h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
                found.append(h.second);
            }
        }
        return found;
    }
};

// An HTTP/1.1 server on 127.0.0.1 that records every request exactly as it arrived on the socket, and
// answers it with the oldest queued step or, with none queued, the fallback.
struct ScriptedServer : QTcpServer {
    QList<RecordedRequest> requests;
    QList<Step> queue;
    Step fallback;
    int closed = 0;

    ScriptedServer() {
        if (!listen(QHostAddress::LocalHost, 0)) {
            qFatal("ScriptedServer: cannot listen on 127.0.0.1");
        }
        connect(this, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::readyRead, socket,
                        [this, socket, buffer] { readFrom(socket, *buffer); });
                connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                    ++closed;
                    socket->deleteLater();
                });
            }
        });
    }
    ~ScriptedServer() override {
        close();
        for (QTcpSocket *socket : findChildren<QTcpSocket *>()) {
            socket->disconnect();
            socket->abort();
        }
    }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }

    void readFrom(QTcpSocket *socket, QByteArray &buffer) {
        buffer += socket->readAll();
        for (qsizetype headEnd; (headEnd = buffer.indexOf("\r\n\r\n")) >= 0;) {
            RecordedRequest request;
            for (const QByteArray &line : buffer.left(headEnd).split('\n').mid(1)) {
                const qsizetype colon = line.indexOf(':');
                if (colon > 0) {
                    request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
                }
            }
            const qsizetype total = headEnd + 4 + request.values("Content-Length").value(0).toLongLong();
            if (buffer.size() < total) {
                return;
            }
            request.raw = buffer.left(total);
            request.body = buffer.mid(headEnd + 4, total - headEnd - 4);
            buffer.remove(0, total);
            requests.append(request);
            const Step step = queue.isEmpty() ? fallback : queue.takeFirst();
            if (step) {
                step(socket);
            }
            if (socket->state() != QAbstractSocket::ConnectedState) {
                return; // the step closed or reset the connection
            }
        }
    }
};

constexpr int patience = 5000; // ms; upper bound of every wait below
const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: ";

HttpRequest makeRequest(const QString &url, std::optional<QByteArray> body = std::nullopt) {
    return HttpRequest{methodForBody(body.has_value()), QUrl(url), {}, body};
}

// Keeps every request the controller hands it, unanswered.
struct Capture final : HttpTransport {
    QList<HttpRequest> *sent = nullptr;
    void send(const HttpRequest &request, Completion) override { sent->append(request); }
};

struct Exchange {
    std::optional<HttpOutcome> outcome;
    int calls = 0;
    bool misplaced = false; // completed inside send(), or off the main thread
    qint64 ms = -1;
};

std::shared_ptr<Exchange> start(HttpTransport &transport, const HttpRequest &request) {
    auto exchange = std::make_shared<Exchange>();
    auto inside = std::make_shared<bool>(true);
    QElapsedTimer clock;
    clock.start();
    transport.send(request, [exchange, inside, clock](const HttpOutcome &outcome) {
        ++exchange->calls;
        exchange->misplaced |= *inside || QThread::currentThread() != QCoreApplication::instance()->thread();
        exchange->ms = clock.elapsed();
        exchange->outcome = outcome;
    });
    *inside = false;
    return exchange;
}

Exchange run(HttpTransport &transport, const HttpRequest &request) {
    const auto exchange = start(transport, request);
    return QTest::qWaitFor([&] { return exchange->outcome.has_value(); }, patience) ? *exchange : Exchange();
}

// Runs the curl command that copies `request` with sh, the event loop running meanwhile.
bool runCurl(const HttpRequest &request) {
    QProcess sh;
    sh.start("sh", {"-c", curlCommand(request).value_or("false") + " --silent --show-error"});
    return QTest::qWaitFor([&] { return sh.state() == QProcess::NotRunning; }, patience) &&
           sh.exitStatus() == QProcess::NormalExit && sh.exitCode() == 0;
}

// The parts of a request that a copy must deliver unchanged.
QByteArrayList wireForm(const RecordedRequest &seen) {
    QByteArrayList form{seen.raw.left(seen.raw.indexOf("\r\n")), seen.body};
    for (const QByteArray name : {"Host", "X-VBL-Client", "X-VBL-Client-Name", "Accept", "Content-Type",
                                  "Content-Length", "Cookie"}) {
        form.append(name + ": " + seen.values(name).join("|"));
    }
    return form;
}

qint64 residentKiB() {
    QFile file(QStringLiteral("/proc/self/status"));
    const QByteArray status = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const qsizetype at = status.indexOf("VmRSS:") + 6;
    return status.mid(at, status.indexOf('\n', at) - at).trimmed().split(' ').value(0).toLongLong();
}

void resetMidReply(QTcpSocket *socket) {
    socket->write(head + "40\r\n\r\n{\"ok\":tr");
    socket->flush();
    QTimer::singleShot(50, socket, [socket] { reset(socket); });
}

} // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(std::optional<QByteArray>)

class TestTransport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void requestAsTheServerSawIt_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<std::optional<QByteArray>>("body");
        const auto post = [](const char *name, const QString &path, const QByteArray &body) {
            QTest::addRow("%s", name) << QByteArray("POST") << path << std::optional<QByteArray>(body);
        };
        QTest::addRow("status") << QByteArray("GET") << "/v1/status" << std::optional<QByteArray>();
        post("sequence", "/v1/sequences", *encodeBody(sequenceBody(0.625)));
        // A body that could not be encoded goes out as an empty POST, content type unchanged.
        QTest::addRow("empty POST") << QByteArray("POST") << "/v1/impulses" << std::optional<QByteArray>();
        // Bytes a shell or curl would read as their own, for the copy as a curl command: a leading @,
        // quotes, dollars, backticks, backslashes, line breaks, non-ASCII.
        post("quote in the path", "/v1/it's", "{}");
        post("shell's own bytes", "/v1/impulses",
             "@-{\"style\":\"it's \\\"soft\\\" $HOME $(id) `id` ${x} a\\\\b\\\\\\\\c\\\\ two\nlines\r\n"
             "morbidezza \u00b7 \u00e8 \u2014 \xf0\x9f\x91\x8d\"}");
    }

    // Each request as the server saw it, from the transport and then from the curl command
    // that copies it, run by sh: the same bytes where they count.
    void requestAsTheServerSawIt() {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(std::optional<QByteArray>, body);
        ScriptedServer server;
        const QByteArray replyBody = R"({"ok":true,"state":"ready"})";
        server.fallback = answer(reply(200, replyBody));
        // The controller's own request (refused at first, for an address not yet typed), sent to `path`.
        QList<HttpRequest> sent;
        auto capture = std::make_unique<Capture>();
        capture->sent = &sent;
        TesterController c(QString(), std::move(capture), std::make_shared<ManualTimeSource>());
        c.setAddress(server.baseUrl());
        method == "POST" ? c.impulse("soft") : c.verifyConnection();
        HttpRequest request = sent.value(0);
        request.url = QUrl(server.baseUrl() + path);
        if (method == "POST") {
            request.body = body;
        }

        NetworkTransport transport;
        const Exchange exchange = run(transport, request);
        QVERIFY(exchange.outcome && !exchange.outcome->failed && !exchange.misplaced);
        QCOMPARE(exchange.outcome->statusCode, 200);
        QCOMPARE(exchange.outcome->body, replyBody);
        QVERIFY(!exchange.outcome->bodyTruncated);

        QCOMPARE(server.requests.size(), 1);
        const RecordedRequest seen = server.requests.first();
        const bool post = method == "POST";
        const QByteArrayList expected{method + ' ' + path.toLatin1() + " HTTP/1.1",
                                      body.value_or(""),
                                      "Host: 127.0.0.1:" + QByteArray::number(server.serverPort()),
                                      "X-VBL-Client: " + c.clientID().toLatin1(),
                                      "X-VBL-Client-Name: API Tester",
                                      "Accept: application/json",
                                      "Content-Type: " + QByteArray(post ? "application/json" : ""),
                                      "Content-Length: " + (body ? QByteArray::number(body->size()) : ""),
                                      "Cookie: "};
        QCOMPARE(wireForm(seen), expected);

        QVERIFY(runCurl(request));
        QCOMPARE(server.requests.size(), 2);
        QCOMPARE(wireForm(server.requests.last()), expected);
        // A body that cannot travel as shell text (a NUL, broken UTF-8) gives no command at all.
        for (const QByteArray &tail : {QByteArray(1, '\0'), QByteArray("\xc3")}) {
            request.body = body.value_or("") + tail;
            QVERIFY(!curlCommand(request));
        }
    }

    void anyStatusIsAReply_data() {
        QTest::addColumn<int>("status");
        for (const int status : {200, 204, 401, 404, 407, 409, 500, 503, 301, 302, 307, 308}) {
            QTest::addRow("%d", status) << status;
        }
    }

    // The service's own words come back with any status; a redirect is not followed, and a
    // cookie the service sets never travels back.
    void anyStatusIsAReply() {
        QFETCH(int, status);
        ScriptedServer elsewhere;
        ScriptedServer server;
        const QByteArray body = status == 204 ? QByteArray() : QByteArray(R"({"ok":false,"error":"Parole"})");
        server.fallback = answer(reply(status, body,
                                       {{"Location", (elsewhere.baseUrl() + "/v1/status").toLatin1()},
                                        {"Set-Cookie", "session=abc123; Path=/"},
                                        {"Set-Cookie", "lease=7; Path=/v1"}}));
        NetworkTransport transport;
        for (const char *path : {"/v1/status", "/v1/stop"}) {
            const Exchange exchange = run(transport, makeRequest(server.baseUrl() + path));
            QVERIFY(exchange.outcome);
            QVERIFY2(!exchange.outcome->failed, qPrintable(exchange.outcome->errorDescription));
            QCOMPARE(exchange.outcome->statusCode, status);
            QCOMPARE(exchange.outcome->body, body);
        }
        QCOMPARE(server.requests.size(), 2);
        QVERIFY2(server.requests.last().values("Cookie").isEmpty(), server.requests.last().raw.constData());
        QVERIFY(elsewhere.requests.isEmpty());
    }

    void failures_data() {
        QTest::addColumn<Step>("step"); // the server's answer; with a URL given, nothing listens
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("earliestMs");
        QTest::addColumn<int>("latestMs");
        QTest::addColumn<QString>("description");
        const auto row = [](const char *name, const Step &step, const QString &url, int earliestMs = 0,
                            int latestMs = 1400, const char *description = "") {
            QTest::addRow("%s", name) << step << url << earliestMs << latestMs << QString(description);
        };
        QTcpServer probe; // its port, closed again at once: nothing listens there
        probe.listen(QHostAddress::LocalHost, 0);
        const QString refused = QStringLiteral("http://127.0.0.1:%1/v1/status").arg(probe.serverPort());
        probe.close();
        row("refused", {}, refused);
        row("port 0", {}, "http://127.0.0.1:0/v1/status");
        row("closed without reply", closeWithoutReply, "");
        row("reset", reset, "");
        // The transport's own time-outs, in real time (headers followed by silence: peer).
        row("no data for 1.5 s", {}, "", 1300, 1900, "nessun dato dal servizio per 1,5 s");
        row("dripped past 2 s", drip(head + "100\r\n\r\n"), "", 1800, 2600,
            "la richiesta ha superato il tempo massimo di 2 s");
    }

    void failures() {
        QFETCH(Step, step);
        QFETCH(QString, url);
        QFETCH(int, earliestMs);
        QFETCH(int, latestMs);
        QFETCH(QString, description);
        ScriptedServer server;
        server.fallback = step;
        if (url.isEmpty()) {
            url = server.baseUrl() + "/v1/impulses";
        }
        NetworkTransport transport;
        const Exchange exchange = run(transport, makeRequest(url, "{}"));
        QVERIFY(exchange.outcome && exchange.outcome->failed && !exchange.misplaced);
        QVERIFY(!exchange.outcome->statusCode);
        QVERIFY(!exchange.outcome->errorDescription.trimmed().isEmpty());
        QVERIFY2(exchange.outcome->errorDescription.contains(description),
                 qPrintable(exchange.outcome->errorDescription));
        QVERIFY2(exchange.ms >= earliestMs && exchange.ms <= latestMs,
                 QByteArray::number(exchange.ms).constData());
        QTest::qWait(50);
        QCOMPARE(exchange.calls, 1);
        // A command reaches the service at most once, even when the peer drops it unanswered (the
        // network stack would send it again on a new connection).
        QVERIFY(server.requests.size() <= 1);
    }

    void bodyCap_data() {
        QTest::addColumn<qsizetype>("size"); // 0: an endless chunked body
        QTest::addRow("exactly 1 MiB") << qsizetype(1024 * 1024);
        QTest::addRow("one byte over") << qsizetype(1024 * 1024 + 1);
        QTest::addRow("5 MiB") << qsizetype(5 * 1024 * 1024);
        QTest::addRow("endless") << qsizetype(0);
    }

    void bodyCap() {
        QFETCH(qsizetype, size);
        ScriptedServer server;
        const QByteArray body = size > 0 ? "{\"pad\":\"" + QByteArray(size - 10, 'x') + "\"}" : QByteArray();
        const QByteArray chunk = "10000\r\n" + QByteArray(0x10000, 'x') + "\r\n";
        server.fallback = size > 0 ? answer(reply(200, body))
                                   : endless("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", chunk);
        NetworkTransport transport;
        const Exchange exchange = run(transport, makeRequest(server.baseUrl() + "/v1/status"));
        QVERIFY(exchange.outcome);
        QVERIFY2(!exchange.outcome->failed, qPrintable(exchange.outcome->errorDescription));
        QCOMPARE(exchange.outcome->statusCode, 200);
        const bool over = size != 1024 * 1024;
        QCOMPARE(exchange.outcome->bodyTruncated, over);
        QVERIFY(over ? exchange.outcome->body.size() <= 1024 * 1024 : exchange.outcome->body == body);
        // Cut off as soon as the cap is passed, not at a time-out; an endless body closes the connection.
        QVERIFY2(exchange.ms < 1300, QByteArray::number(exchange.ms).constData());
        if (size == 0) {
            QTRY_COMPARE_WITH_TIMEOUT(server.closed, 1, patience);
        }
    }

    void destroyedTransportNeverCallsBack() {
        ScriptedServer server;
        auto transport = std::make_unique<NetworkTransport>();
        const auto exchange = start(*transport, makeRequest(server.baseUrl() + "/v1/status"));
        QTRY_COMPARE_WITH_TIMEOUT(server.requests.size(), 1, patience);
        transport.reset();
        // The connection goes away with the transport; its completion must not follow.
        QTRY_COMPARE_WITH_TIMEOUT(server.closed, 1, patience);
        QTest::qWait(100);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(exchange->calls, 0);
    }

    // Hostile peers.
    void peer_data() {
        QTest::addColumn<Step>("step");          // the answer to the request after the construction's
        QTest::addColumn<QString>("status");     // a pattern
        QTest::addColumn<int>("earliestMs");     // of the return to idle
        QTest::addColumn<QByteArray>("unasked"); // sent right behind the reply to the construction's request
        const auto row = [](const char *name, const Step &step, const char *status, int earliestMs = 0,
                            const QByteArray &unasked = {}) {
            QTest::addRow("%s", name) << step << QString(status) << earliestMs << unasked;
        };
        const QByteArray digits(400, '9');
        const QByteArray nested = QByteArray(100000, '[') + QByteArray(100000, ']');
        row("endless body",
            endless(head + "999999999999\r\n\r\n{\"ok\":true,\"x\":\"", QByteArray(64 * 1024, 'x')),
            "^200: Risposta non valida$");
        row("headers, then silence", answer(head + "50\r\n\r\n"), "^Connessione non riuscita: nessun dato",
            1300);
        row("invalid UTF-8 in message",
            answer(reply(503, "{\"ok\":false,\"message\":\"guasto \xC3\x28 \xFF\xFE fine\"}")),
            "^503: (Risposta non valida|guasto .*fine)$");
        row("100,000 nested arrays", answer(reply(200, "{\"ok\":true,\"x\":" + nested + "}")),
            "^200: Risposta non valida$");
        row("400-digit number",
            answer(
                reply(500, "{\"ok\":false,\"remainingDurationMs\":" + digits + ",\"mode\":" + digits + "}")),
            "^500: Risposta non valida$");
        row("reset mid-reply", resetMidReply, "^Connessione non riuscita: ");
        // Never taken for the answer to the later request, which alone decides the outcome.
        row("unasked reply on a kept-alive connection",
            answer(reply(500, R"({"ok":false,"error":"the real answer"})")),
            "^(500: the real answer|Connessione non riuscita: .+)$", 0,
            reply(200, R"({"ok":true,"emitted":true,"message":"unasked"})"));
    }

    void peer() {
        QFETCH(Step, step);
        QFETCH(QString, status);
        QFETCH(int, earliestMs);
        QFETCH(QByteArray, unasked);
        ScriptedServer server;
        server.queue.append(answer(reply(200, R"({"ok":true,"state":"idle"})") + unasked));
        server.fallback = step;
        TesterController c(server.baseUrl()); // the production transport and clock
        QVERIFY(QTest::qWaitFor([&] { return !c.busy(); }, 5000));
        QVERIFY(c.connected());
        const qint64 rssBefore = residentKiB();

        // Every 10 ms: how long the event loop was kept from running, and presses that must send nothing.
        qint64 longestStallMs = 0;
        QElapsedTimer sinceTick;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longestStallMs = std::max(longestStallMs, sinceTick.restart());
            if (c.busy()) {
                c.verifyConnection();
                c.impulse(QStringLiteral("crisp"));
            }
        });
        QElapsedTimer clock;
        clock.start();
        sinceTick.start();
        ticker.start(10);
        c.verifyConnection();
        QVERIFY(c.busy());
        const bool idle = QTest::qWaitFor([&] { return !c.busy(); }, 4000);
        const qint64 idleAfterMs = clock.elapsed();
        ticker.stop();

        QVERIFY2(idle && idleAfterMs <= 2500 + 400,
                 qPrintable(QStringLiteral("idle after %1 ms").arg(idleAfterMs)));
        QVERIFY2(idleAfterMs >= earliestMs, "a time-out cut the exchange short");
        QVERIFY2(longestStallMs < 500,
                 qPrintable(QStringLiteral("event loop blocked for %1 ms").arg(longestStallMs)));
        const qint64 growth = residentKiB() - rssBefore;
        QVERIFY2(growth < 32 * 1024, qPrintable(QStringLiteral("memory grew by %1 KiB").arg(growth)));
        const LogEntry entry = c.entries().first();
        QVERIFY2(entry.failed, qPrintable(entry.text));
        QCOMPARE(QString::fromUtf8(entry.text.toUtf8()), entry.text); // valid text, whatever the bytes were
        QVERIFY2(QRegularExpression(status).match(c.status()).hasMatch(), qPrintable(c.status()));
        QVERIFY(!c.connected() && c.controlsEnabled());
        QTest::qWait(100);
        QCOMPARE(server.requests.size(), 2); // the presses sent nothing, and nothing was resent
    }
};

QTEST_GUILESS_MAIN(TestTransport)
#include "test_transport.moc"
