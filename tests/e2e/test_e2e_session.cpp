// Whole sessions with the real tester. One writes no file: HOME, the XDG folders and TMPDIR all point
// into one empty folder, which stays empty through every section, a resonance started and stopped, an
// impulse, a cue pulled, the request log opened, and Ctrl+Q. In the other, assistive technology drives
// the tester over the accessibility bus (AT-SPI), as a screen reader, voice control or a UI robot does:
// a private session bus, the accessibility bus it starts on demand, and atspi_client.py (Debian's
// python3-pyatspi), which finds the controls by role and name and acts only through their accessible
// interfaces. The sim sees what that did on the wire.

#include "E2eRig.h"

#include <QtTest>

using namespace vibrelle::e2e;

class SessionTest : public QObject {
    Q_OBJECT

    Rig m_rig;

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(m_rig.start(&error), qPrintable(error));
    }

    void everySectionWritesNothing() {
        Session s(m_rig);
        // The section rows are enabled again only once the stop has been answered: clickAndAwait
        // clicks again when the first click came early.
        QVERIFY2(s.launch() && s.connectToSim() && s.startControlledResonance() &&
                     s.clickAndAwait("resonance", "tester.controlled.stop", "/v1/stop") &&
                     s.click("resonance", "tester.section.impulses") &&
                     s.clickAndAwait("impulses", "tester.impulses.crisp", "/v1/impulses") &&
                     s.click("impulses", "tester.section.billiards"),
                 qPrintable(s.error));

        // Pulling the cue to the left and letting go: a resonance while pulling, a stop on release.
        const qsizetype resonances = s.requests("/v1/resonance").size(), stops = s.requests("/v1/stop").size();
        const QPoint pad = m_rig.layout.value("billiards/tester.billiards.pad").center();
        QStringList drag{"mousemove", "--window", QString::number(s.window), QString::number(pad.x()),
                         QString::number(pad.y()), "mousedown", "1"};
        for (int step = 1; step <= 4; ++step)
            drag << "sleep" << "0.08" << "mousemove" << "--window" << QString::number(s.window)
                 << QString::number(pad.x() - 40 * step) << QString::number(pad.y());
        QVERIFY2(s.xdotool(drag << "sleep" << "0.2" << "mouseup" << "1"), qPrintable(s.error));
        QVERIFY2(waitFor([&] { return s.requests("/v1/resonance").size() > resonances &&
                                      s.requests("/v1/stop").size() > stops; }, 3000),
                 "pulling the cue sent no resonance and stop");

        QVERIFY2(s.click("billiards", "tester.log.toggle") && s.click("billiards", "tester.section.resonance") &&
                     s.xdotool({"key", "ctrl+q"}),
                 qPrintable(s.error));
        QVERIFY2(waitFor([&] { return s.exited(); }, 6000), "the tester did not quit on Ctrl+Q");
        QCOMPARE(s.tester.process.exitCode(), 0);
        // Anything at all below the folder, including inside the runtime and temporary folders.
        const QStringList written = s.tester.filesWritten();
        QVERIFY2(written.isEmpty(), qPrintable("the session wrote: " + written.join(", ")));
    }

    // Address by the editable-text interface, "Verifica" and "Vibra" by their press action, the page
    // by its tab's action, two sliders by value in the unit they show: the status line announces
    // the reply, and the sim receives the timed resonance exactly as set.
    void assistiveTechnologyDrivesTheWire() {
        QString error;
        QVERIFY2(m_rig.startSessionBus(&error), qPrintable(error));
        const qsizetype mark = m_rig.sim->events().size();
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
        const auto started = m_rig.sim->waitForEvent(eventIs(QStringLiteral("start")), mark, 3000);
        QVERIFY2(started, "the sim saw no resonance start");
        QCOMPARE((*started)["effect"].toString(), "timed");
        const QJsonObject params = (*started)["params"].toObject();
        QCOMPARE(params["durationMs"].toDouble(), 500.0);
        QCOMPARE(params["intensity"].toDouble(), 0.7);
        const auto requests = [&] {
            QStringList paths;
            for (const QJsonObject &request : m_rig.sim->matching(eventIs("request", {{"client", "API Tester"}}), mark))
                paths << request["path"].toString();
            return paths;
        };
        QVERIFY(waitFor([&] { return requests().size() == 2; }, 3000));
        QCOMPARE(requests(), (QStringList{"/v1/status", "/v1/resonance"}));
    }
};

QTEST_MAIN(SessionTest)
#include "test_e2e_session.moc"
