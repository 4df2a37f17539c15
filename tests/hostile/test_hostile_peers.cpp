// The tester against local peers that misbehave on purpose: whatever a peer sends or
// withholds, the tester stays responsive, logs a failure, is idle again within 2.5 s
// and keeps its memory bounded.

#include "api/NetworkTransport.h"
#include "core/TesterController.h"
#include "support/ScriptedServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <sys/socket.h>

#include <functional>

using namespace vibrelle;
using vibrelle::testing::ScriptedServer;

namespace {

qint64 residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

QByteArray reply(int status, const QByteArray &body) {
    return "HTTP/1.1 " + QByteArray::number(status) +
           " X\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

const QByteArray okStatus = reply(200, R"({"ok":true,"state":"idle"})");

// A scripted server on 127.0.0.1 that answers the first request (the construction's
// status request) normally and every later one with the test's behaviour, and a real
// controller with the production transport pointed at it.
struct Rig {
    ScriptedServer server;
    std::unique_ptr<TesterController> controller;

    explicit Rig(std::function<void(QTcpSocket *)> behaviour) {
        if (!server.listen()) {
            qFatal("cannot listen on 127.0.0.1");
        }
        server.enqueue({ScriptedServer::Behaviour::reply, okStatus, {}});
        server.setDefault({ScriptedServer::Behaviour::custom, {}, std::move(behaviour)});
        controller = std::make_unique<TesterController>(
            server.baseUrl(), std::make_unique<NetworkTransport>(), std::make_shared<SystemTimeSource>());
    }
};

void resetConnection(QTcpSocket *socket) {
    const linger hard{1, 0};
    ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    socket->abort();
}

// Writes `chunk` again and again while the peer keeps reading, up to `limit` bytes.
void feedEndlessly(QTcpSocket *socket, const QByteArray &head, const QByteArray &chunk, qint64 limit) {
    socket->write(head);
    auto written = std::make_shared<qint64>(0);
    auto feed = [socket, chunk, limit, written] {
        while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 512 * 1024 &&
               *written < limit) {
            socket->write(chunk);
            *written += chunk.size();
        }
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, feed);
    feed();
}

} // namespace

class HostilePeers : public QObject {
    Q_OBJECT

private:
    struct Outcome {
        qint64 idleAfterMs = -1;
        qint64 longestStallMs = 0;
        qint64 rssGrowthKiB = 0;
    };

    // Connects a controller to the server, lets the construction's status request pass,
    // then sends one more status request into the hostile behaviour.
    Outcome exercise(TesterController &controller) {
        if (!QTest::qWaitFor([&] { return !controller.busy(); }, 5000)) {
            qFatal("the first, well-behaved exchange did not complete");
        }
        const qint64 rssBefore = residentKiB();
        Outcome outcome;

        // A 10 ms ticker measures how long the event loop was ever kept from running.
        QElapsedTimer sinceTick;
        sinceTick.start();
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            outcome.longestStallMs = std::max(outcome.longestStallMs, sinceTick.restart());
        });
        ticker.start(10);

        QElapsedTimer clock;
        clock.start();
        controller.verifyConnection();
        if (!controller.busy()) {
            qFatal("verifyConnection sent nothing");
        }
        const bool settled = QTest::qWaitFor([&] { return !controller.busy(); }, 4000);
        Q_UNUSED(settled); // an unsettled tester shows as idleAfterMs -1
        outcome.idleAfterMs = controller.busy() ? -1 : clock.elapsed();
        ticker.stop();
        outcome.rssGrowthKiB = residentKiB() - rssBefore;
        return outcome;
    }

    static void checkFailedAndIdle(const TesterController &controller, const Outcome &outcome) {
        QVERIFY2(outcome.idleAfterMs >= 0, "the tester never became idle again");
        QVERIFY2(outcome.idleAfterMs <= 2500 + 400,
                 qPrintable(QStringLiteral("idle after %1 ms").arg(outcome.idleAfterMs)));
        QVERIFY2(outcome.longestStallMs < 500,
                 qPrintable(QStringLiteral("event loop blocked for %1 ms").arg(outcome.longestStallMs)));
        QVERIFY2(outcome.rssGrowthKiB < 32 * 1024,
                 qPrintable(QStringLiteral("memory grew by %1 KiB").arg(outcome.rssGrowthKiB)));
        QVERIFY(!controller.entries().isEmpty());
        QVERIFY2(controller.entries().first().failed, qPrintable(controller.entries().first().text));
        QVERIFY(!controller.connected());
        QVERIFY(controller.controlsEnabled());
    }

private Q_SLOTS:
    void endlessBody() {
        Rig rig([](QTcpSocket *socket) {
            feedEndlessly(socket,
                          "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                          "999999999999\r\n\r\n{\"ok\":true,\"x\":\"",
                          QByteArray(64 * 1024, 'x'), 256LL * 1024 * 1024);
        });
        TesterController &controller = *rig.controller;
        const Outcome outcome = exercise(controller);
        checkFailedAndIdle(controller, outcome);
        QVERIFY2(controller.status().startsWith(QStringLiteral("200: Risposta non valida")),
                 qPrintable(controller.status()));
    }

    void bodyDrippedOneBytePer200ms() {
        Rig rig([](QTcpSocket *socket) {
            socket->write(
                "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n{");
            auto *timer = new QTimer(socket);
            QObject::connect(timer, &QTimer::timeout, socket, [socket] { socket->write(" "); });
            timer->start(200);
        });
        TesterController &controller = *rig.controller;
        const Outcome outcome = exercise(controller);
        checkFailedAndIdle(controller, outcome);
        QVERIFY(controller.status().startsWith(QStringLiteral("Connessione non riuscita: ")));
        QVERIFY2(outcome.idleAfterMs >= 1800, "the total deadline cut the exchange short");
    }

    void headersThenSilence() {
        Rig rig([](QTcpSocket *socket) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 50\r\n\r\n");
        });
        TesterController &controller = *rig.controller;
        const Outcome outcome = exercise(controller);
        checkFailedAndIdle(controller, outcome);
        QVERIFY(controller.status().startsWith(QStringLiteral("Connessione non riuscita: ")));
    }

    void redirectToAnotherHostIsNeverFollowed() {
        // The redirect names a second loopback host whose listener counts every connection.
        ScriptedServer elsewhere;
        QVERIFY(elsewhere.listen(QHostAddress(QStringLiteral("127.0.0.2"))));
        const QByteArray location = elsewhere.baseUrl().toLatin1() + "/v1/status";
        Rig rig([location](QTcpSocket *socket) {
            socket->write("HTTP/1.1 302 Found\r\nLocation: " + location +
                          "\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}");
        });
        TesterController &controller = *rig.controller;
        const Outcome outcome = exercise(controller);
        checkFailedAndIdle(controller, outcome);
        QCOMPARE(controller.status(), QStringLiteral("302: Risposta non valida"));
        QTest::qWait(100);
        QCOMPARE(elsewhere.connectionCount(), 0);
    }

    void invalidUtf8InMessage() {
        Rig rig([](QTcpSocket *socket) {
            socket->write(reply(503, "{\"ok\":false,\"message\":\"guasto \xC3\x28 \xFF\xFE fine\"}"));
        });
        TesterController &controller = *rig.controller;
        const Outcome outcome = exercise(controller);
        checkFailedAndIdle(controller, outcome);
        QVERIFY(controller.status().startsWith(QStringLiteral("503: ")));
        // Whatever the decoder made of the bytes, the log holds valid text.
        const QString text = controller.entries().first().text;
        QCOMPARE(QString::fromUtf8(text.toUtf8()), text);
    }

    void deeplyNestedArrays() {
        QByteArray body = "{\"ok\":true,\"x\":";
        body += QByteArray(100000, '[');
        body += QByteArray(100000, ']');
        body += "}";
        Rig rig([body](QTcpSocket *socket) { socket->write(reply(200, body)); });
        TesterController &controller = *rig.controller;
        const Outcome outcome = exercise(controller);
        checkFailedAndIdle(controller, outcome);
        QCOMPARE(controller.status(), QStringLiteral("200: Risposta non valida"));
    }

    void fourHundredDigitNumber() {
        const QByteArray digits(400, '9');
        Rig rig([digits](QTcpSocket *socket) {
            socket->write(
                reply(500, "{\"ok\":false,\"remainingDurationMs\":" + digits + ",\"mode\":" + digits + "}"));
        });
        TesterController &controller = *rig.controller;
        const Outcome outcome = exercise(controller);
        checkFailedAndIdle(controller, outcome);
        QVERIFY(controller.status().startsWith(QStringLiteral("500: ")));
    }

    void connectionResetMidReply() {
        Rig rig([](QTcpSocket *socket) {
            socket->write(
                "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 40\r\n\r\n{\"ok\":tr");
            socket->flush();
            QTimer::singleShot(50, socket, [socket] { resetConnection(socket); });
        });
        TesterController &controller = *rig.controller;
        const Outcome outcome = exercise(controller);
        checkFailedAndIdle(controller, outcome);
        QVERIFY2(controller.status().startsWith(QStringLiteral("Connessione non riuscita: ")),
                 qPrintable(controller.status()));
    }

    void replyForARequestNeverMade() {
        // The first reply carries a second, unasked-for reply behind it on the kept-alive
        // connection. It must never be taken for the answer to a later request.
        int answered = 0;
        Rig rig([&answered](QTcpSocket *socket) {
            ++answered;
            if (answered == 1) {
                socket->write(okStatus + reply(200, R"({"ok":true,"emitted":true,"message":"unasked"})"));
            } else {
                socket->write(reply(500, R"({"ok":false,"error":"the real answer"})"));
            }
        });
        TesterController &controller = *rig.controller;
        QVERIFY(QTest::qWaitFor([&] { return !controller.busy(); }, 5000));
        controller.verifyConnection();
        QVERIFY(QTest::qWaitFor([&] { return !controller.busy(); }, 4000));
        QVERIFY(controller.connected());

        QElapsedTimer clock;
        clock.start();
        controller.verifyConnection();
        QVERIFY(QTest::qWaitFor([&] { return !controller.busy(); }, 4000));
        QVERIFY(clock.elapsed() <= 2900);
        QVERIFY2(!controller.entries().first().text.contains(QStringLiteral("unasked")),
                 qPrintable(controller.entries().first().text));
        QVERIFY(controller.entries().first().failed);
        QVERIFY(controller.entries().first().text.contains(QStringLiteral("the real answer")) ||
                controller.entries().first().text.contains(QStringLiteral("Connessione non riuscita")));
        QVERIFY(!controller.connected());
    }
};

QTEST_GUILESS_MAIN(HostilePeers)
#include "test_hostile_peers.moc"
