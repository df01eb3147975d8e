#include "engine/DesktopFolder.h"

// The holder that keeps the desktop folder for the whole run.
static CDesktopFolder s_processDesktop;

CDesktopFolder::CDesktopFolder() {
    if (s_desktop) {
        s_desktop->AddRef();
        m_held = true;
    } else if (SUCCEEDED(SHGetDesktopFolder(&s_desktop))) {
        m_held = true;
    } else {
        s_desktop = nullptr;
    }
}

CDesktopFolder::~CDesktopFolder() {
    Release();
}

void CDesktopFolder::Release() {
    if (!m_held || !s_desktop)
        return;
    m_held = false;
    if (s_desktop->Release() == 0)
        s_desktop = nullptr;
}
