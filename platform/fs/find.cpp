#include "platform/fs/find.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/attributes.h"
#include "platform/fs/hostfs.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace platform::fs {

using namespace detail;

namespace {

constexpr DWORD kReparseTagSymlink = 0xA000000Cu;

bool HasWildcards(std::u16string_view s) {
    return s.find_first_of(u"*?") != std::u16string_view::npos;
}

bool MatchFrom(const WCHAR* p, const WCHAR* n) {
    // Iterative matcher with one backtrack point for the last '*', linear in practice.
    const WCHAR* star = nullptr;
    const WCHAR* resume = nullptr;
    while (*n) {
        if (*p == u'*') {
            star = p++;
            resume = n;
        } else if (*p == u'?' || (*p && platform::FoldUpper(*p) == platform::FoldUpper(*n))) {
            ++p;
            ++n;
        } else if (star) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (*p == u'*')
        ++p;
    return *p == 0;
}

// One directory listing in progress. "." and ".." come first when they match, then the folder's entries in the
// file system's order.
class FindObject : public KernelObject {
public:
    FindObject(std::string folder, std::u16string pattern, bool listDots)
        : m_folder(std::move(folder)), m_pattern(std::move(pattern)), m_dotsLeft(listDots ? 2 : 0) {}
    ~FindObject() override {
        if (m_dir)
            closedir(m_dir);
    }
    FindObject(const FindObject&) = delete;
    FindObject& operator=(const FindObject&) = delete;
    const char* TypeName() const override { return "Find"; }

    // A search for one name (no wildcards): `m_folder` is then the file's own host path.
    void SetSingle() { m_single = true; }

    bool Open() {
        if (m_single)
            return true;
        m_dir = opendir(m_folder.c_str());
        return m_dir != nullptr;
    }

    // Fills the next matching entry; false at the end (ERROR_NO_MORE_FILES) or on a failure (its code).
    bool Next(WIN32_FIND_DATAW& data, DWORD& error) {
        if (m_single) {
            error = ERROR_NO_MORE_FILES;
            if (m_singleDone)
                return false;
            m_singleDone = true;
            const std::string name = m_folder.substr(m_folder.find_last_of('/') + 1);
            if (platform::Utf8ToUtf16(name).size() >= MAX_PATH) {
                error = ERROR_FILENAME_EXCED_RANGE;
                return false;
            }
            if (Fill(name.c_str(), platform::Utf8ToUtf16(name), m_folder, data))
                return true;
            error = ERROR_FILE_NOT_FOUND;
            return false;
        }
        while (m_dotsLeft > 0) {
            const char* dot = m_dotsLeft == 2 ? "." : "..";
            --m_dotsLeft;
            const std::u16string dot16 = dot == std::string_view(".") ? u"." : u"..";
            if (MatchPattern(m_pattern.c_str(), dot16.c_str()) &&
                Fill(dot, dot16, dot == std::string_view(".") ? m_folder : m_folder + "/..", data))
                return true;
        }
        while (true) {
            errno = 0;
            struct dirent* e = readdir(m_dir);
            if (!e) {
                error = errno ? platform::Win32ErrorFromErrno(errno) : ERROR_NO_MORE_FILES;
                return false;
            }
            const char* name = e->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            std::u16string name16 = platform::Utf8ToUtf16(name);
            if (!MatchPattern(m_pattern.c_str(), name16.c_str()))
                continue;
            if (name16.size() >= MAX_PATH) {
                // The record has room for MAX_PATH - 1 characters. A cut name would name another file (or
                // none), so the entry is left out and said so rather than handed out wrong.
                OutputDebugStringW(
                    (u"FindNextFileW: name too long for WIN32_FIND_DATAW, skipped: " + name16 + u"\n").c_str());
                continue;
            }
            // The entry is looked at through the open folder: one name to resolve instead of the whole path.
            // Its whole path, needed only where the folder cannot be read through, reuses one buffer.
            m_entryPath.assign(m_folder).append(1, '/').append(name);
            if (Fill(name, name16, m_entryPath, data, dirfd(m_dir)))
                return true;
            // Gone between the listing and the look at it: not an entry any more.
        }
    }

private:
    // `folderFd`, when given, is the open folder holding `name`; else `path` is looked at.
    static bool Fill(const char* name, const std::u16string& name16, const std::string& path, WIN32_FIND_DATAW& data,
                     int folderFd = -1) {
        HostStat st;
        if (folderFd >= 0 ? !StatPath(folderFd, name, st) : !StatPath(AT_FDCWD, path.c_str(), st))
            return false;
        auto record = ReadStored(FileRef{-1, path.c_str(), folderFd, name}, st);
        data = WIN32_FIND_DATAW{};
        data.dwFileAttributes = ComputeAttributes(st, name, record);
        data.ftCreationTime = platform::clock::ToFileTime(CreationTicks(st, record));
        data.ftLastAccessTime = platform::clock::ToFileTime(TicksFromUnixNs(st.atimeNs));
        data.ftLastWriteTime = platform::clock::ToFileTime(TicksFromUnixNs(st.mtimeNs));
        const uint64_t size = (st.IsDirectory() || st.dangling) ? 0 : st.size;
        data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(size);
        data.dwReserved0 = st.isLink ? kReparseTagSymlink : 0;
        platform::CopyTruncated(data.cFileName, MAX_PATH, name16);
        return true;
    }

    std::string m_folder;
    std::u16string m_pattern;
    std::string m_entryPath;
    int m_dotsLeft;
    DIR* m_dir = nullptr;
    bool m_single = false;
    bool m_singleDone = false;
};

} // namespace

bool MatchPattern(const WCHAR* pattern, const WCHAR* name) {
    if (!pattern || !name)
        return false;
    std::u16string_view p(pattern);
    std::u16string_view n(name);
    if (MatchFrom(pattern, name))
        return true;
    const bool nameHasDot = n.find(u'.') != std::u16string_view::npos;
    // "x.*" also finds "x", so "*.*" finds every name.
    if (p.size() >= 2 && p.substr(p.size() - 2) == u".*") {
        std::u16string stem(p.substr(0, p.size() - 2));
        if (MatchFrom(stem.c_str(), name))
            return true;
    }
    // "x." finds "x" when the name has no extension.
    if (!p.empty() && p.back() == u'.' && !nameHasDot) {
        std::u16string stem(p.substr(0, p.size() - 1));
        if (MatchFrom(stem.c_str(), name))
            return true;
    }
    return false;
}

} // namespace platform::fs

using platform::Fail;
using platform::fs::FindObject;
using platform::fs::detail::Resolve;

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
    if (!fileName || !findData)
        return Fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
    std::u16string full(fileName);
    const size_t sep = full.find_last_of(u"\\/");
    std::u16string folderPart;
    std::u16string pattern;
    if (sep == std::u16string::npos) {
        // "name" or "X:name": relative to the current folder (of that drive).
        const bool drive = full.size() >= 2 && full[1] == u':';
        folderPart = drive ? full.substr(0, 2) : u".";
        pattern = drive ? full.substr(2) : full;
    } else {
        folderPart = full.substr(0, sep + 1);
        pattern = full.substr(sep + 1);
    }
    if (pattern.empty())
        return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    auto folder = Resolve(folderPart.c_str());
    if (!folder)
        return INVALID_HANDLE_VALUE;
    if (folder->host.kind != platform::fs::PathKind::File)
        return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    platform::fs::detail::HostStat st;
    if (!platform::fs::detail::StatPath(AT_FDCWD, folder->host.path.c_str(), st) || !st.IsDirectory() || st.dangling)
        return Fail(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;

    std::shared_ptr<FindObject> find;
    if (!platform::fs::HasWildcards(pattern) && pattern != u"." && pattern != u"..") {
        // One name: found in the exact case or another, reported with its name on disk.
        auto one = Resolve(full.c_str());
        if (!one)
            return INVALID_HANDLE_VALUE;
        find = std::make_shared<FindObject>(one->host.path, pattern, false);
        find->SetSingle();
    } else {
        find = std::make_shared<FindObject>(folder->host.path, pattern, !folder->isRoot);
    }
    if (!find->Open())
        return platform::FailErrno(), INVALID_HANDLE_VALUE;
    DWORD error = ERROR_SUCCESS;
    if (!find->Next(*findData, error))
        return Fail(error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error), INVALID_HANDLE_VALUE;
    HANDLE handle = platform::InsertHandle(find);
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL FindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW findData) {
    auto find = platform::LookupHandleAs<FindObject>(handle);
    if (!find)
        return FALSE;
    if (!findData)
        return Fail(ERROR_INVALID_PARAMETER), FALSE;
    DWORD error = ERROR_SUCCESS;
    if (!find->Next(*findData, error))
        return Fail(error), FALSE;
    return TRUE;
}

BOOL FindClose(HANDLE handle) {
    if (!platform::LookupHandleAs<FindObject>(handle))
        return FALSE;
    return CloseHandle(handle);
}
