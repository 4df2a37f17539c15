// The real controller and HTTP transport against local peers that misbehave on purpose: whatever
// a peer sends or withholds, the tester stays responsive, logs a failure, is idle again within
// 2.5 s, keeps its memory bounded and never has more than one request in flight.

#include "core/TesterController.h"
#include "support/ScriptedServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace vibrelle;
using vibrelle::testing::ScriptedServer;
using Step = ScriptedServer::Step;

Q_DECLARE_METATYPE(Step)

namespace {

qint64 residentKiB() {
    QFile file(QStringLiteral("/proc/self/status"));
    const QByteArray status = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const qsizetype at = status.indexOf("VmRSS:") + 6;
    return status.mid(at, status.indexOf('\n', at) - at).trimmed().split(' ').value(0).toLongLong();
}

QByteArray reply(int status, const QByteArray &body) {
    return ScriptedServer::response(status, body);
}

const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: ";

void resetMidReply(QTcpSocket *socket) {
    socket->write(head + "40\r\n\r\n{\"ok\":tr");
    socket->flush();
    QTimer::singleShot(50, socket, [socket] { ScriptedServer::reset()(socket); });
}

} // namespace

class HostilePeers : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void peer_data() {
        QTest::addColumn<QByteArray>(
            "afterFirst");                   // sent right behind the reply to the construction's request
        QTest::addColumn<Step>("step");      // the answer to the one request that follows
        QTest::addColumn<QString>("status"); // a pattern
        QTest::addColumn<int>("earliestMs");

        const QByteArray digits(400, '9');
        const QByteArray nested = QByteArray(100000, '[') + QByteArray(100000, ']');
        QTest::addRow("endless body")
            << QByteArray()
            << ScriptedServer::endless(head + "999999999999\r\n\r\n{\"ok\":true,\"x\":\"",
                                       QByteArray(64 * 1024, 'x'))
            << "^200: Risposta non valida$" << 0;
        QTest::addRow("headers, then silence") << QByteArray() << ScriptedServer::reply(head + "50\r\n\r\n")
                                               << "^Connessione non riuscita: nessun dato" << 1300;
        QTest::addRow("invalid UTF-8 in message")
            << QByteArray()
            << ScriptedServer::reply(
                   reply(503, "{\"ok\":false,\"message\":\"guasto \xC3\x28 \xFF\xFE fine\"}"))
            << "^503: (Risposta non valida|guasto .*fine)$" << 0;
        QTest::addRow("100,000 nested arrays")
            << QByteArray() << ScriptedServer::reply(reply(200, "{\"ok\":true,\"x\":" + nested + "}"))
            << "^200: Risposta non valida$" << 0;
        QTest::addRow("400-digit number")
            << QByteArray()
            << ScriptedServer::reply(reply(500, "{\"ok\":false,\"remainingDurationMs\":" + digits +
                                                    ",\"mode\":" + digits + "}"))
            << "^500: Risposta non valida$" << 0;
        QTest::addRow("reset mid-reply")
            << QByteArray() << Step(resetMidReply) << "^Connessione non riuscita: " << 0;
        // Never taken for the answer to the later request, which alone decides the outcome.
        QTest::addRow("unasked reply on a kept-alive connection")
            << reply(200, R"({"ok":true,"emitted":true,"message":"unasked"})")
            << ScriptedServer::reply(reply(500, R"({"ok":false,"error":"the real answer"})"))
            << "^(500: the real answer|Connessione non riuscita: .+)$" << 0;
    }

    void peer() {
        QFETCH(QByteArray, afterFirst);
        QFETCH(Step, step);
        QFETCH(QString, status);
        QFETCH(int, earliestMs);
        ScriptedServer server;
        QVERIFY(server.listen());
        server.enqueue(ScriptedServer::reply(reply(200, R"({"ok":true,"state":"idle"})") + afterFirst));
        server.setDefault(step);
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
        QCOMPARE(server.requests().size(), 2); // the presses sent nothing, and nothing was resent
    }
};

QTEST_GUILESS_MAIN(HostilePeers)
#include "test_hostile_peers.moc"
