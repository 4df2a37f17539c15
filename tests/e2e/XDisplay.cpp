#include "XDisplay.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace vibrelle::e2e {
namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

} // namespace

XDisplay::XDisplay(const QByteArray &display) {
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(display.constData(), &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem; ++i) {
        xcb_screen_next(&it);
    }
    m_connection = connection;
    m_screen = it.data;
}

XDisplay::~XDisplay() {
    if (m_connection) {
        xcb_disconnect(m_connection);
    }
}

std::uint32_t XDisplay::atom(const char *name) const {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, std::uint16_t(std::strlen(name)), name), nullptr));
    return reply ? std::uint32_t(reply->atom) : std::uint32_t(XCB_ATOM_NONE);
}

std::optional<std::uint32_t> XDisplay::findMappedWindow(const QByteArray &instance) const {
    if (!m_connection) {
        return std::nullopt;
    }
    Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_screen->root), nullptr));
    if (!tree) {
        return std::nullopt;
    }
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    for (int i = 0; i < count; ++i) {
        if (!isViewable(children[i])) {
            continue;
        }
        Reply<xcb_get_property_reply_t> property(xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, children[i], XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr));
        if (!property || property->format != 8) {
            continue;
        }
        // WM_CLASS is "instance\0class\0".
        const auto *value = static_cast<const char *>(xcb_get_property_value(property.get()));
        const int length = xcb_get_property_value_length(property.get());
        const QByteArray first(value, int(qstrnlen(value, uint(length))));
        if (first == instance) {
            return children[i];
        }
    }
    return std::nullopt;
}

bool XDisplay::isViewable(std::uint32_t window) const {
    Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

QRect XDisplay::geometry(std::uint32_t window) const {
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
    if (!geometry) {
        return {};
    }
    Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
        m_connection, xcb_translate_coordinates(m_connection, window, m_screen->root, 0, 0), nullptr));
    if (!origin) {
        return {};
    }
    return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
}

std::uint32_t XDisplay::createWindow(const QRect &rect, const QByteArray &name) {
    const xcb_window_t window = xcb_generate_id(m_connection);
    const std::uint32_t values[] = {m_screen->white_pixel};
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_screen->root, std::int16_t(rect.x()),
                      std::int16_t(rect.y()), std::uint16_t(rect.width()), std::uint16_t(rect.height()), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, m_screen->root_visual, XCB_CW_BACK_PIXEL, values);
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        std::uint32_t(name.size()), name.constData());
    xcb_map_window(m_connection, window);
    // A round trip: the window is mapped (there is no window manager to intercept it).
    Reply<xcb_get_input_focus_reply_t> sync(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    return window;
}

void XDisplay::setInputFocus(std::uint32_t window) {
    xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    Reply<xcb_get_input_focus_reply_t> sync(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

std::uint32_t XDisplay::inputFocus() const {
    Reply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    return reply ? std::uint32_t(reply->focus) : std::uint32_t(XCB_WINDOW_NONE);
}

void XDisplay::sendDeleteWindow(std::uint32_t window) {
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

} // namespace vibrelle::e2e
