// The real tester against a real sim. Every way out during a controlled resonance (closing the
// window, Ctrl+Q, SIGTERM, SIGINT, SIGHUP, and losing the focus, which stops at once while the tester
// runs on): the sim has the stop before the process is gone; with every request stalled it is gone
// within the handshake's 2.5 s (checked at 3.5 s: the machine is loaded), with only the stop stalled
// as soon as the transport gives the stop up. Under X11 (Xvfb) all of them, on a headless Weston the
// signals. Then whole sessions: one writes no file below its empty HOME, XDG folders and TMPDIR; in
// the other, assistive technology drives the tester over a private accessibility bus
// (atspi_client.py acts only through accessible interfaces), and the sim sees what that did.

#include "E2eRig.h"

#include <QtTest>

#include <csignal>

using namespace vibrelle::e2e;

namespace {

enum class Stall { nothing, stop, everything };
constexpr double quitBoundMs = 3500;

QByteArray stallFaults(Stall stall) {
    QStringList paths{"/v1/stop"};
    if (stall == Stall::everything)
        paths << "/v1/status" << "/v1/impulses" << "/v1/sequences" << "/v1/resonance" << "/v1/resonance/update"
              << "/v1/resonance/pause" << "/v1/resonance/resume" << "/v1/heartbeat";
    return "[{\"stall\":\"never\",\"path\":\"" + paths.join("\"},{\"stall\":\"never\",\"path\":\"").toUtf8() + "\"}]";
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

    Rig m_x11, m_wayland{DisplayServer::Kind::wayland};

    // Each display server and its sim start when a test first needs them.
    static bool started(Rig &rig) {
        QString error;
        if (!rig.sim && !(rig.start(&error) && (rig.x11() || rig.startSessionBus(&error))))
            qWarning("%s", qPrintable(error));
        return rig.sim && rig.sim->port() != 0;
    }

    static void triggers(const QStringList &names = {"window close", "Ctrl+Q", "SIGTERM", "SIGINT", "SIGHUP"}) {
        QTest::addColumn<QString>("trigger");
        for (const QString &name : names)
            QTest::newRow(qPrintable(name)) << name;
    }

    void quit(Rig &rig, Stall stall) {
        QFETCH(QString, trigger);
        QVERIFY(started(rig));
        Session s(rig);
        QVERIFY2(s.launch() && s.connectToSim() && s.startControlledResonance(stall != Stall::everything),
                 qPrintable(s.error));
        const qsizetype mark = rig.sim->events().size();
        if (stall != Stall::nothing)
            QCOMPARE(setFaults(*rig.control, stallFaults(stall)), 200);
        // With everything stalled the quit comes while a heartbeat hangs: the stop can only go out
        // once that heartbeat has failed, and the handshake's fallback must end the process before
        // the stop could fail in its turn.
        if (stall == Stall::everything)
            QVERIFY(rig.sim->waitForEvent(eventIs("request", {{"clientId", s.clientId}, {"path", "/v1/heartbeat"},
                                                                {"fault", "stall never"}}), mark, 2000));

        const double t0 = monotonicMs();
        const int signal = trigger == "SIGTERM" ? SIGTERM : trigger == "SIGINT" ? SIGINT : SIGHUP;
        if (trigger == "window close") {
            rig.x->sendDeleteWindow(s.window);
        } else if (trigger == "focus loss") {
            // The focus moves only when a client moves it (no window manager). The resonance stops at
            // once and the tester runs on; quitting then has nothing more to stop.
            const std::uint32_t other = rig.x->createWindow(QRect(900, 40, 200, 120));
            rig.x->setInputFocus(other);
            QCOMPARE(rig.x->inputFocus(), other);
            QVERIFY2(waitFor([&] { return !s.requests("/v1/stop").isEmpty(); }, 1500), "no stop within 1.5 s");
            QVERIFY(!waitFor([&] { return s.exited(); }, 700));
            s.tester.process.signal(SIGTERM);
        } else if (trigger == "Ctrl+Q") {
            QVERIFY(s.xdotool({"key", "ctrl+q"}, false));
        } else {
            s.tester.process.signal(signal);
        }
        QVERIFY2(waitFor([&] { return s.exited(); }, 6000), "still running 6 s after the quit request");
        QCOMPARE(s.tester.process.exitCode(), 0);
        waitFor([&] { return !s.requests("/v1/stop").isEmpty(); }, 300); // a line still in the pipe
        const auto stops = s.requests("/v1/stop");
        QVERIFY2(!stops.isEmpty(), "the stop never reached the sim");
        const double stopMs = rig.sim->monotonicTime(stops.first()) - t0, exitMs = *s.tester.process.endedMs() - t0;
        qInfo("stop at %.1f ms, exit at %.1f ms after the quit request", stopMs, exitMs);
        QVERIFY(stopMs <= exitMs);
        QVERIFY(exitMs <= quitBoundMs);
        if (stall != Stall::nothing)
            QCOMPARE(stops.first()["fault"], QJsonValue("stall never"));
        // The transport gives up on a silent stop 1.5 s after sending it; the fallback is at 2.5 s.
        if (stall != Stall::everything)
            QVERIFY2(exitMs < 2300, "the process waited for the fallback, not for the stop's end");
        if (stall == Stall::everything)
            QVERIFY2(exitMs - stopMs < 1400, "the process waited for the stop to time out, not for the fallback");
        if (stall == Stall::nothing) {
            QCOMPARE(stops.size(), 1);
            QCOMPARE(stops.first()["status"], QJsonValue(200));
            QVERIFY(rig.sim->waitForEvent(eventIs("end", {{"effect", "controlled"}, {"reason", "stop"}}), mark, 0));
        }
    }

private Q_SLOTS:
    void cleanup() {
        for (Rig *rig : {&m_x11, &m_wayland}) {
            if (rig->control)
                QCOMPARE(clearFaults(*rig->control), 200);
        }
    }

    void answered_data() { triggers({"window close", "Ctrl+Q", "SIGTERM", "SIGINT", "SIGHUP", "focus loss"}); }
    void answered() { quit(m_x11, Stall::nothing); }
    void stopStalls_data() { triggers({"window close"}); }
    void stopStalls() { quit(m_x11, Stall::stop); }
    // Once asked to quit, every path runs the same handshake: which signal asked matters only for its
    // delivery, checked above.
    void everythingStalls_data() { triggers({"window close", "Ctrl+Q", "SIGTERM"}); }
    void everythingStalls() { quit(m_x11, Stall::everything); }
    void underWayland_data() { triggers({"SIGTERM", "SIGINT", "SIGHUP"}); }
    void underWayland() { quit(m_wayland, Stall::nothing); }

    void everySectionWritesNothing() {
        QVERIFY(started(m_x11));
        Session s(m_x11);
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
        const QPoint pad = m_x11.layout.value("billiards/tester.billiards.pad").center();
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
        QVERIFY(started(m_x11));
        QVERIFY2(m_x11.startSessionBus(&error), qPrintable(error));
        const qsizetype mark = m_x11.sim->events().size();
        Session s(m_x11);
        QVERIFY2(s.launch(), qPrintable(s.error));
        const QStringList steps{
            "text|Indirizzo del servizio API locale|" + m_x11.sim->address(),
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
        const auto started = m_x11.sim->waitForEvent(eventIs(QStringLiteral("start")), mark, 3000);
        QVERIFY2(started, "the sim saw no resonance start");
        QCOMPARE((*started)["effect"].toString(), "timed");
        const QJsonObject params = (*started)["params"].toObject();
        QCOMPARE(params["durationMs"].toDouble(), 500.0);
        QCOMPARE(params["intensity"].toDouble(), 0.7);
        const auto requests = [&] {
            QStringList paths;
            for (const QJsonObject &request : m_x11.sim->matching(eventIs("request", {{"client", "API Tester"}}), mark))
                paths << request["path"].toString();
            return paths;
        };
        QVERIFY(waitFor([&] { return requests().size() == 2; }, 3000));
        QCOMPARE(requests(), (QStringList{"/v1/status", "/v1/resonance"}));
    }
};

QTEST_MAIN(EndToEndTest)
#include "test_e2e.moc"
