// The end of the session: SIGTERM and a session manager's log-out ask and tell the program's windows.
#include "platform/ui/session.h"

#include "platform/testing/child_test.h"
#include "platform/ui/ui_test_support.h"

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace uitest;

namespace {

constexpr UINT WM_PARENT_SAYS_GO_ON = WM_APP + 1;

// The child: a window that reports what it hears. SESSION_CHILD says what it answers: "agree" (and end when the
// session ends), "refuse", or "linger" (agree, and go on running).
std::string g_mode;

LRESULT CALLBACK ReportingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_QUERYENDSESSION: {
        std::ostringstream line;
        line << "query " << std::hex << static_cast<unsigned long>(lParam);
        testsupport::ReportToParent(line.str());
        return g_mode != "refuse";
    }
    case WM_ENDSESSION:
        testsupport::ReportToParent("end " + std::to_string(wParam));
        if (wParam && g_mode == "agree")
            PostQuitMessage(0);
        return 0;
    case WM_PARENT_SAYS_GO_ON:
        testsupport::ReportToParent("alive");
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

TEST(SessionChild, DISABLED_WindowUntilTheSessionEnds) {
    const char* mode = std::getenv("SESSION_CHILD");
    if (!mode)
        FAIL() << "runs only as the child of the session tests";
    g_mode = mode;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ReportingProc;
    wc.lpszClassName = u"SessionChild";
    ASSERT_TRUE(RegisterClassExW(&wc));
    HWND hwnd = CreateWindowExW(0, u"SessionChild", u"child", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    // The parent's word (its closing of our input) reaches the window as a message.
    std::thread waiter([hwnd] {
        testsupport::WaitForParent();
        PostMessageW(hwnd, WM_PARENT_SAYS_GO_ON, 0, 0);
    });
    waiter.detach();
    testsupport::ReportToParent("ready");
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
}

// The parent's side: the child started in a mode, ready.
struct Child {
    explicit Child(const std::string& mode, testsupport::ChildTest::Environment more = {})
        : process("SessionChild.DISABLED_WindowUntilTheSessionEnds", With(mode, std::move(more))) {
        EXPECT_EQ(process.ReadLine(), "ready");
    }
    static testsupport::ChildTest::Environment With(const std::string& mode, testsupport::ChildTest::Environment env) {
        env.emplace_back("SESSION_CHILD", mode);
        // No session manager unless the test brings its own: never the desktop's.
        if (std::none_of(env.begin(), env.end(), [](const auto& entry) { return entry.first == "SESSION_MANAGER"; }))
            env.emplace_back("SESSION_MANAGER", "");
        return env;
    }
    testsupport::ChildTest process;
};

int ExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SessionEnd, SigtermAsksAndTellsTheWindowsAndTheProgramEnds) {
    Child child("agree");
    ASSERT_EQ(kill(child.process.Pid(), SIGTERM), 0);
    EXPECT_EQ(child.process.ReadLine(), "query 0");
    EXPECT_EQ(child.process.ReadLine(), "end 1");
    EXPECT_EQ(ExitCode(child.process.Wait()), 0);
}

TEST(SessionEnd, AWindowThatRefusesKeepsTheProgramRunning) {
    Child child("refuse");
    ASSERT_EQ(kill(child.process.Pid(), SIGTERM), 0);
    EXPECT_EQ(child.process.ReadLine(), "query 0");
    EXPECT_EQ(child.process.ReadLine(), "end 0");
    child.process.Release();
    EXPECT_EQ(child.process.ReadLine(), "alive");
    EXPECT_EQ(ExitCode(child.process.Wait()), 0);
}

TEST(SessionEnd, AProgramThatDoesNotEndIsEndedAfterTheGraceTime) {
    Child child("linger", {{"WINLAYER_SESSION_END_GRACE_MS", "0"}});
    ASSERT_EQ(kill(child.process.Pid(), SIGTERM), 0);
    EXPECT_EQ(child.process.ReadLine(), "query 0");
    EXPECT_EQ(child.process.ReadLine(), "end 1");
    EXPECT_EQ(ExitCode(child.process.Wait()), 128 + SIGTERM);
}

// A session manager of the test's own, speaking the X session management protocol to the child.
class SessionManager {
public:
    SessionManager() {
        // The library makes the machine's folder of session sockets when it is missing, and fails (leaking) when
        // another test made it in between; made here first, the race is gone.
        if (::mkdir("/tmp/.ICE-unix", 01777) == 0)
            ::chmod("/tmp/.ICE-unix", 01777);
        char error[256] = {};
        EXPECT_TRUE(SmsInitialize("session-test", "1", &SessionManager::NewClient, this, &SessionManager::Accept,
                                  sizeof error, error))
            << error;
        EXPECT_TRUE(IceListenForConnections(&m_count, &m_listen, sizeof error, error)) << error;
        // Local connections only: the network ids of the unix sockets.
        char* composed = IceComposeNetworkIdList(m_count, m_listen);
        std::stringstream ids(composed ? composed : "");
        std::free(composed);
        for (std::string id; std::getline(ids, id, ',');)
            if (id.rfind("tcp/", 0) != 0)
                m_ids += (m_ids.empty() ? "" : ",") + id;
        for (int i = 0; i < m_count; ++i)
            IceSetHostBasedAuthProc(m_listen[i], &SessionManager::Accept);
    }
    ~SessionManager() {
        if (client)
            SmsCleanUp(client);
        if (m_ice) {
            IceSetShutdownNegotiation(m_ice, False);
            IceCloseConnection(m_ice);
        }
        IceFreeListenObjs(m_count, m_listen);
    }

    // Sends what waits for the client.
    void Flush() { IceFlush(SmsGetIceConnection(client)); }

    const std::string& Ids() const { return m_ids; }

    // Serves connections and messages until the condition holds; false when 20 seconds pass first.
    bool ServeUntil(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::vector<pollfd> fds;
            for (int i = 0; i < m_count; ++i)
                fds.push_back(pollfd{IceGetListenConnectionNumber(m_listen[i]), POLLIN, 0});
            if (m_ice)
                fds.push_back(pollfd{IceConnectionNumber(m_ice), POLLIN, 0});
            if (poll(fds.data(), fds.size(), 100) <= 0)
                continue;
            for (int i = 0; i < m_count; ++i)
                if (fds[static_cast<size_t>(i)].revents & POLLIN) {
                    IceAcceptStatus status;
                    if (IceConn accepted = IceAcceptConnection(m_listen[i], &status))
                        m_ice = accepted;
                }
            if (m_ice && (fds.back().revents & (POLLIN | POLLHUP)) &&
                IceProcessMessages(m_ice, nullptr, nullptr) == IceProcessMessagesIOError)
                m_ice = nullptr;
        }
        return true;
    }

    SmsConn client = nullptr;
    bool registered = false;
    bool saveDone = false;
    bool interacted = false;
    bool cancelled = false;

private:
    static Bool Accept(char*) { return True; }

    static Status NewClient(SmsConn conn, SmPointer data, unsigned long* mask, SmsCallbacks* cb, char**) {
        auto* self = static_cast<SessionManager*>(data);
        self->client = conn;
        *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
                SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask | SmsSaveYourselfDoneProcMask |
                SmsCloseConnectionProcMask | SmsSetPropertiesProcMask | SmsDeletePropertiesProcMask |
                SmsGetPropertiesProcMask;
        cb->register_client = {[](SmsConn c, SmPointer d, char* previous) -> Status {
                                   std::free(previous);
                                   char* id = SmsGenerateClientID(c);
                                   SmsRegisterClientReply(c, id);
                                   std::free(id);
                                   static_cast<SessionManager*>(d)->registered = true;
                                   return 1;
                               },
                               self};
        cb->interact_request = {[](SmsConn c, SmPointer d, int) {
                                    static_cast<SessionManager*>(d)->interacted = true;
                                    SmsInteract(c);
                                },
                                self};
        cb->interact_done = {
            [](SmsConn, SmPointer d, Bool cancel) { static_cast<SessionManager*>(d)->cancelled = cancel; }, self};
        cb->save_yourself_request = {[](SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}, self};
        cb->save_yourself_phase2_request = {[](SmsConn, SmPointer) {}, self};
        cb->save_yourself_done = {[](SmsConn, SmPointer d, Bool) { static_cast<SessionManager*>(d)->saveDone = true; },
                                  self};
        cb->close_connection = {[](SmsConn c, SmPointer d, int count, char** reasons) {
                                    SmFreeReasons(count, reasons);
                                    SmsCleanUp(c);
                                    static_cast<SessionManager*>(d)->client = nullptr;
                                },
                                self};
        cb->set_properties = {[](SmsConn, SmPointer, int count, SmProp** props) {
                                  for (int i = 0; i < count; ++i)
                                      SmFreeProperty(props[i]);
                                  std::free(props);
                              },
                              self};
        cb->delete_properties = {[](SmsConn, SmPointer, int count, char** names) {
                                     for (int i = 0; i < count; ++i)
                                         std::free(names[i]);
                                     std::free(names);
                                 },
                                 self};
        cb->get_properties = {[](SmsConn c, SmPointer) { SmsReturnProperties(c, 0, nullptr); }, self};
        return 1;
    }

    int m_count = 0;
    IceListenObj* m_listen = nullptr;
    IceConn m_ice = nullptr;
    std::string m_ids;
};

class LogoutTest : public UiTest {
protected:
    testsupport::ChildTest::Environment Environment() {
        return {{"SESSION_MANAGER", m_manager.Ids()}, {"ICEAUTHORITY", m_machine.Folder() + "/ICEauthority"}};
    }
    SessionManager m_manager;
};

TEST_F(LogoutTest, TheSessionManagersLogoutAsksAndTellsTheWindows) {
    Child child("agree", Environment());
    ASSERT_TRUE(m_manager.ServeUntil([&] { return m_manager.registered; }));
    SmsSaveYourself(m_manager.client, SmSaveLocal, True, SmInteractStyleAny, False);
    ASSERT_TRUE(m_manager.ServeUntil([&] { return m_manager.saveDone; }));
    EXPECT_EQ(child.process.ReadLine(), "query 80000000");
    EXPECT_FALSE(m_manager.interacted);
    SmsDie(m_manager.client);
    m_manager.Flush();
    EXPECT_EQ(child.process.ReadLine(), "end 1");
    EXPECT_EQ(ExitCode(child.process.Wait()), 0);
}

TEST_F(LogoutTest, ARefusalCancelsTheLogout) {
    Child child("refuse", Environment());
    ASSERT_TRUE(m_manager.ServeUntil([&] { return m_manager.registered; }));
    SmsSaveYourself(m_manager.client, SmSaveLocal, True, SmInteractStyleAny, False);
    ASSERT_TRUE(m_manager.ServeUntil([&] { return m_manager.saveDone; }));
    EXPECT_EQ(child.process.ReadLine(), "query 80000000");
    EXPECT_TRUE(m_manager.interacted);
    EXPECT_TRUE(m_manager.cancelled);
    SmsShutdownCancelled(m_manager.client);
    m_manager.Flush();
    EXPECT_EQ(child.process.ReadLine(), "end 0");
    child.process.Release();
    EXPECT_EQ(child.process.ReadLine(), "alive");
    EXPECT_EQ(ExitCode(child.process.Wait()), 0);
}

} // namespace
