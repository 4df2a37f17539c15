#pragma once

// The end-to-end rig: a private display server, a vibrelle-sim, and the real tester binary with
// HOME, the XDG folders and TMPDIR in one empty folder. The window is driven as a person would:
// pointer and keyboard with xdotool (XTEST), the focus and the window manager's close request
// through the rig's X client. Every child ends with the test.

#include "SimHarness.h"

#include <QHash>

namespace vibrelle::e2e {

using namespace simtest;

class Rig {
public:
    // The display server, the sim, and where the controls are (from e2e-window-layout).
    bool start(QString *error);
    DisplayServer display;
    std::unique_ptr<XClient> x;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Client> control; // for the sim's /_sim endpoints
    QHash<QString, QRect> layout;    // "section/objectName", window coordinates
};

// One tester process on the rig. The helpers return false and set `error` on failure.
class Session {
public:
    explicit Session(Rig &rig)
        : rig(rig) {}
    bool launch();       // starts it, waits for its window and gives it the focus
    bool connectToSim(); // types the sim's address, presses "Verifica", learns the client id
    // Until the start (and, with awaitHeartbeat, the first heartbeat) is answered.
    bool startControlledResonance(bool awaitHeartbeat = true);
    // Clicks the centre of a control of the section shown, then runs `then` (xdotool commands).
    bool click(const QString &section, const QString &objectName, const QStringList &then = {});
    // Clicks (again, while the control is still disabled) until this tester sends a request on `path`.
    bool clickAndAwait(const QString &section, const QString &objectName, const QString &path);
    bool xdotool(const QStringList &arguments, bool wait = true);
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
