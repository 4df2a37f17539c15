// A controlled resonance of about two seconds against the simulated service, over
// real HTTP on 127.0.0.1, with the production transport and clock. What happened is
// read from the service's own timeline and statistics.

#include "api/NetworkTransport.h"
#include "core/TesterController.h"
#include "core/TimeSource.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace vibrelle;

namespace {

QString simPath() {
    const QString dir = qEnvironmentVariable("VIBRELLE_BIN_DIR");
    return QDir(dir).filePath(QStringLiteral("vibrelle-sim"));
}

} // namespace

class IntegrationSimTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void controlledResonanceForTwoSeconds();

private:
    // Every JSON event the service has printed so far.
    QList<QJsonObject> events();
    QJsonObject stats();

    QProcess m_sim;
    QByteArray m_output;
    QString m_base;
};

void IntegrationSimTest::init() {
    const QString program = simPath();
    if (!QFileInfo(program).isExecutable()) {
        QFAIL(qPrintable(QStringLiteral("no simulated service at ") + program));
    }
    m_output.clear();
    m_base.clear();
    m_sim.setProgram(program);
    m_sim.setArguments({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--json")});
    m_sim.setProcessChannelMode(QProcess::SeparateChannels);
    m_sim.start();
    QVERIFY2(m_sim.waitForStarted(5000), qPrintable(m_sim.errorString()));

    const QRegularExpression first(QStringLiteral("^listening on (http://127\\.0\\.0\\.1:\\d+)$"));
    QElapsedTimer waited;
    waited.start();
    while (!m_output.contains('\n') && waited.elapsed() < 5000) {
        m_sim.waitForReadyRead(100);
        m_output += m_sim.readAllStandardOutput();
    }
    const QString line = QString::fromUtf8(m_output.left(m_output.indexOf('\n')));
    const auto match = first.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(QStringLiteral("first line: ") + line));
    m_base = match.captured(1);
}

void IntegrationSimTest::cleanup() {
    if (m_sim.state() != QProcess::NotRunning) {
        m_sim.terminate();
        if (!m_sim.waitForFinished(3000)) {
            m_sim.kill();
            m_sim.waitForFinished(1000);
        }
    }
}

QList<QJsonObject> IntegrationSimTest::events() {
    m_output += m_sim.readAllStandardOutput();
    QList<QJsonObject> result;
    const QList<QByteArray> lines = m_output.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QJsonDocument doc = QJsonDocument::fromJson(lines.at(i));
        if (doc.isObject()) {
            result.append(doc.object());
        }
    }
    return result;
}

QJsonObject IntegrationSimTest::stats() {
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(m_base + QStringLiteral("/_sim/stats")));
    QNetworkReply *reply = manager.get(request);
    QElapsedTimer waited;
    waited.start();
    while (!reply->isFinished() && waited.elapsed() < 3000) {
        QTest::qWait(10);
    }
    const QJsonObject result = QJsonDocument::fromJson(reply->readAll()).object();
    reply->deleteLater();
    return result;
}

void IntegrationSimTest::controlledResonanceForTwoSeconds() {
    auto clock = std::make_shared<SystemTimeSource>();
    TesterController controller(m_base, std::make_unique<NetworkTransport>(), clock);
    // The status request of the construction.
    QTRY_VERIFY_WITH_TIMEOUT(!controller.busy(), 3000);
    QVERIFY2(controller.connected(), qPrintable(controller.status()));

    controller.controlledResonance();
    QVERIFY(controller.busy());
    QTRY_VERIFY_WITH_TIMEOUT(controller.effectRunning(), 3000);
    QVERIFY(controller.status().startsWith(QStringLiteral("Connesso \u00B7 ")));

    // About a second of rest: heartbeats keep the lease.
    QTest::qWait(1200);
    controller.setIntensity(0.7);
    QTRY_VERIFY_WITH_TIMEOUT(controller.status().startsWith(QStringLiteral("Parametri aggiornati")), 2000);
    // Another second: the heartbeat takes over again after the update.
    QTest::qWait(1000);
    QVERIFY(controller.effectRunning());

    controller.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!controller.effectRunning() && !controller.busy(), 3000);
    QCOMPARE(controller.status(), QStringLiteral("Feedback fermato."));
    QVERIFY(controller.connected());
    // Give the last timeline lines time to arrive.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const auto all = events();
            return std::any_of(all.begin(), all.end(), [](const QJsonObject &e) {
                return e.value(QStringLiteral("event")).toString() == QStringLiteral("request") &&
                       e.value(QStringLiteral("path")).toString() == QStringLiteral("/v1/stop");
            });
        }(),
        3000);

    // --- The service's own record. ---
    const QString clientId = controller.clientID();
    QList<QJsonObject> requests;
    QJsonObject start;
    QJsonObject update;
    QJsonObject end;
    for (const auto &e : events()) {
        const QString kind = e.value(QStringLiteral("event")).toString();
        if (kind == QStringLiteral("request")) {
            QCOMPARE(e.value(QStringLiteral("client")).toString(), QStringLiteral("API Tester"));
            QCOMPARE(e.value(QStringLiteral("clientId")).toString(), clientId);
            requests.append(e);
        } else if (kind == QStringLiteral("start")) {
            QVERIFY2(start.isEmpty(), "one start only");
            start = e;
        } else if (kind == QStringLiteral("update")) {
            QVERIFY2(update.isEmpty(), "one update only");
            update = e;
        } else if (kind == QStringLiteral("end")) {
            QVERIFY2(end.isEmpty(), "one end only");
            end = e;
        }
    }

    QStringList paths;
    for (const auto &r : requests) {
        paths.append(r.value(QStringLiteral("method")).toString() + QLatin1Char(' ') +
                     r.value(QStringLiteral("path")).toString());
        QCOMPARE(r.value(QStringLiteral("status")).toInt(), 200);
    }
    // The status, the start, heartbeats around one update, the stop.
    QVERIFY2(paths.size() >= 6, qPrintable(paths.join(QStringLiteral(", "))));
    QCOMPARE(paths.first(), QStringLiteral("GET /v1/status"));
    QCOMPARE(paths.at(1), QStringLiteral("POST /v1/resonance"));
    QCOMPARE(paths.last(), QStringLiteral("POST /v1/stop"));
    const qsizetype updateAt = paths.indexOf(QStringLiteral("POST /v1/resonance/update"));
    QVERIFY2(updateAt > 1, qPrintable(paths.join(QStringLiteral(", "))));
    QCOMPARE(paths.count(QStringLiteral("POST /v1/resonance/update")), 1);
    const QStringList middle = paths.mid(2, paths.size() - 3);
    for (const auto &p : middle) {
        QVERIFY2(p == QStringLiteral("POST /v1/heartbeat") ||
                     p == QStringLiteral("POST /v1/resonance/update"),
                 qPrintable(p));
    }
    const auto beatsBefore = paths.mid(2, updateAt - 2).count(QStringLiteral("POST /v1/heartbeat"));
    const auto beatsAfter = paths.mid(updateAt + 1).count(QStringLiteral("POST /v1/heartbeat"));
    // A second of rest holds one or two beats on each side of the update.
    QVERIFY2(beatsBefore >= 1 && beatsBefore <= 2, qPrintable(paths.join(QStringLiteral(", "))));
    QVERIFY2(beatsAfter >= 1 && beatsAfter <= 2, qPrintable(paths.join(QStringLiteral(", "))));

    // A heartbeat follows the previous renewal (start, update or heartbeat) by the 0.45 s
    // threshold at least, less timer slack; and the lease is never left unrenewed for long.
    double previousRenewal = -1;
    for (const auto &r : requests) {
        const QString p = r.value(QStringLiteral("path")).toString();
        const double t = r.value(QStringLiteral("t")).toDouble();
        if (p == QStringLiteral("/v1/heartbeat")) {
            QVERIFY2(t - previousRenewal >= 400,
                     qPrintable(QStringLiteral("beat %1 ms after a renewal").arg(t - previousRenewal)));
        }
        if (p == QStringLiteral("/v1/resonance") || p == QStringLiteral("/v1/heartbeat") ||
            p == QStringLiteral("/v1/resonance/update") || p == QStringLiteral("/v1/stop")) {
            if (previousRenewal >= 0) {
                QVERIFY2(t - previousRenewal <= 1100,
                         qPrintable(QStringLiteral("unrenewed for %1 ms").arg(t - previousRenewal)));
            }
            previousRenewal = t;
        }
    }

    QCOMPARE(start.value(QStringLiteral("effect")).toString(), QStringLiteral("controlled"));
    QCOMPARE(start.value(QStringLiteral("params")).toObject(),
             (QJsonObject{{QStringLiteral("intensity"), 0.5},
                          {QStringLiteral("pulseRateHz"), 30},
                          {QStringLiteral("sharpness"), 0.5},
                          {QStringLiteral("transitionMs"), 40}}));
    QCOMPARE(update.value(QStringLiteral("changed")).toObject(),
             (QJsonObject{{QStringLiteral("intensity"), 0.7}}));
    QCOMPARE(end.value(QStringLiteral("effect")).toString(), QStringLiteral("controlled"));
    QCOMPARE(end.value(QStringLiteral("reason")).toString(), QStringLiteral("stop"));
    const double ranMs = end.value(QStringLiteral("ranMs")).toDouble();
    QVERIFY2(ranMs >= 1900 && ranMs <= 3500, qPrintable(QString::number(ranMs)));

    // The statistics agree, and never was more than one request in progress.
    const QJsonObject s = stats();
    QCOMPARE(s.value(QStringLiteral("maxInFlight")).toInt(), 1);
    const QJsonObject counts = s.value(QStringLiteral("paths")).toObject();
    QCOMPARE(counts.value(QStringLiteral("/v1/status")).toInt(), 1);
    QCOMPARE(counts.value(QStringLiteral("/v1/resonance")).toInt(), 1);
    QCOMPARE(counts.value(QStringLiteral("/v1/resonance/update")).toInt(), 1);
    QCOMPARE(counts.value(QStringLiteral("/v1/heartbeat")).toInt(), int(beatsBefore + beatsAfter));
    QCOMPARE(counts.value(QStringLiteral("/v1/stop")).toInt(), 1);
    QCOMPARE(s.value(QStringLiteral("total")).toInt(), int(paths.size()));
    QCOMPARE(s.value(QStringLiteral("state")).toString(), QStringLiteral("idle"));
}

QTEST_GUILESS_MAIN(IntegrationSimTest)
#include "test_integration_sim.moc"
