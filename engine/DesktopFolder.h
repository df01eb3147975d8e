// CDesktopFolder: one reference to the process's desktop shell folder.
//
// The desktop folder pointer is shared by the whole process: the first holder takes it from the shell and every
// further one adds a reference; the last release clears it. One holder lives from static initialisation to exit,
// so the desktop folder stays for the whole run. GUI thread only.
#pragma once

#include "platform/shell/shellfolder.h"

class CDesktopFolder {
public:
    CDesktopFolder();
    ~CDesktopFolder();
    CDesktopFolder(const CDesktopFolder&) = delete;
    CDesktopFolder& operator=(const CDesktopFolder&) = delete;

    IShellFolder* Get() const { return s_desktop; }
    IShellFolder* operator->() const { return s_desktop; }
    // Gives up this holder's reference early (once).
    void Release();

private:
    bool m_held = false;
    static inline IShellFolder* s_desktop = nullptr;
};
