// Test support: a message bus of the test's own that stands in for the system bus and the session bus, with a
// log-in manager (org.freedesktop.login1) and a GNOME-style session manager on it that record what they are asked
// and never end anything. Tests of power-off and log-off point the layer at it through DBUS_SYSTEM_BUS_ADDRESS and
// DBUS_SESSION_BUS_ADDRESS, which the constructor sets and the destructor restores.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

class FakeDesktopBus {
public:
    // The bus listens on a socket in `folder` (a scratch folder of the test).
    explicit FakeDesktopBus(const std::string& folder) : m_socket(folder + "/desktop_bus") {
        m_address = "unix:path=" + m_socket;
        std::string addressArg = "--address=" + m_address;
        char program[] = "dbus-daemon";
        char session[] = "--session";
        char nofork[] = "--nofork";
        char nopidfile[] = "--nopidfile";
        char printAddress[] = "--print-address=1";
        char* argv[] = {program, session, nofork, nopidfile, printAddress, addressArg.data(), nullptr};
        // The daemon prints its address once it takes connections; its socket file shows up earlier, between
        // binding and listening, and a connection made then is refused.
        int ready[2] = {-1, -1};
        if (pipe2(ready, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ready[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&m_daemon, "dbus-daemon", &actions, nullptr, argv, environ) != 0)
            m_daemon = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(ready[1]);
        bool listening = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (m_daemon > 0 && !listening && std::chrono::steady_clock::now() < deadline) {
            pollfd p{ready[0], POLLIN, 0};
            if (poll(&p, 1, 1000) < 0 && errno != EINTR)
                break;
            char c = 0;
            if (p.revents) {
                const ssize_t n = read(ready[0], &c, 1);
                if (n == 1 && c == '\n')
                    listening = true;
                else if (n == 0 || (n < 0 && errno != EINTR))
                    break; // the daemon ended before it listened
            }
        }
        close(ready[0]);
        if (!listening) {
            std::lock_guard lock(m_mutex);
            m_state = State::Failed;
            return;
        }
        for (const char* name : {"DBUS_SYSTEM_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS"}) {
            const char* old = std::getenv(name);
            m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            setenv(name, m_address.c_str(), 1);
        }
        m_thread = std::thread([this] { Serve(); });
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_state != State::Starting; });
    }

    ~FakeDesktopBus() {
        {
            std::lock_guard lock(m_mutex);
            if (m_context)
                g_main_context_invoke(m_context, [](gpointer loop) -> gboolean {
                    g_main_loop_quit(static_cast<GMainLoop*>(loop));
                    return G_SOURCE_REMOVE;
                }, m_loop);
        }
        if (m_thread.joinable())
            m_thread.join();
        if (m_daemon > 0) {
            kill(m_daemon, SIGTERM);
            int status = 0;
            waitpid(m_daemon, &status, 0);
        }
        for (const auto& [name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

    // Whether the bus runs with both managers on it.
    bool Ready() {
        std::lock_guard lock(m_mutex);
        return m_state == State::Serving;
    }
    // The log-in manager's answer to CanPowerOff and CanReboot ("yes", "challenge", "no", "na").
    void SetCanAnswer(std::string answer) {
        std::lock_guard lock(m_mutex);
        m_canAnswer = std::move(answer);
    }
    // The calls so far, as "Method" or "Method(argument)".
    std::vector<std::string> Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    // Waits (bounded) until at least `count` calls came.
    bool WaitForCalls(size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_calls.size() >= count; });
    }

private:
    enum class State { Starting, Serving, Failed };

    static constexpr const char* kIntrospection =
        "<node>"
        " <interface name='org.freedesktop.login1.Manager'>"
        "  <method name='CanPowerOff'><arg type='s' direction='out'/></method>"
        "  <method name='CanReboot'><arg type='s' direction='out'/></method>"
        "  <method name='PowerOff'><arg type='b' direction='in'/></method>"
        "  <method name='Reboot'><arg type='b' direction='in'/></method>"
        " </interface>"
        " <interface name='org.gnome.SessionManager'>"
        "  <method name='Logout'><arg type='u' direction='in'/></method>"
        " </interface>"
        "</node>";

    static void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                       GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
        auto* bus = static_cast<FakeDesktopBus*>(self);
        std::string call = method;
        if (g_variant_n_children(parameters) == 1) {
            GVariant* argument = g_variant_get_child_value(parameters, 0);
            gchar* text = g_variant_print(argument, FALSE);
            call += std::string("(") + text + ")";
            g_free(text);
            g_variant_unref(argument);
        }
        std::string answer;
        {
            std::lock_guard lock(bus->m_mutex);
            bus->m_calls.push_back(call);
            answer = bus->m_canAnswer;
            bus->m_changed.notify_all();
        }
        if (g_str_has_prefix(method, "Can"))
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", answer.c_str()));
        else
            g_dbus_method_invocation_return_value(invocation, nullptr);
    }

    bool Own(GDBusConnection* connection, const char* name) {
        GVariant* reply = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "RequestName",
                                                      g_variant_new("(su)", name, 4u), G_VARIANT_TYPE("(u)"),
                                                      G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, nullptr);
        if (!reply)
            return false;
        guint32 result = 0;
        g_variant_get(reply, "(u)", &result);
        g_variant_unref(reply);
        return result == 1;
    }

    void Serve() {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        GMainLoop* loop = g_main_loop_new(context, FALSE);
        GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
            m_address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
        static const GDBusInterfaceVTable vtable = {OnCall, nullptr, nullptr, {}};
        bool ok = connection && node;
        if (ok) {
            g_dbus_connection_set_exit_on_close(connection, FALSE);
            ok = g_dbus_connection_register_object(connection, "/org/freedesktop/login1", node->interfaces[0],
                                                   &vtable, this, nullptr, nullptr) != 0 &&
                 g_dbus_connection_register_object(connection, "/org/gnome/SessionManager", node->interfaces[1],
                                                   &vtable, this, nullptr, nullptr) != 0 &&
                 Own(connection, "org.freedesktop.login1") && Own(connection, "org.gnome.SessionManager");
        }
        {
            std::lock_guard lock(m_mutex);
            m_state = ok ? State::Serving : State::Failed;
            if (ok) {
                m_context = context;
                m_loop = loop;
            }
            m_changed.notify_all();
        }
        if (ok)
            g_main_loop_run(loop);
        {
            std::lock_guard lock(m_mutex);
            m_context = nullptr;
        }
        if (connection) {
            g_dbus_connection_close_sync(connection, nullptr, nullptr);
            g_object_unref(connection);
        }
        if (node)
            g_dbus_node_info_unref(node);
        g_main_loop_unref(loop);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    std::string m_socket;
    std::string m_address;
    pid_t m_daemon = -1;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state = State::Starting;
    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    std::string m_canAnswer = "yes";
    std::vector<std::string> m_calls;
};

} // namespace testsupport
