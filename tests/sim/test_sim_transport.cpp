// The simulated service as an HTTP peer and a process: keep-alive and pipelining, limits and
// garbage, injected faults, request statistics, the command line and signals.

#include "SimHarness.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <csignal>

using namespace vibrelle::simtest;

namespace {

QJsonObject requestEventFor(SimProcess &sim, const QString &path, qsizetype from) {
    const auto event = sim.waitForEvent(
        [&](const QJsonObject &e) {
            return e.value(QLatin1String("event")).toString() == QLatin1String("request") &&
                   e.value(QLatin1String("path")).toString() == path;
        },
        3000, from);
    return event.value_or(QJsonObject{});
}

} // namespace

class SimTransportTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<Client> m_control;
    Client &control() { return *m_control; }

private Q_SLOTS:
    void initTestCase() {
        m_sim = std::make_unique<SimProcess>();
        QVERIFY2(m_sim->isListening(), "vibrelle-sim did not start");
        m_control = std::make_unique<Client>(m_sim->port());
    }

    void init() {
        QCOMPARE(control().request("DELETE", "/_sim/faults", {}, {}).status, 200);
        QCOMPARE(control().post("/v1/stop", QByteArray("{}")).status, 200);
        QCOMPARE(control().request("DELETE", "/_sim/stats", {}, {}).status, 200);
    }

    void keepAliveServesManyRequestsOnOneConnection() {
        Client client(m_sim->port());
        for (int i = 0; i < 20; ++i) {
            const Reply reply = client.get("/v1/status");
            QCOMPARE(reply.status, 200);
            QCOMPARE(reply.header("connection"), QByteArray("keep-alive"));
        }
        QVERIFY(client.isConnected());
        const QJsonObject stats = statsOf(client);
        QCOMPARE(stats.value(QLatin1String("total")).toInt(), 20);
        QCOMPARE(stats.value(QLatin1String("paths")).toObject().value(QLatin1String("/v1/status")).toInt(),
                 20);
        // The control connection plus this one: no request opened a connection of its own.
        QCOMPARE(stats.value(QLatin1String("connections")).toObject().value(QLatin1String("total")).toInt(),
                 2);
        QCOMPARE(stats.value(QLatin1String("maxInFlight")).toInt(), 1);
    }

    void pipelinedRequestsAreAnsweredInOrder() {
        Client client(m_sim->port());
        const QByteArray headers = "X-VBL-Client: p\r\nContent-Type: application/json\r\n";
        client.write("GET /v1/status HTTP/1.1\r\n" + headers + "\r\n" + "POST /v1/vibrate HTTP/1.1\r\n" +
                     headers + "Content-Length: 2\r\n\r\n{}" + "POST /v1/stop HTTP/1.1\r\n" + headers +
                     "Content-Length: 2\r\n\r\n{}");
        QCOMPARE(client.readReply().status, 200);
        QCOMPARE(client.readReply().status, 404);
        const Reply last = client.readReply();
        QCOMPARE(last.status, 200);
        QCOMPARE(last.json().value(QLatin1String("activeEffect")).toString(), QStringLiteral("none"));
        QVERIFY(client.isConnected());
    }

    void connectionCloseIsHonoured_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("HTTP/1.1 close")
            << QByteArray("GET /v1/status HTTP/1.1\r\nX-VBL-Client: c\r\nConnection: close\r\n\r\n");
        QTest::newRow("HTTP/1.0") << QByteArray("GET /v1/status HTTP/1.0\r\nX-VBL-Client: c\r\n\r\n");
    }

    void connectionCloseIsHonoured() {
        QFETCH(QByteArray, request);
        Client client(m_sim->port());
        client.write(request);
        const Reply reply = client.readReply();
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.header("connection"), QByteArray("close"));
        QVERIFY(client.waitForDisconnected());
    }

    void unparseableRequestsGetAJsonErrorAndAClose_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::newRow("garbage") << QByteArray("\x01\x02 hello\r\n\r\n", 12) << 400;
        QTest::newRow("chunked body") << QByteArray("POST /v1/stop HTTP/1.1\r\nX-VBL-Client: c\r\n"
                                                    "Transfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n")
                                      << 411;
        QTest::newRow("body over 64 KiB") << QByteArray("POST /v1/stop HTTP/1.1\r\nX-VBL-Client: c\r\n"
                                                        "Content-Length: 65537\r\n\r\n{")
                                          << 413;
        QTest::newRow("endless head") << QByteArray(20 * 1024, 'x') << 431;
    }

    void unparseableRequestsGetAJsonErrorAndAClose() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        Client client(m_sim->port());
        client.write(bytes);
        const Reply reply = client.readReply();
        QCOMPARE(reply.status, status);
        QVERIFY(reply.isJsonObject());
        QCOMPARE(reply.json().value(QLatin1String("ok")), QJsonValue(false));
        QVERIFY(client.waitForDisconnected());

        // The service lives on and counts the refusal apart from the API requests.
        const QJsonObject stats = statsOf(control());
        QCOMPARE(stats.value(QLatin1String("rejected")).toInt(), 1);
        QCOMPARE(stats.value(QLatin1String("total")).toInt(), 0);
        QCOMPARE(control().get("/v1/status").status, 200);
    }

    void latencyFaultDelaysReplies() {
        QCOMPARE(setFaults(control(), R"({"latencyMs":150})"), 200);
        Client client(m_sim->port());
        const qsizetype from = m_sim->events().size();
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(client.get("/v1/status").status, 200);
        QVERIFY(timer.elapsed() >= 150);
        const QJsonObject event = requestEventFor(*m_sim, QStringLiteral("/v1/status"), from);
        QCOMPARE(event.value(QLatin1String("delayMs")).toInt(), 150);
        QVERIFY(event.value(QLatin1String("handlingMs")).toDouble() < 150);

        QCOMPARE(control().request("DELETE", "/_sim/faults", {}, {}).status, 200);
        const qsizetype afterClear = m_sim->events().size();
        QCOMPARE(client.get("/v1/status").status, 200);
        QVERIFY(!requestEventFor(*m_sim, QStringLiteral("/v1/status"), afterClear)
                     .contains(QLatin1String("delayMs")));
    }

    void statusFaultAnswersWithoutRunningTheCommand() {
        QCOMPARE(control().post("/v1/resonance", controlledBody()).status, 200);
        QCOMPARE(setFaults(control(), R"({"path":"/v1/stop","status":503,"error":"busy","times":1})"), 200);
        Reply reply = control().post("/v1/stop", QByteArray("{}"));
        QCOMPARE(reply.status, 503);
        QCOMPARE(reply.json(), (QJsonObject{{"ok", false}, {"error", "busy"}}));
        QCOMPARE(stateOf(control()), QStringLiteral("controlled"));

        // Used up after one request.
        QCOMPARE(
            control().request("GET", "/_sim/faults", {}, {}).json().value(QLatin1String("faults")).toArray(),
            QJsonArray());
        reply = control().post("/v1/stop", QByteArray("{}"));
        QCOMPARE(reply.status, 200);
        QCOMPARE(stateOf(control()), QStringLiteral("idle"));

        QCOMPARE(setFaults(control(), R"({"path":"/v1/status","status":200,"body":""})"), 200);
        reply = control().get("/v1/status");
        QCOMPARE(reply.status, 200);
        QVERIFY(reply.complete);
        QVERIFY(reply.body.isEmpty());
    }

    void redirectFaultAnswersWithLocation() {
        QCOMPARE(control().post("/v1/resonance", gestureBody()).status, 200);
        QCOMPARE(
            setFaults(control(), "{\"path\":\"/v1/stop\",\"redirect\":\"http://example.invalid/v1/stop\"}"),
            200);
        const Reply reply = control().post("/v1/stop", QByteArray("{}"));
        QCOMPARE(reply.status, 302);
        QCOMPARE(reply.header("location"), QByteArray("http://example.invalid/v1/stop"));
        QCOMPARE(reply.json().value(QLatin1String("ok")), QJsonValue(false));
        QCOMPARE(stateOf(control()), QStringLiteral("gesture"));
    }

    void closeFaultDropsTheConnection() {
        QCOMPARE(setFaults(control(), R"({"path":"/v1/heartbeat","close":true})"), 200);
        Client client(m_sim->port());
        client.write("POST /v1/heartbeat HTTP/1.1\r\nX-VBL-Client: c\r\nContent-Length: 2\r\n\r\n{}");
        QVERIFY(client.waitForDisconnected());
        QVERIFY(client.unreadBytes().isEmpty());
        const QJsonObject stats = statsOf(control());
        QCOMPARE(stats.value(QLatin1String("inFlight")).toInt(), 0);
    }

    void stalledRequestsStayInFlightUntilTheClientGivesUp_data() {
        QTest::addColumn<QByteArray>("stall");
        QTest::newRow("never") << QByteArray("never");
        QTest::newRow("headers") << QByteArray("headers");
    }

    void stalledRequestsStayInFlightUntilTheClientGivesUp() {
        QFETCH(QByteArray, stall);
        const QByteArray fault = "{\"path\":\"/v1/status\",\"stall\":\"" + stall + "\"}";
        QCOMPARE(setFaults(control(), fault), 200);
        Client stalled(m_sim->port());
        const Reply reply = stalled.get("/v1/status", 400);
        QVERIFY(!reply.complete);
        QCOMPARE(reply.headComplete, stall == "headers");
        if (reply.headComplete)
            QVERIFY(reply.header("content-length").toInt() > 0);

        // Another connection is served meanwhile, concurrently with the stalled request.
        Client other(m_sim->port());
        QCOMPARE(other.post("/v1/stop", QByteArray("{}")).status, 200);
        QJsonObject stats = statsOf(control());
        QCOMPARE(stats.value(QLatin1String("inFlight")).toInt(), 1);
        QCOMPARE(stats.value(QLatin1String("maxInFlight")).toInt(), 2);

        stalled.close();
        QVERIFY(
            waitFor([&] { return statsOf(control()).value(QLatin1String("inFlight")).toInt() == 0; }, 3000));
    }

    void invalidFaultsAreRefusedWhole_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("field");
        QTest::newRow("not JSON") << QByteArray("{") << QStringLiteral("body");
        QTest::newRow("unknown member")
            << QByteArray(R"({"path":"/v1/stop","status":503,"delay":1})") << QStringLiteral("delay");
        QTest::newRow("two actions") << QByteArray(R"({"path":"/v1/stop","status":503,"close":true})")
                                     << QStringLiteral("path");
        QTest::newRow("status without path") << QByteArray(R"({"status":503})") << QStringLiteral("path");
        QTest::newRow("control path")
            << QByteArray(R"({"path":"/_sim/stats","close":true})") << QStringLiteral("path");
        QTest::newRow("bad stall") << QByteArray(R"({"path":"/v1/stop","stall":"sometimes"})")
                                   << QStringLiteral("stall");
        QTest::newRow("redirect status")
            << QByteArray("{\"path\":\"/v1/stop\",\"redirect\":\"http://x/\",\"status\":200}")
            << QStringLiteral("status");
        QTest::newRow("status out of range")
            << QByteArray(R"({"path":"/v1/stop","status":99})") << QStringLiteral("status");
        QTest::newRow("negative latency") << QByteArray(R"({"latencyMs":-5})") << QStringLiteral("latencyMs");
        QTest::newRow("bad second of two")
            << QByteArray(R"([{"path":"/v1/stop","close":true},{"path":"/v1/x"}])")
            << QStringLiteral("[1].path");
    }

    void invalidFaultsAreRefusedWhole() {
        QFETCH(QByteArray, body);
        QFETCH(QString, field);
        const Reply reply = control().request("POST", "/_sim/faults", body, {});
        QCOMPARE(reply.status, 400);
        QVERIFY2(reply.json().value(QLatin1String("error")).toString().startsWith(field),
                 qPrintable(reply.json().value(QLatin1String("error")).toString()));
        QCOMPARE(
            control().request("GET", "/_sim/faults", {}, {}).json().value(QLatin1String("faults")).toArray(),
            QJsonArray());
    }
};

// Concurrency accounting with replies delayed by --latency-ms.
class SimConcurrencyTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void maxInFlightCountsOverlappingRequestsOnly() {
        SimProcess sim({QStringLiteral("--latency-ms"), QStringLiteral("200")});
        QVERIFY(sim.isListening());
        Client a(sim.port());
        Client b(sim.port());

        // Sequential, even over several connections: never more than one at a time.
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(a.get("/v1/status").status, 200);
        QVERIFY(timer.elapsed() >= 200);
        QCOMPARE(b.get("/v1/status").status, 200);
        QCOMPARE(a.post("/v1/stop", QByteArray("{}")).status, 200);
        QCOMPARE(statsOf(a).value(QLatin1String("maxInFlight")).toInt(), 1);

        // Two at once on two connections.
        const QByteArray request = "GET /v1/status HTTP/1.1\r\nX-VBL-Client: c\r\n\r\n";
        a.write(request);
        b.write(request);
        QCOMPARE(a.readReply().status, 200);
        QCOMPARE(b.readReply().status, 200);
        const QJsonObject stats = statsOf(a);
        QCOMPARE(stats.value(QLatin1String("maxInFlight")).toInt(), 2);
        QCOMPARE(stats.value(QLatin1String("inFlight")).toInt(), 0);
        QCOMPARE(stats.value(QLatin1String("total")).toInt(), 5);
        QCOMPARE(stats.value(QLatin1String("statuses")).toObject().value(QLatin1String("200")).toInt(), 5);
    }
};

// The process: command line, output modes and signals.
class SimProcessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void signalsEndEffectsAndExitCleanly_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void signalsEndEffectsAndExitCleanly() {
        QFETCH(int, signal);
        SimProcess sim;
        QVERIFY(sim.isListening());
        Client client(sim.port());
        QCOMPARE(client.post("/v1/resonance", controlledBody()).status, 200);

        QVERIFY(::kill(pid_t(sim.process().processId()), signal) == 0);
        QVERIFY(waitFor([&] { return sim.process().state() == QProcess::NotRunning; }, 5000));
        QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process().exitCode(), 0);
        const auto end = sim.waitForEvent([](const QJsonObject &e) {
            return e.value(QLatin1String("event")).toString() == QLatin1String("end");
        });
        QVERIFY(end);
        QCOMPARE(end->value(QLatin1String("reason")).toString(), QStringLiteral("shutdown"));
        QVERIFY(sim.waitForEvent([](const QJsonObject &e) {
            return e.value(QLatin1String("event")).toString() == QLatin1String("shutdown");
        }));
        QVERIFY(client.waitForDisconnected());
    }

    void helpDocumentsTheInterface() {
        QProcess process;
        process.start(simBinary(), {QStringLiteral("--help")});
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitCode(), 0);
        const QString help = QString::fromUtf8(process.readAllStandardOutput());
        for (const char *item : {"--port",
                                 "--lease-ms",
                                 "--latency-ms",
                                 "--quiet",
                                 "--json",
                                 "/v1/status",
                                 "/v1/impulses",
                                 "/v1/sequences",
                                 "/v1/resonance/update",
                                 "/v1/resonance/pause",
                                 "/v1/resonance/resume",
                                 "/v1/heartbeat",
                                 "/v1/stop",
                                 "/_sim/stats",
                                 "/_sim/faults",
                                 "\"stall\"",
                                 "\"redirect\"",
                                 "\"close\"",
                                 "\"latencyMs\"",
                                 "maxInFlight"})
            QVERIFY2(help.contains(QLatin1String(item)), item);
    }

    void badCommandLinesAreRefused_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--verbose")};
        QTest::newRow("port out of range") << QStringList{QStringLiteral("--port"), QStringLiteral("70000")};
        QTest::newRow("lease not a number") << QStringList{QStringLiteral("--lease-ms=soon")};
        QTest::newRow("missing value") << QStringList{QStringLiteral("--latency-ms")};
        QTest::newRow("quiet and json") << QStringList{QStringLiteral("--quiet"), QStringLiteral("--json")};
    }

    void badCommandLinesAreRefused() {
        QFETCH(QStringList, arguments);
        QProcess process;
        process.start(simBinary(), arguments);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardOutput().isEmpty());
        QVERIFY(process.readAllStandardError().startsWith("vibrelle-sim: "));
    }

    void busyPortIsReported() {
        SimProcess first;
        QVERIFY(first.isListening());
        QProcess second;
        second.start(simBinary(), {QStringLiteral("--port"), QString::number(first.port())});
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(second.readAllStandardError().contains("cannot listen on 127.0.0.1:" +
                                                       QByteArray::number(first.port())));
    }

    void outputModes() {
        for (const QString &mode : {QStringLiteral("text"), QStringLiteral("--quiet")}) {
            QProcess process;
            QStringList arguments{QStringLiteral("--port"), QStringLiteral("0")};
            if (mode != QLatin1String("text"))
                arguments.append(mode);
            process.start(simBinary(), arguments);
            QVERIFY(waitFor([&] { return process.canReadLine(); }, 5000));
            const QByteArray first = process.readLine();
            QVERIFY(first.startsWith("listening on http://127.0.0.1:"));
            Client client(quint16(first.trimmed().split(':').last().toUInt()));
            QCOMPARE(client.get("/v1/status").status, 200);
            process.terminate();
            QVERIFY(process.waitForFinished(5000));
            const QByteArray rest = process.readAllStandardOutput();
            if (mode == QLatin1String("--quiet")) {
                QVERIFY2(rest.isEmpty(), rest.constData());
            } else {
                QVERIFY2(rest.contains("API Tester") && rest.contains("GET /v1/status -> 200"),
                         rest.constData());
            }
        }
    }
};

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    int status = 0;
    {
        SimTransportTest transport;
        status |= QTest::qExec(&transport, argc, argv);
    }
    {
        SimConcurrencyTest concurrency;
        status |= QTest::qExec(&concurrency, argc, argv);
    }
    {
        SimProcessTest process;
        status |= QTest::qExec(&process, argc, argv);
    }
    return status;
}

#include "test_sim_transport.moc"
