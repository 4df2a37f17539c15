// Assistive technology drives the real tester over the accessibility bus (AT-SPI), as a screen
// reader, voice control or a UI robot does: a private session bus, the accessibility bus it starts
// on demand, the tester on them, and atspi_client.py (Debian's python3-pyatspi), which finds the
// controls by role and name and acts only through their accessible interfaces. The sim sees what
// that did on the wire.

#include "E2eRig.h"

#include <QJsonDocument>
#include <QtTest>

using namespace vibrelle::e2e;

class AssistiveTechnologyTest : public QObject {
    Q_OBJECT

    Rig m_rig;

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(m_rig.start(&error) && m_rig.startSessionBus(&error), qPrintable(error));
    }

    // Address by the editable-text interface, "Verifica" and "Vibra" by their press action, the page
    // by its tab's action, two sliders by value in the unit they show: the status line announces
    // the reply, and the sim receives the timed resonance exactly as set.
    void pageTabsSlidersAndTheAddressDriveTheWire() {
        Session s(m_rig);
        QVERIFY2(s.launch(), qPrintable(s.error));

        const QStringList steps{
            "text|Indirizzo del servizio API locale|" + m_rig.sim->address(),
            "action|push button|Verifica|Press",
            "announced|Connesso · ",
            "action|page tab|Temporizzata|Press",
            "read|page tab|Controllata",
            "value|Durata|500",
            "value|Intensità|70",
            "action|push button|Vibra|Press",
        };
        const auto printed = s.assist(steps);
        QVERIFY2(printed, qPrintable(s.error));
        QHash<QString, QJsonObject> seen;
        for (const QJsonObject &step : *printed)
            seen.insert(step.value("step").toString(), step);
        QCOMPARE(seen.size(), steps.size());
        QVERIFY(seen.value(steps.at(3)).value("selected").toBool());
        QVERIFY(!seen.value(steps.at(4)).value("selected").toBool());
        const auto slider = [&](const QString &step) {
            const QJsonObject read = seen.value(step);
            return QList<double>{read["value"].toDouble(), read["minimum"].toDouble(),
                                 read["maximum"].toDouble(), read["increment"].toDouble()};
        };
        QCOMPARE(slider(steps.at(5)), (QList<double>{500, 20, 2000, 10}));
        QCOMPARE(slider(steps.at(6)), (QList<double>{70, 0, 100, 1}));

        // On the wire: the status at the address set, then the timed resonance with the values set.
        const auto started = m_rig.sim->waitForEvent(eventIs(QStringLiteral("start")), 0, 3000);
        QVERIFY2(started, "the sim saw no resonance start");
        QCOMPARE((*started)["effect"].toString(), "timed");
        const QJsonObject params = (*started)["params"].toObject();
        QCOMPARE(params["durationMs"].toDouble(), 500.0);
        QCOMPARE(params["intensity"].toDouble(), 0.7);
        const auto requests = [&] {
            QStringList paths;
            for (const QJsonObject &request :
                 m_rig.sim->matching(eventIs("request", {{"client", "API Tester"}})))
                paths << request["path"].toString();
            return paths;
        };
        QVERIFY(waitFor([&] { return requests().size() == 2; }, 3000));
        QCOMPARE(requests(), (QStringList{"/v1/status", "/v1/resonance"}));
    }
};

QTEST_MAIN(AssistiveTechnologyTest)
#include "test_e2e_assistive.moc"
