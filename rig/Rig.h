#pragma once

// What the end-to-end tests, the sim tests and the benchmarks start: child processes that end with
// their owner, vibrelle-sim with its JSON timeline, a private display server (Xvfb or a headless
// Weston), an X client in the window manager's part, and the real tester in an empty HOME of its own.
// No event loop is needed (the benchmarks poll, so that their figures carry no loop's latency); with
// a QCoreApplication the timeline is read as it arrives. Every temporary folder is in the build tree.

#include <QJsonObject>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

struct xcb_connection_t;
class QSocketNotifier;

namespace vibrelle::rig {

double monotonicMs(); // the clock the sim stamps its timeline with
// A program of this build (in VIBRELLE_BIN_DIR, else beside this program).
QString builtProgram(const QString &name);
// A program on PATH, or "" when there is none.
QString findProgram(const QString &name);
// A new empty folder in the build tree, removed with everything in it.
std::unique_ptr<QTemporaryDir> temporaryFolder();

// Runs the event loop until `done` holds or `timeoutMs` has passed; returns done().
bool waitFor(const std::function<bool()> &done, int timeoutMs);
// Waits on these descriptors until `done` holds or `timeoutMs` has passed, calling `ready(fd)`
// for each readable one (and for all of them at least every 5 ms); returns done().
bool pollUntil(const QList<int> &fds, const std::function<void(int)> &ready,
               const std::function<bool()> &done, double timeoutMs);

// "NAME=value" entries: this process's, but those that start with one of `dropped`.
using Environment = QStringList;
Environment currentEnvironment(const QStringList &dropped = {});

// A started program that ends with its owner: SIGTERM, then SIGKILL, when the handle goes, and
// SIGTERM from the kernel should the owner die first (Xvfb then removes its lock).
class Child {
public:
    enum class Output { discard, capture, captureWithErrors }; // what goes to fd()
    Child() = default;
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child();
    bool start(const QStringList &argv, const Environment &environment = currentEnvironment(),
               Output output = Output::discard);
    pid_t pid() const { return m_pid; }
    int fd() const { return m_fd; } // the non-blocking read end of its output, or -1
    QByteArray read();              // what its output holds now, also after its end
    bool finished();                // reaps it once it has ended
    std::optional<double> endedMs() const { return m_endedMs; } // when finished() first saw the end
    // Once finished: the exit code, or none when a signal ended it.
    std::optional<int> exitCode() const;
    bool signal(int number) const;
    void stop(int graceMs = 2000); // SIGTERM, SIGKILL after graceMs, reaped

private:
    pid_t m_pid = -1;
    int m_fd = -1;
    int m_status = 0;
    std::optional<double> m_endedMs;
};

// Runs a program to its end (at most `timeoutMs`): its standard output, or none when it could not
// start, did not end in time or exited other than with 0 (then `errors` holds what it printed).
std::optional<QByteArray> runProgram(const QStringList &argv, const Environment &environment, int timeoutMs,
                                     QByteArray *errors = nullptr);

// A timeline event of this kind whose members include `fields`.
using Match = std::function<bool(const QJsonObject &)>;
Match eventIs(const QString &kind, QJsonObject fields = {});

// vibrelle-sim --json on a port (0: a free one) plus `arguments`.
class SimProcess {
public:
    enum class Keep { events, nothing }; // nothing: drain the timeline without storing it
    explicit SimProcess(const QStringList &arguments = {}, quint16 port = 0, Keep keep = Keep::events);
    ~SimProcess();
    quint16 port() const { return m_port; } // 0 when it did not start
    QString address() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    Child &process() { return m_process; }
    int fd() const { return m_process.fd(); }
    void read(); // takes the lines written so far
    const QList<QJsonObject> &events();
    QList<QJsonObject> matching(const Match &match, qsizetype from = 0);
    std::optional<QJsonObject> waitForEvent(const Match &match, qsizetype from = 0, int timeoutMs = 3000);
    // An event's time on monotonicMs()'s clock: never earlier than the real time, late by at most
    // the smallest delay with which a line was read.
    double monotonicTime(const QJsonObject &event) const;

private:
    Child m_process;
    Keep m_keep;
    QByteArray m_partial;
    quint16 m_port = 0;
    QList<QJsonObject> m_events;
    double m_offset = 1e300; // smallest (read time - stamp) seen
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// A private display server: Xvfb, or Weston's headless backend with its runtime folder in the
// build tree.
class DisplayServer {
public:
    enum class Kind { x11, wayland };
    explicit DisplayServer(Kind kind = Kind::x11)
        : m_kind(kind) {}
    bool start(QString *error);
    Kind kind() const { return m_kind; }
    const QString &display() const { return m_display; } // ":N", or the Wayland socket's path
    Environment clientEnvironment() const;               // the platform plugin and the display

private:
    Kind m_kind;
    Child m_server;
    std::unique_ptr<QTemporaryDir> m_runtime;
    QString m_display;
};

// An X client that sees top-level windows being mapped, and moves the focus and closes windows as
// a window manager would.
class XClient {
public:
    explicit XClient(const QString &display);
    ~XClient();
    bool isOpen() const { return m_connection != nullptr; }
    int fd() const;
    // The first window of this WM_CLASS instance mapped since the last call, if any.
    std::optional<std::uint32_t> takeMapped(const QByteArray &instance);
    std::uint32_t createWindow(const QRect &rect); // a plain mapped window of our own
    void setInputFocus(std::uint32_t window);
    std::uint32_t inputFocus() const;
    void sendDeleteWindow(std::uint32_t window); // what a window manager sends on "close"

private:
    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_root = 0;
    std::uint32_t m_visual = 0;
};

// The real vibrelle-api-tester on a display. Its HOME, XDG folders and TMPDIR lie in one empty
// folder where, as in a desktop session, only the private runtime folder and the temporary folder
// exist beforehand; Qt and desktop variables of this process are not passed on.
class TesterProcess {
public:
    TesterProcess();
    bool start(const DisplayServer &display, Child::Output output = Child::Output::captureWithErrors);
    Environment environment(const DisplayServer &display) const;
    QString home() const { return m_home->path(); }
    QStringList filesWritten() const; // everything below home but the two folders made beforehand
    Child process;
    Environment extraEnvironment; // given on top: a session bus, say

private:
    std::unique_ptr<QTemporaryDir> m_home;
};

} // namespace vibrelle::rig
