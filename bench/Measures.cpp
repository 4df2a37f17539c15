#include "Measures.h"

#include <QFileInfo>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace bench {

bool startDisplayAndSim(const char *program, DisplayServer &display, std::unique_ptr<SimProcess> &sim) {
    QString error;
    if (!display.start(&error)) {
        std::fprintf(stderr, "%s: %s\n", program, qPrintable(error));
        return false;
    }
    sim = std::make_unique<SimProcess>(QStringList(), 59723);
    if (sim->port() == 0) {
        std::fprintf(
            stderr,
            "%s: vibrelle-sim could not listen on 127.0.0.1:59723 (the tester's default port is taken: "
            "stop whatever listens there, e.g. a running vibrelle-sim, and run again)\n",
            program);
        return false;
    }
    return true;
}

long procStatusKb(pid_t pid, const char *field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
        }
    }
    return -1;
}

double cpuMs(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = all.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(all.substr(close + 2));
    std::string value;
    unsigned long long utime = 0, stime = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int field = 3; field <= 15 && fields >> value; ++field) {
        if (field == 14) {
            utime = std::stoull(value);
        } else if (field == 15) {
            stime = std::stoull(value);
        }
    }
    return double(utime + stime) * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

double schedstatMs(pid_t pid) {
    const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    if (DIR *dir = ::opendir(taskDir.c_str())) {
        while (dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') {
                continue;
            }
            std::ifstream in(taskDir + "/" + entry->d_name + "/schedstat");
            unsigned long long onCpu = 0;
            if (in >> onCpu) {
                total += double(onCpu) / 1e6;
            }
        }
        ::closedir(dir);
    }
    return total;
}

bool parseArguments(int argc, char *argv[], const char *program, const char *option, int lo, int hi,
                    int *value, bool *table) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0 && i + 1 < argc) {
            *value = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--table") == 0) {
            *table = true;
        } else {
            std::fprintf(stderr, "usage: %s [%s N] [--table]\n", program, option);
            return false;
        }
    }
    if (*value < lo || *value > hi) {
        std::fprintf(stderr, "%s: %s takes a whole number from %d to %d\n", program, option, lo, hi);
        return false;
    }
    return true;
}

Spread spread(std::vector<double> values) {
    Spread s;
    if (values.empty()) {
        return s;
    }
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        const double index = q * double(values.size() - 1);
        const size_t lo = size_t(index);
        const size_t hi = std::min(lo + 1, values.size() - 1);
        return values[lo] + (values[hi] - values[lo]) * (index - double(lo));
    };
    s.min = values.front();
    s.max = values.back();
    s.median = at(0.5);
    s.p25 = at(0.25);
    s.p75 = at(0.75);
    return s;
}

// /proc/PID/syscall: number 7 (poll), its third argument.
std::string pendingPollTimeout(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
    std::string number, fds, nfds, timeout;
    if (!(in >> number >> fds >> nfds >> timeout) || number != "7") {
        return "?";
    }
    return std::to_string(int(std::stoul(timeout, nullptr, 16)));
}

double realtimeSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

bool MainThreadTrace::attach(pid_t pid, const QString &file, const QList<int> &fds,
                             const std::function<void(int)> &ready) {
    const QString strace = findProgram(QStringLiteral("strace"));
    if (strace.isEmpty())
        return false;
    m_file = file;
    m_tracer.start({strace, "-qq", "-ttt", "-T", "-o", file, "-p", QString::number(pid)});
    // Attached once the first line (the interrupted poll, resumed) has been written.
    pollUntil(
        fds, ready, [&] { return QFileInfo(file).size() > 0; }, 3000);
    pollUntil(
        fds, ready, [] { return false; }, 100);
    return true;
}

void MainThreadTrace::detach() {
    if (m_tracer.pid() <= 0)
        return;
    m_tracer.signal(SIGINT); // detaches and flushes
    pollUntil(
        {}, [](int) {}, [&] { return m_tracer.finished(); }, 5000);
}

// strace -ttt -T lines: "1712345678.123456 poll([...], 4, -1) = 1 ([...]) <0.500123>".
// A call counts when it returned inside [from, to] (entry time + time spent).
MainThreadTrace::Polls MainThreadTrace::polls(double from, double to) const {
    Polls count;
    std::ifstream in(m_file.toStdString());
    std::string line;
    while (std::getline(in, line)) {
        const size_t space = line.find(' ');
        if (space == std::string::npos) {
            continue;
        }
        const double entry = std::atof(line.substr(0, space).c_str());
        const std::string call = line.substr(space + 1);
        const size_t spentAt = line.rfind('<');
        if (spentAt == std::string::npos || line.back() != '>') {
            continue; // unfinished or a signal line
        }
        const double returned = entry + std::atof(line.c_str() + spentAt + 1);
        const bool isPoll = call.rfind("poll(", 0) == 0 || call.rfind("ppoll(", 0) == 0 ||
                            call.rfind("restart_syscall(", 0) == 0;
        if (returned < from || returned > to) {
            continue;
        }
        if (!isPoll) {
            ++count.otherCalls;
        } else if (call.find(") = 0") != std::string::npos) {
            ++count.timeouts;
        } else {
            ++count.woken;
        }
    }
    return count;
}

} // namespace bench
