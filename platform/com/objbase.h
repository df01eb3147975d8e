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
#pragma once

#include "platform/base/errors.h"
#include "platform/base/types.h"

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

namespace platform::com {

// Whether the calling thread is inside an apartment (either kind), and whether OLE is initialised on it.
bool IsApartmentEntered();
bool IsOleInitialized();

} // namespace platform::com
