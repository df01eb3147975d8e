// A notification area played by a test: it owns the system-tray selection of an X screen, tells the clients so,
// and docks the icons they offer.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>

namespace uitest {

class XTray {
public:
    // The tray's window is 120x32 at (x, y) of the screen.
    XTray(xcb_connection_t* c, xcb_screen_t* screen, int16_t x, int16_t y) : m_c(c) {
        m_window = xcb_generate_id(c);
        const uint32_t values[] = {0x336699, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, m_window, screen->root, x, y, 120, 32, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                          values);
        xcb_map_window(c, m_window);
        const xcb_atom_t selection = Atom("_NET_SYSTEM_TRAY_S0");
        xcb_set_selection_owner(c, m_window, selection, XCB_CURRENT_TIME);
        xcb_client_message_event_t manager{};
        manager.response_type = XCB_CLIENT_MESSAGE;
        manager.format = 32;
        manager.window = screen->root;
        manager.type = Atom("MANAGER");
        manager.data.data32[0] = XCB_CURRENT_TIME;
        manager.data.data32[1] = selection;
        manager.data.data32[2] = m_window;
        xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&manager));
        xcb_flush(c);
    }
    ~XTray() {
        xcb_destroy_window(m_c, m_window);
        xcb_flush(m_c);
    }
    XTray(const XTray&) = delete;
    XTray& operator=(const XTray&) = delete;

    // Waits (at most `limit`) for a dock request and docks the icon, 24x24, at the tray's left end; the icon's
    // window, or 0.
    xcb_window_t TakeDockRequest(std::chrono::seconds limit = std::chrono::seconds(10)) {
        const xcb_atom_t opcode = Atom("_NET_SYSTEM_TRAY_OPCODE");
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            xcb_generic_event_t* event = xcb_poll_for_event(m_c);
            if (!event) {
                pollfd p{xcb_get_file_descriptor(m_c), POLLIN, 0};
                poll(&p, 1, 100);
                continue;
            }
            xcb_window_t icon = XCB_NONE;
            if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
                const auto* m = reinterpret_cast<xcb_client_message_event_t*>(event);
                if (m->type == opcode && m->window == m_window && m->data.data32[1] == 0)
                    icon = m->data.data32[2];
            }
            std::free(event);
            if (icon) {
                xcb_reparent_window(m_c, icon, m_window, 0, 0);
                const uint32_t size[] = {24, 24};
                xcb_configure_window(m_c, icon, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
                xcb_map_window(m_c, icon);
                std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
                return icon;
            }
        }
        return XCB_NONE;
    }

private:
    xcb_atom_t Atom(const char* name) {
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
            m_c, xcb_intern_atom(m_c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(r);
        return atom;
    }

    xcb_connection_t* m_c;
    xcb_window_t m_window;
};

} // namespace uitest
