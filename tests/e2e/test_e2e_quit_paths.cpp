// Every way out of the real tester during a controlled resonance (closing the window, Ctrl+Q,
// SIGTERM, SIGINT, SIGHUP) and losing the focus. With an answering service the sim has the stop
// before the process is gone (on a focus loss: at once, and the tester runs on); with a service that
// stalls every request the process is still gone within the 2.5 s the quit handshake allows
// (checked at 3.5 s: the machine is loaded), and with only the stop stalling it leaves as soon as
// the transport gives the stop up, before that fallback. Under X11 (Xvfb) all of them; on a
// Wayland compositor (headless Weston, driven over the accessibility bus) the three signals.

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

class QuitPathsTest : public QObject {
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
        if (trigger == "window close")
            rig.x->sendDeleteWindow(s.window);
        else if (trigger == "Ctrl+Q")
            QVERIFY(s.xdotool({"key", "ctrl+q"}, false));
        else
            s.tester.process.signal(signal);
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

    void answered_data() { triggers(); }
    void answered() { quit(m_x11, Stall::nothing); }
    void stopStalls_data() { triggers({"window close"}); }
    void stopStalls() { quit(m_x11, Stall::stop); }
    // Once asked to quit, every path runs the same handshake: which signal asked matters only for its
    // delivery, checked above.
    void everythingStalls_data() { triggers({"window close", "Ctrl+Q", "SIGTERM"}); }
    void everythingStalls() { quit(m_x11, Stall::everything); }
    void underWayland_data() { triggers({"SIGTERM", "SIGINT", "SIGHUP"}); }
    void underWayland() { quit(m_wayland, Stall::nothing); }

    // Losing the focus stops the resonance at once; the tester keeps running, and quitting then
    // has nothing to stop.
    void focusLossStopsTheResonanceAtOnce() {
        QVERIFY(started(m_x11));
        Session s(m_x11);
        QVERIFY2(s.launch() && s.connectToSim() && s.startControlledResonance(), qPrintable(s.error));
        const qsizetype mark = m_x11.sim->events().size();
        // Without a window manager the focus moves only when a client moves it.
        const std::uint32_t other = m_x11.x->createWindow(QRect(900, 40, 200, 120));
        const double t0 = monotonicMs();
        m_x11.x->setInputFocus(other);
        QCOMPARE(m_x11.x->inputFocus(), other);
        QVERIFY2(waitFor([&] { return !s.requests("/v1/stop").isEmpty(); }, 3000), "no stop within 3 s");
        const QJsonObject stop = s.requests("/v1/stop").first();
        const double stopMs = m_x11.sim->monotonicTime(stop) - t0;
        qInfo("focus loss: stop at %.1f ms", stopMs);
        QCOMPARE(stop["status"], QJsonValue(200));
        QVERIFY(stopMs <= 1500);
        QVERIFY(m_x11.sim->waitForEvent(eventIs("end", {{"effect", "controlled"}, {"reason", "stop"}}), mark, 0));
        QVERIFY(!waitFor([&] { return s.exited(); }, 700));

        const double quitAt = monotonicMs();
        s.tester.process.signal(SIGTERM);
        QVERIFY(waitFor([&] { return s.exited(); }, 6000));
        QVERIFY(*s.tester.process.endedMs() - quitAt <= quitBoundMs);
        QCOMPARE(s.requests("/v1/stop").size(), 1);
    }
};

QTEST_MAIN(QuitPathsTest)
#include "test_e2e_quit_paths.moc"
