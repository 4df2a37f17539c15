// The simulated service's API over real HTTP: every command, replacement, pause and resume,
// conflicts, bad input that must leave the state unchanged, and (on a sim with a 300 ms lease)
// lease renewal and expiry and the timed deadline.

#include "SimHarness.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace vibrelle::simtest;

class SimApiTest : public QObject {
    Q_OBJECT

    static constexpr int leaseMs = 300;
    SimProcess m_sim;
    SimProcess m_leased{{QStringLiteral("--lease-ms"), QString::number(leaseMs)}};
    Client m_client{m_sim.port()};
    Client m_leasedClient{m_leased.port()};

    QJsonObject parameters() { return m_client.get("/v1/status")["parameters"].toObject(); }
    void start(Client &client, const QString &mode) {
        if (mode == "idle")
            return;
        const QJsonObject body = mode == "timed" ? timedBody(5000) : mode == "gesture" ? gestureBody()
                                                                                         : controlledBody(0.25, 20, 0.75);
        QCOMPARE(client.post("/v1/resonance", body).status, 200);
    }

private Q_SLOTS:
    void init() {
        QCOMPARE(m_client.post("/v1/stop").status, 200);
        QCOMPARE(m_leasedClient.post("/v1/stop").status, 200);
    }

    void impulsesAndSequencePlayAndEnd() {
        const qsizetype from = m_sim.events().size();
        for (const char *style : {"crisp", "natural", "soft"}) {
            const Reply reply = m_client.post("/v1/impulses", QJsonObject{{"intensity", 0.5}, {"style", style}});
            QCOMPARE(reply.status, 200);
            QCOMPARE(reply["emitted"], QJsonValue(true));
        }
        QVERIFY(m_sim.waitForEvent(eventIs("start", {{"effect", "impulse"}}), from));

        const qsizetype beforeSequence = m_sim.events().size();
        const Reply reply = m_client.post("/v1/sequences", R"({"steps":[{"delayMs":0,"intensity":0.5,"style":"crisp"},)"
                                                           R"({"delayMs":180,"intensity":0.5,"style":"soft"}]})");
        QCOMPARE(reply["emitted"], QJsonValue(true));
        QCOMPARE(stateOf(m_client), QStringLiteral("sequence"));
        const auto start = m_sim.waitForEvent(eventIs("start", {{"effect", "sequence"}}), beforeSequence);
        const auto end = m_sim.waitForEvent(eventIs("end", {{"effect", "sequence"}, {"reason", "finished"}}),
                                            beforeSequence);
        QVERIFY(start && end);
        QVERIFY((*end)["t"].toDouble() - (*start)["t"].toDouble() >= 180);
        QCOMPARE(stateOf(m_client), QStringLiteral("idle"));
    }

    void resonanceStartsReplaceEachOther() {
        start(m_client, "gesture");
        QCOMPARE(stateOf(m_client), QStringLiteral("gesture"));
        const qsizetype from = m_sim.events().size();
        Reply reply = m_client.post("/v1/resonance", controlledBody());
        QCOMPARE(reply["activeEffect"], QJsonValue("controlled"));
        QCOMPARE(reply["paused"], QJsonValue(false));
        QVERIFY(m_sim.waitForEvent(eventIs("end", {{"effect", "gesture"}, {"reason", "replaced"}}), from));
        QCOMPARE(stateOf(m_client), QStringLiteral("controlled"));

        reply = m_client.post("/v1/resonance", timedBody(5000));
        QCOMPARE(reply["activeEffect"], QJsonValue("timed"));
        const double remaining = reply["remainingDurationMs"].toDouble();
        QVERIFY2(remaining > 4000 && remaining <= 5000, qPrintable(QString::number(remaining)));
        QCOMPARE(stateOf(m_client), QStringLiteral("timed"));
    }

    void updatesChangeOnlyTheirKeys() {
        QCOMPARE(m_client.post("/v1/resonance", controlledBody()).status, 200);
        // Whole numbers may come with a fractional part on the wire.
        Reply reply = m_client.post("/v1/resonance/update", R"({"pulseRateHz":45.5,"transitionMs":450.0})");
        QCOMPARE(reply["activeEffect"], QJsonValue("controlled"));
        QCOMPARE(parameters(), (QJsonObject{{"intensity", 0.5}, {"pulseRateHz", 45.5}, {"sharpness", 0.5},
                                            {"transitionMs", 450}}));
        start(m_client, "gesture");
        reply = m_client.post("/v1/resonance/update", QJsonObject{{"reactivity", 0.1}});
        QCOMPARE(reply["activeEffect"], QJsonValue("gesture"));
        QCOMPARE(parameters(), (QJsonObject{{"fineness", 0.4}, {"intensity", 0.6}, {"reactivity", 0.1}}));
    }

    void pauseAndResumeControlledResonance() {
        start(m_client, "controlled");
        // Pausing twice changes nothing; an update and a heartbeat keep it paused.
        for (const char *path : {"/v1/resonance/pause", "/v1/resonance/pause", "/v1/heartbeat"})
            QCOMPARE(m_client.post(path)["paused"], QJsonValue(true));
        QCOMPARE(m_client.post("/v1/resonance/update", QJsonObject{{"sharpness", 0.9}})["paused"], QJsonValue(true));
        QCOMPARE(stateOf(m_client), QStringLiteral("paused"));
        QCOMPARE(m_client.post("/v1/resonance/resume")["paused"], QJsonValue(false));
        QCOMPARE(stateOf(m_client), QStringLiteral("controlled"));
    }

    void stopEndsWhateverRuns() {
        start(m_client, "controlled");
        Reply reply = m_client.post("/v1/stop");
        QCOMPARE(reply["activeEffect"], QJsonValue("none"));
        QCOMPARE(reply["stopped"], QJsonValue(QJsonArray{"controlled"}));
        const Reply status = m_client.get("/v1/status");
        QCOMPARE(status.header("content-type"), QByteArray("application/json"));
        QCOMPARE(status.json().value("state"), QJsonValue("idle"));
        QCOMPARE(status.json().value("activeEffect"), QJsonValue("none"));
        QVERIFY(!status.json().contains("parameters"));
        // Nothing runs: still a success. An empty body counts as {}.
        reply = m_client.post("/v1/stop", QByteArray());
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
                         controlled = R"({"intensity":0.5,"mode":"controlled","sharpness":0.5,"transitionMs":40,)";
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
        row("controlled", "sequences", R"({"steps":[)" + QByteArray(R"({"delayMs":0,"intensity":0.5,"style":"crisp"},)")
                                           .repeated(17).chopped(1) + "]}", "steps");
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
        start(m_client, running);
        const QString stateBefore = stateOf(m_client);
        const QJsonObject parametersBefore = parameters();
        const qsizetype from = m_sim.events().size();

        const Reply reply = m_client.post(path, body);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply["ok"], QJsonValue(false));
        const QString error = reply["error"].toString();
        QVERIFY2(status == 400 ? error.startsWith(field + u':') : !error.isEmpty() && error.contains(field),
                 qPrintable(error));
        QCOMPARE(stateOf(m_client), stateBefore);
        QCOMPARE(parameters(), parametersBefore);
        // The request line comes after any effect event it caused: there must be none.
        QVERIFY(m_sim.waitForEvent(eventIs("request", {{"path", QString(path)}}), from));
        for (const QJsonObject &event : m_sim.matching([](const QJsonObject &e) { return e.contains("effect"); }, from))
            QFAIL(QJsonDocument(event).toJson(QJsonDocument::Compact).constData());
    }

    void requestsMustFollowTheProtocol() {
        const QByteArray body = QJsonDocument(controlledBody()).toJson();
        Reply reply = m_client.request("POST", "/v1/resonance", body, Headers{{"Content-Type", "application/json"}});
        QCOMPARE(reply.status, 400);
        QVERIFY(reply["error"].toString().startsWith("X-VBL-Client"));
        reply = m_client.request("POST", "/v1/resonance", body, Headers{{"X-VBL-Client", "a"}, {"Content-Type", "text/plain"}});
        QCOMPARE(reply.status, 415);
        reply = m_client.get("/v1/stop");
        QCOMPARE(reply.status, 405);
        QCOMPARE(reply.header("allow"), QByteArray("POST"));
        reply = m_client.post("/v1/status");
        QCOMPARE(reply.status, 405);
        QCOMPARE(reply.header("allow"), QByteArray("GET"));
        QCOMPARE(stateOf(m_client), QStringLiteral("idle"));
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
            const Reply reply = client.post(renewal, renewal.endsWith("update") ? R"({"intensity":0.3})" : "{}");
            QCOMPARE(reply["activeEffect"], QJsonValue(mode));
        }
        QVERIFY(stateOf(client) != "idle");
        const double lastRenewal = m_leased.matching(eventIs("request", {{"path", QString(renewal)}})).last()["t"].toDouble();
        const auto end = m_leased.waitForEvent(eventIs("end", {{"effect", mode}}), from);
        QVERIFY(end);
        QCOMPARE((*end)["reason"], QJsonValue("lease expired"));
        // The request line may trail the renewal by a few milliseconds on a loaded machine.
        const double endedAfter = (*end)["t"].toDouble() - lastRenewal;
        QVERIFY2(endedAfter >= leaseMs - 50 && endedAfter < leaseMs + 1500, qPrintable(QString::number(endedAfter)));
        QCOMPARE(stateOf(client), QStringLiteral("idle"));
        // An update racing with the end learns that the effect is over; a heartbeat is refused.
        QCOMPARE(client.post("/v1/resonance/update", QJsonObject{{"intensity", 0.5}})["activeEffect"], QJsonValue("none"));
        QCOMPARE(client.post("/v1/heartbeat").status, 409);
    }

    void timedResonanceEndsAtItsDeadline() {
        Client &client = m_leasedClient;
        const qsizetype from = m_leased.events().size();
        const double remaining = client.post("/v1/resonance", timedBody(200))["remainingDurationMs"].toDouble();
        QVERIFY2(remaining > 100 && remaining <= 200, qPrintable(QString::number(remaining)));
        const auto start = m_leased.waitForEvent(eventIs("start", {{"effect", "timed"}}), from);
        const auto end = m_leased.waitForEvent(eventIs("end", {{"effect", "timed"}, {"reason", "duration elapsed"}}), from);
        QVERIFY(start && end);
        const double ranMs = (*end)["t"].toDouble() - (*start)["t"].toDouble();
        QVERIFY2(ranMs >= 199 && ranMs < 1500, qPrintable(QString::number(ranMs)));
        QCOMPARE(stateOf(client), QStringLiteral("idle"));
        const Reply late = client.post("/v1/resonance/update", QJsonObject{{"durationMs", 400}});
        QCOMPARE(late["activeEffect"], QJsonValue("none"));
        QCOMPARE(late["remainingDurationMs"], QJsonValue(0));
        // After a stop the effect is forgotten: an update is a conflict.
        QCOMPARE(client.post("/v1/stop").status, 200);
        QCOMPARE(client.post("/v1/resonance/update", QJsonObject{{"durationMs", 400}}).status, 409);
    }

    void durationUpdateCountsFromTheStart() {
        Client &client = m_leasedClient;
        QElapsedTimer sinceStart;
        sinceStart.start();
        QCOMPARE(client.post("/v1/resonance", timedBody(400)).status, 200);
        QTest::qWait(100);
        Reply reply = client.post("/v1/resonance/update", R"({"durationMs":300.0})");
        const double elapsed = double(sinceStart.elapsed());
        QCOMPARE(reply["activeEffect"], QJsonValue("timed"));
        const double remaining = reply["remainingDurationMs"].toDouble();
        QVERIFY2(remaining <= 300 - 100 + 1 && remaining >= 300 - elapsed - 1, qPrintable(QString::number(remaining)));
        // Lengthening moves the deadline; shortening below the elapsed time ends the effect.
        QVERIFY(client.post("/v1/resonance/update", QJsonObject{{"durationMs", 5000}})["remainingDurationMs"].toDouble() > 4000);
        const qsizetype from = m_leased.events().size();
        reply = client.post("/v1/resonance/update", QJsonObject{{"durationMs", 50}, {"intensity", 0.7}});
        QCOMPARE(reply["activeEffect"], QJsonValue("none"));
        QCOMPARE(reply["remainingDurationMs"], QJsonValue(0));
        QVERIFY(m_leased.waitForEvent(eventIs("end", {{"effect", "timed"}}), from));
        QCOMPARE(stateOf(client), QStringLiteral("idle"));
    }
};

QTEST_GUILESS_MAIN(SimApiTest)
#include "test_sim_api.moc"
