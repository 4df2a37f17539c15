#include "E2eRig.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/prctl.h>

namespace vibrelle::e2e {

namespace {

// xcb replies are malloc'ed.
template <typename T> std::unique_ptr<T, void (*)(void *)> own(T *reply) {
    return {reply, &std::free};
}

// Only the runtime (private to the user) and temporary folders exist beforehand, as in a real session.
bool prepareHome(const QString &home) {
    return QDir(home).mkdir(QStringLiteral("runtime")) && QDir(home).mkdir(QStringLiteral("tmp")) &&
           QFile::setPermissions(home + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

std::optional<QByteArray> runXdotool(const QByteArray &display, const QStringList &arguments, Child *process,
                                     bool wait = true) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    process->setProcessEnvironment(environment);
    process->start(QStandardPaths::findExecutable(QStringLiteral("xdotool")), arguments);
    if (!wait)
        return QByteArray();
    if (!process->waitForFinished(5000) || process->exitCode() != 0)
        return std::nullopt;
    return process->readAllStandardOutput();
}

// The test's own environment less Qt, XDG and desktop variables, with the display and every
// folder the tester could write to inside `home`.
QProcessEnvironment testerEnvironment(const QByteArray &display, const QString &home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &key : env.keys()) {
        if (key.startsWith(QLatin1String("QT_")) || key.startsWith(QLatin1String("XDG_")) ||
            QStringList{"WAYLAND_DISPLAY", "DESKTOP_SESSION", "XAUTHORITY", "SESSION_MANAGER", "DBUS_SESSION_BUS_ADDRESS"}
                .contains(key))
            env.remove(key);
    }
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    env.insert(QStringLiteral("HOME"), home);
    for (const char *name : {"CONFIG", "CACHE", "DATA", "STATE"})
        env.insert(QStringLiteral("XDG_%1_HOME").arg(QLatin1String(name)), home + u'/' + QString(name).toLower());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("TMPDIR"), home + QStringLiteral("/tmp"));
    return env;
}

} // namespace

Child::Child() {
    setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); }); // SIGTERM: Xvfb removes its lock
}

Child::~Child() {
    terminate();
    if (!waitForFinished(2000)) {
        kill();
        waitForFinished(1000);
    }
}

// --- Rig -------------------------------------------------------------------------------------------

Rig::~Rig() {
    if (m_x)
        xcb_disconnect(m_x);
}

bool Rig::start(QString *error) {
    // -displayfd: Xvfb picks a free display and prints its number. A start that loses the race
    // for that number to another server is tried again.
    for (int attempt = 0; attempt < 3 && display.isEmpty(); ++attempt) {
        m_xvfb.start(QStandardPaths::findExecutable(QStringLiteral("Xvfb")),
                     {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"});
        QByteArray out;
        waitFor([&] {
            out += m_xvfb.readAllStandardOutput();
            return out.contains('\n') || m_xvfb.state() == QProcess::NotRunning;
        }, 15000);
        bool isNumber = false;
        out.trimmed().toUInt(&isNumber);
        if (isNumber)
            display = ':' + out.trimmed();
        else
            m_xvfb.kill(), m_xvfb.waitForFinished(1000);
    }
    if (display.isEmpty())
        return *error = QStringLiteral("Xvfb did not start (packages xvfb and xdotool are needed)"), false;
    m_x = xcb_connect(display.constData(), nullptr);
    if (xcb_connection_has_error(m_x))
        return *error = QStringLiteral("cannot connect to the X server on %1").arg(QString(display)), false;
    m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data;

    sim = std::make_unique<SimProcess>();
    if (sim->port() == 0)
        return *error = QStringLiteral("vibrelle-sim did not start"), false;
    control = std::make_unique<Client>(sim->port());

    QTemporaryDir home; // the layout program runs in the tester's environment, with folders of its own
    Child layoutProgram;
    layoutProgram.setProcessEnvironment(testerEnvironment(display, home.path()));
    if (prepareHome(home.path()))
        layoutProgram.start(builtProgram(QStringLiteral("e2e-window-layout")), {});
    if (!layoutProgram.waitForFinished(15000) || layoutProgram.exitCode() != 0)
        return *error = QStringLiteral("e2e-window-layout failed: ") + layoutProgram.readAllStandardError(), false;
    const QJsonObject controls = QJsonDocument::fromJson(layoutProgram.readAllStandardOutput()).object();
    for (auto it = controls.begin(); it != controls.end(); ++it) {
        const QJsonArray r = it.value().toArray();
        layout.insert(it.key(), QRect(r[0].toInt(), r[1].toInt(), r[2].toInt(), r[3].toInt()));
    }
    return !layout.isEmpty() || (*error = QStringLiteral("e2e-window-layout printed no controls"), false);
}

std::uint32_t Rig::createWindow(const QRect &rect) {
    const xcb_window_t window = xcb_generate_id(m_x);
    xcb_create_window(m_x, XCB_COPY_FROM_PARENT, window, m_screen->root, std::int16_t(rect.x()), std::int16_t(rect.y()),
                      std::uint16_t(rect.width()), std::uint16_t(rect.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      m_screen->root_visual, 0, nullptr);
    xcb_map_window(m_x, window);
    inputFocus(); // a round trip: without a window manager the window is now mapped
    return window;
}

void Rig::setInputFocus(std::uint32_t window) {
    xcb_set_input_focus(m_x, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    xcb_flush(m_x);
}

std::uint32_t Rig::inputFocus() const {
    const auto reply = own(xcb_get_input_focus_reply(m_x, xcb_get_input_focus(m_x), nullptr));
    return reply ? reply->focus : xcb_window_t(XCB_WINDOW_NONE);
}

void Rig::sendDeleteWindow(std::uint32_t window) {
    const auto atom = [this](const char *name) {
        const auto reply = own(xcb_intern_atom_reply(m_x, xcb_intern_atom(m_x, 0, std::uint16_t(std::strlen(name)), name), nullptr));
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    };
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_x, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    xcb_flush(m_x);
}

// --- Session ---------------------------------------------------------------------------------------

Session::Session(Rig &rig)
    : rig(rig) {
    process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&process, &QProcess::finished, &process, [this] { exitMs = monotonicMs(); });
}

bool Session::fail(const QString &why) {
    error = why + QStringLiteral("; tester output: ") + QString::fromLocal8Bit(process.readAll());
    return false;
}

bool Session::launch() {
    if (!prepareHome(m_home.path()))
        return fail(QStringLiteral("cannot prepare ") + m_home.path());
    process.setProcessEnvironment(testerEnvironment(rig.display, m_home.path()));
    process.start(builtProgram(QStringLiteral("vibrelle-api-tester")), {});
    waitFor([this] {
        Child search;
        window = runXdotool(rig.display, {"search", "--onlyvisible", "--classname", "^vibrelle-api-tester$"}, &search)
                     .value_or("0").split('\n').first().toUInt();
        return window != 0 || exitMs;
    }, 8000);
    if (window == 0)
        return fail(QStringLiteral("the tester's window did not appear within 8 s"));
    rig.setInputFocus(window);
    return rig.inputFocus() == window || fail(QStringLiteral("the tester's window did not take the input focus"));
}

bool Session::xdotool(const QStringList &arguments, bool wait) {
    Child xdo;
    Child *process = wait ? &xdo : &m_async;
    return runXdotool(rig.display, arguments, process, wait) ||
           fail(QStringLiteral("xdotool %1 failed: %2").arg(arguments.join(u' '), process->readAllStandardError()));
}

bool Session::click(const QString &section, const QString &objectName, const QStringList &then) {
    const QRect rect = rig.layout.value(section + u'/' + objectName);
    if (rect.isEmpty())
        return fail(QStringLiteral("no control %1 in section %2").arg(objectName, section));
    return xdotool(QStringList{"mousemove", "--window", QString::number(window), QString::number(rect.center().x()),
                               QString::number(rect.center().y()), "click", "1"} + then);
}

QList<QJsonObject> Session::requests(const QString &path) const {
    return rig.sim->matching(eventIs(QStringLiteral("request"), {{"clientId", clientId}, {"path", path}}));
}

bool Session::connectToSim() {
    const qsizetype mark = rig.sim->events().size();
    if (!click("resonance", "tester.address", {"key", "ctrl+a", "type", "--delay", "4", rig.sim->address()}))
        return false;
    // "Verifica" stays disabled while the start-up status request (to the default address) is in flight.
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (!click("resonance", "tester.verify"))
            return false;
        if (const auto request = rig.sim->waitForEvent(eventIs("request", {{"client", "API Tester"}}), mark, 1500)) {
            clientId = (*request)["clientId"].toString();
            return true;
        }
    }
    return fail(QStringLiteral("the tester never asked the sim for its status"));
}

bool Session::clickAndAwait(const QString &section, const QString &objectName, const QString &path) {
    const qsizetype before = requests(path).size();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!click(section, objectName))
            return false;
        if (waitFor([&] { return requests(path).size() > before; }, 1500))
            return true;
    }
    return fail(QStringLiteral("clicking %1 sent no %2 request").arg(objectName, path));
}

bool Session::startControlledResonance(bool awaitHeartbeat) {
    if (!clickAndAwait("resonance", "tester.controlled.start", "/v1/resonance"))
        return false;
    if (requests("/v1/resonance").last().value("status").toInt() != 200)
        return fail(QStringLiteral("the resonance did not start"));
    // The heartbeat runs once the tester has taken the start reply.
    return !awaitHeartbeat || waitFor([&] {
        const auto beats = requests("/v1/heartbeat");
        return !beats.isEmpty() && beats.last().value("status").toInt() == 200;
    }, 2000) || fail(QStringLiteral("no heartbeat within 2 s of the resonance's start"));
}

QStringList Session::filesWritten() const {
    QStringList found;
    QDirIterator it(m_home.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = QDir(m_home.path()).relativeFilePath(it.next());
        if (relative != QLatin1String("runtime") && relative != QLatin1String("tmp"))
            found.append(relative);
    }
    return found;
}

} // namespace vibrelle::e2e
