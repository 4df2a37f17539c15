#pragma once

// What the start-up and idle benchmarks share: a private X server, vibrelle-sim on the
// tester's default port with its JSON timeline read as it is written, the real tester
// binary started with posix_spawn, and an X client that sees the tester's window being
// mapped. Everything runs in one poll() loop on the monotonic clock; nothing here uses
// an event loop whose latency would end up in the figures.

#include <QJsonObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct xcb_connection_t;

namespace bench {

// Milliseconds on the monotonic clock (the clock the sim stamps its timeline with).
double nowMs();

// Folder of the project's programs: VIBRELLE_BIN_DIR, else this program's own folder.
std::string binDir();
// A program on PATH, or "" when there is none.
std::string findProgram(const std::string &name);

// A spawned child; `output` is the read end of a pipe on its standard output, when asked.
struct Child {
    pid_t pid = -1;
    int output = -1;
};
// Standard input and error are /dev/null.
Child spawn(const std::vector<std::string> &argv, const std::vector<std::string> &environment, bool captureOutput);
// SIGTERM, then SIGKILL after `graceMs`; returns once the child is reaped.
void stopChild(Child &child, int graceMs = 2000);
// Reaps the child if it has ended; true when it has.
bool reaped(Child &child, int *status = nullptr);

// Complete lines from a non-blocking descriptor.
class LineReader {
public:
    explicit LineReader(int fd = -1)
        : m_fd(fd) {}
    // Appends the complete lines read now; false at end of file.
    bool read(std::vector<std::string> &lines);

private:
    int m_fd;
    std::string m_buffer;
};

class XServer {
public:
    ~XServer();
    bool start(std::string *error);
    const std::string &display() const { return m_display; }

private:
    Child m_child;
    std::string m_display;
};

// vibrelle-sim on one port with --json.
class Sim {
public:
    struct Event {
        double arrivalMs;
        QJsonObject json;
    };
    ~Sim();
    bool start(int port, std::string *error);
    int fd() const { return m_child.output; }
    // Reads what is there; call when fd() is readable.
    void read();
    const std::vector<Event> &events() const { return m_events; }
    // A timeline time on the monotonic clock, estimated from the lines read so far
    // (never earlier than the real time, late by at most a pipe's delay).
    double toMonotonic(double simTimeMs) const { return simTimeMs + m_offset; }
    // GET /_sim/stats, or an empty object.
    QJsonObject stats() const;

private:
    Child m_child;
    LineReader m_reader;
    int m_port = 0;
    std::vector<Event> m_events;
    double m_offset = 0;
    bool m_haveOffset = false;
};

// Sees top-level windows being mapped (SubstructureNotify on the root window).
class MapWatcher {
public:
    explicit MapWatcher(const std::string &display);
    ~MapWatcher();
    bool isOpen() const { return m_connection != nullptr; }
    int fd() const;
    // Handles the events that are there; returns the first window mapped with this
    // WM_CLASS instance since the last call, if any.
    std::optional<std::uint32_t> takeMapped(const std::string &instance);

private:
    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_root = 0;
};

// A temporary folder that is removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return m_path; }
    bool isEmptyExceptFolders() const;

private:
    std::string m_path;
};

// The tester's environment: the caller's, less Qt and desktop variables, plus the
// display and its folders (home, XDG folders, runtime folder mode 0700, TMPDIR) in `home`.
std::vector<std::string> testerEnvironment(const std::string &display, const std::string &home);

// Waits on these descriptors until `done` holds or `timeoutMs` has passed; calls
// `ready(fd)` for each readable one.
bool pollUntil(const std::vector<int> &fds, const std::function<void(int)> &ready,
               const std::function<bool()> &done, double timeoutMs);

// From /proc/PID/status: a "kB" field such as VmHWM or VmRSS, in kB (-1 if unreadable).
long procStatusKb(pid_t pid, const char *field);
// utime + stime of a process from /proc/PID/stat, in milliseconds.
double cpuMs(pid_t pid);

// Reads "[OPTION N] [--table]" with N a whole number from `lo` to `hi` into `value` and `table`;
// prints the usage or the range to stderr and returns false on anything else.
bool parseArguments(int argc, char *argv[], const char *program, const char *option, int lo, int hi, int *value,
                    bool *table);

// Median, minimum and maximum of a sample.
struct Spread {
    double median = 0, min = 0, max = 0, p25 = 0, p75 = 0;
};
Spread spread(std::vector<double> values);

} // namespace bench
