#include "E2eRig.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTcpSocket>

#include <chrono>
#include <csignal>
#include <sys/prctl.h>

namespace vibrelle::e2e {

double monotonicMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QDeadlineTimer deadline(timeoutMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || deadline.hasExpired()) {
            loop.quit();
        }
    });
    poll.start();
    loop.exec();
    return done();
}

QString builtProgram(const QString &name) {
    const QString dir = qEnvironmentVariable("VIBRELLE_BIN_DIR", QCoreApplication::applicationDirPath());
    return dir + QLatin1Char('/') + name;
}

QString systemProgram(const QString &name) {
    return QStandardPaths::findExecutable(name);
}

// --- ChildProcess ----------------------------------------------------------------------------------

ChildProcess::ChildProcess(QObject *parent)
    : QProcess(parent) {
    // Should the test die, the kernel ends the child too (SIGTERM lets Xvfb remove its lock).
    setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

ChildProcess::~ChildProcess() {
    if (state() != QProcess::NotRunning) {
        kill();
        waitForFinished(3000);
    }
}

void ChildProcess::stop(int graceMs) {
    if (state() == QProcess::NotRunning) {
        return;
    }
    terminate();
    if (!waitForFinished(graceMs)) {
        kill();
        waitForFinished(3000);
    }
}

// --- XServer ---------------------------------------------------------------------------------------

XServer::~XServer() {
    if (m_process) {
        m_process->stop();
    }
}

bool XServer::start(QString *error) {
    const QString xvfb = systemProgram(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) {
        *error = QStringLiteral("Xvfb is not installed (scripts/deps.sh lists the package: xvfb)");
        return false;
    }
    // -displayfd: the server picks a free display number and writes it to stdout. A
    // start that fails (a race with another server for the same number, say) is tried again.
    QString why;
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_process = std::make_unique<ChildProcess>();
        m_process->start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                                QStringLiteral("tcp"), QStringLiteral("-noreset")});
        QByteArray out;
        waitUntil(
            [&] {
                out += m_process->readAllStandardOutput();
                return out.contains('\n') || m_process->state() == QProcess::NotRunning;
            },
            15000);
        const QByteArray number = out.trimmed();
        bool isNumber = false;
        number.toUInt(&isNumber);
        if (isNumber) {
            m_display = ":" + number;
            return true;
        }
        why = m_process->state() == QProcess::NotRunning
                  ? QStringLiteral("it exited: %1").arg(QString::fromLocal8Bit(m_process->readAllStandardError()))
                  : QStringLiteral("no display number within 15 s");
        m_process->stop();
    }
    *error = QStringLiteral("Xvfb did not start, three times (%1)").arg(why);
    return false;
}

// --- Sim -------------------------------------------------------------------------------------------

Sim::~Sim() {
    if (m_process) {
        m_process->stop();
    }
}

bool Sim::start(QString *error, const QStringList &extraArguments) {
    m_process = std::make_unique<ChildProcess>();
    connect(m_process.get(), &QProcess::readyReadStandardOutput, this, &Sim::readOutput);
    m_process->start(builtProgram(QStringLiteral("vibrelle-sim")),
                     QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--json")} +
                         extraArguments);
    if (!waitUntil([this] { return m_port != 0 || m_process->state() == QProcess::NotRunning; }, 10000) ||
        m_port == 0) {
        *error = QStringLiteral("vibrelle-sim did not start: %1 %2")
                     .arg(m_process->errorString(), QString::fromLocal8Bit(m_process->readAllStandardError()));
        return false;
    }
    return true;
}

QString Sim::address() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

void Sim::readOutput() {
    const double now = monotonicMs();
    m_pending += m_process->readAllStandardOutput();
    qsizetype newline;
    while ((newline = m_pending.indexOf('\n')) >= 0) {
        const QByteArray line = m_pending.left(newline);
        m_pending.remove(0, newline + 1);
        if (m_rawOutput.size() < 400000) {
            m_rawOutput += QString::fromUtf8(line) + QLatin1Char('\n');
        }
        if (m_port == 0 && line.startsWith("listening on http://127.0.0.1:")) {
            m_port = quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
            continue;
        }
        const QJsonObject json = QJsonDocument::fromJson(line).object();
        if (json.isEmpty()) {
            continue;
        }
        // The line was written when the event happened (plus a pipe's delay): the smallest
        // difference between reading and stamping is the best bound on the sim's start.
        const double offset = now - json.value(QLatin1String("t")).toDouble();
        if (!m_haveOffset || offset < m_offset) {
            m_offset = offset;
            m_haveOffset = true;
        }
        m_events.append(Event{now, json});
    }
}

QList<Sim::Event> Sim::requests(const QString &clientId, const QString &path) const {
    QList<Event> result;
    for (const Event &event : m_events) {
        const QJsonObject &j = event.json;
        if (j.value(QLatin1String("event")).toString() == QLatin1String("request") &&
            j.value(QLatin1String("clientId")).toString() == clientId &&
            (path.isEmpty() || j.value(QLatin1String("path")).toString() == path)) {
            result.append(event);
        }
    }
    return result;
}

std::optional<QString> Sim::firstTesterClientAfter(int fromEvent) const {
    for (int i = fromEvent; i < m_events.size(); ++i) {
        const QJsonObject &j = m_events[i].json;
        if (j.value(QLatin1String("event")).toString() == QLatin1String("request") &&
            j.value(QLatin1String("client")).toString() == QLatin1String("API Tester")) {
            return j.value(QLatin1String("clientId")).toString();
        }
    }
    return std::nullopt;
}

double Sim::toMonotonic(double simTimeMs) const {
    return simTimeMs + m_offset;
}

std::optional<QJsonObject> Sim::control(const QByteArray &method, const QByteArray &path, const QByteArray &body) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), m_port);
    if (!socket.waitForConnected(3000)) {
        return std::nullopt;
    }
    QByteArray request = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (!body.isEmpty()) {
        request += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    request += "\r\n" + body;
    socket.write(request);
    QByteArray reply;
    QDeadlineTimer deadline(3000);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        reply += socket.readAll();
    }
    reply += socket.readAll();
    const qsizetype headEnd = reply.indexOf("\r\n\r\n");
    if (!reply.startsWith("HTTP/1.1 200") || headEnd < 0) {
        return std::nullopt;
    }
    return QJsonDocument::fromJson(reply.mid(headEnd + 4)).object();
}

bool Sim::addFaults(const QJsonValue &faults) {
    const QByteArray body = faults.isArray() ? QJsonDocument(faults.toArray()).toJson(QJsonDocument::Compact)
                                             : QJsonDocument(faults.toObject()).toJson(QJsonDocument::Compact);
    const auto reply = control("POST", "/_sim/faults", body);
    return reply && reply->value(QLatin1String("ok")).toBool();
}

// --- WindowLayout ----------------------------------------------------------------------------------

bool WindowLayout::compute(const QProcessEnvironment &environment, QString *error) {
    ChildProcess process;
    process.setProcessEnvironment(environment);
    process.start(builtProgram(QStringLiteral("e2e-window-layout")), {});
    if (!process.waitForFinished(15000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error = QStringLiteral("e2e-window-layout failed: %1 %2")
                     .arg(process.errorString(), QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    const QJsonObject sections = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    for (auto section = sections.begin(); section != sections.end(); ++section) {
        if (section.key() == QLatin1String("window")) {
            const QJsonArray size = section.value().toArray();
            m_window = QSize(size.at(0).toInt(), size.at(1).toInt());
            continue;
        }
        const QJsonObject controls = section.value().toObject();
        for (auto control = controls.begin(); control != controls.end(); ++control) {
            const QJsonArray r = control.value().toArray();
            m_rects.insert(section.key() + QLatin1Char('/') + control.key(),
                           QRect(r.at(0).toInt(), r.at(1).toInt(), r.at(2).toInt(), r.at(3).toInt()));
        }
    }
    if (m_rects.isEmpty()) {
        *error = QStringLiteral("e2e-window-layout printed no controls");
        return false;
    }
    return true;
}

std::optional<QPoint> WindowLayout::centre(const QString &section, const QString &objectName) const {
    const auto it = m_rects.constFind(section + QLatin1Char('/') + objectName);
    if (it == m_rects.constEnd()) {
        return std::nullopt;
    }
    return it->center();
}

// --- Tester ----------------------------------------------------------------------------------------

Tester::Tester(const QByteArray &display)
    : m_display(display)
    , m_process(std::make_unique<ChildProcess>()) {
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    connect(m_process.get(), &QProcess::readyRead, this, [this] {
        const QByteArray chunk = m_process->readAll();
        if (m_output.size() < 100000) {
            m_output += QString::fromLocal8Bit(chunk);
        }
    });
    connect(m_process.get(), &QProcess::finished, this, [this] { m_exitMs = monotonicMs(); });
}

Tester::~Tester() {
    m_process->stop(1000);
}

QProcessEnvironment Tester::environment(const QByteArray &display, const QString &home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &key : env.keys()) {
        if (key.startsWith(QLatin1String("QT_")) || key.startsWith(QLatin1String("XDG_")) ||
            key == QLatin1String("WAYLAND_DISPLAY") || key == QLatin1String("DESKTOP_SESSION") ||
            key == QLatin1String("XAUTHORITY") || key == QLatin1String("SESSION_MANAGER") ||
            key == QLatin1String("DBUS_SESSION_BUS_ADDRESS")) {
            env.remove(key);
        }
    }
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/state"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("TMPDIR"), home + QStringLiteral("/tmp"));
    return env;
}

bool Tester::start(QString *error) {
    if (!m_home.isValid()) {
        *error = QStringLiteral("cannot create a temporary home folder");
        return false;
    }
    // Only the runtime and temporary folders exist beforehand, as on a real session
    // (the runtime folder private to the user); the others must not appear.
    const QString home = m_home.path();
    if (!QDir(home).mkdir(QStringLiteral("runtime")) || !QDir(home).mkdir(QStringLiteral("tmp")) ||
        !QFile::setPermissions(home + QStringLiteral("/runtime"),
                               QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        *error = QStringLiteral("cannot prepare %1").arg(home);
        return false;
    }
    m_process->setProcessEnvironment(environment());
    m_startMs = monotonicMs();
    m_process->start(builtProgram(QStringLiteral("vibrelle-api-tester")), {});
    if (!m_process->waitForStarted(5000)) {
        *error = QStringLiteral("cannot start vibrelle-api-tester: %1").arg(m_process->errorString());
        return false;
    }
    return true;
}

QStringList Tester::filesWritten() const {
    QStringList found;
    const QString home = m_home.path();
    QDirIterator it(home, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = QDir(home).relativeFilePath(it.next());
        if (relative != QLatin1String("runtime") && relative != QLatin1String("tmp")) {
            found.append(relative);
        }
    }
    found.sort();
    return found;
}

// --- TesterDriver ----------------------------------------------------------------------------------

TesterDriver::TesterDriver(XDisplay &x, const QByteArray &display, const WindowLayout &layout)
    : m_x(x)
    , m_display(display)
    , m_layout(layout) {}

bool TesterDriver::waitForWindow(Tester &tester, int timeoutMs, QString *error) {
    std::optional<std::uint32_t> window;
    const bool found = waitUntil(
        [&] {
            window = m_x.findMappedWindow("vibrelle-api-tester");
            return window.has_value() || tester.finished();
        },
        timeoutMs);
    if (!found || !window) {
        *error = QStringLiteral("the tester's window did not appear within %1 ms; output: %2")
                     .arg(timeoutMs)
                     .arg(tester.output());
        return false;
    }
    m_window = *window;
    m_geometry = m_x.geometry(m_window);
    if (m_geometry.size() != m_layout.windowSize()) {
        *error = QStringLiteral("the window is %1 x %2, the layout was computed for %3 x %4")
                     .arg(m_geometry.width())
                     .arg(m_geometry.height())
                     .arg(m_layout.windowSize().width())
                     .arg(m_layout.windowSize().height());
        return false;
    }
    return true;
}

bool TesterDriver::focusTester(QString *error) {
    m_x.setInputFocus(m_window);
    if (m_x.inputFocus() != m_window) {
        *error = QStringLiteral("the tester's window did not take the input focus");
        return false;
    }
    return true;
}

bool TesterDriver::click(const QString &section, const QString &objectName, QString *error) {
    const auto point = m_layout.centre(section, objectName);
    if (!point) {
        *error = QStringLiteral("no control %1 in section %2").arg(objectName, section);
        return false;
    }
    const QPoint screen = m_geometry.topLeft() + *point;
    return xdotool({QStringLiteral("mousemove"), QString::number(screen.x()), QString::number(screen.y()),
                    QStringLiteral("click"), QStringLiteral("1")},
                   error);
}

bool TesterDriver::drag(const QString &section, const QString &objectName, int dx, QString *error) {
    const auto point = m_layout.centre(section, objectName);
    if (!point) {
        *error = QStringLiteral("no control %1 in section %2").arg(objectName, section);
        return false;
    }
    const QPoint from = m_geometry.topLeft() + *point;
    const auto x = [&](int step) { return QString::number(from.x() + dx * step / 4); };
    const QString y = QString::number(from.y());
    QStringList arguments{QStringLiteral("mousemove"), x(0), y, QStringLiteral("mousedown"), QStringLiteral("1")};
    for (int step = 1; step <= 4; ++step) {
        arguments << QStringLiteral("sleep") << QStringLiteral("0.08") << QStringLiteral("mousemove") << x(step) << y;
    }
    arguments << QStringLiteral("sleep") << QStringLiteral("0.2") << QStringLiteral("mouseup") << QStringLiteral("1");
    return xdotool(arguments, error);
}

bool TesterDriver::typeText(const QString &text, QString *error) {
    return xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("4"), text}, error);
}

bool TesterDriver::key(const QString &keys, QString *error) {
    return xdotool({QStringLiteral("key"), keys}, error);
}

static QProcessEnvironment xdotoolEnvironment(const QByteArray &display) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    return env;
}

bool TesterDriver::xdotool(const QStringList &arguments, QString *error) {
    const QString program = systemProgram(QStringLiteral("xdotool"));
    if (program.isEmpty()) {
        *error = QStringLiteral("xdotool is not installed (scripts/deps.sh lists the package: xdotool)");
        return false;
    }
    ChildProcess process;
    process.setProcessEnvironment(xdotoolEnvironment(m_display));
    process.start(program, arguments);
    if (!process.waitForFinished(5000) || process.exitCode() != 0) {
        *error = QStringLiteral("xdotool %1 failed: %2")
                     .arg(arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    return true;
}

void TesterDriver::startXdotool(const QStringList &arguments) {
    m_async = std::make_unique<ChildProcess>();
    m_async->setProcessEnvironment(xdotoolEnvironment(m_display));
    m_async->start(systemProgram(QStringLiteral("xdotool")), arguments);
}

bool TesterDriver::finishXdotool(QString *error) {
    if (!m_async) {
        return true;
    }
    const bool ok = waitUntil([this] { return m_async->state() == QProcess::NotRunning; }, 5000) &&
                    m_async->exitStatus() == QProcess::NormalExit && m_async->exitCode() == 0;
    if (!ok) {
        *error = QStringLiteral("xdotool failed: %1").arg(QString::fromLocal8Bit(m_async->readAllStandardError()));
    }
    m_async.reset();
    return ok;
}

// --- Rig and Session -------------------------------------------------------------------------------

bool Rig::start(QString *error) {
    if (!server.start(error)) {
        return false;
    }
    x = std::make_unique<XDisplay>(server.display());
    if (!x->isOpen()) {
        *error = QStringLiteral("cannot connect to the X server on %1").arg(QString::fromLatin1(server.display()));
        return false;
    }
    if (!sim.start(error)) {
        return false;
    }
    // The layout program gets the tester's environment, with folders of its own.
    QTemporaryDir home;
    if (!home.isValid() || !QDir(home.path()).mkdir(QStringLiteral("runtime")) ||
        !QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                               QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        *error = QStringLiteral("cannot prepare a temporary home folder");
        return false;
    }
    return layout.compute(Tester::environment(server.display(), home.path()), error);
}

Session::Session(Rig &rig)
    : rig(rig)
    , tester(rig.server.display())
    , driver(*rig.x, rig.server.display(), rig.layout) {}

bool Session::launch(QString *error) {
    return tester.start(error) && driver.waitForWindow(tester, 8000, error) && driver.focusTester(error);
}

bool Session::connectToSim(QString *error) {
    const int mark = int(rig.sim.events().size());
    if (!driver.click(QStringLiteral("resonance"), QStringLiteral("tester.address"), error) ||
        !driver.key(QStringLiteral("ctrl+a"), error) || !driver.typeText(rig.sim.address(), error)) {
        return false;
    }
    // "Verifica" stays disabled while the start-up status request (to the default
    // address) is in flight: click again until the sim sees a status request.
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (!driver.click(QStringLiteral("resonance"), QStringLiteral("tester.verify"), error)) {
            return false;
        }
        std::optional<QString> client;
        if (waitUntil(
                [&] {
                    client = rig.sim.firstTesterClientAfter(mark);
                    return client.has_value();
                },
                1500)) {
            clientId = *client;
            return true;
        }
    }
    *error = QStringLiteral("the tester never asked the sim for its status: typing the address or clicking "
                            "\"Verifica\" did not reach it; tester output: %1")
                 .arg(tester.output());
    return false;
}

bool Session::clickAndAwait(const QString &section, const QString &objectName, const QString &path,
                            QString *error) {
    const auto before = rig.sim.requests(clientId, path).size();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!driver.click(section, objectName, error)) {
            return false;
        }
        if (waitUntil([&] { return rig.sim.requests(clientId, path).size() > before; }, 1500)) {
            return true;
        }
    }
    *error = QStringLiteral("clicking %1 sent no %2 request").arg(objectName, path);
    return false;
}

bool Session::startControlledResonance(QString *error) {
    if (!clickAndAwait(QStringLiteral("resonance"), QStringLiteral("tester.controlled.start"),
                       QStringLiteral("/v1/resonance"), error)) {
        return false;
    }
    const Sim::Event start = rig.sim.requests(clientId, QStringLiteral("/v1/resonance")).last();
    if (start.json.value(QLatin1String("status")).toInt() != 200) {
        *error = QStringLiteral("the resonance did not start: %1")
                     .arg(QString::fromUtf8(QJsonDocument(start.json).toJson(QJsonDocument::Compact)));
        return false;
    }
    // The heartbeat runs only once the tester has taken the start reply.
    if (!waitUntil(
            [&] {
                const auto beats = rig.sim.requests(clientId, QStringLiteral("/v1/heartbeat"));
                return !beats.isEmpty() && beats.last().json.value(QLatin1String("status")).toInt() == 200;
            },
            2000)) {
        *error = QStringLiteral("no heartbeat within 2 s of the resonance's start");
        return false;
    }
    return true;
}

} // namespace vibrelle::e2e
