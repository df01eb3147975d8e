// A client of the X session management protocol: a log-out (SaveYourself with shutdown, then Die) asks and ends the
// session of the program's windows; a refusal cancels the log-out when the manager lets the client interact.
#include "platform/ui/session_manager.h"

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace platform::ui {
namespace {

class XsmpClient : public SessionManagerClient {
public:
    explicit XsmpClient(Handlers handlers) : m_handlers(std::move(handlers)) {}
    ~XsmpClient() override {
        if (m_conn)
            SmcCloseConnection(m_conn, 0, nullptr);
    }

    bool Open() {
        const char* address = std::getenv("SESSION_MANAGER");
        if (!address || !*address)
            return false;
        SmcCallbacks callbacks{};
        callbacks.save_yourself.callback = &XsmpClient::OnSaveYourself;
        callbacks.save_yourself.client_data = this;
        callbacks.die.callback = &XsmpClient::OnDie;
        callbacks.die.client_data = this;
        callbacks.save_complete.callback = [](SmcConn, SmPointer) {};
        callbacks.shutdown_cancelled.callback = &XsmpClient::OnShutdownCancelled;
        callbacks.shutdown_cancelled.client_data = this;
        char error[256] = {};
        char* clientId = nullptr;
        m_conn = SmcOpenConnection(nullptr, this, SmProtoMajor, SmProtoMinor,
                                   SmcSaveYourselfProcMask | SmcDieProcMask | SmcSaveCompleteProcMask |
                                       SmcShutdownCancelledProcMask,
                                   &callbacks, nullptr, &clientId, sizeof error, error);
        if (!m_conn)
            return false;
        std::free(clientId);
        SetProperties();
        return true;
    }

    int Descriptor() const override { return m_conn ? IceConnectionNumber(SmcGetIceConnection(m_conn)) : -1; }

    bool Process() override {
        if (!m_conn)
            return false;
        if (IceProcessMessages(SmcGetIceConnection(m_conn), nullptr, nullptr) == IceProcessMessagesIOError) {
            SmcCloseConnection(m_conn, 0, nullptr);
            m_conn = nullptr;
            return false;
        }
        return true;
    }

private:
    // The properties every client must have; the program is never to be restarted by the manager.
    void SetProperties() {
        std::string program(4096, '\0');
        const ssize_t n = readlink("/proc/self/exe", program.data(), program.size() - 1);
        program.resize(n > 0 ? static_cast<size_t>(n) : 0);
        const char* user = std::getenv("USER");
        std::string userId = user ? user : std::to_string(getuid());
        char never = SmRestartNever;
        SmPropValue programValue{static_cast<int>(program.size()), program.data()};
        SmPropValue userValue{static_cast<int>(userId.size()), userId.data()};
        SmPropValue hintValue{1, &never};
        SmProp props[] = {
            {const_cast<char*>(SmProgram), const_cast<char*>(SmARRAY8), 1, &programValue},
            {const_cast<char*>(SmUserID), const_cast<char*>(SmARRAY8), 1, &userValue},
            {const_cast<char*>(SmRestartCommand), const_cast<char*>(SmLISTofARRAY8), 1, &programValue},
            {const_cast<char*>(SmCloneCommand), const_cast<char*>(SmLISTofARRAY8), 1, &programValue},
            {const_cast<char*>(SmRestartStyleHint), const_cast<char*>(SmCARD8), 1, &hintValue},
        };
        SmProp* list[] = {&props[0], &props[1], &props[2], &props[3], &props[4]};
        SmcSetProperties(m_conn, 5, list);
    }

    static void OnSaveYourself(SmcConn conn, SmPointer data, int, Bool shutdown, int interactStyle, Bool) {
        auto* self = static_cast<XsmpClient*>(data);
        // Only the end of the session concerns the windows; a plain save has nothing of the program's to keep.
        if (!shutdown) {
            SmcSaveYourselfDone(conn, True);
            return;
        }
        if (self->m_handlers.query()) {
            SmcSaveYourselfDone(conn, True);
            return;
        }
        // A window refused: the log-out is cancelled where the manager lets the client say so.
        if (interactStyle != SmInteractStyleNone &&
            SmcInteractRequest(conn, SmDialogNormal, &XsmpClient::OnInteract, self))
            return;
        SmcSaveYourselfDone(conn, False);
    }

    static void OnInteract(SmcConn conn, SmPointer) {
        SmcInteractDone(conn, True);
        SmcSaveYourselfDone(conn, True);
    }

    static void OnDie(SmcConn, SmPointer data) { static_cast<XsmpClient*>(data)->m_handlers.end(true); }

    static void OnShutdownCancelled(SmcConn, SmPointer data) { static_cast<XsmpClient*>(data)->m_handlers.end(false); }

    Handlers m_handlers;
    SmcConn m_conn = nullptr;
};

} // namespace

std::unique_ptr<SessionManagerClient> SessionManagerClient::Connect(Handlers handlers) {
    auto client = std::make_unique<XsmpClient>(std::move(handlers));
    if (!client->Open())
        return nullptr;
    return client;
}

} // namespace platform::ui
