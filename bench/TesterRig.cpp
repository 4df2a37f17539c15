#include "TesterRig.h"

#include <QJsonDocument>

#include <xcb/xcb.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace bench {

double nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

std::string binDir() {
    if (const char *dir = std::getenv("VIBRELLE_BIN_DIR"); dir && *dir) {
        return dir;
    }
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        return ".";
    }
    std::string path(self, size_t(n));
    return path.substr(0, path.find_last_of('/'));
}

std::string findProgram(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

// --- processes -------------------------------------------------------------------------------------

Child spawn(const std::vector<std::string> &argv, const std::vector<std::string> &environment, bool captureOutput) {
    std::vector<char *> args;
    for (const auto &a : argv) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char *> env;
    for (const auto &e : environment) {
        env.push_back(const_cast<char *>(e.c_str()));
    }
    env.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (captureOutput && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return {};
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Ends with the benchmark, whatever happens to it.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, 0);
        ::dup2(captureOutput ? pipeFds[1] : devNull, 1);
        ::dup2(devNull, 2);
        ::execve(args[0], args.data(), env.data());
        ::_exit(127);
    }
    Child child;
    child.pid = pid;
    if (captureOutput) {
        ::close(pipeFds[1]);
        ::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
        child.output = pipeFds[0];
    }
    return child;
}

bool reaped(Child &child, int *status) {
    if (child.pid <= 0) {
        return true;
    }
    int s = 0;
    if (::waitpid(child.pid, &s, WNOHANG) == child.pid) {
        child.pid = -1;
        if (status) {
            *status = s;
        }
        return true;
    }
    return false;
}

void stopChild(Child &child, int graceMs) {
    if (child.pid > 0) {
        ::kill(child.pid, SIGTERM);
        const double deadline = nowMs() + graceMs;
        while (!reaped(child) && nowMs() < deadline) {
            ::usleep(1000);
        }
        if (child.pid > 0) {
            ::kill(child.pid, SIGKILL);
            ::waitpid(child.pid, nullptr, 0);
            child.pid = -1;
        }
    }
    if (child.output >= 0) {
        ::close(child.output);
        child.output = -1;
    }
}

bool LineReader::read(std::vector<std::string> &lines) {
    char chunk[8192];
    bool open = true;
    while (true) {
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n > 0) {
            m_buffer.append(chunk, size_t(n));
            continue;
        }
        open = n != 0; // 0: end of file (the lines before it still count); -1: nothing more now
        break;
    }
    size_t start = 0, newline;
    while ((newline = m_buffer.find('\n', start)) != std::string::npos) {
        lines.push_back(m_buffer.substr(start, newline - start));
        start = newline + 1;
    }
    m_buffer.erase(0, start);
    return open;
}

bool pollUntil(const std::vector<int> &fds, const std::function<void(int)> &ready,
               const std::function<bool()> &done, double timeoutMs) {
    const double deadline = nowMs() + timeoutMs;
    while (!done()) {
        const double left = deadline - nowMs();
        if (left <= 0) {
            return false;
        }
        std::vector<pollfd> p;
        for (int fd : fds) {
            p.push_back({fd, POLLIN, 0});
        }
        // Wakes at least every 5 ms so that `done` may also watch things without a descriptor.
        const int n = ::poll(p.data(), p.size(), int(std::min(left, 5.0)) + 1);
        if (n < 0 && errno != EINTR) {
            return false;
        }
        for (const pollfd &q : p) {
            if (q.revents) {
                ready(q.fd);
            }
        }
        // xcb may hold events it read during a round trip: always let the owners look.
        for (int fd : fds) {
            ready(fd);
        }
    }
    return true;
}

// --- X server --------------------------------------------------------------------------------------

XServer::~XServer() {
    stopChild(m_child);
}

bool XServer::start(std::string *error) {
    const std::string xvfb = findProgram("Xvfb");
    if (xvfb.empty()) {
        *error = "Xvfb is not installed (Debian package xvfb; scripts/deps.sh installs it)";
        return false;
    }
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        env.emplace_back(*e);
    }
    // -displayfd: the server picks a free display number and prints it on a line of its
    // own. A start that fails (a race with another server for the same number, say) is
    // tried again.
    std::string why;
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_child = spawn({xvfb, "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                        env, true);
        LineReader reader(m_child.output);
        std::vector<std::string> lines;
        bool ended = false;
        const auto number = [&] {
            for (const std::string &line : lines) {
                if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
                    return line;
                }
            }
            return std::string();
        };
        pollUntil({m_child.output}, [&](int) { ended = !reader.read(lines) || ended; },
                  [&] { return !number().empty() || ended || reaped(m_child); }, 15000);
        if (!number().empty()) {
            m_display = ":" + number();
            return true;
        }
        why = ended || m_child.pid <= 0 ? "it ended without a display number" : "no display number within 15 s";
        stopChild(m_child);
    }
    *error = "Xvfb did not start, three times (" + why + ")";
    return false;
}

// --- sim -------------------------------------------------------------------------------------------

Sim::~Sim() {
    stopChild(m_child);
}

bool Sim::start(int port, std::string *error) {
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        env.emplace_back(*e);
    }
    m_port = port;
    m_child = spawn({binDir() + "/vibrelle-sim", "--port", std::to_string(port), "--json"}, env, true);
    m_reader = LineReader(m_child.output);
    std::vector<std::string> lines;
    bool ended = false;
    pollUntil({m_child.output}, [&](int) { ended = !m_reader.read(lines) || ended; },
              [&] { return !lines.empty() || ended; }, 10000);
    if (lines.empty() || lines.front().rfind("listening on ", 0) != 0) {
        *error = "vibrelle-sim could not listen on 127.0.0.1:" + std::to_string(port) +
                 (port == 59723 ? " (the tester's default port is taken: stop whatever listens there, e.g. "
                                  "a running vibrelle-sim, and run again)"
                                : "");
        return false;
    }
    return true;
}

void Sim::read() {
    const double now = nowMs();
    std::vector<std::string> lines;
    m_reader.read(lines);
    for (const std::string &line : lines) {
        const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        if (json.isEmpty()) {
            continue;
        }
        const double offset = now - json.value(QLatin1String("t")).toDouble();
        if (!m_haveOffset || offset < m_offset) {
            m_offset = offset;
            m_haveOffset = true;
        }
        m_events.push_back({now, json});
    }
}

QJsonObject Sim::stats() const {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(m_port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QJsonObject result;
    if (::connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
        const char request[] = "GET /_sim/stats HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        if (::write(s, request, sizeof request - 1) == ssize_t(sizeof request - 1)) {
            std::string reply;
            char chunk[4096];
            pollfd p{s, POLLIN, 0};
            while (::poll(&p, 1, 3000) > 0) {
                const ssize_t n = ::read(s, chunk, sizeof chunk);
                if (n <= 0) {
                    break;
                }
                reply.append(chunk, size_t(n));
            }
            const size_t body = reply.find("\r\n\r\n");
            if (body != std::string::npos) {
                result = QJsonDocument::fromJson(QByteArray::fromStdString(reply.substr(body + 4))).object();
            }
        }
    }
    ::close(s);
    return result;
}

// --- X client --------------------------------------------------------------------------------------

MapWatcher::MapWatcher(const std::string &display) {
    xcb_connection_t *connection = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    m_root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, m_root, XCB_CW_EVENT_MASK, &mask);
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr)); // round trip
}

MapWatcher::~MapWatcher() {
    if (m_connection) {
        xcb_disconnect(m_connection);
    }
}

int MapWatcher::fd() const {
    return m_connection ? xcb_get_file_descriptor(m_connection) : -1;
}

std::optional<std::uint32_t> MapWatcher::takeMapped(const std::string &instance) {
    std::optional<std::uint32_t> found;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY && !found) {
            const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
            xcb_get_property_reply_t *property = xcb_get_property_reply(
                m_connection,
                xcb_get_property(m_connection, 0, map->window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
                nullptr);
            if (property) {
                const char *value = static_cast<const char *>(xcb_get_property_value(property));
                const int length = xcb_get_property_value_length(property);
                if (std::string(value, strnlen(value, size_t(length))) == instance) {
                    found = map->window;
                }
                std::free(property);
            }
        }
        std::free(event);
    }
    return found;
}

// --- folders and /proc -----------------------------------------------------------------------------

TempDir::TempDir() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vibrelle-bench-XXXXXX";
    if (::mkdtemp(pattern.data())) {
        m_path = pattern;
    }
}

TempDir::~TempDir() {
    if (!m_path.empty()) {
        ::nftw(
            m_path.c_str(), [](const char *p, const struct stat *, int, FTW *) { return ::remove(p); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
}

std::vector<std::string> testerEnvironment(const std::string &display, const std::string &home) {
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string key = entry.substr(0, entry.find('='));
        if (key.rfind("QT_", 0) == 0 || key.rfind("XDG_", 0) == 0 || key == "WAYLAND_DISPLAY" ||
            key == "DESKTOP_SESSION" || key == "XAUTHORITY" || key == "SESSION_MANAGER" ||
            key == "DBUS_SESSION_BUS_ADDRESS" || key == "DISPLAY" || key == "HOME" || key == "TMPDIR") {
            continue;
        }
        env.push_back(entry);
    }
    ::mkdir((home + "/runtime").c_str(), 0700);
    ::mkdir((home + "/tmp").c_str(), 0700);
    for (const std::string &e : std::initializer_list<std::string>{
             "QT_QPA_PLATFORM=xcb", "DISPLAY=" + display, "HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config",
          "XDG_CACHE_HOME=" + home + "/cache", "XDG_DATA_HOME=" + home + "/data", "XDG_STATE_HOME=" + home + "/state",
          "XDG_RUNTIME_DIR=" + home + "/runtime", "TMPDIR=" + home + "/tmp"}) {
        env.push_back(e);
    }
    return env;
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

bool parseArguments(int argc, char *argv[], const char *program, const char *option, int lo, int hi, int *value,
                    bool *table) {
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

} // namespace bench
