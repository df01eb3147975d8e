#include "app/MenuToolBar.h"

#include "platform/afx/ModuleState.h"
#include "platform/gdi/wingdi.h"
#include "platform/res/resources.h"

#include <vector>

namespace {

// A resource of the current resource module, else of the program's own.
HRSRC FindInModules(LPCWSTR name, LPCWSTR type, HINSTANCE& module) {
    module = AfxGetResourceHandle();
    if (HRSRC found = ::FindResourceW(module, name, type))
        return found;
    module = AfxGetInstanceHandle();
    return ::FindResourceW(module, name, type);
}

} // namespace

BOOL CMenuToolBar::LoadToolBarResource(UINT nID) {
    HINSTANCE module = nullptr;
    HRSRC resource = FindInModules(MAKEINTRESOURCEW(nID), RT_TOOLBAR, module);
    if (!resource)
        return FALSE;
    HGLOBAL data = ::LoadResource(module, resource);
    const auto* words = data ? static_cast<const WORD*>(::LockResource(data)) : nullptr;
    const DWORD size = ::SizeofResource(module, resource);
    // WORD version, image width, image height, button count, then the buttons' command ids.
    if (!words || size < 4 * sizeof(WORD) || size < (4u + words[3]) * sizeof(WORD))
        return FALSE;
    const std::vector<UINT> ids(words + 4, words + 4 + words[3]);
    if (!SetButtons(ids.data(), static_cast<int>(ids.size())))
        return FALSE;
    SetSizes(SIZE{words[1] + 7, words[2] + 7}, SIZE{words[1], words[2]});
    imageWidth = words[1];
    imageHeight = words[2];
    HINSTANCE bitmapModule = nullptr;
    HRSRC bitmapResource = FindInModules(MAKEINTRESOURCEW(nID), RT_BITMAP, bitmapModule);
    HBITMAP bitmap = bitmapResource ? AfxLoadSysColorBitmap(bitmapModule, bitmapResource) : nullptr;
    if (!bitmap)
        return FALSE;
    if (!SetBitmap(bitmap)) {
        ::DeleteObject(bitmap);
        return FALSE;
    }
    m_hInstImageWell = bitmapModule;
    m_hRsrcImageWell = bitmapResource;
    return TRUE;
}
