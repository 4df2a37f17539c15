#pragma once

// What the start-up and idle benchmarks measure with, on top of the rig that starts the display
// server, the sim and the tester (tests/support/Rig.h): /proc readings, the command line, and the
// spread of a sample.

#include "Rig.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

using namespace vibrelle::rig;

// The display server, and the sim on the tester's default port (127.0.0.1:59723, where the tester
// asks for its status at start-up); false after a message on standard error.
bool startDisplayAndSim(const char *program, DisplayServer &display, std::unique_ptr<SimProcess> &sim);

// From /proc/PID/status: a "kB" field such as VmHWM or VmRSS, in kB (-1 if unreadable).
long procStatusKb(pid_t pid, const char *field);
// utime + stime of a process from /proc/PID/stat, in milliseconds.
double cpuMs(pid_t pid);
// Time on a CPU of all the process's threads now alive, from /proc/PID/task/*/schedstat
// (nanoseconds, not clock ticks), in milliseconds.
double schedstatMs(pid_t pid);

// Reads "[OPTION N] [--table]" with N a whole number from `lo` to `hi` into `value` and `table`;
// prints the usage or the range to stderr and returns false on anything else.
bool parseArguments(int argc, char *argv[], const char *program, const char *option, int lo, int hi,
                    int *value, bool *table);

// Seconds of the realtime clock (the clock strace -ttt stamps its lines with).
double realtimeSeconds();
// The timeout of the poll() the process's main thread is blocked in, in ms: "-1" when no timer is
// armed on that thread, "?" when it is not in poll().
std::string pendingPollTimeout(pid_t pid);

// strace attached to a process's main thread only (no -f), writing to a file. Every poll() of
// that thread that returned 0 woke for a timer; the others were woken by a descriptor.
class MainThreadTrace {
public:
    struct Polls {
        int timeouts = 0;
        int woken = 0;      // by a descriptor
        int otherCalls = 0; // system calls other than poll()
    };
    // Returns once strace has written its first line, pumping `fds` through `ready` meanwhile;
    // false when strace is not installed.
    bool attach(pid_t pid, const QString &file, const QList<int> &fds, const std::function<void(int)> &ready);
    void detach(); // and flush the file
    // The calls that returned between these realtime seconds.
    Polls polls(double from, double to) const;

private:
    Child m_tracer;
    QString m_file;
};

// Median, quartiles, minimum and maximum of a sample.
struct Spread {
    double median = 0, min = 0, max = 0, p25 = 0, p75 = 0;
};
Spread spread(std::vector<double> values);

} // namespace bench
