#include "platform/com/objbase.h"

namespace platform::com {
namespace {

// The calling thread's apartment: how often it entered, which kind, and OLE's own count on top of it.
struct Apartment {
    int entries = 0;
    bool multithreaded = false;
    int oleEntries = 0;
};

thread_local Apartment t_apartment;

constexpr DWORD kKnownFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY | COINIT_MULTITHREADED;

} // namespace

bool IsApartmentEntered() {
    return t_apartment.entries > 0;
}

bool IsOleInitialized() {
    return t_apartment.oleEntries > 0;
}

} // namespace platform::com

using platform::com::t_apartment;

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
    if (reserved || (coInit & ~platform::com::kKnownFlags))
        return E_INVALIDARG;
    const bool multithreaded = (coInit & COINIT_APARTMENTTHREADED) == 0;
    if (t_apartment.entries > 0) {
        if (t_apartment.multithreaded != multithreaded)
            return RPC_E_CHANGED_MODE;
        ++t_apartment.entries;
        return S_FALSE;
    }
    t_apartment.entries = 1;
    t_apartment.multithreaded = multithreaded;
    return S_OK;
}

HRESULT CoInitialize(LPVOID reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() {
    // An unbalanced call outside any apartment does nothing, as on Windows.
    if (t_apartment.entries == 0)
        return;
    if (--t_apartment.entries == 0)
        t_apartment = platform::com::Apartment{};
}

HRESULT OleInitialize(LPVOID reserved) {
    if (reserved)
        return E_INVALIDARG;
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr))
        return hr;
    // OLE answers for its own count: a thread that entered its apartment before still gets S_OK for OLE's first
    // initialisation.
    return t_apartment.oleEntries++ == 0 ? S_OK : S_FALSE;
}

void OleUninitialize() {
    if (t_apartment.oleEntries == 0)
        return;
    --t_apartment.oleEntries;
    CoUninitialize();
}
