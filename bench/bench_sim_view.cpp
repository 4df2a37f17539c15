// bench-sim-view: what the sim's window and sound cost. vibrelle-sim runs on the rig's private X
// server with --view and --audio-file (the WAV in a temporary folder of the build tree), and for
// comparison without either:
//   - playing: a controlled resonance at 30 imp/s for S seconds (default 10), renewed by a
//     heartbeat every 0.5 s as the tester does; CPU time (utime + stime of all threads, /proc)
//     over the window, as a share of one core;
//   - idle: stopped, then 6 s for the strip to scroll empty and the sound to end, then S seconds
//     with nothing played: strace on the main thread counts every poll() that returned, those
//     on a time-out being timer wake-ups; the timeout of the poll the main thread waits in at
//     the start shows whether any timer is armed at all (-1: none).
//
// Usage: bench-sim-view [--seconds S] [--table]   (S from 2 to 60)

#include "Measures.h"
#include "SimHarness.h"

#include <QCoreApplication>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

using namespace bench;
using vibrelle::simtest::Client;
using vibrelle::simtest::controlledBody;

namespace {

using Row = std::array<std::string, 4>;

std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// CPU time of the sim while a controlled resonance plays for `seconds`, as a share of one core.
double playingCpuPercent(SimProcess &sim, int seconds) {
    Client client(sim.port());
    if (client.post("/v1/resonance", controlledBody()).status != 200)
        return -1;
    const pid_t pid = sim.process().pid();
    const double cpuFrom = cpuMs(pid), from = monotonicMs();
    while (monotonicMs() - from < seconds * 1000.0) {
        pollUntil(
            {sim.fd()}, [&](int) { sim.read(); }, [] { return false; }, 500);
        client.post("/v1/heartbeat");
    }
    const double percent = (cpuMs(pid) - cpuFrom) / (monotonicMs() - from) * 100;
    client.post("/v1/stop");
    return percent;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    int seconds = 10;
    bool table = false;
    if (!parseArguments(argc, argv, "bench-sim-view", "--seconds", 2, 60, &seconds, &table))
        return 2;
    DisplayServer display;
    QString error;
    if (!display.start(&error)) {
        std::fprintf(stderr, "bench-sim-view: %s\n", qPrintable(error));
        return 1;
    }
    for (const QString &entry : display.clientEnvironment())
        qputenv(entry.section(u'=', 0, 0).toLatin1(), entry.section(u'=', 1).toLocal8Bit());
    const auto folder = temporaryFolder();
    XClient x(display.display());
    if (!x.isOpen()) {
        std::fprintf(stderr, "bench-sim-view: cannot connect to the X server\n");
        return 1;
    }
    const QString window = QString::number(seconds) + QStringLiteral(" s");
    std::vector<Row> rows;

    SimProcess headless({}, 0, SimProcess::Keep::nothing);
    const double headlessCpu = playingCpuPercent(headless, seconds);

    SimProcess sim({QStringLiteral("--view"), QStringLiteral("--audio-file"),
                    folder->filePath(QStringLiteral("sim.wav"))},
                   0, SimProcess::Keep::nothing);
    const auto pump = [&](int) {
        sim.read();
        x.takeMapped("vibrelle-sim");
    };
    bool mapped = false;
    if (sim.port() == 0 ||
        !pollUntil(
            {x.fd(), sim.fd()}, [&](int) { mapped = mapped || x.takeMapped("vibrelle-sim").has_value(); },
            [&] { return mapped; }, 15000)) {
        std::fprintf(stderr, "bench-sim-view: the sim's window did not show\n");
        return 1;
    }
    const double viewCpu = playingCpuPercent(sim, seconds);
    rows.push_back({"sim --view --audio-file: CPU playing", fixed(viewCpu, 2), "% of a core",
                    (window + QStringLiteral(" of controlled resonance at 30 imp/s, heartbeat every 0.5 s; "
                                             "without window and sound %1 %")
                                  .arg(QString::fromStdString(fixed(headlessCpu, 2))))
                        .toStdString()});

    pollUntil(
        {x.fd(), sim.fd()}, pump, [] { return false; }, 6000);
    const pid_t pid = sim.process().pid();
    const std::string armed = pendingPollTimeout(pid);
    MainThreadTrace trace;
    const bool traced =
        trace.attach(pid, folder->filePath(QStringLiteral("sim.strace")), {x.fd(), sim.fd()}, pump);
    const double cpuFrom = cpuMs(pid), wallFrom = realtimeSeconds();
    pollUntil(
        {x.fd(), sim.fd()}, pump, [] { return false; }, seconds * 1000.0);
    const double cpuIdle = cpuMs(pid) - cpuFrom, wallTo = realtimeSeconds();
    trace.detach();
    const std::string idle = window.toStdString() + " idle, 6 s after the last effect";
    if (traced) {
        const MainThreadTrace::Polls polls = trace.polls(wallFrom, wallTo);
        rows.push_back(
            {"sim --view --audio-file: idle timer wake-ups", std::to_string(polls.timeouts), "wake-ups",
             idle +
                 "; main-thread poll() returning on timeout (strace); at the start the main thread "
                 "waited with a timeout of " +
                 armed + " ms (-1: no timer armed)"});
        rows.push_back({"sim --view --audio-file: idle main-thread wake-ups",
                        std::to_string(polls.timeouts + polls.woken), "wake-ups",
                        idle + "; every poll() return of the main thread"});
    } else {
        rows.push_back(
            {"sim --view --audio-file: idle timer wake-ups", "n/a", "wake-ups", "strace is not installed"});
    }
    rows.push_back(
        {"sim --view --audio-file: idle CPU time", fixed(cpuIdle, 0), "ms", idle + "; utime+stime"});

    for (const Row &r : rows) {
        if (table)
            std::printf("%s\t%s\t%s\t%s\n", r[0].c_str(), r[1].c_str(), r[2].c_str(), r[3].c_str());
        else
            std::printf("%-50s %8s %-12s %s\n", r[0].c_str(), r[1].c_str(), r[2].c_str(), r[3].c_str());
    }
    return viewCpu < 0 || headlessCpu < 0 ? 1 : 0;
}
