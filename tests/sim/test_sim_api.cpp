// The simulated service's API over real HTTP: every command's happy path, leases, the timed
// deadline, pause and resume, conflicts, and bad input that must leave the state unchanged.

#include "SimHarness.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace vibrelle::simtest;

namespace {

bool isEffectEvent(const QJsonObject &event) {
    static const QStringList kinds = {QStringLiteral("start"), QStringLiteral("update"),
                                      QStringLiteral("end"), QStringLiteral("pause"),
                                      QStringLiteral("resume")};
    return kinds.contains(event.value(QLatin1String("event")).toString());
}

auto eventIs(const QString &kind, const QString &effect) {
    return [kind, effect](const QJsonObject &event) {
        return event.value(QLatin1String("event")).toString() == kind &&
               event.value(QLatin1String("effect")).toString() == effect;
    };
}

} // namespace

class SimApiTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<Client> m_client;

    Client &client() { return *m_client; }
    QJsonObject parameters() {
        return client().get("/v1/status").json().value(QLatin1String("parameters")).toObject();
    }

private Q_SLOTS:
    void initTestCase() {
        m_sim = std::make_unique<SimProcess>();
        QVERIFY2(m_sim->isListening(), "vibrelle-sim did not start");
        m_client = std::make_unique<Client>(m_sim->port());
        QVERIFY(client().isConnected());
    }

    void init() { QCOMPARE(client().post("/v1/stop", QByteArray("{}")).status, 200); }

    void statusDescribesTheService() {
        const Reply reply = client().get("/v1/status");
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.header("content-type"), QByteArray("application/json"));
        const QJsonObject status = reply.json();
        QCOMPARE(status.value(QLatin1String("ok")), QJsonValue(true));
        for (const char *key : {"mode", "authentication", "state"})
            QVERIFY2(status.value(QLatin1String(key)).isString(), key);
        for (const char *key : {"available", "outputAvailable", "gestureAvailable", "hapticEnabled",
                                "hapticAvailable", "materialAudioEnabled"})
            QVERIFY2(status.value(QLatin1String(key)).isBool(), key);
        QCOMPARE(status.value(QLatin1String("state")).toString(), QStringLiteral("idle"));
    }

    void impulsesAndSequencePlayAndEnd() {
        const qsizetype from = m_sim->events().size();
        for (const char *style : {"crisp", "natural", "soft"}) {
            const Reply reply = client().post(
                "/v1/impulses", QJsonObject{{"intensity", 0.5}, {"style", QLatin1String(style)}});
            QCOMPARE(reply.status, 200);
            QCOMPARE(reply.json().value(QLatin1String("emitted")), QJsonValue(true));
        }
        QVERIFY(m_sim->waitForEvent(eventIs("start", "impulse"), 3000, from));

        // The tester's sequence: two steps, 180 ms apart.
        const QByteArray sequence = R"({"steps":[{"delayMs":0,"intensity":0.5,"style":"crisp"},)"
                                    R"({"delayMs":180,"intensity":0.5,"style":"soft"}]})";
        const qsizetype beforeSequence = m_sim->events().size();
        const Reply reply = client().post("/v1/sequences", sequence);
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json().value(QLatin1String("emitted")), QJsonValue(true));
        QCOMPARE(stateOf(client()), QStringLiteral("sequence"));
        const auto start = m_sim->waitForEvent(eventIs("start", "sequence"), 3000, beforeSequence);
        const auto end = m_sim->waitForEvent(eventIs("end", "sequence"), 3000, beforeSequence);
        QVERIFY(start && end);
        QCOMPARE(end->value(QLatin1String("reason")).toString(), QStringLiteral("finished"));
        QVERIFY(end->value(QLatin1String("t")).toDouble() - start->value(QLatin1String("t")).toDouble() >=
                180);
        QCOMPARE(stateOf(client()), QStringLiteral("idle"));
    }

    void resonanceStartsReplaceEachOther() {
        Reply reply = client().post("/v1/resonance", gestureBody());
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json().value(QLatin1String("activeEffect")).toString(), QStringLiteral("gesture"));
        QCOMPARE(stateOf(client()), QStringLiteral("gesture"));

        const qsizetype from = m_sim->events().size();
        reply = client().post("/v1/resonance", controlledBody());
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json().value(QLatin1String("activeEffect")).toString(), QStringLiteral("controlled"));
        QCOMPARE(reply.json().value(QLatin1String("paused")), QJsonValue(false));
        const auto ended = m_sim->waitForEvent(eventIs("end", "gesture"), 3000, from);
        QVERIFY(ended);
        QCOMPARE(ended->value(QLatin1String("reason")).toString(), QStringLiteral("replaced"));
        QCOMPARE(stateOf(client()), QStringLiteral("controlled"));

        reply = client().post("/v1/resonance", timedBody(5000));
        QCOMPARE(reply.json().value(QLatin1String("activeEffect")).toString(), QStringLiteral("timed"));
        const double remaining = reply.json().value(QLatin1String("remainingDurationMs")).toDouble();
        QVERIFY2(remaining > 4000 && remaining <= 5000, qPrintable(QString::number(remaining)));
        QCOMPARE(stateOf(client()), QStringLiteral("timed"));
    }

    void updatesChangeOnlyTheirKeys() {
        QCOMPARE(client().post("/v1/resonance", controlledBody(0.5, 30, 0.5, 40)).status, 200);
        // Whole numbers may come with a fractional part on the wire.
        Reply reply =
            client().post("/v1/resonance/update", QByteArray(R"({"pulseRateHz":45.5,"transitionMs":450.0})"));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json().value(QLatin1String("activeEffect")).toString(), QStringLiteral("controlled"));
        QCOMPARE(parameters(),
                 (QJsonObject{
                     {"intensity", 0.5}, {"pulseRateHz", 45.5}, {"sharpness", 0.5}, {"transitionMs", 450}}));

        QCOMPARE(client().post("/v1/resonance", gestureBody()).status, 200);
        reply = client().post("/v1/resonance/update", QJsonObject{{"reactivity", 0.1}});
        QCOMPARE(reply.json().value(QLatin1String("activeEffect")).toString(), QStringLiteral("gesture"));
        QCOMPARE(parameters().value(QLatin1String("reactivity")).toDouble(), 0.1);
        QCOMPARE(parameters().value(QLatin1String("intensity")).toDouble(), 0.6);
    }

    void pauseAndResumeControlledResonance() {
        QCOMPARE(client().post("/v1/resonance", controlledBody()).status, 200);
        Reply reply = client().post("/v1/resonance/pause", QByteArray("{}"));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json().value(QLatin1String("paused")), QJsonValue(true));
        QCOMPARE(stateOf(client()), QStringLiteral("paused"));

        // Pausing again changes nothing; updates keep it paused; a heartbeat reports it.
        QCOMPARE(client().post("/v1/resonance/pause", QByteArray("{}")).json().value(QLatin1String("paused")),
                 QJsonValue(true));
        QCOMPARE(client()
                     .post("/v1/resonance/update", QJsonObject{{"sharpness", 0.9}})
                     .json()
                     .value(QLatin1String("paused")),
                 QJsonValue(true));
        QCOMPARE(client().post("/v1/heartbeat", QByteArray("{}")).json().value(QLatin1String("paused")),
                 QJsonValue(true));
        QCOMPARE(stateOf(client()), QStringLiteral("paused"));

        reply = client().post("/v1/resonance/resume", QByteArray("{}"));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json().value(QLatin1String("paused")), QJsonValue(false));
        QCOMPARE(stateOf(client()), QStringLiteral("controlled"));
    }

    void stopEndsWhateverRuns() {
        QCOMPARE(client().post("/v1/resonance", controlledBody()).status, 200);
        Reply reply = client().post("/v1/stop", QByteArray("{}"));
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json().value(QLatin1String("activeEffect")).toString(), QStringLiteral("none"));
        QCOMPARE(reply.json().value(QLatin1String("stopped")).toArray(),
                 QJsonArray{QStringLiteral("controlled")});
        QCOMPARE(stateOf(client()), QStringLiteral("idle"));

        // Nothing runs: still a success. An empty body counts as {}.
        reply = client().post("/v1/stop", QByteArray());
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json().value(QLatin1String("ok")), QJsonValue(true));
        QCOMPARE(reply.json().value(QLatin1String("activeEffect")).toString(), QStringLiteral("none"));
    }

    void commandsNeedingAnEffectConflictWhenIdle_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("running"); // resonance started first, or empty
        QTest::newRow("pause, idle") << QByteArray("/v1/resonance/pause") << QByteArray("{}") << QString();
        QTest::newRow("resume, idle") << QByteArray("/v1/resonance/resume") << QByteArray("{}") << QString();
        QTest::newRow("heartbeat, idle") << QByteArray("/v1/heartbeat") << QByteArray("{}") << QString();
        QTest::newRow("update, idle")
            << QByteArray("/v1/resonance/update") << QByteArray(R"({"intensity":0.2})") << QString();
        QTest::newRow("pause, gesture")
            << QByteArray("/v1/resonance/pause") << QByteArray("{}") << QStringLiteral("gesture");
        QTest::newRow("resume, timed")
            << QByteArray("/v1/resonance/resume") << QByteArray("{}") << QStringLiteral("timed");
    }

    void commandsNeedingAnEffectConflictWhenIdle() {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, body);
        QFETCH(QString, running);
        if (running == QLatin1String("gesture"))
            QCOMPARE(client().post("/v1/resonance", gestureBody()).status, 200);
        else if (running == QLatin1String("timed"))
            QCOMPARE(client().post("/v1/resonance", timedBody(5000)).status, 200);
        const QString before = stateOf(client());

        const Reply reply = client().post(path, body);
        QCOMPARE(reply.status, 409);
        QCOMPARE(reply.json().value(QLatin1String("ok")), QJsonValue(false));
        QVERIFY(!reply.json().value(QLatin1String("error")).toString().isEmpty());
        QCOMPARE(stateOf(client()), before);
    }

    void badInputChangesNothing_data() {
        QTest::addColumn<QString>("running");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("field");

        const QString controlled = QStringLiteral("controlled");
        const QByteArray impulses = "/v1/impulses", sequences = "/v1/sequences", resonance = "/v1/resonance",
                         update = "/v1/resonance/update";
        const auto row = [](const char *name, const QString &running, const QByteArray &path,
                            const QByteArray &body, const char *field, int status = 400) {
            QTest::newRow(name) << running << path << body << status << QString::fromLatin1(field);
        };

        row("invalid JSON", controlled, impulses, R"({"intensity":0.5,)", "body");
        row("array body", controlled, impulses, "[]", "body");
        row("empty body", controlled, impulses, "", "body");
        row("intensity as string", controlled, impulses, R"({"intensity":"0.5","style":"crisp"})",
            "intensity");
        row("intensity above 1", controlled, impulses, R"({"intensity":1.01,"style":"crisp"})", "intensity");
        row("intensity below 0", controlled, impulses, R"({"intensity":-0.1,"style":"crisp"})", "intensity");
        row("unknown style", controlled, impulses, R"({"intensity":0.5,"style":"hard"})", "style");
        row("missing style", controlled, impulses, R"({"intensity":0.5})", "style");
        row("unknown impulse member", controlled, impulses, R"({"intensity":0.5,"style":"soft","volume":1})",
            "volume");
        row("no steps", controlled, sequences, R"({"steps":[]})", "steps");
        row("steps not an array", controlled, sequences, R"({"steps":{}})", "steps");
        row("step not an object", controlled, sequences, R"({"steps":[1]})", "steps[0]");
        row("fractional delay", controlled, sequences,
            R"({"steps":[{"delayMs":1.5,"intensity":0.5,"style":"soft"}]})", "steps[0].delayMs");
        row("bad second step", controlled, sequences,
            R"({"steps":[{"delayMs":0,"intensity":0.5,"style":"soft"},{"delayMs":-1,"intensity":0.5,"style":"soft"}]})",
            "steps[1].delayMs");
        QByteArray seventeen = R"({"steps":[)";
        for (int i = 0; i < 17; ++i)
            seventeen += QByteArray(i ? "," : "") + R"({"delayMs":0,"intensity":0.5,"style":"crisp"})";
        row("seventeen steps", controlled, sequences, seventeen + "]}", "steps");
        row("missing mode", controlled, resonance, R"({"intensity":0.5})", "mode");
        row("unknown mode", controlled, resonance, R"({"mode":"pulsed"})", "mode");
        row("zero duration", controlled, resonance,
            R"({"durationMs":0,"fineness":0.5,"intensity":0.5,"mode":"timed"})", "durationMs");
        row("fractional duration", controlled, resonance,
            R"({"durationMs":300.5,"fineness":0.5,"intensity":0.5,"mode":"timed"})", "durationMs");
        row("duration over the maximum", controlled, resonance,
            R"({"durationMs":60001,"fineness":0.5,"intensity":0.5,"mode":"timed"})", "durationMs");
        row("timed with reactivity", controlled, resonance,
            R"({"durationMs":300,"fineness":0.5,"intensity":0.5,"mode":"timed","reactivity":0.5})",
            "reactivity");
        row("gesture without reactivity", controlled, resonance,
            R"({"fineness":0.5,"intensity":0.5,"mode":"gesture"})", "reactivity");
        row("pulse rate 0", controlled, resonance,
            R"({"intensity":0.5,"mode":"controlled","pulseRateHz":0,"sharpness":0.5,"transitionMs":40})",
            "pulseRateHz");
        row("pulse rate 61", controlled, resonance,
            R"({"intensity":0.5,"mode":"controlled","pulseRateHz":61,"sharpness":0.5,"transitionMs":40})",
            "pulseRateHz");
        row("negative transition", controlled, resonance,
            R"({"intensity":0.5,"mode":"controlled","pulseRateHz":30,"sharpness":0.5,"transitionMs":-1})",
            "transitionMs");
        row("sharpness as bool", controlled, resonance,
            R"({"intensity":0.5,"mode":"controlled","pulseRateHz":30,"sharpness":true,"transitionMs":40})",
            "sharpness");
        row("fineness in controlled update", controlled, update, R"({"fineness":0.5})", "fineness");
        row("half valid update", controlled, update, R"({"intensity":0.9,"sharpness":2})", "sharpness");
        row("empty update", controlled, update, "{}", "body");
        row("pulse rate in timed update", QStringLiteral("timed"), update, R"({"pulseRateHz":10})",
            "pulseRateHz");
        row("zero duration update", QStringLiteral("timed"), update, R"({"durationMs":0})", "durationMs");
        row("fractional duration update", QStringLiteral("timed"), update, R"({"durationMs":450.5})",
            "durationMs");
        row("sharpness in gesture update", QStringLiteral("gesture"), update, R"({"sharpness":0.5})",
            "sharpness");
        row("member in pause", controlled, "/v1/resonance/pause", R"({"now":true})", "now");
        row("member in heartbeat", controlled, "/v1/heartbeat", R"({"x":1})", "x");
        row("member in stop", controlled, "/v1/stop", R"({"all":true})", "all");
        row("unknown path", controlled, "/v1/vibrate", "{}", "/v1/vibrate", 404);
    }

    void badInputChangesNothing() {
        QFETCH(QString, running);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, field);

        const QJsonObject start = running == QLatin1String("timed")     ? timedBody(5000)
                                  : running == QLatin1String("gesture") ? gestureBody()
                                                                        : controlledBody(0.25, 20, 0.75, 40);
        QCOMPARE(client().post("/v1/resonance", start).status, 200);
        const QString stateBefore = stateOf(client());
        const QJsonObject parametersBefore = parameters();
        const qsizetype from = m_sim->events().size();

        const Reply reply = client().post(path, body);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.json().value(QLatin1String("ok")), QJsonValue(false));
        const QString error = reply.json().value(QLatin1String("error")).toString();
        QVERIFY2(error.startsWith(field + QLatin1Char(':')) || error.contains(field), qPrintable(error));

        QCOMPARE(stateOf(client()), stateBefore);
        QCOMPARE(parameters(), parametersBefore);
        // The request line is printed after any effect event it caused: there must be none.
        QVERIFY(m_sim->waitForEvent(
            [&](const QJsonObject &e) {
                return e.value(QLatin1String("path")).toString() == QLatin1String(path);
            },
            3000, from));
        for (qsizetype i = from; i < m_sim->events().size(); ++i)
            QVERIFY2(!isEffectEvent(m_sim->events().at(i)),
                     QJsonDocument(m_sim->events().at(i)).toJson(QJsonDocument::Compact).constData());
    }

    void requestsMustFollowTheProtocol() {
        Headers noClient = Client::testerHeaders(true);
        noClient.removeFirst();
        Reply reply =
            client().request("POST", "/v1/resonance", QJsonDocument(controlledBody()).toJson(), noClient);
        QCOMPARE(reply.status, 400);
        QVERIFY(
            reply.json().value(QLatin1String("error")).toString().startsWith(QLatin1String("X-VBL-Client")));

        Headers textBody = Client::testerHeaders(false);
        textBody.append(qMakePair(QByteArray("Content-Type"), QByteArray("text/plain")));
        reply = client().request("POST", "/v1/resonance", QJsonDocument(controlledBody()).toJson(), textBody);
        QCOMPARE(reply.status, 415);

        reply = client().request("GET", "/v1/stop", {}, Client::testerHeaders(false));
        QCOMPARE(reply.status, 405);
        QCOMPARE(reply.header("allow"), QByteArray("POST"));
        reply = client().post("/v1/status", QByteArray("{}"));
        QCOMPARE(reply.status, 405);
        QCOMPARE(reply.header("allow"), QByteArray("GET"));
        QCOMPARE(stateOf(client()), QStringLiteral("idle"));
    }
};

// Timing: a separate sim with a short lease.
class SimTimingTest : public QObject {
    Q_OBJECT

private:
    static constexpr int leaseMs = 300;
    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<Client> m_client;
    Client &client() { return *m_client; }

    double lastRequestTime(const QByteArray &path) {
        double t = -1;
        for (const QJsonObject &event : m_sim->events()) {
            if (event.value(QLatin1String("event")).toString() == QLatin1String("request") &&
                event.value(QLatin1String("path")).toString() == QLatin1String(path))
                t = event.value(QLatin1String("t")).toDouble();
        }
        return t;
    }

private Q_SLOTS:
    void initTestCase() {
        m_sim =
            std::make_unique<SimProcess>(QStringList{QStringLiteral("--lease-ms"), QString::number(leaseMs)});
        QVERIFY2(m_sim->isListening(), "vibrelle-sim did not start");
        m_client = std::make_unique<Client>(m_sim->port());
    }

    void init() { QCOMPARE(client().post("/v1/stop", QByteArray("{}")).status, 200); }

    void leaseIsRenewedAndThenExpires_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("renewal");
        QTest::newRow("gesture, heartbeats") << QStringLiteral("gesture") << QByteArray("/v1/heartbeat");
        QTest::newRow("controlled, updates")
            << QStringLiteral("controlled") << QByteArray("/v1/resonance/update");
        QTest::newRow("controlled, pauses")
            << QStringLiteral("controlled") << QByteArray("/v1/resonance/pause");
    }

    void leaseIsRenewedAndThenExpires() {
        QFETCH(QString, mode);
        QFETCH(QByteArray, renewal);
        const qsizetype from = m_sim->events().size();
        QCOMPARE(
            client()
                .post("/v1/resonance", mode == QLatin1String("gesture") ? gestureBody() : controlledBody())
                .status,
            200);
        const QByteArray body =
            renewal.endsWith("update") ? QByteArray(R"({"intensity":0.3})") : QByteArray("{}");
        // Renewed every 100 ms for twice the lease: it must keep running.
        for (int i = 0; i < 6; ++i) {
            QTest::qWait(100);
            const Reply reply = client().post(renewal, body);
            QCOMPARE(reply.status, 200);
            QCOMPARE(reply.json().value(QLatin1String("activeEffect")).toString(), mode);
        }
        QVERIFY(stateOf(client()) != QLatin1String("idle"));

        const double lastRenewal = lastRequestTime(renewal);
        const auto end = m_sim->waitForEvent(eventIs("end", mode), 3000, from);
        QVERIFY(end);
        QCOMPARE(end->value(QLatin1String("reason")).toString(), QStringLiteral("lease expired"));
        // The request line is printed just after the renewal; on a loaded machine it may trail it by
        // a few milliseconds, hence the tolerance.
        const double endedAfter = end->value(QLatin1String("t")).toDouble() - lastRenewal;
        QVERIFY2(endedAfter >= leaseMs - 50 && endedAfter < leaseMs + 1500,
                 qPrintable(QString::number(endedAfter)));
        QCOMPARE(stateOf(client()), QStringLiteral("idle"));

        // An update racing with the end learns that the effect is over; a heartbeat is refused.
        const Reply late = client().post("/v1/resonance/update", QJsonObject{{"intensity", 0.5}});
        QCOMPARE(late.status, 200);
        QCOMPARE(late.json().value(QLatin1String("activeEffect")).toString(), QStringLiteral("none"));
        QCOMPARE(client().post("/v1/heartbeat", QByteArray("{}")).status, 409);
    }

    void timedResonanceEndsAtItsDeadline() {
        const qsizetype from = m_sim->events().size();
        const Reply reply = client().post("/v1/resonance", timedBody(200));
        const double remaining = reply.json().value(QLatin1String("remainingDurationMs")).toDouble();
        QVERIFY2(remaining > 100 && remaining <= 200, qPrintable(QString::number(remaining)));
        const auto start = m_sim->waitForEvent(eventIs("start", "timed"), 3000, from);
        const auto end = m_sim->waitForEvent(eventIs("end", "timed"), 3000, from);
        QVERIFY(start && end);
        QCOMPARE(end->value(QLatin1String("reason")).toString(), QStringLiteral("duration elapsed"));
        const double ranMs =
            end->value(QLatin1String("t")).toDouble() - start->value(QLatin1String("t")).toDouble();
        QVERIFY2(ranMs >= 199 && ranMs < 1500, qPrintable(QString::number(ranMs)));
        QCOMPARE(stateOf(client()), QStringLiteral("idle"));

        const Reply late = client().post("/v1/resonance/update", QJsonObject{{"durationMs", 400}});
        QCOMPARE(late.status, 200);
        QCOMPARE(late.json().value(QLatin1String("activeEffect")).toString(), QStringLiteral("none"));
        // After a stop the effect is forgotten: an update is a conflict.
        QCOMPARE(client().post("/v1/stop", QByteArray("{}")).status, 200);
        QCOMPARE(client().post("/v1/resonance/update", QJsonObject{{"durationMs", 400}}).status, 409);
    }

    void durationUpdateCountsFromTheStart() {
        QElapsedTimer sinceStart;
        sinceStart.start();
        QCOMPARE(client().post("/v1/resonance", timedBody(400)).status, 200);
        QTest::qWait(100);

        Reply reply = client().post("/v1/resonance/update", QByteArray(R"({"durationMs":300.0})"));
        const double elapsed = double(sinceStart.elapsed());
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json().value(QLatin1String("activeEffect")).toString(), QStringLiteral("timed"));
        const double remaining = reply.json().value(QLatin1String("remainingDurationMs")).toDouble();
        // At least 100 ms have passed at the sim since the start; at most `elapsed`.
        QVERIFY2(remaining <= 300 - 100 + 1 && remaining >= 300 - elapsed - 1,
                 qPrintable(QString::number(remaining)));

        // Lengthening moves the deadline; shortening below the elapsed time ends the effect.
        reply = client().post("/v1/resonance/update", QJsonObject{{"durationMs", 5000}});
        QVERIFY(reply.json().value(QLatin1String("remainingDurationMs")).toDouble() > 4000);
        const qsizetype from = m_sim->events().size();
        reply = client().post("/v1/resonance/update", QJsonObject{{"durationMs", 50}, {"intensity", 0.7}});
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json().value(QLatin1String("activeEffect")).toString(), QStringLiteral("none"));
        QCOMPARE(reply.json().value(QLatin1String("remainingDurationMs")).toDouble(), 0.0);
        QVERIFY(m_sim->waitForEvent(eventIs("end", "timed"), 3000, from));
        QCOMPARE(stateOf(client()), QStringLiteral("idle"));
    }
};

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    int status = 0;
    {
        SimApiTest api;
        status |= QTest::qExec(&api, argc, argv);
    }
    {
        SimTimingTest timing;
        status |= QTest::qExec(&timing, argc, argv);
    }
    return status;
}

#include "test_sim_api.moc"
