// A controlled resonance of about two seconds against the simulated service over real
// HTTP on 127.0.0.1, with the production transport and clock, checked against the
// service's own timeline and statistics.

#include "api/NetworkTransport.h"
#include "core/TesterController.h"
#include "core/TimeSource.h"

#include "SimHarness.h"

#include <QRegularExpression>
#include <QTest>

using namespace vibrelle;
using namespace vibrelle::simtest;

class IntegrationSimTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void controlledResonanceForTwoSeconds() {
        SimProcess sim;
        QVERIFY2(sim.port() != 0, "vibrelle-sim did not start");
        const QString base = sim.address();
        const auto events = [&sim] { return sim.events(); };

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
        Client control(sim.port());
        const QJsonObject stats = statsOf(control);
        QCOMPARE(stats.value(QStringLiteral("maxInFlight")).toInt(), 1);
        QCOMPARE(stats.value(QStringLiteral("total")).toInt(), int(requests.size()));
        QCOMPARE(stats.value(QStringLiteral("state")).toString(), QStringLiteral("idle"));
    }
};

QTEST_GUILESS_MAIN(IntegrationSimTest)
#include "test_integration_sim.moc"
