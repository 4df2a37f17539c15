// A controlled resonance of about two seconds against the simulated service over real
// HTTP on 127.0.0.1, with the production transport and clock, checked against the
// service's own timeline and statistics.

#include "api/NetworkTransport.h"
#include "core/TesterController.h"
#include "core/TimeSource.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

using namespace vibrelle;

class IntegrationSimTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void controlledResonanceForTwoSeconds() {
        QProcess sim;
        QByteArray output;
        const auto stopSim = qScopeGuard([&sim] {
            sim.kill();
            sim.waitForFinished(3000);
        });
        // Every JSON line the service has printed after its first.
        const auto events = [&] {
            output += sim.readAllStandardOutput();
            QList<QJsonObject> result;
            for (const QByteArray &line : output.split('\n').mid(1)) {
                if (const QJsonDocument doc = QJsonDocument::fromJson(line); doc.isObject()) {
                    result.append(doc.object());
                }
            }
            return result;
        };
        sim.start(QDir(qEnvironmentVariable("VIBRELLE_BIN_DIR")).filePath(QStringLiteral("vibrelle-sim")),
                  {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--json")});
        QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT((output += sim.readAllStandardOutput()).contains('\n'), 5000);
        const auto match = QRegularExpression(QStringLiteral("^listening on (http://127\\.0\\.0\\.1:\\d+)\n"))
                               .match(QString::fromUtf8(output));
        QVERIFY2(match.hasMatch(), output.constData());
        const QString base = match.captured(1);

        TesterController controller(base, std::make_unique<NetworkTransport>(),
                                    std::make_shared<SystemTimeSource>());
        QTRY_VERIFY_WITH_TIMEOUT(!controller.busy(), 3000); // the construction's status request
        QVERIFY2(controller.connected(), qPrintable(controller.status()));
        controller.controlledResonance();
        QTRY_VERIFY_WITH_TIMEOUT(controller.effectRunning(), 3000);
        QTest::qWait(1200); // heartbeats keep the lease
        controller.setIntensity(0.7);
        QTRY_VERIFY_WITH_TIMEOUT(controller.status().startsWith(QStringLiteral("Parametri aggiornati")),
                                 2000);
        QTest::qWait(1000); // the heartbeat takes over again after the update
        QVERIFY(controller.effectRunning());
        controller.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!controller.effectRunning() && !controller.busy(), 3000);
        QCOMPARE(controller.status(), QStringLiteral("Feedback fermato."));
        QTRY_VERIFY_WITH_TIMEOUT(!events().isEmpty() && events().last().value(QStringLiteral("path")) ==
                                                            QJsonValue(QStringLiteral("/v1/stop")),
                                 3000);

        // The service's record: status, start, heartbeats around one update, stop; all ours, all 200.
        QStringList requests;
        QMap<QString, QJsonObject> effect; // the start, update and end events, one of each
        double previousRenewal = -1;
        for (const auto &e : events()) {
            const QString kind = e.value(QStringLiteral("event")).toString();
            if (kind != QStringLiteral("request")) {
                QVERIFY2(!effect.contains(kind), qPrintable(kind));
                effect.insert(kind, e);
                continue;
            }
            const QString path = e.value(QStringLiteral("path")).toString();
            requests.append(e.value(QStringLiteral("method")).toString() + QLatin1Char(' ') + path);
            QCOMPARE(e.value(QStringLiteral("status")).toInt(), 200);
            QCOMPARE(e.value(QStringLiteral("client")).toString(), QStringLiteral("API Tester"));
            QCOMPARE(e.value(QStringLiteral("clientId")).toString(), controller.clientID());
            // A beat comes at least the 0.45 s threshold (less timer slack) after the last
            // renewal, and the lease is never left unrenewed for long.
            const double t = e.value(QStringLiteral("t")).toDouble();
            if (path != QStringLiteral("/v1/status")) {
                if (path == QStringLiteral("/v1/heartbeat")) {
                    QVERIFY2(t - previousRenewal >= 400, qPrintable(QString::number(t - previousRenewal)));
                }
                QVERIFY2(previousRenewal < 0 || t - previousRenewal <= 1100, qPrintable(QString::number(t)));
                previousRenewal = t;
            }
        }
        const QString joined = requests.join(QStringLiteral(", "));
        const QRegularExpression expected(
            QStringLiteral("^GET /v1/status, POST /v1/resonance, "
                           "(POST /v1/heartbeat, ){1,2}POST /v1/resonance/update, "
                           "(POST /v1/heartbeat, ){1,2}POST /v1/stop$"));
        QVERIFY2(expected.match(joined).hasMatch(), qPrintable(joined));

        QCOMPARE(effect.value(QStringLiteral("start")).value(QStringLiteral("params")).toObject(),
                 (QJsonObject{{QStringLiteral("intensity"), 0.5},
                              {QStringLiteral("pulseRateHz"), 30},
                              {QStringLiteral("sharpness"), 0.5},
                              {QStringLiteral("transitionMs"), 40}}));
        QCOMPARE(effect.value(QStringLiteral("update")).value(QStringLiteral("changed")).toObject(),
                 (QJsonObject{{QStringLiteral("intensity"), 0.7}}));
        QCOMPARE(effect.value(QStringLiteral("end")).value(QStringLiteral("reason")).toString(),
                 QStringLiteral("stop"));
        const double ranMs = effect.value(QStringLiteral("end")).value(QStringLiteral("ranMs")).toDouble();
        QVERIFY2(ranMs >= 1900 && ranMs <= 3500, qPrintable(QString::number(ranMs)));

        // Never more than one request in progress, and the service is idle again.
        QNetworkAccessManager manager;
        QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(base + QStringLiteral("/_sim/stats"))));
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 3000);
        const QJsonObject stats = QJsonDocument::fromJson(reply->readAll()).object();
        reply->deleteLater();
        QCOMPARE(stats.value(QStringLiteral("maxInFlight")).toInt(), 1);
        QCOMPARE(stats.value(QStringLiteral("total")).toInt(), int(requests.size()));
        QCOMPARE(stats.value(QStringLiteral("state")).toString(), QStringLiteral("idle"));
    }
};

QTEST_GUILESS_MAIN(IntegrationSimTest)
#include "test_integration_sim.moc"
