#pragma once

// The end-to-end rig: a private X server (Xvfb), the simulated service, the real tester
// binary on that display with its home and XDG folders in a temporary folder, and the
// means to drive its window through X. Every process is killed when its owner goes
// away (and, should the test itself die, by the kernel: parent-death signal).

#include "XDisplay.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPoint>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace vibrelle::e2e {

// Milliseconds on the monotonic clock (the clock the sim stamps its timeline with).
double monotonicMs();

// Runs the event loop until `done` holds or `timeoutMs` has passed; returns `done()`.
// Wakes on every event (child exit, sim output) and at least every 2 ms.
bool waitUntil(const std::function<bool()> &done, int timeoutMs);

// Path of a program built with the project (VIBRELLE_BIN_DIR), or found on PATH.
QString builtProgram(const QString &name);
QString systemProgram(const QString &name);

// A child process that is killed when this object is destroyed or the test dies.
class ChildProcess : public QProcess {
public:
    explicit ChildProcess(QObject *parent = nullptr);
    ~ChildProcess() override;
    // SIGTERM, then SIGKILL when it has not ended within `graceMs`.
    void stop(int graceMs = 2000);
};

class XServer {
public:
    XServer() = default;
    ~XServer();
    bool start(QString *error);
    QByteArray display() const { return m_display; } // ":N"

private:
    std::unique_ptr<ChildProcess> m_process;
    QByteArray m_display;
};

// vibrelle-sim on a free port with its JSON timeline read as it is written.
class Sim : public QObject {
    Q_OBJECT
public:
    struct Event {
        double arrivalMs; // monotonicMs() when the line was read
        QJsonObject json;
    };

    ~Sim() override;
    bool start(QString *error, const QStringList &extraArguments = {});
    quint16 port() const { return m_port; }
    QString address() const;
    const QList<Event> &events() const { return m_events; }
    QString output() const { return m_rawOutput; }

    // "request" events of one client (and one path, when given), oldest first.
    QList<Event> requests(const QString &clientId, const QString &path = {}) const;
    // The client id of the first request of a client named "API Tester" made after
    // event number `fromEvent`, if any.
    std::optional<QString> firstTesterClientAfter(int fromEvent) const;
    // A timeline time (ms since the sim started) on the monotonic clock. The offset is
    // estimated from the lines read so far: never earlier than the real time.
    double toMonotonic(double simTimeMs) const;

    // One request to the sim's /_sim endpoints over a fresh connection; the reply body.
    std::optional<QJsonObject> control(const QByteArray &method, const QByteArray &path,
                                       const QByteArray &body = {});
    bool addFaults(const QJsonValue &faults);

private:
    void readOutput();

    std::unique_ptr<ChildProcess> m_process;
    QByteArray m_pending;
    QString m_rawOutput;
    quint16 m_port = 0;
    QList<Event> m_events;
    double m_offset = 0;
    bool m_haveOffset = false;
};

// Where the controls of the window are, per section, in window coordinates (computed by
// e2e-window-layout on the same display, so fonts and style are the real ones).
class WindowLayout {
public:
    bool compute(const QProcessEnvironment &environment, QString *error);
    // Centre of the named control's visible part in `section` ("resonance", "impulses", "billiards").
    std::optional<QPoint> centre(const QString &section, const QString &objectName) const;
    QSize windowSize() const { return m_window; }

private:
    QHash<QString, QRect> m_rects; // "section/objectName"
    QSize m_window;
};

// The real vibrelle-api-tester on the rig's display. Its home, configuration, cache,
// data, state, runtime and temporary folders are all inside one temporary folder.
class Tester : public QObject {
    Q_OBJECT
public:
    explicit Tester(const QByteArray &display);
    ~Tester() override;

    bool start(QString *error);
    ChildProcess &process() { return *m_process; }
    qint64 pid() const { return m_process->processId(); }
    bool finished() const { return m_exitMs.has_value(); }
    std::optional<double> exitMs() const { return m_exitMs; }
    double startMs() const { return m_startMs; }
    QString output() const { return m_output; }
    QString homeFolder() const { return m_home.path(); }
    // Every file and folder created under the home folder, relative to it.
    QStringList filesWritten() const;

    // The environment the tester runs in: the test's own, less anything that would make
    // it look different (Qt and desktop variables), plus the display and the folders.
    static QProcessEnvironment environment(const QByteArray &display, const QString &home);
    QProcessEnvironment environment() const { return environment(m_display, m_home.path()); }

private:
    QByteArray m_display;
    QTemporaryDir m_home;
    std::unique_ptr<ChildProcess> m_process;
    double m_startMs = 0;
    std::optional<double> m_exitMs;
    QString m_output;
};

// Drives the tester's window through X: the pointer and the keyboard with xdotool
// (XTEST, as a person would), the focus and the window manager's close request with
// the rig's own X client.
class TesterDriver {
public:
    TesterDriver(XDisplay &x, const QByteArray &display, const WindowLayout &layout);

    bool waitForWindow(Tester &tester, int timeoutMs, QString *error);
    std::uint32_t window() const { return m_window; }

    bool focusTester(QString *error);
    // Clicks the centre of a control of the section shown.
    bool click(const QString &section, const QString &objectName, QString *error);
    // Presses on the centre of a control, moves the pointer `dx` to the side in steps
    // and releases.
    bool drag(const QString &section, const QString &objectName, int dx, QString *error);
    bool typeText(const QString &text, QString *error);
    bool key(const QString &keys, QString *error);
    // Starts xdotool with these commands and returns at once (for timing a trigger).
    void startXdotool(const QStringList &arguments);
    bool finishXdotool(QString *error);

private:
    bool xdotool(const QStringList &arguments, QString *error);

    XDisplay &m_x;
    QByteArray m_display;
    const WindowLayout &m_layout;
    std::uint32_t m_window = 0;
    QRect m_geometry;
    std::unique_ptr<ChildProcess> m_async;
};

// One rig per test program: a private display, an X client on it, a sim and the
// window's layout.
class Rig {
public:
    bool start(QString *error);
    XServer server;
    std::unique_ptr<XDisplay> x;
    Sim sim;
    WindowLayout layout;
};

// One tester process on a rig, driven into a known state.
class Session {
public:
    explicit Session(Rig &rig);

    // Starts the tester, waits for its window and gives it the input focus.
    bool launch(QString *error);
    // Types the sim's address into the address field and presses "Verifica"; learns the
    // tester's client id from the status request that arrives at the sim.
    bool connectToSim(QString *error);
    // Presses "Avvia" on the controlled resonance page and waits until the resonance has
    // started and its first heartbeat has been answered.
    bool startControlledResonance(QString *error);
    // Clicks a control and waits for a request on `path` from this tester (retrying a
    // click that came while the control was still disabled).
    bool clickAndAwait(const QString &section, const QString &objectName, const QString &path, QString *error);

    Rig &rig;
    Tester tester;
    TesterDriver driver;
    QString clientId;
};

} // namespace vibrelle::e2e
