#pragma once

// What the start-up and idle benchmarks measure with, on top of the rig that starts the display
// server, the sim and the tester (tests/support/Rig.h): /proc readings, the command line, and the
// spread of a sample.

#include "Rig.h"

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

// Reads "[OPTION N] [--table]" with N a whole number from `lo` to `hi` into `value` and `table`;
// prints the usage or the range to stderr and returns false on anything else.
bool parseArguments(int argc, char *argv[], const char *program, const char *option, int lo, int hi,
                    int *value, bool *table);

// Median, quartiles, minimum and maximum of a sample.
struct Spread {
    double median = 0, min = 0, max = 0, p25 = 0, p75 = 0;
};
Spread spread(std::vector<double> values);

} // namespace bench
