// Parsing Windows paths: drive letters, shares, devices and the "\\?\" forms, "." and "..", the current folder
// and full path names.

#include "platform/fs/paths.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/fs/paths_internal.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <sys/stat.h>

namespace platform::fs {
namespace {

constexpr size_t kMaxPathLength = 32767;

std::mutex g_cwdMutex;
Parsed& CurrentDirectory() {
    static Parsed cwd; // C:\ until the program sets another
    return cwd;
}

bool StartsWith(std::u16string_view s, std::u16string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

} // namespace
} // namespace platform::fs

namespace platform::fs {

WCHAR UpperLetter(WCHAR c) {
    return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - u'a' + u'A') : c;
}

} // namespace platform::fs

namespace platform::fs {
namespace {

bool IsLetter(WCHAR c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

void AppendComponents(std::vector<std::u16string>& out, std::u16string_view rest) {
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find(u'\\', start);
        if (end == std::u16string_view::npos)
            end = rest.size();
        std::u16string_view comp = rest.substr(start, end - start);
        if (comp.empty() || comp == u".") {
            // nothing
        } else if (comp == u"..") {
            if (!out.empty())
                out.pop_back();
        } else {
            out.emplace_back(comp);
        }
        start = end + 1;
    }
}

} // namespace
} // namespace platform::fs

namespace platform::fs {

std::optional<Parsed> Parse(LPCWSTR input, DWORD& error) {
    if (!input || !*input) {
        error = ERROR_INVALID_NAME;
        return std::nullopt;
    }
    std::u16string s(input);
    if (s.size() > kMaxPathLength) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return std::nullopt;
    }
    std::replace(s.begin(), s.end(), u'/', u'\\');
    if (StartsWith(s, u"\\\\?\\") || StartsWith(s, u"\\??\\")) {
        s.erase(0, 4);
        if (s.size() >= 4 && platform::EqualsNoCase(std::u16string_view(s).substr(0, 4), u"UNC\\")) {
            s = u"\\\\" + s.substr(4);
        } else if (!(s.size() >= 2 && IsLetter(s[0]) && s[1] == u':')) {
            // Any other name there is one of the system's own: a device interface or a volume name
            // ("\\?\Volume{...}\"), opened as a device.
            while (!s.empty() && s.back() == u'\\')
                s.pop_back();
            if (s.empty() || s.find(u'\\') != std::u16string::npos) {
                error = s.empty() ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND;
                return std::nullopt;
            }
            Parsed p;
            p.kind = Parsed::Device;
            p.device = s;
            return p;
        }
    } else if (StartsWith(s, u"\\\\.\\")) {
        std::u16string rest = s.substr(4);
        // "\\.\C:\folder" reaches a file through the device namespace; "\\.\C:" and "\\.\NAME" are devices.
        if (!(rest.size() > 3 && IsLetter(rest[0]) && rest[1] == u':' && rest[2] == u'\\')) {
            while (!rest.empty() && rest.back() == u'\\')
                rest.pop_back();
            if (rest.empty()) {
                error = ERROR_INVALID_NAME;
                return std::nullopt;
            }
            Parsed p;
            p.kind = Parsed::Device;
            p.device = rest;
            return p;
        }
        s = rest;
    }

    Parsed p;
    if (StartsWith(s, u"\\\\")) {
        std::u16string_view rest = std::u16string_view(s).substr(2);
        size_t a = rest.find(u'\\');
        p.kind = Parsed::Unc;
        p.server = std::u16string(rest.substr(0, a));
        std::u16string_view afterServer = a == std::u16string_view::npos ? u"" : rest.substr(a + 1);
        size_t b = afterServer.find(u'\\');
        p.share = std::u16string(afterServer.substr(0, b));
        if (p.server.empty() || p.share.empty()) {
            error = ERROR_BAD_NETPATH;
            return std::nullopt;
        }
        if (b != std::u16string_view::npos)
            AppendComponents(p.components, afterServer.substr(b + 1));
        return p;
    }
    Parsed cwd;
    {
        std::lock_guard lock(g_cwdMutex);
        cwd = CurrentDirectory();
    }
    if (s.size() >= 2 && s[1] == u':') {
        if (!IsLetter(s[0])) {
            error = ERROR_INVALID_NAME;
            return std::nullopt;
        }
        p.kind = Parsed::Drive;
        p.letter = UpperLetter(s[0]);
        std::u16string_view rest = std::u16string_view(s).substr(2);
        if (rest.empty() || rest[0] != u'\\') {
            // "X:name" is relative to the current folder when it is on X:, else to X:'s root.
            if (cwd.kind == Parsed::Drive && cwd.letter == p.letter)
                p.components = cwd.components;
        }
        AppendComponents(p.components, rest);
        return p;
    }
    p = cwd;
    if (s[0] == u'\\')
        p.components.clear();
    AppendComponents(p.components, s);
    return p;
}

} // namespace platform::fs

namespace platform::fs {
namespace {

std::u16string Format(const Parsed& p) {
    std::u16string out;
    switch (p.kind) {
    case Parsed::Device:
        return u"\\\\.\\" + p.device;
    case Parsed::Unc:
        out = u"\\\\" + p.server + u"\\" + p.share;
        if (p.components.empty())
            return out + u"\\";
        break;
    case Parsed::Drive:
        out = std::u16string{p.letter, u':'};
        if (p.components.empty())
            return out + u"\\";
        break;
    }
    for (const std::u16string& c : p.components)
        out += u"\\" + c;
    return out;
}

} // namespace
} // namespace platform::fs

namespace platform::fs {

DWORD ReturnPath(const std::u16string& path, DWORD size, LPWSTR buffer) {
    if (!buffer || size < path.size() + 1)
        return static_cast<DWORD>(path.size() + 1);
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = 0;
    return static_cast<DWORD>(path.size());
}

std::u16string NormalizeWindowsPath(std::u16string path) {
    DWORD error = ERROR_SUCCESS;
    auto parsed = Parse(path.c_str(), error);
    return parsed ? Format(*parsed) : path;
}

} // namespace platform::fs

using platform::fs::detail::Resolve;

DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
    std::u16string path;
    {
        std::lock_guard lock(platform::fs::g_cwdMutex);
        path = platform::fs::Format(platform::fs::CurrentDirectory());
    }
    return platform::fs::ReturnPath(path, size, buffer);
}

BOOL SetCurrentDirectoryW(LPCWSTR path) {
    DWORD error = ERROR_SUCCESS;
    auto parsed = platform::fs::Parse(path, error);
    if (!parsed)
        return platform::Fail(error), FALSE;
    if (parsed->kind == platform::fs::Parsed::Device)
        return platform::Fail(ERROR_INVALID_NAME), FALSE;
    auto resolved = Resolve(path);
    if (!resolved)
        return FALSE;
    struct stat st;
    if (stat(resolved->host.path.c_str(), &st) != 0)
        return platform::Fail(platform::fs::detail::ErrorForPath(errno, resolved->host.path)), FALSE;
    if (!S_ISDIR(st.st_mode))
        return platform::Fail(ERROR_DIRECTORY), FALSE;
    std::lock_guard lock(platform::fs::g_cwdMutex);
    platform::fs::CurrentDirectory() = *parsed;
    return TRUE;
}

DWORD GetFullPathNameW(LPCWSTR fileName, DWORD size, LPWSTR buffer, LPWSTR* filePart) {
    DWORD error = ERROR_SUCCESS;
    auto parsed = platform::fs::Parse(fileName, error);
    if (!parsed)
        return platform::Fail(error), 0;
    std::u16string full = platform::fs::Format(*parsed);
    DWORD n = platform::fs::ReturnPath(full, size, buffer);
    if (filePart && n < size) {
        auto slash = full.find_last_of(u'\\');
        *filePart = (slash == std::u16string::npos || slash + 1 == full.size()) ? nullptr : buffer + slash + 1;
    }
    return n;
}
