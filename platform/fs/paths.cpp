// Path translation: a Windows path to the host path it names (through the drive and share tables and the
// case-insensitive lookup), a host path back to its Windows name, and the base layer's path mappers.

#include "platform/fs/paths.h"

#include "platform/base/errors.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/paths_internal.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <sys/stat.h>

namespace platform::fs {
namespace {

bool MapToHost(const std::u16string& windowsPath, std::string& hostPath) {
    auto host = ToHost(windowsPath.c_str());
    if (!host || host->kind != PathKind::File)
        return false;
    hostPath = host->path;
    return true;
}

bool MapToWindows(const std::string& hostPath, std::u16string& windowsPath) {
    auto w = ToWindows(hostPath);
    if (!w)
        return false;
    windowsPath = *w;
    return true;
}

void RegisterMappers() {
    static std::once_flag once;
    std::call_once(once, [] {
        platform::SetPathMapper(&MapToHost);
        platform::SetReversePathMapper(&MapToWindows);
    });
}

[[maybe_unused]] const bool g_registered = (RegisterMappers(), true);

std::string NormalizeHost(const std::string& path) {
    std::string out;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    for (const auto& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

} // namespace
} // namespace platform::fs

namespace platform::fs::detail {
namespace {

// Resolve's work; `lookUp` false joins the components as written without looking at the disk.
std::optional<ResolvedPath> ResolveWith(LPCWSTR windowsPath, bool lookUp) {
    RegisterMappers();
    DWORD error = ERROR_SUCCESS;
    auto parsed = Parse(windowsPath, error);
    if (!parsed) {
        platform::Fail(error);
        return std::nullopt;
    }
    ResolvedPath r;
    if (parsed->kind == Parsed::Device) {
        r.host.kind = PathKind::Device;
        r.host.device = parsed->device;
        return r;
    }
    std::optional<std::string> root;
    if (parsed->kind == Parsed::Drive) {
        root = DriveRoot(parsed->letter);
        if (!root) {
            // A provider's letter: a raw disk exists, but nothing below it can be named.
            const auto provided = Drive(parsed->letter);
            if (provided && !provided->raw && !provided->hostRoot.empty()) {
                root = TrimHostRoot(provided->hostRoot);
            } else {
                platform::Fail(provided && provided->raw ? ERROR_UNRECOGNIZED_VOLUME : ERROR_PATH_NOT_FOUND);
                return std::nullopt;
            }
        }
        r.letter = parsed->letter;
    } else {
        root = ShareRoot(parsed->server, parsed->share);
        if (!root) {
            platform::Fail(ERROR_BAD_NETPATH);
            return std::nullopt;
        }
    }
    r.host.kind = PathKind::File;
    if (lookUp) {
        r.host.path = ResolveCase(*root, parsed->components, r.knownMissing, r.found);
    } else {
        r.host.path = *root;
        for (const auto& c : parsed->components)
            r.host.path = JoinHost(r.host.path, platform::Utf16ToUtf8(c));
    }
    r.isRoot = parsed->components.empty();
    if (!r.isRoot) {
        r.lastName = parsed->components.back();
        auto slash = r.host.path.find_last_of('/');
        r.hostParent = slash == 0 ? "/" : r.host.path.substr(0, slash);
    } else {
        r.hostParent = r.host.path;
    }
    return r;
}

} // namespace
} // namespace platform::fs::detail

namespace platform::fs::detail {

std::optional<ResolvedPath> Resolve(LPCWSTR windowsPath) {
    return ResolveWith(windowsPath, true);
}

namespace {

// A plain drive path ("X:\a\b", no "." or ".." names, no empty names, backslashes only) names the drive's
// folder followed by its names as they stand, which is what the general parse would find, without building
// the names one by one. Nothing for any other form, which takes the general way.
std::optional<std::string> PlainDrivePath(LPCWSTR windowsPath) {
    if (!windowsPath)
        return std::nullopt;
    const std::u16string_view s(windowsPath);
    constexpr size_t kLongest = 32767;
    if (s.size() < 4 || s.size() > kLongest || s[1] != u':' || s[2] != u'\\')
        return std::nullopt;
    const WCHAR letter = s[0];
    if (!((letter >= u'a' && letter <= u'z') || (letter >= u'A' && letter <= u'Z')))
        return std::nullopt;
    const std::u16string_view rest = s.substr(3);
    bool ascii = true;
    size_t start = 0;
    while (true) {
        size_t end = start;
        while (end < rest.size() && rest[end] != u'\\') {
            if (rest[end] == u'/')
                return std::nullopt;
            ascii = ascii && rest[end] < 0x80;
            ++end;
        }
        const size_t length = end - start;
        if (length == 0 || (rest[start] == u'.' && (length == 1 || (length == 2 && rest[start + 1] == u'.'))))
            return std::nullopt;
        if (end == rest.size())
            break;
        start = end + 1;
    }
    auto root = DriveRoot(UpperLetter(letter));
    if (!root)
        return std::nullopt;
    std::string path = std::move(*root);
    if (path != "/")
        path += '/';
    const size_t namesAt = path.size();
    if (ascii) {
        path.resize(namesAt + rest.size());
        for (size_t i = 0; i < rest.size(); ++i)
            path[namesAt + i] = rest[i] == u'\\' ? '/' : static_cast<char>(rest[i]);
        return path;
    }
    path += platform::Utf16ToUtf8(rest);
    std::replace(path.begin() + static_cast<std::ptrdiff_t>(namesAt), path.end(), '\\', '/');
    return path;
}

} // namespace

std::optional<std::string> ExactHostPath(LPCWSTR windowsPath) {
    RegisterMappers();
    if (auto plain = PlainDrivePath(windowsPath))
        return plain;
    const DWORD saved = GetLastError();
    auto r = ResolveWith(windowsPath, false);
    SetLastError(saved);
    if (!r || r->host.kind != PathKind::File)
        return std::nullopt;
    return std::move(r->host.path);
}

} // namespace platform::fs::detail

namespace platform::fs {

std::optional<HostPath> ToHost(LPCWSTR windowsPath) {
    auto r = detail::Resolve(windowsPath);
    if (!r)
        return std::nullopt;
    return r->host;
}

std::optional<std::u16string> ToWindows(const std::string& hostPath) {
    if (hostPath.empty() || hostPath[0] != '/')
        return std::nullopt;
    const std::string path = NormalizeHost(hostPath);
    const DriveInfo* best = nullptr;
    // Only the table's letters have host folders.
    auto drives = TableDrives();
    for (const DriveInfo& d : drives) {
        const std::string& root = d.hostRoot;
        bool inside =
            path == root || root == "/" ||
            (path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/');
        if (inside && (!best || root.size() > best->hostRoot.size()))
            best = &d;
    }
    if (!best)
        return std::nullopt;
    std::string rest = path.substr(best->hostRoot == "/" ? 1 : std::min(path.size(), best->hostRoot.size() + 1));
    std::u16string out{best->letter, u':', u'\\'};
    std::u16string rest16 = platform::Utf8ToUtf16(rest);
    std::replace(rest16.begin(), rest16.end(), u'/', u'\\');
    return out + rest16;
}

} // namespace platform::fs

using platform::fs::detail::Resolve;

// There are no short names on this host: both give the path as the caller wrote it once it is known to exist.
static DWORD ExistingPathAsGiven(LPCWSTR path, LPWSTR out, DWORD size) {
    auto resolved = Resolve(path);
    if (!resolved)
        return 0;
    if (resolved->host.kind == platform::fs::PathKind::File) {
        struct stat st;
        if (lstat(resolved->host.path.c_str(), &st) != 0)
            return platform::Fail(platform::fs::detail::ErrorForPath(errno, resolved->host.path)), 0;
    }
    return platform::fs::ReturnPath(std::u16string(path), size, out);
}

DWORD GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD size) {
    return ExistingPathAsGiven(shortPath, longPath, size);
}

DWORD GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD size) {
    return ExistingPathAsGiven(longPath, shortPath, size);
}
