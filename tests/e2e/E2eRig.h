#pragma once

// The end-to-end rig: a private X server (Xvfb), a vibrelle-sim, and the real tester binary on
// that display with HOME, the XDG folders and TMPDIR in one empty temporary folder. The window is
// driven through X as a person would: pointer and keyboard with xdotool (XTEST), the focus and
// the window manager's close request with a small xcb client. Every child dies with the test.

#include "SimHarness.h"

#include <QHash>
#include <QRect>
#include <QTemporaryDir>

struct xcb_connection_t;
struct xcb_screen_t;

namespace vibrelle::e2e {

using namespace simtest;

// A process that is killed with its owner, or by the kernel should the test die.
class Child : public QProcess {
public:
    Child();
    ~Child() override;
};

class Rig {
public:
    ~Rig();
    // Xvfb, the X client, the sim, and where the controls are (from e2e-window-layout).
    bool start(QString *error);
    QByteArray display;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Client> control; // for the sim's /_sim endpoints
    QHash<QString, QRect> layout;    // "section/objectName", window coordinates

    // A plain mapped window of the test's own, to take the focus away.
    std::uint32_t createWindow(const QRect &rect);
    void setInputFocus(std::uint32_t window);
    std::uint32_t inputFocus() const;
    // The client message a window manager sends when the user closes a window.
    void sendDeleteWindow(std::uint32_t window);

private:
    Child m_xvfb;
    xcb_connection_t *m_x = nullptr;
    xcb_screen_t *m_screen = nullptr;
};

// One tester process on the rig. The helpers return false and set `error` on failure.
class Session {
public:
    explicit Session(Rig &rig);
    bool launch();                   // starts it, waits for its window and gives it the focus
    bool connectToSim();             // types the sim's address, presses "Verifica", learns the client id
    // Until the start (and, with awaitHeartbeat, the first heartbeat) is answered.
    bool startControlledResonance(bool awaitHeartbeat = true);
    // Clicks the centre of a control of the section shown, then runs `then` (xdotool commands).
    bool click(const QString &section, const QString &objectName, const QStringList &then = {});
    // Clicks (again, while the control is still disabled) until this tester sends a request on `path`.
    bool clickAndAwait(const QString &section, const QString &objectName, const QString &path);
    bool xdotool(const QStringList &arguments, bool wait = true);
    // This tester's requests on `path`, as the sim recorded them.
    QList<QJsonObject> requests(const QString &path) const;
    QStringList filesWritten() const; // everything below the home folder but the empty runtime and tmp

    Rig &rig;
    Child process;
    std::optional<double> exitMs; // monotonicMs() when it ended
    std::uint32_t window = 0;
    QString clientId;
    QString error;

private:
    bool fail(const QString &why);
    QTemporaryDir m_home;
    Child m_async; // an xdotool started without waiting
};

} // namespace vibrelle::e2e
