// Every way out of the real tester during a controlled resonance: closing the window,
// Ctrl+Q, SIGTERM, SIGINT, SIGHUP, and losing the focus. The binary runs on its own X
// server and talks to a real vibrelle-sim; the test drives the window through X.
//
// With an answering service the sim must have the "/v1/stop" before the process is
// gone (for focus loss: at once, with the process still running); with a service that
// never answers the stop (or never answers anything) the process must still be gone
// within the 2.5 s the quit handshake allows (checked at 3.5 s: the machine is loaded).
//
// The cases are split over two ctest entries (answered, stalled), each with its own X
// server and sim; every process ends with the test, even when it fails.

#include "E2eRig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <csignal>

using namespace vibrelle::e2e;

namespace {

enum class QuitPath { windowClose, ctrlQ, sigterm, sigint, sighup };

constexpr double quitBoundMs = 3500;  // 2.5 s handshake fallback plus room for a loaded machine
constexpr int exitWaitMs = 6000;      // how long to wait for an exit before calling it a hang

const char *pathName(QuitPath path) {
    switch (path) {
    case QuitPath::windowClose:
        return "window close";
    case QuitPath::ctrlQ:
        return "Ctrl+Q";
    case QuitPath::sigterm:
        return "SIGTERM";
    case QuitPath::sigint:
        return "SIGINT";
    case QuitPath::sighup:
        return "SIGHUP";
    }
    return "?";
}

// Every /v1 path the tester can use, each made to never answer.
QJsonArray stallEverything() {
    QJsonArray faults;
    for (const char *path : {"/v1/status", "/v1/impulses", "/v1/sequences", "/v1/resonance", "/v1/resonance/update",
                             "/v1/resonance/pause", "/v1/resonance/resume", "/v1/heartbeat", "/v1/stop"}) {
        faults.append(QJsonObject{{QStringLiteral("path"), QLatin1String(path)},
                                  {QStringLiteral("stall"), QStringLiteral("never")}});
    }
    return faults;
}

} // namespace

Q_DECLARE_METATYPE(QuitPath)

class QuitPathsTest : public QObject {
    Q_OBJECT

private:
    Rig m_rig;
    QStringList m_figures;

    // Sends the quit request; returns the monotonic time just before it was made.
    double trigger(Session &s, QuitPath path) {
        const double t0 = monotonicMs();
        switch (path) {
        case QuitPath::windowClose:
            m_rig.x->sendDeleteWindow(s.driver.window());
            break;
        case QuitPath::ctrlQ:
            s.driver.startXdotool({QStringLiteral("key"), QStringLiteral("ctrl+q")});
            break;
        case QuitPath::sigterm:
            ::kill(pid_t(s.tester.pid()), SIGTERM);
            break;
        case QuitPath::sigint:
            ::kill(pid_t(s.tester.pid()), SIGINT);
            break;
        case QuitPath::sighup:
            ::kill(pid_t(s.tester.pid()), SIGHUP);
            break;
        }
        return t0;
    }

    struct Outcome {
        double exitMs = -1; // after the quit request
        double stopMs = -1; // sim received the first stop, after the quit request (-1: none)
        int stops = 0;
        QJsonObject stop;
    };

    // Waits for the process to end and collects what the sim saw of this tester after t0.
    bool awaitExit(Session &s, double t0, Outcome *outcome, QString *error) {
        if (!waitUntil([&] { return s.tester.finished(); }, exitWaitMs)) {
            *error = QStringLiteral("still running %1 ms after the quit request").arg(exitWaitMs);
            return false;
        }
        QString xdotoolError;
        if (!s.driver.finishXdotool(&xdotoolError)) {
            *error = xdotoolError;
            return false;
        }
        outcome->exitMs = *s.tester.exitMs() - t0;
        // The sim writes a stop's line when it handles it; give a line still in the pipe a moment.
        waitUntil([&] { return !s.rig.sim.requests(s.clientId, QStringLiteral("/v1/stop")).isEmpty(); }, 300);
        const auto stops = s.rig.sim.requests(s.clientId, QStringLiteral("/v1/stop"));
        outcome->stops = int(stops.size());
        if (!stops.isEmpty()) {
            outcome->stop = stops.first().json;
            outcome->stopMs = s.rig.sim.toMonotonic(stops.first().json.value(QLatin1String("t")).toDouble()) - t0;
        }
        if (s.tester.process().exitStatus() != QProcess::NormalExit || s.tester.process().exitCode() != 0) {
            *error = QStringLiteral("the tester did not exit cleanly (status %1, code %2); output: %3")
                         .arg(int(s.tester.process().exitStatus()))
                         .arg(s.tester.process().exitCode())
                         .arg(s.tester.output());
            return false;
        }
        return true;
    }

    // The controlled resonance ended in the sim because of a stop, after `t0`.
    bool endedByStop(const Sim &sim, double t0) const {
        for (const Sim::Event &event : sim.events()) {
            const QJsonObject &j = event.json;
            if (j.value(QLatin1String("event")).toString() == QLatin1String("end") &&
                j.value(QLatin1String("effect")).toString() == QLatin1String("controlled") &&
                sim.toMonotonic(j.value(QLatin1String("t")).toDouble()) >= t0) {
                return j.value(QLatin1String("reason")).toString() == QLatin1String("stop");
            }
        }
        return false;
    }

    void record(const QString &line) {
        m_figures.append(line);
        qInfo("%s", qPrintable(line));
    }

    static void addPaths() {
        QTest::addColumn<QuitPath>("path");
        for (QuitPath path :
             {QuitPath::windowClose, QuitPath::ctrlQ, QuitPath::sigterm, QuitPath::sigint, QuitPath::sighup}) {
            QTest::newRow(pathName(path)) << path;
        }
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(m_rig.start(&error), qPrintable(error));
    }

    void cleanup() {
        QVERIFY(m_rig.sim.control("DELETE", "/_sim/faults").has_value());
    }

    void cleanupTestCase() {
        if (!m_figures.isEmpty()) {
            qInfo("Measured (ms after the quit request or focus change):\n  %s",
                  qPrintable(m_figures.join(QStringLiteral("\n  "))));
        }
    }

    // The service answers: the stop reaches it (and is answered) before the process ends.
    void quitStopsTheResonanceFirst_data() { addPaths(); }
    void quitStopsTheResonanceFirst() {
        QFETCH(QuitPath, path);
        Session s(m_rig);
        QString error;
        QVERIFY2(s.launch(&error) && s.connectToSim(&error) && s.startControlledResonance(&error), qPrintable(error));

        const double t0 = trigger(s, path);
        Outcome o;
        QVERIFY2(awaitExit(s, t0, &o, &error), qPrintable(error));
        record(QStringLiteral("answered  %1: stop at %2, exit at %3")
                   .arg(QLatin1String(pathName(path)), -14)
                   .arg(o.stopMs, 0, 'f', 1)
                   .arg(o.exitMs, 0, 'f', 1));

        QVERIFY2(o.stops == 1, qPrintable(QStringLiteral("%1 stop requests reached the sim; tester output: %2")
                                               .arg(o.stops)
                                               .arg(s.tester.output())));
        QCOMPARE(o.stop.value(QLatin1String("status")).toInt(), 200);
        QVERIFY2(o.stopMs <= o.exitMs,
                 qPrintable(QStringLiteral("stop at %1 ms, exit at %2 ms").arg(o.stopMs).arg(o.exitMs)));
        QVERIFY2(o.exitMs <= quitBoundMs, qPrintable(QStringLiteral("exit after %1 ms").arg(o.exitMs)));
        QVERIFY2(endedByStop(m_rig.sim, t0), "the sim did not end the resonance because of a stop");
    }

    // Losing the focus stops the resonance at once; the tester keeps running.
    void focusLossStopsTheResonanceAtOnce() {
        Session s(m_rig);
        QString error;
        QVERIFY2(s.launch(&error) && s.connectToSim(&error) && s.startControlledResonance(&error), qPrintable(error));
        QVERIFY(s.rig.sim.requests(s.clientId, QStringLiteral("/v1/stop")).isEmpty());

        // Without a window manager the focus moves only when a client moves it: give it
        // to a plain window of the test's own, beside the tester's.
        const std::uint32_t other = m_rig.x->createWindow(QRect(900, 40, 200, 120), "e2e focus taker");
        QVERIFY(waitUntil([&] { return m_rig.x->isViewable(other); }, 2000));
        const double t0 = monotonicMs();
        m_rig.x->setInputFocus(other);
        QCOMPARE(m_rig.x->inputFocus(), other);

        QVERIFY2(waitUntil([&] { return !s.rig.sim.requests(s.clientId, QStringLiteral("/v1/stop")).isEmpty(); },
                           3000),
                 "no stop reached the sim within 3 s of the focus loss");
        const auto stops = s.rig.sim.requests(s.clientId, QStringLiteral("/v1/stop"));
        const double stopMs = s.rig.sim.toMonotonic(stops.first().json.value(QLatin1String("t")).toDouble()) - t0;
        record(QStringLiteral("focus loss: stop at %1, process still running").arg(stopMs, 0, 'f', 1));
        QCOMPARE(stops.first().json.value(QLatin1String("status")).toInt(), 200);
        QVERIFY2(stopMs <= 1500, qPrintable(QStringLiteral("stop only %1 ms after the focus loss").arg(stopMs)));
        QVERIFY2(endedByStop(m_rig.sim, t0), "the sim did not end the resonance because of a stop");

        // Still running a while later, and no second stop: nothing runs any more.
        QVERIFY(!waitUntil([&] { return s.tester.finished(); }, 700));
        QCOMPARE(s.rig.sim.requests(s.clientId, QStringLiteral("/v1/stop")).size(), 1);

        // Quitting now has nothing to stop and ends at once.
        const double quitAt = monotonicMs();
        ::kill(pid_t(s.tester.pid()), SIGTERM);
        QVERIFY2(waitUntil([&] { return s.tester.finished(); }, exitWaitMs), "no exit after SIGTERM");
        const double exitMs = *s.tester.exitMs() - quitAt;
        record(QStringLiteral("SIGTERM after the focus loss (idle): exit at %1").arg(exitMs, 0, 'f', 1));
        QVERIFY2(exitMs <= quitBoundMs, qPrintable(QStringLiteral("exit after %1 ms").arg(exitMs)));
        QCOMPARE(s.rig.sim.requests(s.clientId, QStringLiteral("/v1/stop")).size(), 1);
    }

    // The service takes the stop and never answers it: the process ends anyway.
    void quitWithAStalledStop_data() { addPaths(); }
    void quitWithAStalledStop() {
        QFETCH(QuitPath, path);
        Session s(m_rig);
        QString error;
        QVERIFY2(s.launch(&error) && s.connectToSim(&error) && s.startControlledResonance(&error), qPrintable(error));
        QVERIFY(m_rig.sim.addFaults(QJsonObject{{QStringLiteral("path"), QStringLiteral("/v1/stop")},
                                                {QStringLiteral("stall"), QStringLiteral("never")}}));

        const double t0 = trigger(s, path);
        Outcome o;
        QVERIFY2(awaitExit(s, t0, &o, &error), qPrintable(error));
        record(QStringLiteral("stop stalls  %1: stop at %2, exit at %3")
                   .arg(QLatin1String(pathName(path)), -14)
                   .arg(o.stopMs, 0, 'f', 1)
                   .arg(o.exitMs, 0, 'f', 1));
        QVERIFY2(o.stops >= 1, "the stop never reached the sim");
        QCOMPARE(o.stop.value(QLatin1String("fault")).toString(), QStringLiteral("stall never"));
        QVERIFY2(o.stopMs <= o.exitMs,
                 qPrintable(QStringLiteral("stop at %1 ms, exit at %2 ms").arg(o.stopMs).arg(o.exitMs)));
        QVERIFY2(o.exitMs <= quitBoundMs, qPrintable(QStringLiteral("exit after %1 ms").arg(o.exitMs)));
    }

    // Every request stalls, and the quit comes while a heartbeat hangs: the stop can
    // only go out once that heartbeat has failed, and the handshake's fallback ends the
    // process before the stop could fail in its turn.
    void quitWithEveryRequestStalled_data() {
        QTest::addColumn<QuitPath>("path");
        QTest::newRow("window close") << QuitPath::windowClose;
        QTest::newRow("SIGTERM") << QuitPath::sigterm;
    }
    void quitWithEveryRequestStalled() {
        QFETCH(QuitPath, path);
        Session s(m_rig);
        QString error;
        QVERIFY2(s.launch(&error) && s.connectToSim(&error) && s.startControlledResonance(&error), qPrintable(error));
        const auto beatsBefore = s.rig.sim.requests(s.clientId, QStringLiteral("/v1/heartbeat")).size();
        QVERIFY(m_rig.sim.addFaults(stallEverything()));
        QVERIFY2(waitUntil(
                     [&] {
                         const auto beats = s.rig.sim.requests(s.clientId, QStringLiteral("/v1/heartbeat"));
                         return beats.size() > beatsBefore &&
                                beats.last().json.value(QLatin1String("fault")).toString() ==
                                    QLatin1String("stall never");
                     },
                     2000),
                 "no stalled heartbeat within 2 s");

        const double t0 = trigger(s, path);
        Outcome o;
        QVERIFY2(awaitExit(s, t0, &o, &error), qPrintable(error));
        record(QStringLiteral("all stall   %1: stop at %2, exit at %3")
                   .arg(QLatin1String(pathName(path)), -14)
                   .arg(o.stopMs, 0, 'f', 1)
                   .arg(o.exitMs, 0, 'f', 1));
        QVERIFY2(o.exitMs <= quitBoundMs, qPrintable(QStringLiteral("exit after %1 ms").arg(o.exitMs)));
        // The stop waits for the hanging heartbeat to fail (the transport gives up after
        // 1.5 s without a byte), then goes out before the end.
        QVERIFY2(o.stops >= 1, "the stop never reached the sim");
        QVERIFY2(o.stopMs <= o.exitMs,
                 qPrintable(QStringLiteral("stop at %1 ms, exit at %2 ms").arg(o.stopMs).arg(o.exitMs)));
        // The end comes from the handshake's 2.5 s fallback, not from the stalled stop
        // failing in its turn (that takes the transport's 1.5 s of silence after the stop).
        QVERIFY2(o.exitMs - o.stopMs < 1400,
                 qPrintable(QStringLiteral("exit %1 ms after the stop: the process waited for the stop to time out "
                                           "instead of leaving 2.5 s after the quit request")
                                .arg(o.exitMs - o.stopMs)));
    }
};

QTEST_MAIN(QuitPathsTest)
#include "test_e2e_quit_paths.moc"
