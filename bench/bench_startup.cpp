// bench-startup: how fast the real tester comes up. Each run starts vibrelle-api-tester on
// a private X server (Xvfb, xcb platform) with empty home and XDG folders, and times,
// from just before fork() on the monotonic clock:
//   - window shown: the MapNotify of its top-level window, seen by an X client of our own
//     that listens on the root window (event-driven; the X server sends the event when
//     it maps the window, so the figure is late by one event delivery, well under 1 ms);
//   - status request: the start-up GET /v1/status in the sim's JSON timeline. The sim's
//     "t" is converted to the monotonic clock with the smallest (read time - t) seen
//     over its lines, so the figure is late by at most one pipe delay.
// Once both have happened and 300 ms have passed (first paint included), VmHWM (peak
// resident set) is read from /proc/PID/status and the tester is sent SIGTERM; nothing
// runs, so it quits at once (that time is reported too).
//
// Each run of the tester is followed by one of bench-bare-window, a plain Qt window of the
// same size with about thirty widgets of the same kinds, started the same way and timed the
// same way (fork to MapNotify, VmHWM 300 ms later): the ratios tester/bare of the medians
// tell what the tester's own code costs, whatever the machine.
//
// The tester asks 127.0.0.1:59723 for its status at start-up, so the sim listens there;
// the benchmark fails if the port is taken.
//
// Usage: bench-startup [--runs N] [--table]   (N from 1 to 100, default 9; --table prints
// only the rows for bench/run: name<TAB>figure<TAB>unit<TAB>notes)

#include "Measures.h"

#include <csignal>
#include <cstdio>
#include <string>

using namespace bench;

namespace {

const QByteArray testerInstance = "vibrelle-api-tester";
const QByteArray bareInstance = "bench-bare-window";

struct Run {
    double windowMs = -1;
    double statusMs = -1;
    double quitMs = -1;
    long peakKb = -1;
    bool otherClients = false;
};

bool oneRun(const DisplayServer &display, SimProcess &sim, XClient &x, Run *run, QString *error) {
    TesterProcess tester;
    x.takeMapped(testerInstance); // drop anything old
    qsizetype seen = sim.events().size();

    const QStringList program{builtProgram(QStringLiteral("vibrelle-api-tester"))};
    const Environment environment = tester.environment(display);
    const double t0 = monotonicMs();
    if (!tester.process.start(program, environment)) {
        *error = QStringLiteral("cannot start vibrelle-api-tester");
        return false;
    }

    QString clientId;
    bool died = false;
    const auto ready = [&](int fd) {
        if (fd == x.fd() && run->windowMs < 0) {
            if (x.takeMapped(testerInstance)) {
                run->windowMs = monotonicMs() - t0;
            }
        } else if (fd == sim.fd()) {
            for (; seen < sim.events().size(); ++seen) {
                const QJsonObject &j = sim.events()[seen];
                if (j.value(QLatin1String("event")).toString() != QLatin1String("request") ||
                    j.value(QLatin1String("client")).toString() != QLatin1String("API Tester")) {
                    continue;
                }
                const QString id = j.value(QLatin1String("clientId")).toString();
                if (clientId.isEmpty() && j.value(QLatin1String("path")).toString() == QLatin1String("/v1/status")) {
                    clientId = id;
                    run->statusMs = sim.monotonicTime(j) - t0;
                } else if (id != clientId) {
                    run->otherClients = true; // another tester talks to this port
                }
            }
        }
    };
    const auto started = [&] {
        died = died || tester.process.finished();
        return died || (run->windowMs >= 0 && run->statusMs >= 0);
    };
    pollUntil({x.fd(), sim.fd()}, ready, started, 15000);
    if (died || run->windowMs < 0 || run->statusMs < 0) {
        *error = died ? QStringLiteral("the tester ended during start-up")
                      : (run->windowMs < 0 ? QStringLiteral("no window within 15 s")
                                           : QStringLiteral("no status request within 15 s"));
        return false;
    }
    // Let it paint and settle, then take the peak before quitting.
    pollUntil({x.fd(), sim.fd()}, ready, [] { return false; }, 300);
    run->peakKb = procStatusKb(tester.process.pid(), "VmHWM");

    const double quitAt = monotonicMs();
    tester.process.signal(SIGTERM);
    if (!pollUntil({}, [](int) {}, [&] { return tester.process.finished(); }, 5000)) {
        *error = QStringLiteral("the tester did not quit within 5 s of SIGTERM");
        return false;
    }
    run->quitMs = *tester.process.endedMs() - quitAt;
    if (tester.process.exitCode() != 0) {
        *error = QStringLiteral("the tester did not exit cleanly on SIGTERM");
        return false;
    }
    return true;
}

// The bare window: fork to MapNotify, and VmHWM after 300 ms.
bool bareRun(const DisplayServer &display, XClient &x, Run *run, QString *error) {
    TesterProcess bare; // the same environment and empty home as the tester
    x.takeMapped(bareInstance);
    const QStringList program{builtProgram(QStringLiteral("bench-bare-window")), QStringLiteral("window")};
    const Environment environment = bare.environment(display);
    const double t0 = monotonicMs();
    if (!bare.process.start(program, environment)) {
        *error = QStringLiteral("cannot start bench-bare-window");
        return false;
    }
    const auto ready = [&](int) {
        if (run->windowMs < 0 && x.takeMapped(bareInstance)) {
            run->windowMs = monotonicMs() - t0;
        }
    };
    if (!pollUntil({x.fd()}, ready, [&] { return run->windowMs >= 0 || bare.process.finished(); }, 15000) ||
        run->windowMs < 0) {
        *error = QStringLiteral("the bare window did not map within 15 s");
        return false;
    }
    pollUntil({x.fd()}, ready, [] { return false; }, 300);
    run->peakKb = procStatusKb(bare.process.pid(), "VmHWM");
    bare.process.stop(5000);
    return true;
}

} // namespace

int main(int argc, char *argv[]) {
    int runs = 9;
    bool table = false;
    if (!parseArguments(argc, argv, "bench-startup", "--runs", 1, 100, &runs, &table)) {
        return 2;
    }

    DisplayServer display;
    std::unique_ptr<SimProcess> sim;
    if (!startDisplayAndSim("bench-startup", display, sim)) {
        return 1;
    }
    XClient x(display.display());
    if (!x.isOpen()) {
        std::fprintf(stderr, "bench-startup: cannot connect to the X server %s\n", qPrintable(display.display()));
        return 1;
    }

    std::vector<double> window, status, quit, peak, bareWindow, barePeak;
    bool contaminated = false;
    for (int i = 0; i < runs; ++i) {
        Run run;
        if (QString error; !oneRun(display, *sim, x, &run, &error)) {
            std::fprintf(stderr, "bench-startup: run %d: %s\n", i + 1, qPrintable(error));
            return 1;
        }
        Run bare;
        if (QString error; !bareRun(display, x, &bare, &error)) {
            std::fprintf(stderr, "bench-startup: run %d: %s\n", i + 1, qPrintable(error));
            return 1;
        }
        bareWindow.push_back(bare.windowMs);
        barePeak.push_back(double(bare.peakKb) / 1024.0);
        contaminated = contaminated || run.otherClients;
        window.push_back(run.windowMs);
        status.push_back(run.statusMs);
        quit.push_back(run.quitMs);
        peak.push_back(double(run.peakKb) / 1024.0);
        if (!table) {
            std::printf("  run %2d  window %7.1f ms  status request %7.1f ms  peak RSS %6.1f MiB  quit %6.1f ms"
                        "  | bare window %7.1f ms  peak RSS %6.1f MiB\n",
                        i + 1, run.windowMs, run.statusMs, double(run.peakKb) / 1024.0, run.quitMs, bare.windowMs,
                        double(bare.peakKb) / 1024.0);
        }
    }

    const auto row = [&](const char *name, const std::vector<double> &values, const char *unit, const char *what) {
        const Spread s = spread(values);
        if (table) {
            std::printf("%s\t%.1f\t%s\tmedian of %d; min %.1f, IQR %.1f-%.1f, max %.1f; %s\n", name, s.median, unit,
                        runs, s.min, s.p25, s.p75, s.max, what);
        } else {
            std::printf("%-28s median %7.1f %s  min %7.1f  IQR %7.1f-%-7.1f  max %7.1f   (%s)\n", name, s.median, unit,
                        s.min, s.p25, s.p75, s.max, what);
        }
    };
    row("start-up: window shown", window, "ms", "fork to MapNotify under Xvfb");
    row("start-up: status request", status, "ms", "fork to GET /v1/status in the sim's timeline");
    row("start-up: peak RSS", peak, "MiB", "VmHWM after start-up and first paint");
    row("quit when idle (SIGTERM)", quit, "ms", "SIGTERM to exit, nothing running");
    row("start-up: bare window shown", bareWindow, "ms", "bench-bare-window, ~30 widgets, same way");
    row("start-up: bare peak RSS", barePeak, "MiB", "bench-bare-window, VmHWM 300 ms after its map");
    const auto ratio = [&](const char *name, const std::vector<double> &tester, const std::vector<double> &bare,
                           const char *what) {
        const double r = spread(tester).median / spread(bare).median;
        if (table) {
            std::printf("%s\t%.2f\tx\t%s; medians of %d, same run\n", name, r, what, runs);
        } else {
            std::printf("%-28s %.2fx   (%s)\n", name, r, what);
        }
    };
    ratio("start-up: map, tester/bare", window, bareWindow, "fork to MapNotify");
    ratio("start-up: peak RSS, tester/bare", peak, barePeak, "VmHWM");
    if (contaminated) {
        std::fprintf(stderr, "bench-startup: another tester also talked to port 59723 during the runs; "
                             "the figures may be disturbed\n");
    }
    return 0;
}
