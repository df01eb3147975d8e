// Running verbs on items: programs by themselves, everything else with the application its MIME type names.
#include "platform/shell/shellexecute.h"
#include "platform/shell/shell_internal.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/system/processes.h"
#include "platform/ui/msgbox.h"

#include <ctime>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace platform::shell {
namespace {

struct ListDeleter {
    void operator()(ITEMIDLIST* p) const { ILFree(p); }
};

std::string HostOf(const std::u16string& path) {
    auto host = platform::fs::ToHost(path.c_str());
    if (!host || host->kind != platform::fs::PathKind::File)
        return {};
    return host->path;
}

std::u16string ParentOf(const std::u16string& path) {
    const size_t slash = path.find_last_of(u'\\');
    if (slash == std::u16string::npos)
        return {};
    std::u16string parent = path.substr(0, slash);
    if (parent.size() == 2 && parent[1] == u':')
        parent += u'\\';
    return parent;
}

DWORD OpenWithDefault(const std::u16string& path, bool folder) {
    const std::string host = HostOf(path);
    if (host.empty())
        return ERROR_FILE_NOT_FOUND;
    const std::u16string name = path.substr(path.find_last_of(u'\\') + 1);
    const std::vector<DesktopApp> apps = AppsForMimeType(MimeTypeOf(name, folder));
    if (apps.empty())
        return ERROR_NO_ASSOCIATION;
    const std::string folderHost = folder ? host : host.substr(0, host.find_last_of('/'));
    return LaunchApp(apps.front(), {host}, folderHost, nullptr);
}

// The scheme of a URL ("https" of "https://example.org"), lower case; empty for anything else. A drive letter
// ("C:") is not a scheme: schemes are at least two characters long.
std::string UrlScheme(const std::u16string& text) {
    const size_t colon = text.find(u':');
    if (colon == std::u16string::npos || colon < 2 || colon + 1 == text.size())
        return {};
    std::string scheme;
    for (size_t i = 0; i < colon; ++i) {
        const char16_t c = text[i];
        const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        const bool other = (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
        if (!letter && !(i > 0 && other))
            return {};
        scheme += static_cast<char>(letter && c <= u'Z' ? c - u'A' + u'a' : c);
    }
    return scheme;
}

// Opens a URL with the desktop's handler of its scheme.
DWORD OpenUrl(const std::u16string& url, const std::string& scheme, const std::u16string& verb, HANDLE* process) {
    if (process)
        *process = nullptr;
    if (!verb.empty() && !EqualNoCase(verb, u"open"))
        return ERROR_NO_ASSOCIATION;
    const std::vector<DesktopApp> apps = AppsForMimeType("x-scheme-handler/" + scheme);
    if (apps.empty())
        return ERROR_NO_ASSOCIATION;
    return LaunchApp(apps.front(), {Utf16ToUtf8(url)}, {}, process);
}

std::u16string QuoteIfBlank(const std::u16string& s) {
    return s.find_first_of(u" \t") == std::u16string::npos ? s : u"\"" + s + u"\"";
}

} // namespace

DWORD ExecuteItem(const Place& place, const std::u16string& verb, const std::u16string& parameters,
                  const std::u16string& directory, HWND owner, HANDLE* process) {
    if (process)
        *process = nullptr;
    if (!place.valid || place.path.empty())
        return ERROR_FILE_NOT_FOUND;
    const DWORD attributes = GetFileAttributesW(place.path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_PATH_NOT_FOUND ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (EqualNoCase(verb, u"properties")) {
        ShowProperties(place, owner);
        return ERROR_SUCCESS;
    }
    if (EqualNoCase(verb, u"opencontaining")) {
        const std::u16string parent = ParentOf(place.path);
        return parent.empty() ? ERROR_PATH_NOT_FOUND : OpenWithDefault(parent, true);
    }
    if (!verb.empty() && !EqualNoCase(verb, u"open") && !EqualNoCase(verb, u"explore"))
        return ERROR_NO_ASSOCIATION;
    if (folder)
        return OpenWithDefault(place.path, true);
    const std::string host = HostOf(place.path);
    struct stat info {};
    if (!host.empty() && stat(host.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(host.c_str(), X_OK) == 0) {
        std::u16string commandLine = QuoteIfBlank(place.path);
        if (!parameters.empty())
            commandLine += u' ' + parameters;
        std::vector<char16_t> buffer(commandLine.begin(), commandLine.end());
        buffer.push_back(0);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(place.path.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            directory.empty() ? nullptr : directory.c_str(), &si, &pi))
            return GetLastError();
        CloseHandle(pi.hThread);
        if (process)
            *process = pi.hProcess;
        else
            CloseHandle(pi.hProcess);
        return ERROR_SUCCESS;
    }
    const std::u16string name = place.path.substr(place.path.find_last_of(u'\\') + 1);
    const std::vector<DesktopApp> apps = AppsForMimeType(MimeTypeOf(name, false));
    if (apps.empty())
        return ERROR_NO_ASSOCIATION;
    return LaunchApp(apps.front(), {host}, host.substr(0, host.find_last_of('/')), process);
}

void ShowProperties(const Place& place, HWND owner) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const bool found = GetFileAttributesExW(place.path.c_str(), GetFileExInfoStandard, &data) != FALSE;
    const bool folder = found && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    const std::u16string name = place.path.substr(place.path.find_last_of(u'\\') + 1);
    std::u16string text = u"Name: " + (name.empty() ? place.path : name) + u"\r\n";
    text += u"Type: " + (folder ? std::u16string(u"File folder") : Utf8ToUtf16(MimeTypeOf(name, false))) + u"\r\n";
    text += u"Location: " + ParentOf(place.path) + u"\r\n";
    if (found && !folder) {
        const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        text += u"Size: " + Utf8ToUtf16(std::to_string(size)) + u" bytes\r\n";
    }
    if (found) {
        FILETIME local{};
        SYSTEMTIME st{};
        FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
        FileTimeToSystemTime(&local, &st);
        char when[64];
        std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
                      st.wMinute);
        text += u"Modified: " + Utf8ToUtf16(when);
    }
    MessageBoxW(owner, text.c_str(), u"Properties", MB_OK | MB_ICONINFORMATION);
}

} // namespace platform::shell

using namespace platform::shell;

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) {
    if (!info || info->cbSize < sizeof(SHELLEXECUTEINFOW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->hProcess = nullptr;
    Place place;
    std::string scheme;
    if (!((info->fMask & SEE_MASK_IDLIST) && info->lpIDList) && info->lpFile)
        scheme = UrlScheme(info->lpFile);
    if (!scheme.empty() && scheme != "file") {
        // A URL opens with the desktop's handler of its scheme (the browser for web addresses).
    } else if ((info->fMask & SEE_MASK_IDLIST) && info->lpIDList) {
        place = Resolve(static_cast<PCIDLIST_ABSOLUTE>(info->lpIDList));
    } else if (info->lpFile && *info->lpFile) {
        std::u16string path = info->lpFile;
        if (path.size() > 2 && path.front() == u'"' && path.back() == u'"')
            path = path.substr(1, path.size() - 2);
        if (path.find_first_of(u"\\/:") == std::u16string::npos && info->lpDirectory && *info->lpDirectory)
            path = JoinPath(info->lpDirectory, path);
        auto items = ItemsOfPath(platform::fs::NormalizeWindowsPath(path), nullptr);
        if (items) {
            std::unique_ptr<ITEMIDLIST, ListDeleter> list(MakeList(*items));
            place = Resolve(list.get());
        } else {
            place.valid = true;
            place.path = platform::fs::NormalizeWindowsPath(path);
        }
    }
    // Programs here carry no ".exe": a program named with it is the file without it, as CreateProcessW finds it.
    if (place.valid && place.path.size() > 4 && EqualNoCase(place.path.substr(place.path.size() - 4), u".exe") &&
        GetFileAttributesW(place.path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const std::u16string bare = place.path.substr(0, place.path.size() - 4);
        if (GetFileAttributesW(bare.c_str()) != INVALID_FILE_ATTRIBUTES)
            place.path = bare;
    }
    HANDLE process = nullptr;
    const DWORD error =
        !scheme.empty() && scheme != "file"
            ? OpenUrl(info->lpFile, scheme, info->lpVerb ? info->lpVerb : u"",
                      (info->fMask & SEE_MASK_NOCLOSEPROCESS) ? &process : nullptr)
            : ExecuteItem(place, info->lpVerb ? info->lpVerb : u"", info->lpParameters ? info->lpParameters : u"",
                    info->lpDirectory ? info->lpDirectory : u"", info->hwnd,
                    (info->fMask & SEE_MASK_NOCLOSEPROCESS) ? &process : nullptr);
    if (error != ERROR_SUCCESS) {
        int code = SE_ERR_NOASSOC;
        if (error == ERROR_FILE_NOT_FOUND)
            code = SE_ERR_FNF;
        else if (error == ERROR_PATH_NOT_FOUND)
            code = SE_ERR_PNF;
        else if (error == ERROR_ACCESS_DENIED)
            code = SE_ERR_ACCESSDENIED;
        else if (error == ERROR_NOT_ENOUGH_MEMORY)
            code = SE_ERR_OOM;
        info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(code));
        SetLastError(error);
        return FALSE;
    }
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
    info->hProcess = process;
    return TRUE;
}

HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters, LPCWSTR lpDirectory,
                        INT nShowCmd) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.hwnd = hwnd;
    info.lpVerb = lpOperation;
    info.lpFile = lpFile;
    info.lpParameters = lpParameters;
    info.lpDirectory = lpDirectory;
    info.nShow = nShowCmd;
    ShellExecuteExW(&info);
    return info.hInstApp;
}
