#include "Rig.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace vibrelle::rig {

double monotonicMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

namespace {

QString binDir() {
    const QString dir = qEnvironmentVariable("VIBRELLE_BIN_DIR");
    return !dir.isEmpty() ? dir
                          : QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget().section(u'/', 0, -2);
}

} // namespace

QString builtProgram(const QString &name) {
    return binDir() + u'/' + name;
}

QString findProgram(const QString &name) {
    for (const QString &dir : qEnvironmentVariable("PATH", QStringLiteral("/usr/bin:/bin")).split(u':')) {
        if (::access(QFile::encodeName(dir + u'/' + name).constData(), X_OK) == 0)
            return dir + u'/' + name;
    }
    return {};
}

std::unique_ptr<QTemporaryDir> temporaryFolder() {
    return std::make_unique<QTemporaryDir>(QDir::cleanPath(binDir() + QStringLiteral("/../rig-XXXXXX")));
}

bool waitFor(const std::function<bool()> &done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    QTimer tick; // wakes the loop so that the deadline is honoured
    tick.start(2);
    for (;;) { // `done` is called once per turn: it may consume what it waits for
        if (done())
            return true;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

bool pollUntil(const QList<int> &fds, const std::function<void(int)> &ready,
               const std::function<bool()> &done, double timeoutMs) {
    const double deadline = monotonicMs() + timeoutMs;
    while (!done()) {
        const double left = deadline - monotonicMs();
        if (left <= 0)
            return false;
        std::vector<pollfd> p;
        for (int fd : fds)
            p.push_back({fd, POLLIN, 0});
        if (::poll(p.data(), p.size(), int(std::min(left, 5.0)) + 1) < 0 && errno != EINTR)
            return false;
        for (const pollfd &q : p) {
            if (q.revents)
                ready(q.fd);
        }
        for (int fd : fds) // xcb may hold events it read during a round trip
            ready(fd);
    }
    return true;
}

Environment currentEnvironment(const QStringList &dropped) {
    Environment environment;
    for (char **e = environ; *e; ++e) {
        const QString entry = QString::fromLocal8Bit(*e);
        if (std::none_of(dropped.begin(), dropped.end(), [&](const QString &d) { return entry.startsWith(d); }))
            environment.append(entry);
    }
    return environment;
}

// --- Child -------------------------------------------------------------------------------------------

Child::~Child() {
    stop();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Child::start(const QStringList &argv, const Environment &environment, Output output) {
    stop();
    if (m_fd >= 0)
        ::close(m_fd), m_fd = -1;
    QList<QByteArray> strings;
    std::vector<char *> args, env;
    for (const QString &a : argv)
        strings.append(QFile::encodeName(a));
    for (QByteArray &s : strings)
        args.push_back(s.data());
    args.push_back(nullptr);
    QList<QByteArray> entries;
    for (const QString &e : environment)
        entries.append(e.toLocal8Bit());
    for (QByteArray &e : entries)
        env.push_back(e.data());
    env.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (output != Output::discard && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, 0);
        ::dup2(output == Output::discard ? devNull : pipeFds[1], 1);
        ::dup2(output == Output::captureWithErrors ? pipeFds[1] : devNull, 2);
        ::execve(args[0], args.data(), env.data());
        ::_exit(127);
    }
    if (output != Output::discard) {
        ::close(pipeFds[1]);
        if (pid < 0)
            return ::close(pipeFds[0]), false;
        ::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
        m_fd = pipeFds[0];
    }
    m_pid = pid;
    m_endedMs.reset();
    return pid > 0;
}

QByteArray Child::read() {
    QByteArray data;
    char chunk[8192];
    for (ssize_t n; m_fd >= 0 && (n = ::read(m_fd, chunk, sizeof chunk)) > 0;)
        data.append(chunk, n);
    return data;
}

bool Child::finished() {
    if (m_pid > 0 && ::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
        m_pid = -1;
        m_endedMs = monotonicMs();
    }
    return m_pid <= 0;
}

std::optional<int> Child::exitCode() const {
    if (m_pid > 0 || !WIFEXITED(m_status))
        return std::nullopt;
    return WEXITSTATUS(m_status);
}

bool Child::signal(int number) const {
    return m_pid > 0 && ::kill(m_pid, number) == 0;
}

void Child::stop(int graceMs) {
    if (m_pid <= 0)
        return;
    signal(SIGTERM);
    for (const double deadline = monotonicMs() + graceMs; !finished() && monotonicMs() < deadline;)
        ::usleep(1000);
    if (!finished()) {
        signal(SIGKILL);
        ::waitpid(m_pid, &m_status, 0);
        m_pid = -1;
        m_endedMs = monotonicMs();
    }
}

std::optional<QByteArray> runProgram(const QStringList &argv, const Environment &environment, int timeoutMs,
                                     QByteArray *errors) {
    Child child;
    if (!child.start(argv, environment, errors ? Child::Output::captureWithErrors : Child::Output::capture))
        return std::nullopt;
    QByteArray output;
    pollUntil(
        {child.fd()}, [&](int) { output += child.read(); }, [&] { return child.finished(); }, timeoutMs);
    output += child.read();
    if (child.exitCode() == 0)
        return output;
    if (errors)
        *errors = output;
    return std::nullopt;
}

// --- vibrelle-sim ----------------------------------------------------------------------------------

Match eventIs(const QString &kind, QJsonObject fields) {
    fields.insert(QStringLiteral("event"), kind);
    return [fields](const QJsonObject &event) {
        for (auto it = fields.begin(); it != fields.end(); ++it) {
            if (event.value(it.key()) != it.value())
                return false;
        }
        return true;
    };
}

SimProcess::SimProcess(const QStringList &arguments, quint16 port, Keep keep)
    : m_keep(keep) {
    m_process.start(QStringList{builtProgram(QStringLiteral("vibrelle-sim")), QStringLiteral("--port"),
                                QString::number(port), QStringLiteral("--json")} +
                        arguments,
                    currentEnvironment(), Child::Output::capture);
    pollUntil(
        {fd()}, [this](int) { read(); }, [this] { return m_port != 0 || m_process.finished(); }, 10000);
    if (QCoreApplication::instance() && fd() >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(fd(), QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { read(); });
    }
}

SimProcess::~SimProcess() = default;

void SimProcess::read() {
    const double now = monotonicMs();
    m_partial += m_process.read();
    if (m_notifier && m_process.finished()) // the end of the pipe would wake the loop for ever
        m_notifier->setEnabled(false);
    for (qsizetype newline; (newline = m_partial.indexOf('\n')) >= 0;) {
        const QByteArray line = m_partial.left(newline);
        m_partial.remove(0, newline + 1);
        static const QByteArray prefix = "listening on http://127.0.0.1:";
        if (m_port == 0 && line.startsWith(prefix)) {
            m_port = quint16(line.mid(prefix.size()).toUInt());
        } else if (const QJsonDocument document = QJsonDocument::fromJson(line); document.isObject()) {
            m_offset = qMin(m_offset, now - document.object().value(QLatin1String("t")).toDouble());
            if (m_keep == Keep::events)
                m_events.append(document.object());
        }
    }
}

const QList<QJsonObject> &SimProcess::events() {
    read();
    return m_events;
}

QList<QJsonObject> SimProcess::matching(const Match &match, qsizetype from) {
    QList<QJsonObject> found;
    for (qsizetype i = from; i < events().size(); ++i) {
        if (match(m_events.at(i)))
            found.append(m_events.at(i));
    }
    return found;
}

std::optional<QJsonObject> SimProcess::waitForEvent(const Match &match, qsizetype from, int timeoutMs) {
    const auto found = [&] { return !matching(match, from).isEmpty(); };
    if (!(QCoreApplication::instance() ? waitFor(found, timeoutMs)
                                       : pollUntil(
                                             {fd()}, [](int) {}, found, timeoutMs)))
        return std::nullopt;
    return matching(match, from).first();
}

double SimProcess::monotonicTime(const QJsonObject &event) const {
    return event.value(QLatin1String("t")).toDouble() + m_offset;
}

// --- Display servers -------------------------------------------------------------------------------

bool DisplayServer::start(QString *error) {
    if (m_kind == Kind::wayland) {
        const QString weston = findProgram(QStringLiteral("weston"));
        m_runtime = temporaryFolder();
        if (weston.isEmpty())
            return *error = QStringLiteral("weston is not installed (scripts/deps.sh installs it)"), false;
        QFile::setPermissions(m_runtime->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const Environment environment = currentEnvironment({"XDG_RUNTIME_DIR=", "WAYLAND_", "DISPLAY="})
                                        << QStringLiteral("XDG_RUNTIME_DIR=") + m_runtime->path();
        m_display = m_runtime->path() + QStringLiteral("/wayland-rig");
        if (m_server.start({weston, QStringLiteral("--backend=headless-backend.so"),
                            QStringLiteral("--no-config"), QStringLiteral("--socket=wayland-rig"),
                            QStringLiteral("--idle-time=0"), QStringLiteral("--width=1280"),
                            QStringLiteral("--height=1024")},
                           environment) &&
            pollUntil(
                {}, [](int) {}, [&] { return QFileInfo(m_display).exists() || m_server.finished(); },
                15000) &&
            !m_server.finished())
            return true;
        return *error = QStringLiteral("weston's headless backend did not start"), false;
    }
    const QString xvfb = findProgram(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        return *error = QStringLiteral("Xvfb is not installed (scripts/deps.sh installs it)"), false;
    // -displayfd: the server picks a free display number and prints it on a line of its own. A start
    // that loses the race for that number to another server is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_server.start(
            {xvfb, "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"},
            currentEnvironment(), Child::Output::capture);
        QByteArray out;
        pollUntil(
            {m_server.fd()}, [&](int) { out += m_server.read(); },
            [&] { return out.contains('\n') || m_server.finished(); }, 15000);
        bool isNumber = false;
        out.trimmed().toUInt(&isNumber);
        if (isNumber && !m_server.finished()) {
            m_display = u':' + QString::fromLatin1(out.trimmed());
            return true;
        }
        m_server.stop(0);
    }
    return *error = QStringLiteral("Xvfb did not start, three times"), false;
}

Environment DisplayServer::clientEnvironment() const {
    if (m_kind == Kind::wayland)
        return {QStringLiteral("QT_QPA_PLATFORM=wayland"), QStringLiteral("WAYLAND_DISPLAY=") + m_display};
    return {QStringLiteral("QT_QPA_PLATFORM=xcb"), QStringLiteral("DISPLAY=") + m_display};
}

// --- X client --------------------------------------------------------------------------------------

namespace {

// xcb replies are malloc'ed.
template <typename T> std::unique_ptr<T, void (*)(void *)> own(T *reply) {
    return {reply, &std::free};
}

} // namespace

XClient::XClient(const QString &display) {
    xcb_connection_t *connection = xcb_connect(display.toLatin1().constData(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    m_root = screen->root;
    m_visual = screen->root_visual;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, m_root, XCB_CW_EVENT_MASK, &mask);
    inputFocus(); // a round trip: watching from here on
}

XClient::~XClient() {
    if (m_connection)
        xcb_disconnect(m_connection);
}

int XClient::fd() const {
    return m_connection ? xcb_get_file_descriptor(m_connection) : -1;
}

std::optional<std::uint32_t> XClient::takeMapped(const QByteArray &instance) {
    std::optional<std::uint32_t> found;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY && !found) {
            const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
            const auto property = own(xcb_get_property_reply(
                m_connection,
                xcb_get_property(m_connection, 0, map->window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
                nullptr));
            if (property) {
                const char *value = static_cast<const char *>(xcb_get_property_value(property.get()));
                if (QByteArray(value, qsizetype(strnlen(value, size_t(xcb_get_property_value_length(
                                                                   property.get()))))) == instance)
                    found = map->window;
            }
        }
        std::free(event);
    }
    return found;
}

std::uint32_t XClient::createWindow(const QRect &rect) {
    const xcb_window_t window = xcb_generate_id(m_connection);
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_root, std::int16_t(rect.x()),
                      std::int16_t(rect.y()), std::uint16_t(rect.width()), std::uint16_t(rect.height()), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, m_visual, 0, nullptr);
    xcb_map_window(m_connection, window);
    inputFocus(); // a round trip: without a window manager the window is now mapped
    return window;
}

void XClient::setInputFocus(std::uint32_t window) {
    xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    xcb_flush(m_connection);
}

std::uint32_t XClient::inputFocus() const {
    const auto reply =
        own(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    return reply ? reply->focus : xcb_window_t(XCB_WINDOW_NONE);
}

void XClient::sendDeleteWindow(std::uint32_t window) {
    const auto atom = [this](const char *name) {
        const auto reply = own(xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, std::uint16_t(std::strlen(name)), name), nullptr));
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    };
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    xcb_flush(m_connection);
}

// --- The tester ------------------------------------------------------------------------------------

TesterProcess::TesterProcess()
    : m_home(temporaryFolder()) {
    QDir(home()).mkdir(QStringLiteral("runtime"));
    QDir(home()).mkdir(QStringLiteral("tmp"));
    QFile::setPermissions(home() + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

Environment TesterProcess::environment(const DisplayServer &display) const {
    Environment environment =
        currentEnvironment({"QT_", "XDG_", "WAYLAND_DISPLAY=", "DISPLAY=", "DESKTOP_SESSION=", "XAUTHORITY=",
                            "SESSION_MANAGER=", "DBUS_SESSION_BUS_ADDRESS=", "HOME=", "TMPDIR="});
    environment << display.clientEnvironment() << QStringLiteral("HOME=") + home();
    for (const char *name : {"CONFIG", "CACHE", "DATA", "STATE"})
        environment
            << QStringLiteral("XDG_%1_HOME=%2/%3").arg(name, home(), QString::fromLatin1(name).toLower());
    return environment << QStringLiteral("XDG_RUNTIME_DIR=") + home() + QStringLiteral("/runtime")
                       << QStringLiteral("TMPDIR=") + home() + QStringLiteral("/tmp") << extraEnvironment;
}

bool TesterProcess::start(const DisplayServer &display, Child::Output output) {
    return process.start({builtProgram(QStringLiteral("vibrelle-api-tester"))}, environment(display), output);
}

QStringList TesterProcess::filesWritten() const {
    QStringList found;
    QDirIterator it(home(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = QDir(home()).relativeFilePath(it.next());
        if (relative != QLatin1String("runtime") && relative != QLatin1String("tmp"))
            found.append(relative);
    }
    return found;
}

} // namespace vibrelle::rig
