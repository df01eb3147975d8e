#include "platform/afx/ModuleState.h"

#include "platform/base/module.h"

#include <atomic>

namespace {

std::atomic<HINSTANCE> g_resourceHandle{nullptr};

} // namespace

HINSTANCE AfxGetInstanceHandle() {
    return GetModuleHandleW(nullptr);
}

HINSTANCE AfxGetResourceHandle() {
    HINSTANCE handle = g_resourceHandle.load();
    return handle ? handle : AfxGetInstanceHandle();
}

void AfxSetResourceHandle(HINSTANCE hInstResource) {
    g_resourceHandle.store(hInstResource);
}

HINSTANCE AfxFindResourceHandle(LPCTSTR, LPCTSTR) {
    return AfxGetResourceHandle();
}
