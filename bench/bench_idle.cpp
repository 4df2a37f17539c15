// bench-idle: what the real tester does while nobody touches it. It starts
// vibrelle-api-tester on a private X server against vibrelle-sim on 127.0.0.1:59723 (its
// default address), waits for its window and its start-up status request, lets it settle
// for 500 ms, then watches it for S seconds (default 10):
//   - requests: /v1 requests from the tester's client id in the sim's timeline (the
//     tester does not poll: 0 expected);
//   - CPU time: utime + stime from /proc/PID/stat (clock ticks of 10 ms);
//   - timer wake-ups: the tester's timers (heartbeat, live updates, effect ends, the quit
//     fallback) are all main-thread timers, and a timer can only fire when the main
//     thread's event loop returns from poll() because its timeout expired. strace is
//     attached to the main thread only, and every poll() of that thread that returned
//     during the window is counted: those that returned 0 (timeout) are timer wake-ups
//     (of any main-thread timer, Qt's own included, so an upper bound for the tester's);
//     the others were woken by a descriptor (X events, sockets). The timeout argument
//     of the last poll shows whether any timer was armed at all (-1: none);
//   - context switches: voluntary and involuntary, per thread, from /proc/PID/task/*/status
//     (with strace attached, every system call of the main thread adds a few).
//
// Usage: bench-idle [--seconds S] [--table]   (S from 1 to 60)

#include "Measures.h"

#include <QJsonObject>

#include <array>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

using namespace bench;

namespace {

struct Switches {
    long voluntary = 0;
    long involuntary = 0;
};

std::map<int, Switches> contextSwitches(pid_t pid, std::map<int, std::string> *names = nullptr) {
    std::map<int, Switches> result;
    const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
    DIR *dir = ::opendir(taskDir.c_str());
    if (!dir) {
        return result;
    }
    while (dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const int tid = std::atoi(entry->d_name);
        const std::string base = taskDir + "/" + entry->d_name;
        std::ifstream status(base + "/status");
        std::string line;
        Switches s;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                s.voluntary = std::atol(line.c_str() + 24);
            } else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                s.involuntary = std::atol(line.c_str() + 27);
            }
        }
        result[tid] = s;
        if (names) {
            std::ifstream comm(base + "/comm");
            std::getline(comm, (*names)[tid]);
        }
    }
    ::closedir(dir);
    return result;
}

} // namespace

int main(int argc, char *argv[]) {
    int seconds = 10;
    bool table = false;
    if (!parseArguments(argc, argv, "bench-idle", "--seconds", 1, 60, &seconds, &table)) {
        return 2;
    }

    DisplayServer display;
    std::unique_ptr<SimProcess> simProcess;
    if (!startDisplayAndSim("bench-idle", display, simProcess)) {
        return 1;
    }
    SimProcess &sim = *simProcess;
    XClient x(display.display());
    if (!x.isOpen()) {
        std::fprintf(stderr, "bench-idle: cannot connect to the X server\n");
        return 1;
    }

    TesterProcess tester;
    tester.start(display, Child::Output::discard);
    bool mapped = false;
    QString clientId;
    bool statusAnswered = false;
    const auto ready = [&](int fd) {
        if (fd == x.fd() && !mapped) {
            mapped = x.takeMapped("vibrelle-api-tester").has_value();
        }
        for (const QJsonObject &j : sim.events()) {
            if (clientId.isEmpty() &&
                j.value(QLatin1String("event")).toString() == QLatin1String("request") &&
                j.value(QLatin1String("client")).toString() == QLatin1String("API Tester") &&
                j.value(QLatin1String("path")).toString() == QLatin1String("/v1/status")) {
                clientId = j.value(QLatin1String("clientId")).toString();
                statusAnswered = j.value(QLatin1String("status")).toInt() == 200;
            }
        }
    };
    if (!pollUntil(
            {x.fd(), sim.fd()}, ready, [&] { return mapped && !clientId.isEmpty(); }, 15000) ||
        !statusAnswered) {
        std::fprintf(stderr, "bench-idle: the tester did not start (window %s, status request %s)\n",
                     mapped ? "shown" : "missing", clientId.isEmpty() ? "missing" : "not answered");
        return 1;
    }
    pollUntil(
        {x.fd(), sim.fd()}, ready, [] { return false; }, 500);

    const pid_t testerPid = tester.process.pid();
    const std::string armedTimeout = pendingPollTimeout(testerPid);

    // strace on the main thread only, writing to a file in the temporary folder.
    MainThreadTrace trace;
    const bool traced =
        trace.attach(testerPid, tester.home() + QStringLiteral("/main-thread.strace"), {sim.fd()}, ready);

    const qsizetype eventsBefore = sim.events().size();
    const auto switchesBefore = contextSwitches(testerPid);
    const double cpuBefore = cpuMs(testerPid);
    const double wallFrom = realtimeSeconds();

    pollUntil(
        {x.fd(), sim.fd()}, ready, [] { return false; }, seconds * 1000.0);

    const double wallTo = realtimeSeconds();
    const double cpuAfter = cpuMs(testerPid);
    std::map<int, std::string> names;
    const auto switchesAfter = contextSwitches(testerPid, &names);
    trace.detach();
    tester.process.stop(5000);

    int ownRequests = 0, allRequests = 0;
    for (qsizetype i = eventsBefore; i < sim.events().size(); ++i) {
        const QJsonObject &j = sim.events()[i];
        if (j.value(QLatin1String("event")).toString() == QLatin1String("request") &&
            j.value(QLatin1String("path")).toString().startsWith(QLatin1String("/v1/"))) {
            ++allRequests;
            ownRequests += j.value(QLatin1String("clientId")).toString() == clientId ? 1 : 0;
        }
    }

    long mainSwitches = 0, otherSwitches = 0;
    std::string perThread;
    for (const auto &[tid, after] : switchesAfter) {
        const auto before = switchesBefore.count(tid) ? switchesBefore.at(tid) : Switches{};
        const long delta = (after.voluntary - before.voluntary) + (after.involuntary - before.involuntary);
        (tid == testerPid ? mainSwitches : otherSwitches) += delta;
        perThread += (perThread.empty() ? "" : ", ") + (tid == testerPid ? std::string("main") : names[tid]) +
                     " " + std::to_string(delta);
    }

    const std::string window = std::to_string(seconds) + " s idle";
    std::vector<std::array<std::string, 4>> rows;
    rows.push_back({"idle: requests sent", std::to_string(ownRequests), "requests",
                    window + ", the tester's client id in the sim's timeline (" +
                        std::to_string(allRequests) + " /v1 requests from anyone)"});
    char cpu[32];
    std::snprintf(cpu, sizeof cpu, "%.0f", cpuAfter - cpuBefore);
    rows.push_back(
        {"idle: CPU time", cpu, "ms", window + ", utime+stime of all threads (/proc, 10 ms ticks)"});
    if (traced) {
        const MainThreadTrace::Polls polls = trace.polls(wallFrom, wallTo);
        rows.push_back(
            {"idle: timer wake-ups", std::to_string(polls.timeouts), "wake-ups",
             window +
                 ", main-thread poll() returning on timeout (strace); at the start the main thread "
                 "waited with a timeout of " +
                 armedTimeout + " ms (-1: no timer armed)"});
        rows.push_back({"idle: main-thread wake-ups", std::to_string(polls.woken + polls.timeouts),
                        "wake-ups",
                        window + ", every poll() return of the main thread (" +
                            std::to_string(polls.otherCalls) + " other system calls)"});
    } else {
        rows.push_back({"idle: timer wake-ups", "n/a", "wake-ups", "strace is not installed"});
    }
    rows.push_back(
        {"idle: context switches", std::to_string(mainSwitches + otherSwitches), "switches",
         window + ", strace attached to the main thread (it adds its own); per thread: " + perThread});

    for (const auto &r : rows) {
        if (table) {
            std::printf("%s\t%s\t%s\t%s\n", r[0].c_str(), r[1].c_str(), r[2].c_str(), r[3].c_str());
        } else {
            std::printf("%-28s %8s %-9s %s\n", r[0].c_str(), r[1].c_str(), r[2].c_str(), r[3].c_str());
        }
    }
    return 0;
}
