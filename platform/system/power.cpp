// Session and system end requests over D-Bus: the log-in manager for power-off and restart, the desktop's session
// manager for logging off. Each request uses a connection of its own, closed once the request is out.
#include "platform/system/power.h"

#include "platform/base/errors.h"
#include "platform/system/security.h"

#include <gio/gio.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr int kCallTimeoutMs = 25000;

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct VariantUnref {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using Connection = std::unique_ptr<GDBusConnection, ObjectUnref>;
using Variant = std::unique_ptr<GVariant, VariantUnref>;
using Error = std::unique_ptr<GError, ErrorFree>;

Connection Connect(GBusType type) {
    GError* raw = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(type, nullptr, &raw);
    Error error(raw);
    if (!address)
        return nullptr;
    raw = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address, static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &raw);
    g_free(address);
    Error connectError(raw);
    if (connection)
        g_dbus_connection_set_exit_on_close(connection, FALSE);
    return Connection(connection);
}

DWORD ErrorCodeOf(const GError* error) {
    if (!error)
        return ERROR_SUCCESS;
    if (g_dbus_error_is_remote_error(error)) {
        gchar* name = g_dbus_error_get_remote_error(error);
        const std::string remote = name ? name : "";
        g_free(name);
        if (remote == "org.freedesktop.DBus.Error.ServiceUnknown" ||
            remote == "org.freedesktop.DBus.Error.UnknownMethod" ||
            remote == "org.freedesktop.DBus.Error.UnknownObject" ||
            remote == "org.freedesktop.DBus.Error.UnknownInterface" ||
            remote == "org.freedesktop.DBus.Error.NameHasNoOwner")
            return ERROR_NOT_SUPPORTED;
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_NOT_SUPPORTED;
}

// A method call that waits for its answer; the error code of the call.
DWORD CallSync(GDBusConnection* connection, const char* service, const char* path, const char* interface,
               const char* method, GVariant* parameters, Variant* reply) {
    GError* raw = nullptr;
    GVariant* result = g_dbus_connection_call_sync(connection, service, path, interface, method, parameters, nullptr,
                                                   G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &raw);
    Error error(raw);
    if (reply)
        reply->reset(result);
    else if (result)
        g_variant_unref(result);
    return result ? ERROR_SUCCESS : ErrorCodeOf(error.get());
}

// A request whose answer nobody waits for (the manager may ask the user first): sent and flushed.
DWORD Send(GDBusConnection* connection, const char* service, const char* path, const char* interface,
           const char* method, GVariant* parameters) {
    GDBusMessage* message = g_dbus_message_new_method_call(service, path, interface, method);
    g_dbus_message_set_body(message, parameters);
    g_dbus_message_set_flags(message, static_cast<GDBusMessageFlags>(G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED |
                                                                     G_DBUS_MESSAGE_FLAGS_ALLOW_INTERACTIVE_AUTHORIZATION));
    GError* raw = nullptr;
    const gboolean sent = g_dbus_connection_send_message(connection, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                                         &raw);
    g_object_unref(message);
    Error error(raw);
    if (!sent)
        return ERROR_NOT_SUPPORTED;
    raw = nullptr;
    const gboolean flushed = g_dbus_connection_flush_sync(connection, nullptr, &raw);
    Error flushError(raw);
    return flushed ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
}

DWORD AskLoginManager(bool restart) {
    Connection bus = Connect(G_BUS_TYPE_SYSTEM);
    if (!bus)
        return ERROR_NOT_SUPPORTED;
    constexpr const char* kService = "org.freedesktop.login1";
    constexpr const char* kPath = "/org/freedesktop/login1";
    constexpr const char* kInterface = "org.freedesktop.login1.Manager";
    // Whether the user may: "yes", or "challenge" when the policy asks for a password first.
    Variant answer;
    const DWORD asked = CallSync(bus.get(), kService, kPath, kInterface, restart ? "CanReboot" : "CanPowerOff",
                                 nullptr, &answer);
    if (asked != ERROR_SUCCESS)
        return asked;
    const gchar* may = nullptr;
    if (!g_variant_is_of_type(answer.get(), G_VARIANT_TYPE("(s)")))
        return ERROR_NOT_SUPPORTED;
    g_variant_get(answer.get(), "(&s)", &may);
    if (std::strcmp(may, "yes") != 0 && std::strcmp(may, "challenge") != 0)
        return ERROR_ACCESS_DENIED;
    return Send(bus.get(), kService, kPath, kInterface, restart ? "Reboot" : "PowerOff", g_variant_new("(b)", TRUE));
}

DWORD AskSessionManagerToLogOff() {
    Connection bus = Connect(G_BUS_TYPE_SESSION);
    if (!bus)
        return ERROR_NOT_SUPPORTED;
    struct Manager {
        const char* service;
        const char* path;
        const char* interface;
        const char* method;
        const char* signature; // of the arguments, or null for none
    };
    // Mode 1 of the GNOME family: no confirmation dialog. XFCE: no dialog, saving allowed.
    const Manager managers[] = {
        {"org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager", "Logout", "(u)"},
        {"org.xfce.SessionManager", "/org/xfce/SessionManager", "org.xfce.Session.Manager", "Logout", "(bb)"},
        {"org.kde.Shutdown", "/Shutdown", "org.kde.Shutdown", "logout", nullptr},
    };
    for (const Manager& m : managers) {
        Variant owner;
        if (CallSync(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                     "NameHasOwner", g_variant_new("(s)", m.service), &owner) != ERROR_SUCCESS)
            return ERROR_NOT_SUPPORTED;
        gboolean has = FALSE;
        g_variant_get(owner.get(), "(b)", &has);
        if (!has)
            continue;
        GVariant* arguments = nullptr;
        if (m.signature && std::strcmp(m.signature, "(u)") == 0)
            arguments = g_variant_new("(u)", 1u);
        else if (m.signature)
            arguments = g_variant_new("(bb)", FALSE, TRUE);
        return Send(bus.get(), m.service, m.path, m.interface, m.method, arguments);
    }
    return ERROR_NOT_SUPPORTED;
}

} // namespace

BOOL ExitWindowsEx(UINT flags, DWORD /*reason*/) {
    const bool restart = (flags & EWX_REBOOT) != 0;
    const bool powerOff = (flags & (EWX_SHUTDOWN | EWX_POWEROFF)) != 0;
    DWORD error;
    if (restart || powerOff) {
        if (!platform::system::IsPrivilegeEnabled(SE_SHUTDOWN_NAME)) {
            SetLastError(ERROR_PRIVILEGE_NOT_HELD);
            return FALSE;
        }
        error = AskLoginManager(restart);
    } else {
        error = AskSessionManagerToLogOff();
    }
    SetLastError(error);
    return error == ERROR_SUCCESS;
}
