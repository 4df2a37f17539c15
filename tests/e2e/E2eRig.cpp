#include "E2eRig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace vibrelle::e2e {

bool Rig::start(QString *error) {
    if (!display.start(error))
        return false;
    sim = std::make_unique<SimProcess>();
    if (sim->port() == 0)
        return *error = QStringLiteral("vibrelle-sim did not start"), false;
    control = std::make_unique<Client>(sim->port());
    if (!x11())
        return true;
    x = std::make_unique<XClient>(display.display());
    if (!x->isOpen())
        return *error = QStringLiteral("cannot connect to the X server on ") + display.display(), false;

    // The layout program runs in the tester's environment, with folders of its own.
    QByteArray errors;
    const auto printed = runProgram({builtProgram(QStringLiteral("e2e-window-layout"))},
                                    TesterProcess().environment(display), 15000, &errors);
    if (!printed)
        return *error = QStringLiteral("e2e-window-layout failed: ") + errors, false;
    const QJsonObject controls = QJsonDocument::fromJson(*printed).object();
    for (auto it = controls.begin(); it != controls.end(); ++it) {
        const QJsonArray r = it.value().toArray();
        layout.insert(it.key(), QRect(r[0].toInt(), r[1].toInt(), r[2].toInt(), r[3].toInt()));
    }
    return !layout.isEmpty() || (*error = QStringLiteral("e2e-window-layout printed no controls"), false);
}

bool Rig::startSessionBus(QString *error) {
    // The bus and what it starts keep their sockets and state in the build tree.
    m_busFolder = temporaryFolder();
    const QString folder = m_busFolder->path();
    busAddress = QStringLiteral("unix:path=") + folder + QStringLiteral("/bus");
    if (!m_bus.start({findProgram(QStringLiteral("dbus-daemon")), QStringLiteral("--session"),
                      QStringLiteral("--nofork"), QStringLiteral("--address=") + busAddress},
                     currentEnvironment({"DBUS_", "XDG_RUNTIME_DIR="}) << "XDG_RUNTIME_DIR=" + folder))
        return *error = QStringLiteral("cannot start dbus-daemon (package dbus-daemon)"), false;
    return waitFor([&] { return QFile::exists(folder + QStringLiteral("/bus")); }, 5000) ||
           (*error = QStringLiteral("the session bus did not open"), false);
}

bool Session::fail(const QString &why) {
    error = why + QStringLiteral("; tester output: ") + QString::fromLocal8Bit(tester.process.read());
    return false;
}

bool Session::launch() {
    if (!rig.busAddress.isEmpty())
        tester.extraEnvironment = {QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + rig.busAddress,
                                   QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1")};
    if (rig.x11())
        rig.x->takeMapped("vibrelle-api-tester"); // forget windows of earlier sessions
    if (!tester.start(rig.display))
        return fail(QStringLiteral("cannot start vibrelle-api-tester"));
    if (!rig.x11())
        return true;
    waitFor(
        [this] {
            window = rig.x->takeMapped("vibrelle-api-tester").value_or(window);
            return window != 0 || exited();
        },
        8000);
    if (window == 0)
        return fail(QStringLiteral("the tester's window did not appear within 8 s"));
    rig.x->setInputFocus(window);
    return rig.x->inputFocus() == window ||
           fail(QStringLiteral("the tester's window did not take the input focus"));
}

std::optional<QList<QJsonObject>> Session::assist(const QStringList &steps) {
    QByteArray errors;
    const auto printed = runProgram(
        QStringList{QStringLiteral("/usr/bin/python3"), QStringLiteral(VIBRELLE_ATSPI_CLIENT),
                    QStringLiteral("vibrelle-api-tester")} +
            steps,
        currentEnvironment({"DBUS_SESSION_BUS_ADDRESS="}) << "DBUS_SESSION_BUS_ADDRESS=" + rig.busAddress, 30000,
        &errors);
    if (!printed) {
        fail(QStringLiteral("atspi_client.py failed: ") + QString::fromLocal8Bit(errors));
        return std::nullopt;
    }
    QList<QJsonObject> seen;
    for (const QByteArray &line : printed->trimmed().split('\n'))
        seen << QJsonDocument::fromJson(line).object();
    return seen;
}

bool Session::xdotool(const QStringList &arguments, bool wait) {
    const QStringList argv = QStringList{findProgram(QStringLiteral("xdotool"))} + arguments;
    const Environment environment = currentEnvironment()
                                    << QStringLiteral("DISPLAY=") + rig.display.display();
    QByteArray errors;
    if (wait ? runProgram(argv, environment, 5000, &errors).has_value() : m_async.start(argv, environment))
        return true;
    return fail(
        QStringLiteral("xdotool %1 failed: %2").arg(arguments.join(u' '), QString::fromLocal8Bit(errors)));
}

bool Session::click(const QString &section, const QString &objectName, const QStringList &then) {
    const QRect rect = rig.layout.value(section + u'/' + objectName);
    if (rect.isEmpty())
        return fail(QStringLiteral("no control %1 in section %2").arg(objectName, section));
    return xdotool(QStringList{"mousemove", "--window", QString::number(window),
                               QString::number(rect.center().x()), QString::number(rect.center().y()),
                               "click", "1"} +
                   then);
}

QList<QJsonObject> Session::requests(const QString &path) const {
    return rig.sim->matching(eventIs(QStringLiteral("request"), {{"clientId", clientId}, {"path", path}}));
}

bool Session::connectToSim() {
    const qsizetype mark = rig.sim->events().size();
    const auto learnClient = [&](int timeoutMs) {
        if (const auto request =
                rig.sim->waitForEvent(eventIs("request", {{"client", "API Tester"}}), mark, timeoutMs))
            clientId = (*request)["clientId"].toString();
        return !clientId.isEmpty();
    };
    if (!rig.x11()) {
        return assist({"text|Indirizzo del servizio API locale|" + rig.sim->address(),
                       "action|push button|Verifica|Press", "announced|Connesso · "}) &&
               (learnClient(1500) || fail(QStringLiteral("the tester never asked the sim for its status")));
    }
    // "Verifica" stays disabled while the start-up status request (to the default address) is in
    // flight, and keys typed while the window is still settling may be lost: each try types again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (!click("resonance", "tester.address",
                   {"key", "ctrl+a", "type", "--delay", "4", rig.sim->address()}) ||
            !click("resonance", "tester.verify"))
            return false;
        if (learnClient(1500))
            return true;
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
    if (!(rig.x11() ? clickAndAwait("resonance", "tester.controlled.start", "/v1/resonance")
                    : assist({"action|push button|Avvia|Press"}) &&
                          waitFor([&] { return !requests("/v1/resonance").isEmpty(); }, 1500)))
        return false;
    if (requests("/v1/resonance").last().value("status").toInt() != 200)
        return fail(QStringLiteral("the resonance did not start"));
    // The heartbeat runs once the tester has taken the start reply.
    return !awaitHeartbeat ||
           waitFor(
               [&] {
                   const auto beats = requests("/v1/heartbeat");
                   return !beats.isEmpty() && beats.last().value("status").toInt() == 200;
               },
               2000) ||
           fail(QStringLiteral("no heartbeat within 2 s of the resonance's start"));
}

} // namespace vibrelle::e2e
