#pragma once

// The end-to-end rig: a display server, a vibrelle-sim and the real tester, driven as a person would:
// under X by pointer and keyboard (xdotool), the focus and the close request through the rig's X
// client; over the accessibility bus (the only way in under Weston's headless backend) by
// atspi_client.py through the controls' accessible interfaces.

#include "SimHarness.h"

#include <QHash>

namespace vibrelle::e2e {

using namespace simtest;

class Rig {
public:
    explicit Rig(DisplayServer::Kind kind = DisplayServer::Kind::x11)
        : display(kind) {}
    // The display server, the sim and, under X, where the controls are (from e2e-window-layout).
    bool start(QString *error);
    // A private session bus, on which the accessibility bus starts on demand.
    bool startSessionBus(QString *error);
    bool x11() const { return display.kind() == DisplayServer::Kind::x11; }
    DisplayServer display;
    std::unique_ptr<XClient> x;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Client> control; // for the sim's /_sim endpoints
    QHash<QString, QRect> layout;    // "section/objectName", window coordinates
    QString busAddress;              // once the session bus runs

private:
    std::unique_ptr<QTemporaryDir> m_busFolder;
    Child m_bus;
};

// One tester process on the rig. The helpers return false and set `error` on failure.
class Session {
public:
    explicit Session(Rig &rig)
        : rig(rig) {}
    // Starts it; under X waits for its window and gives it the focus; with the session bus running,
    // with its accessibility on.
    bool launch();
    // Puts the sim's address in the field, presses "Verifica", learns the client id: under X by
    // pointer and keys, otherwise over the accessibility bus.
    bool connectToSim();
    // Until the start (and, with awaitHeartbeat, the first heartbeat) is answered.
    bool startControlledResonance(bool awaitHeartbeat = true);
    // Clicks the centre of a control of the section shown, then runs `then` (xdotool commands).
    bool click(const QString &section, const QString &objectName, const QStringList &then = {});
    // Clicks (again, while the control is still disabled) until this tester sends a request on `path`.
    bool clickAndAwait(const QString &section, const QString &objectName, const QString &path);
    bool xdotool(const QStringList &arguments, bool wait = true);
    // Runs atspi_client.py with these steps; its JSON lines, one per step.
    std::optional<QList<QJsonObject>> assist(const QStringList &steps);
    // This tester's requests on `path`, as the sim recorded them.
    QList<QJsonObject> requests(const QString &path) const;
    bool exited() { return tester.process.finished(); }

    Rig &rig;
    TesterProcess tester;
    std::uint32_t window = 0;
    QString clientId;
    QString error;

private:
    bool fail(const QString &why);
    Child m_async; // an xdotool started without waiting
};

} // namespace vibrelle::e2e
