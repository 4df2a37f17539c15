// The simulated service black-box over real HTTP (its commands and refusals, /_sim/state, on a sim
// with a 300 ms lease the lease and the timed deadline; as an HTTP peer and a process: keep-alive,
// garbage, injected faults, statistics, the command line, output and signals), and its request
// parser in-process: framing under any splitting, and the limits that keep a peer from tying it up.

#include "RequestParser.h"
#include "SimHarness.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>

#include <csignal>

using namespace vibrelle::simtest;
using namespace vibrelle::sim;
using Event = RequestParser::Event;

// Feeds the bytes in chunks of `chunk` and collects the complete requests.
static QList<HttpRequest> feed(RequestParser &parser, const QByteArray &bytes, qsizetype chunk,
                               RequestParser::Result *last = nullptr) {
    QList<HttpRequest> requests;
    QByteArray buffer;
    RequestParser::Result result;
    for (qsizetype at = 0; at < bytes.size() && result.event != Event::Error; at += chunk) {
        buffer += bytes.mid(at, chunk);
        while ((result = parser.next(buffer)).event == Event::Complete || result.event == Event::Head) {
            if (result.event == Event::Complete)
                requests.append(parser.takeRequest());
        }
    }
    if (last)
        *last = result;
    return requests;
}

class SimTransportTest : public QObject {
    Q_OBJECT

    static constexpr int leaseMs = 300;
    SimProcess m_sim;
    SimProcess m_leased{{QStringLiteral("--lease-ms"), QString::number(leaseMs)}};
    Client m_control{m_sim.port()};
    Client m_leasedClient{m_leased.port()};

    QJsonArray faults() {
        return m_control.request("GET", "/_sim/faults", {}, Headers{}).json().value("faults").toArray();
    }
    QJsonObject parameters() { return m_control.get("/v1/status")["parameters"].toObject(); }
    void start(Client &client, const QString &mode) {
        if (mode == "idle")
            return;
        const QJsonObject body = mode == "timed"     ? timedBody(5000)
                                 : mode == "gesture" ? gestureBody()
                                                     : controlledBody(0.25, 20, 0.75);
        QCOMPARE(client.post("/v1/resonance", body).status, 200);
    }
    // What plays: the state in /v1/status, and in /_sim/state the effect in its state (or nothing) and
    // the lease; /_sim/state is not counted among the API requests.
    void checkPlaying(Client &client, bool leaseAlive, const QString &effect = {},
                      const QString &state = "running") {
        QCOMPARE(stateOf(client), effect.isEmpty()     ? QStringLiteral("idle")
                                  : state == u"paused" ? state
                                                       : effect);
        const double total = statsOf(client)["total"].toDouble();
        const Reply reply = client.request("GET", "/_sim/state", {}, Headers{});
        QCOMPARE(reply.status, 200);
        const QJsonArray playing{QJsonObject{{"effect", effect}, {"state", state}}};
        QCOMPARE(reply["playing"].toArray(), effect.isEmpty() ? QJsonArray() : playing);
        const QJsonObject lease = reply["lease"].toObject();
        QCOMPARE(lease["alive"].toBool(), leaseAlive);
        const int msLeft = lease["msLeft"].toInt();
        QVERIFY2(leaseAlive ? msLeft > 0 && msLeft <= 2000 : msLeft == 0,
                 qPrintable(QString::number(msLeft)));
        QCOMPARE(statsOf(client)["total"].toDouble(), total);
    }

private Q_SLOTS:
    void init() {
        QCOMPARE(clearFaults(m_control), 200);
        QCOMPARE(m_control.post("/v1/stop").status, 200);
        QCOMPARE(m_leasedClient.post("/v1/stop").status, 200);
        QCOMPARE(m_control.request("DELETE", "/_sim/stats", {}, Headers{}).status, 200);
    }

    // Impulses, a sequence that ends by itself, resonance starts that replace each other, and updates
    // that change only their keys (whole numbers may come with a fractional part on the wire).
    void commandsPlayReplaceAndUpdate() {
        qsizetype from = m_sim.events().size();
        for (const char *style : {"crisp", "natural", "soft"}) {
            const Reply reply =
                m_control.post("/v1/impulses", QJsonObject{{"intensity", 0.5}, {"style", style}});
            QCOMPARE(reply.status, 200);
            QCOMPARE(reply["emitted"], QJsonValue(true));
        }
        QVERIFY(m_sim.waitForEvent(eventIs("start", {{"effect", "impulse"}}), from));

        from = m_sim.events().size();
        Reply reply =
            m_control.post("/v1/sequences", R"({"steps":[{"delayMs":0,"intensity":0.5,"style":"crisp"},)"
                                            R"({"delayMs":180,"intensity":0.5,"style":"soft"}]})");
        QCOMPARE(reply["emitted"], QJsonValue(true));
        QCOMPARE(stateOf(m_control), QStringLiteral("sequence"));
        const auto began = m_sim.waitForEvent(eventIs("start", {{"effect", "sequence"}}), from);
        const auto ended =
            m_sim.waitForEvent(eventIs("end", {{"effect", "sequence"}, {"reason", "finished"}}), from);
        QVERIFY(began && ended);
        QVERIFY((*ended)["t"].toDouble() - (*began)["t"].toDouble() >= 180);
        QCOMPARE(stateOf(m_control), QStringLiteral("idle"));

        start(m_control, "gesture");
        checkPlaying(m_control, true, "gesture");
        reply = m_control.post("/v1/resonance/update", QJsonObject{{"reactivity", 0.1}});
        QCOMPARE(reply["activeEffect"], QJsonValue("gesture"));
        QCOMPARE(parameters(), (QJsonObject{{"fineness", 0.4}, {"intensity", 0.6}, {"reactivity", 0.1}}));
        from = m_sim.events().size();
        reply = m_control.post("/v1/resonance", controlledBody());
        QCOMPARE(reply["activeEffect"], QJsonValue("controlled"));
        QCOMPARE(reply["paused"], QJsonValue(false));
        QVERIFY(m_sim.waitForEvent(eventIs("end", {{"effect", "gesture"}, {"reason", "replaced"}}), from));
        checkPlaying(m_control, true, "controlled");
        reply = m_control.post("/v1/resonance/update", R"({"pulseRateHz":45.5,"transitionMs":450.0})");
        QCOMPARE(reply["activeEffect"], QJsonValue("controlled"));
        QCOMPARE(parameters(),
                 (QJsonObject{
                     {"intensity", 0.5}, {"pulseRateHz", 45.5}, {"sharpness", 0.5}, {"transitionMs", 450}}));
        reply = m_control.post("/v1/resonance", timedBody(5000));
        QCOMPARE(reply["activeEffect"], QJsonValue("timed"));
        const double remaining = reply["remainingDurationMs"].toDouble();
        QVERIFY2(remaining > 4000 && remaining <= 5000, qPrintable(QString::number(remaining)));
        checkPlaying(m_control, false, "timed"); // a timed resonance needs no lease
    }

    // Pausing twice changes nothing; an update and a heartbeat keep it paused; a stop ends whatever
    // runs, and with nothing running is still a success (an empty body counts as {}).
    void pauseResumeAndStop() {
        start(m_control, "controlled");
        for (const char *path : {"/v1/resonance/pause", "/v1/resonance/pause", "/v1/heartbeat"})
            QCOMPARE(m_control.post(path)["paused"], QJsonValue(true));
        QCOMPARE(m_control.post("/v1/resonance/update", QJsonObject{{"sharpness", 0.9}})["paused"],
                 QJsonValue(true));
        checkPlaying(m_control, true, "controlled", "paused");
        QCOMPARE(m_control.post("/v1/resonance/resume")["paused"], QJsonValue(false));
        checkPlaying(m_control, true, "controlled");

        Reply reply = m_control.post("/v1/stop");
        QCOMPARE(reply["activeEffect"], QJsonValue("none"));
        QCOMPARE(reply["stopped"], QJsonValue(QJsonArray{"controlled"}));
        const Reply status = m_control.get("/v1/status");
        QCOMPARE(status.header("content-type"), QByteArray("application/json"));
        QCOMPARE(status.json().value("activeEffect"), QJsonValue("none"));
        QVERIFY(!status.json().contains("parameters"));
        checkPlaying(m_control, false);
        reply = m_control.post("/v1/stop", QByteArray());
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply["stopped"], QJsonValue(QJsonArray{}));
    }

    // A refused command (bad input: 400 naming the field, an effect missing: 409, an unknown path:
    // 404) changes nothing: no state, no parameter, no effect event.
    void badInputChangesNothing_data() {
        QTest::addColumn<QString>("running");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("status");
        const auto row = [](const char *running, const char *path, const QByteArray &body, const char *field,
                            int status = 400) {
            QTest::addRow("%s %s %s", running, path, body.left(150).constData())
                << QString(running) << "/v1/" + QByteArray(path) << body << QString(field) << status;
        };
        const QByteArray timed = R"({"durationMs":300,"fineness":0.5,"intensity":0.5,"mode":"timed")",
                         controlled =
                             R"({"intensity":0.5,"mode":"controlled","sharpness":0.5,"transitionMs":40,)";
        row("controlled", "impulses", R"({"intensity":0.5,)", "body");
        row("controlled", "impulses", "[]", "body");
        row("controlled", "impulses", "", "body");
        row("controlled", "impulses", R"({"intensity":"0.5","style":"crisp"})", "intensity");
        row("controlled", "impulses", R"({"intensity":1.01,"style":"crisp"})", "intensity");
        row("controlled", "impulses", R"({"intensity":-0.1,"style":"crisp"})", "intensity");
        row("controlled", "impulses", R"({"intensity":0.5,"style":"hard"})", "style");
        row("controlled", "impulses", R"({"intensity":0.5})", "style");
        row("controlled", "impulses", R"({"intensity":0.5,"style":"soft","volume":1})", "volume");
        row("controlled", "sequences", R"({"steps":[]})", "steps");
        row("controlled", "sequences", R"({"steps":{}})", "steps");
        row("controlled", "sequences", R"({"steps":[1]})", "steps[0]");
        row("controlled", "sequences",
            R"({"steps":[{"delayMs":0,"intensity":0.5,"style":"soft"},{"delayMs":1.5,"intensity":0.5,"style":"soft"}]})",
            "steps[1].delayMs");
        row("controlled", "sequences",
            R"({"steps":[)" +
                QByteArray(R"({"delayMs":0,"intensity":0.5,"style":"crisp"},)").repeated(17).chopped(1) +
                "]}",
            "steps");
        row("controlled", "resonance", R"({"intensity":0.5})", "mode");
        row("controlled", "resonance", R"({"mode":"pulsed"})", "mode");
        row("controlled", "resonance", QByteArray(timed).replace("300", "0") + "}", "durationMs");
        row("controlled", "resonance", QByteArray(timed).replace("300", "300.5") + "}", "durationMs");
        row("controlled", "resonance", QByteArray(timed).replace("300", "60001") + "}", "durationMs");
        row("controlled", "resonance", timed + R"(,"reactivity":0.5})", "reactivity");
        row("controlled", "resonance", R"({"fineness":0.5,"intensity":0.5,"mode":"gesture"})", "reactivity");
        row("controlled", "resonance", controlled + R"("pulseRateHz":0})", "pulseRateHz");
        row("controlled", "resonance", controlled + R"("pulseRateHz":61})", "pulseRateHz");
        row("controlled", "resonance", QByteArray(controlled).replace("40", "-1") + R"("pulseRateHz":30})",
            "transitionMs");
        row("controlled", "resonance/update", R"({"fineness":0.5})", "fineness");
        row("controlled", "resonance/update", R"({"intensity":0.9,"sharpness":2})", "sharpness");
        row("controlled", "resonance/update", "{}", "body");
        row("timed", "resonance/update", R"({"pulseRateHz":10})", "pulseRateHz");
        row("timed", "resonance/update", R"({"durationMs":450.5})", "durationMs");
        row("gesture", "resonance/update", R"({"sharpness":0.5})", "sharpness");
        row("controlled", "resonance/pause", R"({"now":true})", "now");
        row("controlled", "stop", R"({"all":true})", "all");
        row("controlled", "vibrate", "{}", "/v1/vibrate", 404);
        for (const char *path : {"resonance/pause", "resonance/resume", "heartbeat"})
            row("idle", path, "{}", "", 409);
        row("idle", "resonance/update", R"({"intensity":0.2})", "", 409);
        row("gesture", "resonance/pause", "{}", "", 409);
        row("timed", "resonance/resume", "{}", "", 409);
    }

    void badInputChangesNothing() {
        QFETCH(QString, running);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, body);
        QFETCH(QString, field);
        QFETCH(int, status);
        start(m_control, running);
        const QString stateBefore = stateOf(m_control);
        const QJsonObject parametersBefore = parameters();
        const qsizetype from = m_sim.events().size();

        const Reply reply = m_control.post(path, body);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply["ok"], QJsonValue(false));
        const QString error = reply["error"].toString();
        QVERIFY2(status == 400 ? error.startsWith(field + u':') : !error.isEmpty() && error.contains(field),
                 qPrintable(error));
        QCOMPARE(stateOf(m_control), stateBefore);
        QCOMPARE(parameters(), parametersBefore);
        // The request line comes after any effect event it caused: there must be none.
        QVERIFY(m_sim.waitForEvent(eventIs("request", {{"path", QString(path)}}), from));
        for (const QJsonObject &event :
             m_sim.matching([](const QJsonObject &e) { return e.contains("effect"); }, from))
            QFAIL(QJsonDocument(event).toJson(QJsonDocument::Compact).constData());
    }

    void requestsMustFollowTheProtocol() {
        const QByteArray body = QJsonDocument(controlledBody()).toJson();
        Reply reply =
            m_control.request("POST", "/v1/resonance", body, Headers{{"Content-Type", "application/json"}});
        QCOMPARE(reply.status, 400);
        QVERIFY(reply["error"].toString().startsWith("X-VBL-Client"));
        reply = m_control.request("POST", "/v1/resonance", body,
                                  Headers{{"X-VBL-Client", "a"}, {"Content-Type", "text/plain"}});
        QCOMPARE(reply.status, 415);
        reply = m_control.get("/v1/stop");
        QCOMPARE(reply.status, 405);
        QCOMPARE(reply.header("allow"), QByteArray("POST"));
        reply = m_control.post("/v1/status");
        QCOMPARE(reply.status, 405);
        QCOMPARE(reply.header("allow"), QByteArray("GET"));
        QCOMPARE(m_control.request("POST", "/_sim/state", "{}", Headers{}).status, 405);
        QCOMPARE(stateOf(m_control), QStringLiteral("idle"));
    }

    // Real time on the sim with the 300 ms lease: renewals keep the effect alive for twice the
    // lease, then it ends one lease after the last renewal.
    void leaseIsRenewedAndThenExpires_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("renewal");
        QTest::newRow("gesture, heartbeats") << "gesture" << QByteArray("/v1/heartbeat");
        QTest::newRow("controlled, updates") << "controlled" << QByteArray("/v1/resonance/update");
        QTest::newRow("controlled, pauses") << "controlled" << QByteArray("/v1/resonance/pause");
    }

    void leaseIsRenewedAndThenExpires() {
        QFETCH(QString, mode);
        QFETCH(QByteArray, renewal);
        Client &client = m_leasedClient;
        const qsizetype from = m_leased.events().size();
        start(client, mode);
        for (int i = 0; i < 6; ++i) {
            QTest::qWait(100);
            const Reply reply =
                client.post(renewal, renewal.endsWith("update") ? R"({"intensity":0.3})" : "{}");
            QCOMPARE(reply["activeEffect"], QJsonValue(mode));
        }
        QVERIFY(stateOf(client) != "idle");
        const double lastRenewal =
            m_leased.matching(eventIs("request", {{"path", QString(renewal)}})).last()["t"].toDouble();
        const auto end = m_leased.waitForEvent(eventIs("end", {{"effect", mode}}), from);
        QVERIFY(end);
        QCOMPARE((*end)["reason"], QJsonValue("lease expired"));
        // The request line may trail the renewal by a few milliseconds on a loaded machine.
        const double endedAfter = (*end)["t"].toDouble() - lastRenewal;
        QVERIFY2(endedAfter >= leaseMs - 50 && endedAfter < leaseMs + 1500,
                 qPrintable(QString::number(endedAfter)));
        checkPlaying(client, false);
        // An update racing with the end learns that the effect is over.
        QCOMPARE(client.post("/v1/resonance/update", QJsonObject{{"intensity", 0.5}})["activeEffect"],
                 QJsonValue("none"));
    }

    // A duration update counts from the start; at the deadline the effect ends by itself; lengthening
    // moves the deadline, shortening below the elapsed time ends the effect at once.
    void timedResonanceEndsAtItsDeadline() {
        Client &client = m_leasedClient;
        QElapsedTimer sinceStart;
        sinceStart.start();
        qsizetype from = m_leased.events().size();
        QCOMPARE(client.post("/v1/resonance", timedBody(400)).status, 200);
        QTest::qWait(100);
        Reply reply = client.post("/v1/resonance/update", R"({"durationMs":300.0})");
        const double elapsed = double(sinceStart.elapsed());
        QCOMPARE(reply["activeEffect"], QJsonValue("timed"));
        const double remaining = reply["remainingDurationMs"].toDouble();
        QVERIFY2(remaining <= 300 - 100 + 1 && remaining >= 300 - elapsed - 1,
                 qPrintable(QString::number(remaining)));
        const auto began = m_leased.waitForEvent(eventIs("start", {{"effect", "timed"}}), from);
        const auto ended = m_leased.waitForEvent(
            eventIs("end", {{"effect", "timed"}, {"reason", "duration elapsed"}}), from);
        QVERIFY(began && ended);
        const double ranMs = (*ended)["t"].toDouble() - (*began)["t"].toDouble();
        QVERIFY2(ranMs >= 299 && ranMs < 1500, qPrintable(QString::number(ranMs)));
        QCOMPARE(stateOf(client), QStringLiteral("idle"));
        reply = client.post("/v1/resonance/update", QJsonObject{{"durationMs", 400}});
        QCOMPARE(reply["activeEffect"], QJsonValue("none"));
        QCOMPARE(reply["remainingDurationMs"], QJsonValue(0));
        // After a stop the effect is forgotten: an update is a conflict.
        QCOMPARE(client.post("/v1/stop").status, 200);
        QCOMPARE(client.post("/v1/resonance/update", QJsonObject{{"durationMs", 400}}).status, 409);

        QCOMPARE(client.post("/v1/resonance", timedBody(400)).status, 200);
        QTest::qWait(100);
        QVERIFY(client.post("/v1/resonance/update", QJsonObject{{"durationMs", 5000}})["remainingDurationMs"]
                    .toDouble() > 4000);
        from = m_leased.events().size();
        reply = client.post("/v1/resonance/update", QJsonObject{{"durationMs", 50}, {"intensity", 0.7}});
        QCOMPARE(reply["activeEffect"], QJsonValue("none"));
        QCOMPARE(reply["remainingDurationMs"], QJsonValue(0));
        QVERIFY(m_leased.waitForEvent(eventIs("end", {{"effect", "timed"}}), from));
        QCOMPARE(stateOf(client), QStringLiteral("idle"));
    }

    // --- The sim as an HTTP peer and a process ------------------------------------------------------

    // One connection serves many requests in turn, and pipelined ones in order.
    void keepAliveAndPipelining() {
        Client client(m_sim.port());
        for (int i = 0; i < 20; ++i) {
            const Reply reply = client.get("/v1/status");
            QCOMPARE(reply.status, 200);
            QCOMPARE(reply.header("connection"), QByteArray("keep-alive"));
        }
        QVERIFY(client.isConnected());
        const QJsonObject stats = statsOf(client);
        QCOMPARE(stats["total"], QJsonValue(20));
        QCOMPARE(stats["paths"]["/v1/status"], QJsonValue(20));
        QCOMPARE(stats["statuses"]["200"], QJsonValue(20));
        // The control connection plus this one; sequential requests never overlap.
        QCOMPARE(stats["connections"]["total"], QJsonValue(2));
        QCOMPARE(stats["maxInFlight"], QJsonValue(1));

        const QByteArray head = " HTTP/1.1\r\nX-VBL-Client: p\r\nContent-Type: application/json\r\n";
        client.write("GET /v1/status" + head + "\r\nPOST /v1/vibrate" + head + "Content-Length: 2\r\n\r\n{}" +
                     "POST /v1/stop" + head + "Content-Length: 2\r\n\r\n{}");
        QCOMPARE(client.readReply().status, 200);
        QCOMPARE(client.readReply().status, 404);
        QCOMPARE(client.readReply()["stopped"], QJsonValue(QJsonArray{}));
        QVERIFY(client.isConnected());
    }

    // HTTP/1.1 persists unless "close" is among the Connection tokens; HTTP/1.0 only with "keep-alive".
    // A request that cannot be read gets a JSON error and a close; the service lives on and counts the
    // refusal apart from the API requests.
    void connectionPersistence_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("keepAlive");
        const QByteArray get = "GET /v1/status HTTP/1.", client = "\r\nX-VBL-Client: c\r\n\r\n";
        QTest::newRow("1.1 close") << get + "1\r\nConnection: Keep-Alive, Close" + client << 200 << false;
        QTest::newRow("1.0 default") << get + "0" + client << 200 << false;
        QTest::newRow("1.0 keep-alive") << get + "0\r\nConnection: keep-alive" + client << 200 << true;
        QTest::newRow("garbage") << QByteArray("\x01\x02 hello\r\n\r\n") << 400 << false;
        QTest::newRow("body over 64 KiB")
            << get + "1\r\nContent-Length: 65537" + client + '{' << 413 << false;
    }

    void connectionPersistence() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        QFETCH(bool, keepAlive);
        Client client(m_sim.port());
        client.write(bytes);
        const Reply reply = client.readReply();
        QCOMPARE(reply.status, status);
        QCOMPARE(reply["ok"], QJsonValue(status == 200));
        QCOMPARE(reply.header("connection"), keepAlive ? QByteArray("keep-alive") : QByteArray("close"));
        QCOMPARE(client.waitForDisconnected(keepAlive ? 300 : 3000), !keepAlive);
        const QJsonObject stats = statsOf(m_control);
        QCOMPARE(stats["rejected"], QJsonValue(status == 200 ? 0 : 1));
        QCOMPARE(stats["total"], QJsonValue(status == 200 ? 1 : 0));
        QCOMPARE(m_control.get("/v1/status").status, 200);
    }

    void latencyFaultDelaysReplies() {
        QCOMPARE(setFaults(m_control, R"({"latencyMs":150})"), 200);
        Client client(m_sim.port());
        const qsizetype from = m_sim.events().size();
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(client.get("/v1/status").status, 200);
        QVERIFY(timer.elapsed() >= 150);
        const auto event = m_sim.waitForEvent(eventIs("request", {{"path", "/v1/status"}}), from);
        QVERIFY(event);
        QCOMPARE((*event)["delayMs"], QJsonValue(150));
        QVERIFY((*event)["handlingMs"].toDouble() < 150);

        QCOMPARE(clearFaults(m_control), 200);
        const qsizetype afterClear = m_sim.events().size();
        QCOMPARE(client.get("/v1/status").status, 200);
        const auto undelayed = m_sim.waitForEvent(eventIs("request", {{"path", "/v1/status"}}), afterClear);
        QVERIFY(undelayed && !undelayed->contains("delayMs"));
    }

    void statusAndRedirectFaultsAnswerWithoutRunningTheCommand() {
        QCOMPARE(m_control.post("/v1/resonance", controlledBody()).status, 200);
        QCOMPARE(setFaults(m_control, R"({"path":"/v1/stop","status":503,"error":"busy","times":1})"), 200);
        Reply reply = m_control.post("/v1/stop");
        QCOMPARE(reply.status, 503);
        QCOMPARE(reply.json(), (QJsonObject{{"ok", false}, {"error", "busy"}}));
        QCOMPARE(stateOf(m_control), QStringLiteral("controlled"));
        // Used up after one request.
        QCOMPARE(faults(), QJsonArray());
        QCOMPARE(m_control.post("/v1/stop").status, 200);
        QCOMPARE(stateOf(m_control), QStringLiteral("idle"));

        QCOMPARE(m_control.post("/v1/resonance", gestureBody()).status, 200);
        QCOMPARE(
            setFaults(m_control, "{\"path\":\"/v1/stop\",\"redirect\":\"http://example.invalid/v1/stop\"}"),
            200);
        reply = m_control.post("/v1/stop");
        QCOMPARE(reply.status, 302);
        QCOMPARE(reply.header("location"), QByteArray("http://example.invalid/v1/stop"));
        QCOMPARE(reply["ok"], QJsonValue(false));
        QCOMPARE(stateOf(m_control), QStringLiteral("gesture"));
        QCOMPARE(setFaults(m_control, R"({"path":"/v1/status","status":200,"body":""})"), 200);
        reply = m_control.get("/v1/status");
        QCOMPARE(reply.status, 200);
        QVERIFY(reply.complete && reply.body.isEmpty());
        // A close fault drops the connection without a word.
        QCOMPARE(setFaults(m_control, R"({"path":"/v1/heartbeat","close":true})"), 200);
        Client client(m_sim.port());
        client.write("POST /v1/heartbeat HTTP/1.1\r\nX-VBL-Client: c\r\nContent-Length: 2\r\n\r\n{}");
        QVERIFY(client.waitForDisconnected());
        QVERIFY(client.unread.isEmpty());
        QCOMPARE(statsOf(m_control).value("inFlight"), QJsonValue(0));
    }

    void stalledRequestsStayInFlightUntilTheClientGivesUp_data() {
        QTest::addColumn<QByteArray>("stall");
        QTest::newRow("never") << QByteArray("never");
        QTest::newRow("headers") << QByteArray("headers");
    }

    void stalledRequestsStayInFlightUntilTheClientGivesUp() {
        QFETCH(QByteArray, stall);
        QCOMPARE(setFaults(m_control, "{\"path\":\"/v1/status\",\"stall\":\"" + stall + "\"}"), 200);
        Client stalled(m_sim.port());
        stalled.write("GET /v1/status HTTP/1.1\r\nX-VBL-Client: s\r\n\r\n");
        QVERIFY(waitFor([&] { return statsOf(m_control).value("inFlight") == QJsonValue(1); }, 3000));
        // Another connection is served meanwhile, concurrently with the stalled request.
        Client other(m_sim.port());
        QCOMPARE(other.post("/v1/stop").status, 200);
        QCOMPARE(statsOf(m_control).value("maxInFlight"), QJsonValue(2));
        Reply reply; // what has arrived by now: nothing, or the head alone
        QVERIFY(waitFor([&] { return (reply = stalled.readReply(0)).headComplete == (stall == "headers"); },
                        3000));
        QVERIFY(!reply.complete);
        QVERIFY(!reply.headComplete || reply.header("content-length").toInt() > 0);
        stalled.close();
        QVERIFY(waitFor([&] { return statsOf(m_control).value("inFlight") == QJsonValue(0); }, 3000));
    }

    void invalidFaultsAreRefusedWhole_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("field");
        const auto row = [](const char *name, const QByteArray &body, const char *field) {
            QTest::newRow(name) << body << QString(field);
        };
        row("not JSON", "{", "body");
        row("unknown member", R"({"path":"/v1/stop","status":503,"delay":1})", "delay");
        row("two actions", R"({"path":"/v1/stop","status":503,"close":true})", "path");
        row("status without path", R"({"status":503})", "path");
        row("control path", R"({"path":"/_sim/stats","close":true})", "path");
        row("bad stall", R"({"path":"/v1/stop","stall":"sometimes"})", "stall");
        row("redirect status", "{\"path\":\"/v1/stop\",\"redirect\":\"http://x/\",\"status\":200}", "status");
        row("status out of range", R"({"path":"/v1/stop","status":99})", "status");
        row("negative latency", R"({"latencyMs":-5})", "latencyMs");
        row("bad second of two", R"([{"path":"/v1/stop","close":true},{"path":"/v1/x"}])", "[1].path");
    }

    void invalidFaultsAreRefusedWhole() {
        QFETCH(QByteArray, body);
        QFETCH(QString, field);
        const Reply reply = m_control.request("POST", "/_sim/faults", body, Headers{});
        QCOMPARE(reply.status, 400);
        QVERIFY2(reply["error"].toString().startsWith(field), qPrintable(reply["error"].toString()));
        QCOMPARE(faults(), QJsonArray());
    }

    void commandLines_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("error"); // how standard error starts
        const auto row = [](const char *name, const QStringList &arguments, int exitCode,
                            const QByteArray &error = "vibrelle-sim: ") {
            QTest::newRow(name) << arguments << exitCode << error;
        };
        row("help", {"--help"}, 0, {});
        row("unknown option", {"--verbose"}, 2);
        row("port out of range", {"--port", "70000"}, 2);
        row("lease not a number", {"--lease-ms=soon"}, 2);
        row("missing value", {"--latency-ms"}, 2);
        row("quiet and json", {"--quiet", "--json"}, 2);
        row("window without a display", {"--view"}, 2, "vibrelle-sim: --view: ");
        row("unwritable sound file", {"--audio-file", "/nonexistent/x.wav"}, 2,
            "vibrelle-sim: --audio-file: cannot write");
        const QByteArray port = QByteArray::number(m_sim.port());
        row("busy port", {"--port", QString::fromLatin1(port)}, 1,
            "vibrelle-sim: cannot listen on 127.0.0.1:" + port);
    }

    void commandLines() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, error);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        process.setProcessEnvironment(environment);
        process.start(builtProgram("vibrelle-sim"), arguments);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitCode(), exitCode);
        QVERIFY(process.readAllStandardError().startsWith(error));
        const QByteArray out = process.readAllStandardOutput();
        QVERIFY(exitCode == 0 ? out.contains("/_sim/faults") : out.isEmpty());
    }

    // The text timeline names the client and the outcome; --quiet prints nothing after the address;
    // --latency-ms delays every reply; SIGTERM and SIGINT end the effect and exit cleanly.
    void outputModesAndSignals_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("signal");
        QTest::newRow("text, latency, SIGTERM") << QStringList{"--latency-ms", "100"} << SIGTERM;
        QTest::newRow("quiet, SIGINT") << QStringList{"--quiet"} << SIGINT;
    }

    void outputModesAndSignals() {
        QFETCH(QStringList, options);
        QFETCH(int, signal);
        QProcess process;
        process.start(builtProgram("vibrelle-sim"), QStringList{"--port", "0"} + options);
        QVERIFY(waitFor([&] { return process.canReadLine(); }, 5000));
        const QByteArray first = process.readLine();
        QVERIFY(first.startsWith("listening on http://127.0.0.1:"));
        Client client(quint16(first.trimmed().split(':').last().toUInt()));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(client.post("/v1/resonance", controlledBody()).status, 200);
        QVERIFY(signal == SIGINT || timer.elapsed() >= 100);
        QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(client.waitForDisconnected());
        const QByteArray rest = process.readAllStandardOutput();
        QVERIFY2(signal == SIGINT
                     ? rest.isEmpty()
                     : rest.contains("API Tester") && rest.contains("POST /v1/resonance -> 200") &&
                           rest.contains("end controlled (shutdown)") && rest.contains("reason=SIGTERM"),
                 rest.constData());
    }

    // --- The request parser, in-process --------------------------------------------------------------

    void requestsSurviveAnySplitting_data() {
        QTest::addColumn<int>("chunk");
        for (int chunk : {1, 7, 4096})
            QTest::addRow("%d bytes", chunk) << chunk;
    }

    void requestsSurviveAnySplitting() {
        QFETCH(int, chunk);
        // Two pipelined requests; the second with an absolute-form target, bare LF line ends, a
        // padded value and a stray CRLF before it.
        const QByteArray bytes = "POST /v1/resonance?x=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nX-VBL-Client: abc\r\n"
                                 "Content-Type: application/json\r\nContent-Length: 11\r\n\r\n{\"a\":true}\n"
                                 "\r\nGET http://127.0.0.1:59723/v1/status HTTP/1.1\n"
                                 "X-VBL-Client-Name:  API Tester \n\n";
        RequestParser parser;
        QByteArrayList seen; // method, path, the two client headers, body
        for (const HttpRequest &r : feed(parser, bytes, chunk))
            seen << r.method + ' ' + r.path + ' ' + r.header("x-vbl-client") + r.header("x-vbl-client-name") +
                        ' ' + r.body;
        QCOMPARE(seen,
                 (QByteArrayList{"POST /v1/resonance abc {\"a\":true}\n", "GET /v1/status API Tester "}));
    }

    // The head is announced before the body has come; a body of exactly 64 KiB is accepted; the
    // next request's bytes stay for the next round.
    void headEventPrecedesTheBody() {
        RequestParser parser;
        QByteArray buffer = "POST /v1/stop HTTP/1.1\r\nContent-Length: 65536\r\n\r\n{";
        QCOMPARE(parser.next(buffer).event, Event::Head);
        QCOMPARE(parser.request().path, QByteArray("/v1/stop"));
        QCOMPARE(parser.next(buffer).event, Event::NeedMore);
        buffer += QByteArray(64 * 1024 - 2, 'x') + "}GET";
        QCOMPARE(parser.next(buffer).event, Event::Complete);
        QCOMPARE(parser.takeRequest().body, '{' + QByteArray(64 * 1024 - 2, 'x') + '}');
        QCOMPARE(buffer, QByteArray("GET"));
        QCOMPARE(parser.next(buffer).event, Event::NeedMore);
    }

    void malformedRequestsAreErrors_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        const QByteArray get = "GET / HTTP/1.1\r\n", post = "POST / HTTP/1.1\r\n";
        QTest::newRow("two words") << QByteArray("GET /\r\n\r\n") << 400;
        QTest::newRow("double space") << QByteArray("GET  / HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("bad method") << QByteArray("G(T / HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("relative target") << QByteArray("GET v1/status HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("not HTTP") << QByteArray("GET / SPDY/3.1\r\n\r\n") << 400;
        QTest::newRow("HTTP/2.0") << QByteArray("GET / HTTP/2.0\r\n\r\n") << 505;
        QTest::newRow("no colon") << get + "Host 127.0.0.1\r\n\r\n" << 400;
        QTest::newRow("space before colon") << get + "Host : x\r\n\r\n" << 400;
        QTest::newRow("folded header") << get + "A: b\r\n c\r\n\r\n" << 400;
        QTest::newRow("NUL in value") << get + QByteArray("A: b\0c\r\n\r\n", 10) << 400;
        QTest::newRow("signed length") << post + "Content-Length: +2\r\n\r\n{}" << 400;
        QTest::newRow("conflicting lengths")
            << post + "Content-Length: 2\r\nContent-Length: 3\r\n\r\n{}" << 400;
        QTest::newRow("huge length") << post + "Content-Length: 99999999999999999999\r\n\r\n" << 400;
        QTest::newRow("length over limit") << post + "Content-Length: 65537\r\n\r\n" << 413;
        QTest::newRow("chunked") << post + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n" << 411;
        QTest::newRow("head over limit") << get + "A: " + QByteArray(16 * 1024, 'a') + "\r\n\r\n" << 431;
        QTest::newRow("no end of head") << QByteArray(16 * 1024 + 1, 'a') << 431;
    }

    void malformedRequestsAreErrors() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        RequestParser parser;
        RequestParser::Result last;
        QVERIFY(feed(parser, bytes, 512, &last).isEmpty());
        QCOMPARE(last.event, Event::Error);
        QCOMPARE(last.status, status);
        QVERIFY(!last.message.isEmpty());
        // Once failed, the parser stays failed: the connection is not reusable.
        QByteArray more = "GET / HTTP/1.1\r\n\r\n";
        QCOMPARE(parser.next(more).event, Event::Error);
    }
};

QTEST_GUILESS_MAIN(SimTransportTest)
#include "test_sim_transport.moc"
