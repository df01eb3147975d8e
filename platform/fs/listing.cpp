#include "platform/fs/listing.h"

#include "platform/base/errors.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/attributes.h"
#include "platform/fs/hostfs.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

namespace platform::fs {

using namespace detail;

namespace {

// Below this many entries one thread reads them all: starting helpers would cost more than they save.
constexpr size_t kEntriesPerHelper = 1024;
constexpr unsigned kMostHelpers = 3;
// The entries a thread takes at a time.
constexpr size_t kBlock = 128;

struct Pending {
    std::string hostName;
    std::u16string name;
    std::optional<DWORD> attributes; // none: gone before it was looked at
};

// What FindNextFileW reports as the entry's attributes.
void ReadAttributes(int folderFd, const std::string& folder, Pending& entry) {
    HostStat st;
    if (!StatPath(folderFd, entry.hostName.c_str(), st))
        return;
    const std::string path = folder + "/" + entry.hostName;
    const auto record = ReadStored(FileRef{-1, path.c_str(), folderFd, entry.hostName.c_str()}, st);
    entry.attributes = ComputeAttributes(st, entry.hostName, record);
}

} // namespace

bool ListFolder(LPCWSTR folder, std::vector<FolderEntry>& entries) {
    entries.clear();
    if (!folder)
        return platform::Fail(ERROR_INVALID_PARAMETER), false;
    std::u16string windowsFolder(folder);
    if (windowsFolder.empty() || (windowsFolder.back() != u'\\' && windowsFolder.back() != u'/'))
        windowsFolder += u'\\';
    const auto resolved = Resolve(windowsFolder.c_str());
    if (!resolved)
        return false;
    if (resolved->host.kind != PathKind::File)
        return platform::Fail(ERROR_FILE_NOT_FOUND), false;
    const std::string& hostFolder = resolved->host.path;
    HostStat st;
    if (!StatPath(AT_FDCWD, hostFolder.c_str(), st) || !st.IsDirectory() || st.dangling)
        return platform::Fail(ERROR_PATH_NOT_FOUND), false;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(hostFolder.c_str()), closedir);
    if (!dir)
        return platform::FailErrno(), false;

    std::vector<Pending> pending;
    for (;;) {
        errno = 0;
        const dirent* e = readdir(dir.get());
        if (!e) {
            if (errno)
                return platform::FailErrno(), false;
            break;
        }
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        Pending entry;
        entry.hostName = name;
        entry.name = platform::Utf8ToUtf16(name);
        if (entry.name.size() >= MAX_PATH) {
            // A listing's record holds MAX_PATH - 1 characters: such a name is left out, as the listing by
            // FindNextFileW leaves it out.
            OutputDebugStringW((u"ListFolder: name too long, skipped: " + entry.name + u"\n").c_str());
            continue;
        }
        pending.push_back(std::move(entry));
    }

    const int folderFd = dirfd(dir.get());
    std::atomic<size_t> next{0};
    std::atomic<bool> helperFailed{false};
    auto work = [&]() {
        for (size_t start = next.fetch_add(kBlock); start < pending.size(); start = next.fetch_add(kBlock))
            for (size_t i = start; i < std::min(pending.size(), start + kBlock); ++i)
                ReadAttributes(folderFd, hostFolder, pending[i]);
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t wanted = std::min<size_t>({pending.size() / kEntriesPerHelper, kMostHelpers, cores - 1});
    std::vector<std::thread> helpers;
    for (size_t i = 0; i < wanted; ++i) {
        try {
            helpers.emplace_back([&]() {
                try {
                    work();
                } catch (...) {
                    helperFailed = true;
                }
            });
        } catch (const std::system_error&) {
            break; // no thread to be had: the others (and this one) read the rest
        }
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();
    // A helper that ran out of memory left part of its block unread: those entries are read here.
    if (helperFailed)
        for (Pending& entry : pending)
            if (!entry.attributes)
                ReadAttributes(folderFd, hostFolder, entry);

    entries.reserve(pending.size());
    for (Pending& entry : pending)
        if (entry.attributes)
            entries.push_back(FolderEntry{std::move(entry.name), *entry.attributes});
    SetLastError(ERROR_SUCCESS);
    return true;
}

} // namespace platform::fs
