#include "platform/fs/listing.h"

#include "platform/base/errors.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/base/thread.h"
#include "platform/fs/attributes.h"
#include "platform/fs/files.h"
#include "platform/fs/hostfs.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <numeric>
#include <system_error>
#include <unistd.h>

namespace platform::fs {

using namespace detail;

namespace {

// Below this many entries the caller reads them all: starting threads would cost more than they save.
constexpr size_t kEntriesPerHelper = 1024;
constexpr unsigned kMostHelpers = 3;

} // namespace

FolderListing::~FolderListing() {
    StopHelpers();
    if (m_folderFd >= 0)
        close(m_folderFd);
}

void FolderListing::StopHelpers() {
    m_stop = true;
    for (std::thread& helper : m_helpers)
        helper.join();
    m_helpers.clear();
    m_stop = false;
}

bool FolderListing::Open(LPCWSTR folder) {
    StopHelpers();
    m_entries.clear();
    m_hostNames.clear();
    m_names.clear();
    m_order.clear();
    if (m_folderFd >= 0)
        close(m_folderFd);
    m_folderFd = -1;
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
    m_hostFolder = resolved->host.path;
    HostStat st;
    if (!StatPath(AT_FDCWD, m_hostFolder.c_str(), st) || !st.IsDirectory() || st.dangling)
        return platform::Fail(ERROR_PATH_NOT_FOUND), false;
    m_folderFd = open(m_hostFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folderFd < 0)
        return platform::FailErrno(), false;
    const int readFd = dup(m_folderFd);
    if (readFd < 0)
        return platform::FailErrno(), false;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(readFd), closedir);
    if (!dir) {
        const int error = errno;
        close(readFd);
        errno = error;
        return platform::FailErrno(), false;
    }

    std::vector<size_t> unknown; // entries whose kind the records don't give
    for (;;) {
        errno = 0;
        const dirent* e = readdir(dir.get());
        if (!e) {
            if (errno) {
                m_entries.clear();
                return platform::FailErrno(), false;
            }
            break;
        }
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        const size_t hostLength = std::strlen(name);
        const size_t nameAt = m_names.size();
        if (std::all_of(name, name + hostLength, [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            m_names.append(name, name + hostLength);
        else
            m_names += platform::Utf8ToUtf16(std::string_view(name, hostLength));
        const size_t nameLength = m_names.size() - nameAt;
        if (nameLength >= MAX_PATH) {
            // A listing's record holds MAX_PATH - 1 characters: such a name is left out, as the listing by
            // FindNextFileW leaves it out.
            OutputDebugStringW((u"ListFolder: name too long, skipped: " + m_names.substr(nameAt) + u"\n").c_str());
            m_names.resize(nameAt);
            continue;
        }
        Entry entry;
        entry.hostAt = static_cast<uint32_t>(m_hostNames.size());
        entry.nameAt = static_cast<uint32_t>(nameAt);
        entry.nameLength = static_cast<uint32_t>(nameLength);
        m_hostNames.append(name, hostLength + 1);
        // A link is a folder when it leads to one, and some file systems don't say: those are looked at now.
        entry.folder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK)
            unknown.push_back(m_entries.size());
        m_entries.push_back(entry);
    }
    m_state = std::make_unique<std::atomic<int>[]>(m_entries.size());
    if (!unknown.empty()) {
        ReadAhead(unknown);
        for (size_t i : unknown) {
            const auto a = Attributes(i);
            m_entries[i].folder = a && (*a & FILE_ATTRIBUTE_DIRECTORY);
        }
        StopHelpers();
        m_order.clear();
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

void FolderListing::Read(size_t i) {
    Entry& entry = m_entries[i];
    const char* name = m_hostNames.c_str() + entry.hostAt;
    HostStat st;
    if (!StatPath(m_folderFd, name, st))
        return;
    // The path is read only where the folder cannot be read through: one buffer per thread serves every entry.
    thread_local std::string path;
    path.assign(m_hostFolder).append(1, '/').append(name);
    const auto record = ReadStored(FileRef{-1, path.c_str(), m_folderFd, name}, st);
    entry.attributes = ComputeAttributes(st, name, record);
}

std::optional<DWORD> FolderListing::Attributes(size_t i) {
    std::atomic<int>& state = m_state[i];
    for (;;) {
        int seen = kUnread;
        if (state.compare_exchange_strong(seen, kReading, std::memory_order_acq_rel)) {
            Read(i);
            state.store(kRead, std::memory_order_release);
            state.notify_all();
            break;
        }
        if (seen == kRead)
            break;
        // A thread is reading this one: rather than wait, read one that nobody has taken yet, if any is left.
        if (!ReadUntaken())
            state.wait(seen, std::memory_order_acquire);
    }
    return m_entries[i].attributes;
}

bool FolderListing::ReadUntaken() {
    for (size_t k = m_next.fetch_add(1); k < m_order.size(); k = m_next.fetch_add(1)) {
        std::atomic<int>& state = m_state[m_order[k]];
        int seen = kUnread;
        if (!state.compare_exchange_strong(seen, kReading, std::memory_order_acq_rel))
            continue;
        Read(m_order[k]);
        state.store(kRead, std::memory_order_release);
        state.notify_all();
        return true;
    }
    return false;
}

void FolderListing::ReadAhead(std::vector<size_t> order) {
    StopHelpers();
    m_order = std::move(order);
    m_next = 0;
    const size_t wanted =
        std::min<size_t>({m_order.size() / kEntriesPerHelper, kMostHelpers, GetActiveProcessorCount(ALL_PROCESSOR_GROUPS) - 1});
    for (size_t n = 0; n < wanted; ++n) {
        try {
            m_helpers.emplace_back([this]() {
                for (size_t k = m_next.fetch_add(1); k < m_order.size() && !m_stop; k = m_next.fetch_add(1)) {
                    std::atomic<int>& state = m_state[m_order[k]];
                    int seen = kUnread;
                    if (!state.compare_exchange_strong(seen, kReading, std::memory_order_acq_rel))
                        continue; // the caller took it
                    try {
                        Read(m_order[k]);
                        state.store(kRead, std::memory_order_release);
                    } catch (...) {
                        // Out of memory: the entry is left to the caller, which reads what no thread has read.
                        state.store(kUnread, std::memory_order_release);
                        state.notify_all();
                        return;
                    }
                    state.notify_all();
                }
            });
        } catch (const std::system_error&) {
            break; // no thread to be had: the caller reads what the others don't
        }
    }
}

bool ListFolder(LPCWSTR folder, std::vector<FolderEntry>& entries) {
    entries.clear();
    FolderListing listing;
    if (!listing.Open(folder))
        return false;
    std::vector<size_t> order(listing.Size());
    std::iota(order.begin(), order.end(), size_t{0});
    listing.ReadAhead(order);
    entries.reserve(listing.Size());
    for (size_t i = 0; i < listing.Size(); ++i)
        if (const auto a = listing.Attributes(i))
            entries.push_back(FolderEntry{std::u16string(listing.Name(i)), *a});
    SetLastError(ERROR_SUCCESS);
    return true;
}

} // namespace platform::fs
