// Class ids, the class registry, local servers and their clients.
#include "platform/com/objbase.h"
#include "platform/com/wire.h"

#include "platform/base/handle.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"
#include "platform/registry/registry.h"
#include "platform/system/processes.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using platform::com::wire::Reader;
using platform::com::wire::Writer;

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

std::u16string GuidText(const GUID& g) {
    OLECHAR buffer[40];
    StringFromGUID2(g, buffer, 40);
    return buffer;
}

// ---- The class registry ----------------------------------------------------------------------------------------

bool ReadDefaultValue(const std::u16string& keyPath, std::u16string& value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    platform::OwnedKey owned(key);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return false;
    std::u16string text(size / sizeof(char16_t) + 1, u'\0');
    size = static_cast<DWORD>(text.size() * sizeof(char16_t));
    if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(text.data()), &size) != ERROR_SUCCESS)
        return false;
    text.resize(std::char_traits<char16_t>::length(text.c_str()));
    value = text;
    return true;
}

// ---- Where a server listens ------------------------------------------------------------------------------------

// An abstract socket name: it goes away with the server's process, so a crashed server leaves nothing behind, and
// the machine folder is part of it, so that test machines never meet.
socklen_t ServerAddress(const CLSID& clsid, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    const std::string name = "winlayer-com-" + std::to_string(std::hash<std::string>{}(platform::machine::Folder())) +
                             "-" + platform::Utf16ToUtf8(GuidText(clsid));
    std::memcpy(addr.sun_path + 1, name.c_str(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

int ConnectToServer(const CLSID& clsid) {
    sockaddr_un addr;
    const socklen_t length = ServerAddress(clsid, addr);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// ---- Calls on the registering thread ---------------------------------------------------------------------------

constexpr UINT kRunOnThread = 0x8000 + 0x3C1; // WM_APP range: private to the layer's own window class
constexpr char16_t kWindowClass[] = u"WinLayerComServer";

// Set while this thread serves a call of a client: such calls arrive as sent messages, but they are not
// input-synchronous, and the object may call out from them.
thread_local int t_servingCall = 0;

LRESULT CALLBACK ServerWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kRunOnThread) {
        ++t_servingCall;
        (*reinterpret_cast<std::function<void()>*>(lParam))();
        --t_servingCall;
        return 1;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND CreateServerWindow() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = ServerWindowProc;
        wc.lpszClassName = kWindowClass;
        RegisterClassW(&wc);
    });
    return CreateWindowExW(0, kWindowClass, u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

// ---- A registered class factory --------------------------------------------------------------------------------

struct Connection {
    int fd = -1;
    IDispatch* object = nullptr; // lives on the registering thread
};

class Registration {
public:
    Registration(DWORD cookie, const CLSID& clsid, IClassFactory* factory)
        : m_cookie(cookie), m_clsid(clsid), m_factory(factory), m_threadId(GetCurrentThreadId()) {}
    ~Registration() { m_factory->Release(); }

    DWORD Cookie() const { return m_cookie; }
    const CLSID& Clsid() const { return m_clsid; }
    DWORD ThreadId() const { return m_threadId; }
    IClassFactory* Factory() const { return m_factory; }

    HRESULT Listen();
    // On the registering thread: stops the server thread (serving its last calls meanwhile), releases what its
    // clients still hold.
    void Stop();

private:
    void Serve();
    // Runs `work` on the registering thread; false when that thread's window is gone.
    bool OnOwnThread(const std::function<void()>& work);
    void Handle(Connection& c, const std::string& request);
    void Drop(Connection& c);

    DWORD m_cookie;
    CLSID m_clsid;
    IClassFactory* m_factory;
    DWORD m_threadId;
    HWND m_window = nullptr;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

HRESULT Registration::Listen() {
    m_window = CreateServerWindow();
    if (!m_window)
        return E_FAIL;
    sockaddr_un addr;
    const socklen_t length = ServerAddress(m_clsid, addr);
    m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0 || ::pipe2(m_wake, O_CLOEXEC) != 0)
        return E_OUTOFMEMORY;
    if (::bind(m_listen, reinterpret_cast<const sockaddr*>(&addr), length) != 0 || ::listen(m_listen, 16) != 0)
        return errno == EADDRINUSE ? CO_E_OBJISREG : E_FAIL;
    m_thread = std::thread([this] { Serve(); });
    return S_OK;
}

bool Registration::OnOwnThread(const std::function<void()>& work) {
    bool ran = false;
    std::function<void()> call = [&] {
        work();
        ran = true;
    };
    SendMessageW(m_window, kRunOnThread, 0, reinterpret_cast<LPARAM>(&call));
    return ran;
}

void Registration::Drop(Connection& c) {
    if (c.object) {
        IDispatch* object = c.object;
        c.object = nullptr;
        if (!OnOwnThread([object] { object->Release(); }))
            object->Release(); // the registering thread is in Stop, waiting for this thread: nothing else runs
    }
    ::close(c.fd);
    c.fd = -1;
}

void Registration::Handle(Connection& c, const std::string& request) {
    Reader in(request);
    Writer out;
    uint8_t op = 0;
    in.U8(op);
    switch (op) {
    case platform::com::wire::kCreate: {
        HRESULT hr = E_UNEXPECTED;
        if (!c.object) {
            IDispatch* object = nullptr;
            if (!OnOwnThread([&] {
                    hr = m_factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object));
                }))
                hr = RPC_E_SERVERFAULT;
            c.object = SUCCEEDED(hr) ? object : nullptr;
            if (SUCCEEDED(hr) && !object)
                hr = E_NOINTERFACE;
        }
        out.I32(hr);
        break;
    }
    case platform::com::wire::kInvoke: {
        int32_t dispid = 0;
        uint16_t flags = 0;
        uint32_t count = 0;
        HRESULT hr = S_OK;
        std::vector<VARIANT> args;
        std::vector<DISPID> named;
        if (!in.I32(dispid) || !in.U16(flags) || !in.U32(count) || count > 64)
            hr = E_INVALIDARG;
        for (uint32_t i = 0; SUCCEEDED(hr) && i < count; ++i) {
            VARIANT v;
            if (!in.Variant(v))
                hr = DISP_E_BADVARTYPE;
            else
                args.push_back(v);
        }
        uint32_t namedCount = 0;
        if (SUCCEEDED(hr) && (!in.U32(namedCount) || namedCount > count))
            hr = E_INVALIDARG;
        for (uint32_t i = 0; SUCCEEDED(hr) && i < namedCount; ++i) {
            int32_t id = 0;
            if (!in.I32(id))
                hr = E_INVALIDARG;
            named.push_back(id);
        }
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO info{};
        UINT argErr = 0;
        if (SUCCEEDED(hr) && !c.object)
            hr = E_UNEXPECTED;
        if (SUCCEEDED(hr)) {
            DISPPARAMS params{args.data(), named.data(), count, namedCount};
            IDispatch* object = c.object;
            if (!OnOwnThread([&] {
                    hr = object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result, &info, &argErr);
                }))
                hr = RPC_E_SERVERFAULT;
        }
        for (VARIANT& v : args)
            VariantClear(&v);
        Writer body;
        HRESULT resultHr = body.Variant(result);
        out.I32(SUCCEEDED(resultHr) ? hr : resultHr);
        if (SUCCEEDED(resultHr))
            out.Raw(body.Data().data(), body.Data().size());
        else
            out.U16(VT_EMPTY);
        out.U32(argErr);
        out.I32(info.scode);
        out.Text(info.bstrDescription ? info.bstrDescription : u"", SysStringLen(info.bstrDescription));
        VariantClear(&result);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        break;
    }
    case platform::com::wire::kIdsOfNames: {
        uint32_t count = 0;
        HRESULT hr = S_OK;
        std::vector<std::u16string> names;
        if (!in.U32(count) || count == 0 || count > 64)
            hr = E_INVALIDARG;
        for (uint32_t i = 0; SUCCEEDED(hr) && i < count; ++i) {
            std::u16string name;
            if (!in.Text(name))
                hr = E_INVALIDARG;
            names.push_back(name);
        }
        std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
        if (SUCCEEDED(hr) && !c.object)
            hr = E_UNEXPECTED;
        if (SUCCEEDED(hr)) {
            std::vector<LPOLESTR> pointers;
            for (auto& n : names)
                pointers.push_back(n.data());
            IDispatch* object = c.object;
            if (!OnOwnThread([&] {
                    hr = object->GetIDsOfNames(IID_NULL, pointers.data(), count, LOCALE_USER_DEFAULT, ids.data());
                }))
                hr = RPC_E_SERVERFAULT;
        }
        out.I32(hr);
        out.U32(static_cast<uint32_t>(ids.size()));
        for (DISPID id : ids)
            out.I32(id);
        break;
    }
    default:
        out.I32(E_INVALIDARG);
        break;
    }
    if (!platform::com::wire::WriteFrame(c.fd, out.Data()))
        Drop(c);
}

void Registration::Serve() {
    std::vector<Connection> connections;
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({m_wake[0], POLLIN, 0});
        fds.push_back({m_listen, POLLIN, 0});
        for (const Connection& c : connections)
            fds.push_back({c.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents)
            break;
        for (size_t i = 2; i < fds.size(); ++i) {
            Connection& c = connections[i - 2];
            if (!fds[i].revents)
                continue;
            std::string request;
            bool timedOut = false;
            // A client that began a request sends the rest at once; one that stalls half-way is dropped.
            if (!platform::com::wire::ReadFrame(c.fd, request, 5000, timedOut))
                Drop(c);
            else
                Handle(c, request);
        }
        std::erase_if(connections, [](const Connection& c) { return c.fd < 0; });
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                timeval limit{5, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
                connections.push_back({fd, nullptr});
            }
        }
    }
    for (Connection& c : connections)
        Drop(c);
    m_done = true;
}

void Registration::Stop() {
    if (m_thread.joinable()) {
        m_stopping = true;
        const char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wake[1], &byte, 1);
        // The server thread may be sending a call to this thread right now: serve it while waiting.
        while (!m_done) {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        m_thread.join();
    }
    if (m_listen >= 0)
        ::close(m_listen);
    for (int fd : m_wake)
        if (fd >= 0)
            ::close(fd);
    m_listen = m_wake[0] = m_wake[1] = -1;
    if (m_window)
        DestroyWindow(m_window);
    m_window = nullptr;
}

struct Registry {
    std::mutex lock;
    DWORD nextCookie = 1;
    std::vector<std::unique_ptr<Registration>> entries;
};

Registry& Registrations() {
    static Registry* registry = new Registry; // lives as long as the process: servers may outlive static clean-up
    return *registry;
}

// ---- The client's object -----------------------------------------------------------------------------------------

class RemoteDispatch final : public IDispatch {
public:
    explicit RemoteDispatch(int fd) : m_fd(fd) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        const ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info)
            *info = nullptr;
        return DISP_E_BADINDEX_HR;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* info,
                   UINT* argErr) override;

    // The first request on a new connection.
    HRESULT Create(const CLSID& clsid) {
        Writer out;
        out.U8(platform::com::wire::kCreate);
        out.Raw(&clsid, sizeof clsid);
        std::string answer;
        HRESULT hr = Transact(out.Data(), answer);
        if (FAILED(hr))
            return hr;
        Reader in(answer);
        int32_t created = E_UNEXPECTED;
        in.I32(created);
        return created;
    }

private:
    static constexpr HRESULT DISP_E_BADINDEX_HR = static_cast<HRESULT>(0x8002000Bu);
    static constexpr int kCallLimitMs = 60000;

    ~RemoteDispatch() {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    HRESULT Transact(const std::string& request, std::string& answer) {
        std::lock_guard guard(m_lock);
        if (m_fd < 0)
            return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
        bool timedOut = false;
        if (platform::com::wire::WriteFrame(m_fd, request) &&
            platform::com::wire::ReadFrame(m_fd, answer, kCallLimitMs, timedOut))
            return S_OK;
        // The connection is no good after a failure: the server is gone, or its answer may still come and would
        // be taken for the answer of the next call.
        ::close(m_fd);
        m_fd = -1;
        return timedOut ? HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) : HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    }

    std::atomic<ULONG> m_refs{1};
    std::mutex m_lock;
    int m_fd;
};

HRESULT RemoteDispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids || count == 0)
        return E_INVALIDARG;
    Writer out;
    out.U8(platform::com::wire::kIdsOfNames);
    out.U32(count);
    for (UINT i = 0; i < count; ++i)
        out.Text(names[i], names[i] ? std::char_traits<char16_t>::length(names[i]) : 0);
    std::string answer;
    HRESULT hr = Transact(out.Data(), answer);
    if (FAILED(hr))
        return hr;
    Reader in(answer);
    int32_t result = E_UNEXPECTED;
    uint32_t n = 0;
    if (!in.I32(result) || !in.U32(n) || n != count)
        return RPC_E_SERVERFAULT;
    for (UINT i = 0; i < count; ++i) {
        int32_t id = DISPID_UNKNOWN;
        in.I32(id);
        ids[i] = id;
    }
    return result;
}

HRESULT RemoteDispatch::Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* info, UINT* argErr) {
    if (InSendMessage() && !t_servingCall)
        return RPC_E_CANTCALLOUT_ININPUTSYNCCALL;
    Writer out;
    out.U8(platform::com::wire::kInvoke);
    out.I32(dispid);
    out.U16(flags);
    const UINT count = params ? params->cArgs : 0;
    const UINT namedCount = params ? params->cNamedArgs : 0;
    out.U32(count);
    for (UINT i = 0; i < count; ++i) {
        HRESULT hr = out.Variant(params->rgvarg[i]);
        if (FAILED(hr)) {
            if (argErr)
                *argErr = i;
            return hr;
        }
    }
    out.U32(namedCount);
    for (UINT i = 0; i < namedCount; ++i)
        out.I32(params->rgdispidNamedArgs[i]);
    std::string answer;
    HRESULT hr = Transact(out.Data(), answer);
    if (FAILED(hr))
        return hr;
    Reader in(answer);
    int32_t called = E_UNEXPECTED;
    VARIANT value;
    uint32_t badArg = 0;
    int32_t scode = 0;
    std::u16string description;
    if (!in.I32(called) || !in.Variant(value))
        return RPC_E_SERVERFAULT;
    if (!in.U32(badArg) || !in.I32(scode) || !in.Text(description)) {
        VariantClear(&value);
        return RPC_E_SERVERFAULT;
    }
    if (result) {
        VariantClear(result);
        *result = value;
    } else {
        VariantClear(&value);
    }
    if (argErr)
        *argErr = badArg;
    if (info && called == DISP_E_EXCEPTION) {
        std::memset(info, 0, sizeof *info);
        info->scode = scode;
        info->bstrDescription = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
    }
    return called;
}

// ---- Starting a server -------------------------------------------------------------------------------------------

HRESULT StartServer(const CLSID& clsid, int& fd) {
    std::u16string command;
    if (!ReadDefaultValue(u"CLSID\\" + GuidText(clsid) + u"\\LocalServer32", command) || command.empty())
        return REGDB_E_CLASSNOTREG;
    command += u" -Embedding";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return CO_E_SERVER_EXEC_FAILURE;
    platform::OwnedHandle processHandle(process.hProcess);
    platform::OwnedHandle threadHandle(process.hThread);
    // The server has registered its factory when its socket takes connections; a server that ends first, or
    // takes too long, has failed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        fd = ConnectToServer(clsid);
        if (fd >= 0)
            return S_OK;
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
            // It may have handed over to a server that was already running.
            fd = ConnectToServer(clsid);
            return fd >= 0 ? S_OK : CO_E_SERVER_EXEC_FAILURE;
        }
        if (std::chrono::steady_clock::now() > deadline)
            return CO_E_SERVER_EXEC_FAILURE;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    if (!text || !clsid)
        return E_INVALIDARG;
    const std::u16string_view s(text);
    static constexpr size_t kDashes[] = {9, 14, 19, 24};
    if (s.size() != 38 || s.front() != u'{' || s.back() != u'}')
        return CO_E_CLASSSTRING;
    std::vector<int> nibbles;
    for (size_t i = 1; i < 37; ++i) {
        if (std::find(std::begin(kDashes), std::end(kDashes), i) != std::end(kDashes)) {
            if (s[i] != u'-')
                return CO_E_CLASSSTRING;
            continue;
        }
        const int d = HexDigit(s[i]);
        if (d < 0)
            return CO_E_CLASSSTRING;
        nibbles.push_back(d);
    }
    auto take = [&](size_t from, size_t count) {
        uint32_t v = 0;
        for (size_t i = 0; i < count; ++i)
            v = v << 4 | static_cast<uint32_t>(nibbles[from + i]);
        return v;
    };
    clsid->Data1 = take(0, 8);
    clsid->Data2 = static_cast<WORD>(take(8, 4));
    clsid->Data3 = static_cast<WORD>(take(12, 4));
    for (size_t i = 0; i < 8; ++i)
        clsid->Data4[i] = static_cast<BYTE>(take(16 + 2 * i, 2));
    return S_OK;
}

int StringFromGUID2(REFGUID guid, LPOLESTR text, int size) {
    if (!text || size < 39)
        return 0;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    for (int i = 0; i < 39; ++i)
        text[i] = static_cast<OLECHAR>(buffer[i]);
    return 39;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
    if (!progId || !clsid)
        return E_INVALIDARG;
    if (progId[0] == u'{')
        return CLSIDFromString(progId, clsid);
    std::u16string text;
    if (!ReadDefaultValue(std::u16string(progId) + u"\\CLSID", text))
        return CO_E_CLASSSTRING;
    return CLSIDFromString(text.c_str(), clsid);
}

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* unknown, DWORD clsContext, DWORD, LPDWORD cookie) {
    if (!unknown || !cookie)
        return E_INVALIDARG;
    *cookie = 0;
    if (!platform::com::IsApartmentEntered())
        return CO_E_NOTINITIALIZED;
    IClassFactory* factory = nullptr;
    if (FAILED(unknown->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory))) || !factory)
        return E_NOINTERFACE;
    Registry& registry = Registrations();
    std::unique_ptr<Registration> entry;
    {
        std::lock_guard guard(registry.lock);
        for (const auto& e : registry.entries)
            if (e->Clsid() == clsid) {
                factory->Release();
                return CO_E_OBJISREG;
            }
        entry = std::make_unique<Registration>(registry.nextCookie++, clsid, factory);
    }
    if (clsContext & CLSCTX_LOCAL_SERVER) {
        const HRESULT hr = entry->Listen();
        if (FAILED(hr)) {
            entry->Stop();
            return hr;
        }
    }
    *cookie = entry->Cookie();
    std::lock_guard guard(registry.lock);
    registry.entries.push_back(std::move(entry));
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
    Registry& registry = Registrations();
    std::unique_ptr<Registration> entry;
    {
        std::lock_guard guard(registry.lock);
        auto it = std::find_if(registry.entries.begin(), registry.entries.end(),
                               [&](const auto& e) { return e->Cookie() == cookie; });
        if (it == registry.entries.end())
            return CO_E_OBJNOTREG;
        if ((*it)->ThreadId() != GetCurrentThreadId())
            return RPC_E_WRONG_THREAD;
        entry = std::move(*it);
        registry.entries.erase(it);
    }
    entry->Stop();
    return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID iid, LPVOID* object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!platform::com::IsApartmentEntered())
        return CO_E_NOTINITIALIZED;
    // A factory this thread registered serves it directly.
    {
        IClassFactory* factory = nullptr;
        Registry& registry = Registrations();
        {
            std::lock_guard guard(registry.lock);
            for (const auto& e : registry.entries)
                if (e->Clsid() == clsid && e->ThreadId() == GetCurrentThreadId()) {
                    factory = e->Factory();
                    factory->AddRef();
                }
        }
        if (factory) {
            const HRESULT hr = factory->CreateInstance(nullptr, iid, object);
            factory->Release();
            return hr;
        }
    }
    if (!(clsContext & CLSCTX_LOCAL_SERVER))
        return REGDB_E_CLASSNOTREG;
    // A server that is ending still takes connections until its process is gone, and then drops them unanswered:
    // the creation is made again, on the next server, for a while.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        int fd = ConnectToServer(clsid);
        if (fd < 0) {
            const HRESULT hr = StartServer(clsid, fd);
            if (FAILED(hr))
                return hr;
        }
        auto* remote = new RemoteDispatch(fd);
        HRESULT hr = remote->Create(clsid);
        if (SUCCEEDED(hr))
            hr = remote->QueryInterface(iid, object);
        remote->Release();
        if (hr != HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) || std::chrono::steady_clock::now() > deadline)
            return hr;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
