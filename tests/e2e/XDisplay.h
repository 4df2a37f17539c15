#pragma once

#include <QByteArray>
#include <QRect>

#include <cstdint>
#include <optional>

struct xcb_connection_t;
struct xcb_screen_t;

namespace vibrelle::e2e {

// A plain X client on the test's own display: finds the tester's top-level window,
// moves the input focus, makes a window of its own to take the focus away, and asks a
// window to close the way a window manager does (WM_DELETE_WINDOW). Pointer and
// keyboard input go through xdotool (XTEST), see TesterDriver.
class XDisplay {
public:
    explicit XDisplay(const QByteArray &display);
    ~XDisplay();
    XDisplay(const XDisplay &) = delete;
    XDisplay &operator=(const XDisplay &) = delete;

    bool isOpen() const { return m_connection != nullptr; }

    // A viewable child of the root window whose WM_CLASS instance is `instance`.
    std::optional<std::uint32_t> findMappedWindow(const QByteArray &instance) const;
    // The window's rectangle in root coordinates.
    QRect geometry(std::uint32_t window) const;
    bool isViewable(std::uint32_t window) const;

    // A plain mapped window, named `name`, owned by this connection.
    std::uint32_t createWindow(const QRect &rect, const QByteArray &name);
    void setInputFocus(std::uint32_t window);
    std::uint32_t inputFocus() const;
    // The client message a window manager sends when the user closes a window.
    void sendDeleteWindow(std::uint32_t window);

private:
    std::uint32_t atom(const char *name) const;

    xcb_connection_t *m_connection = nullptr;
    xcb_screen_t *m_screen = nullptr;
};

} // namespace vibrelle::e2e
