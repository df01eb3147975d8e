#include "app/Splash.h"

#include "app/XMLLog.h"

#include "platform/base/module.h"

#include <vector>

namespace {

// Room for the program's own path, as the window reads it.
constexpr DWORD kModulePathLength = 2048;

} // namespace

void CSplash::GetApVersion(LPCTSTR lpszFilePath, CString& strVersion) {
    // The event log names the program's version by the same rule.
    CXMLLog::GetApVersion(lpszFilePath, strVersion);
}

CString CSplash::GetVersionLine() {
    std::vector<WCHAR> path(kModulePathLength + 1, 0);
    CString version;
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), kModulePathLength);
    if (length > 0 && length < kModulePathLength)
        GetApVersion(path.data(), version);
    CString line;
    line.Format(u"%s %s", u"Version :", static_cast<LPCTSTR>(version));
    return line;
}
