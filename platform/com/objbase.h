// The apartment of a thread: CoInitializeEx, CoUninitialize, OleInitialize, OleUninitialize.
//
// Stands in for the start of COM and OLE on a thread. The same as Windows: a thread enters a single-threaded
// (COINIT_APARTMENTTHREADED) or the multithreaded apartment; the first call answers S_OK, each further call of the
// same kind S_FALSE, a call of the other kind RPC_E_CHANGED_MODE; every successful call (S_OK or S_FALSE) is
// balanced by one CoUninitialize, and the thread leaves its apartment with the last one. OleInitialize enters a
// single-threaded apartment and counts OLE's own initialisations on top of it; OleUninitialize undoes one of each.
//
// Where it differs: the state is kept per thread in the layer and nothing is torn down when a thread ends without
// uninitialising; the COM services that need an apartment ask IsApartmentEntered.
//
// Classes and activation. The same as Windows: a class is registered in HKEY_CLASSES_ROOT ("CLSID\{...}" with
// "LocalServer32" and "ProgID", and "<ProgID>\CLSID"); CLSIDFromProgID reads that; a server registers its class
// factory with CoRegisterClassObject, and CoCreateInstance with CLSCTX_LOCAL_SERVER reaches a running server or
// starts the registered program with "-Embedding" and waits until it has registered its factory. Calls into the
// server's objects arrive on the thread that registered the factory, through its message queue, so an object of a
// single-threaded apartment is only ever entered by its own thread; that thread must take messages (a message
// loop, a modal dialog) for calls to be served.
//
// Where it differs: a server and its clients meet over a Unix socket named after the machine folder and the class
// id; only IDispatch crosses processes, and only VARIANTs of plain values (see oleauto.h). A client's references are
// released when its process ends or its connection closes. A server that dies, or never registers within 30
// seconds of its start, gives the client an error (HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) for a call, CO_E_SERVER_EXEC_FAILURE
// for the start), never a hang; a call to another process from a thread that is handling a message sent by another
// thread (an input-synchronous call) is refused with RPC_E_CANTCALLOUT_ININPUTSYNCCALL, as on Windows; a call that gets no answer within 60 seconds fails with HRESULT_FROM_WIN32(RPC_S_CALL_FAILED).
#pragma once

#include "platform/base/errors.h"
#include "platform/base/types.h"
#include "platform/com/oleauto.h"

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;
constexpr DWORD COINIT_SPEED_OVER_MEMORY = 0x8;

constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106u);

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();

HRESULT OleInitialize(LPVOID reserved);
void OleUninitialize();

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

constexpr DWORD REGCLS_SINGLEUSE = 0;
constexpr DWORD REGCLS_MULTIPLEUSE = 1;
constexpr DWORD REGCLS_MULTI_SEPARATE = 2;

constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3u);
constexpr HRESULT CO_E_OBJISREG = static_cast<HRESULT>(0x800401FBu);
constexpr HRESULT CO_E_OBJNOTREG = static_cast<HRESULT>(0x800401FCu);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = static_cast<HRESULT>(0x80080005u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT REGDB_E_WRITEREGDB = static_cast<HRESULT>(0x80040151u);
constexpr DWORD RPC_S_SERVER_UNAVAILABLE = 1722;
constexpr DWORD RPC_S_CALL_FAILED = 1726;
constexpr HRESULT RPC_E_DISCONNECTED = static_cast<HRESULT>(0x80010108u);
constexpr HRESULT RPC_E_CANTCALLOUT_ININPUTSYNCCALL = static_cast<HRESULT>(0x8001010Du);
constexpr HRESULT RPC_E_SERVERFAULT = static_cast<HRESULT>(0x80010105u);
constexpr HRESULT RPC_E_WRONG_THREAD = static_cast<HRESULT>(0x8001010Eu);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in either case of letters; CO_E_CLASSSTRING for anything else.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
// Writes the braced form with capital letters; answers the characters written with the terminator, 0 when `size`
// is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR text, int size);
// The class id registered for a ProgID, or for a braced class id text itself; CO_E_CLASSSTRING when neither.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* unknown, DWORD clsContext, DWORD flags, LPDWORD cookie);
HRESULT CoRevokeClassObject(DWORD cookie);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID iid, LPVOID* object);

namespace platform::com {

// Whether the calling thread is inside an apartment (either kind), and whether OLE is initialised on it.
bool IsApartmentEntered();
bool IsOleInitialized();

} // namespace platform::com
