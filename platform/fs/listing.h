// A whole folder at once: every entry's name and attributes, as FindFirstFileW and FindNextFileW report them.
//
// For a view that shows every entry of a folder of thousands: the names come first (one read of the folder), and
// the entries' attributes are then read by a few threads side by side, in the order the caller will ask for
// them, while the caller goes on with the entries already read.
#pragma once

#include "platform/base/types.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace platform::fs {

struct FolderEntry {
    std::u16string name;
    DWORD attributes = 0;
};

// The entries of `folder` (a Windows path) in the host's order, "." and ".." left out. An entry that goes away
// while it is listed is left out. False with the last error set as FindFirstFileW sets it for "folder\*" when
// the folder cannot be listed (ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ...); an empty folder gives true and no
// entries.
bool ListFolder(LPCWSTR folder, std::vector<FolderEntry>& entries);

// A folder's names at once and their attributes as they are asked for. Open reads the names; ReadAhead starts
// threads reading the attributes in the order given; Attributes waits for one entry's (reading it on the calling
// thread when no thread has taken it yet). Attributes may be asked from any thread.
class FolderListing {
public:
    FolderListing() = default;
    FolderListing(const FolderListing&) = delete;
    FolderListing& operator=(const FolderListing&) = delete;
    ~FolderListing(); // stops the threads still reading

    // Reads the folder's names (as ListFolder lists them, with its errors); false with the last error set.
    bool Open(LPCWSTR folder);
    size_t Size() const { return m_entries.size(); }
    std::u16string_view Name(size_t i) const {
        return std::u16string_view(m_names).substr(m_entries[i].nameAt, m_entries[i].nameLength);
    }
    // Whether the entry is a folder, as the folder's records tell (the entry was looked at where they don't).
    bool IsFolder(size_t i) const { return m_entries[i].folder; }
    // Starts reading the attributes of the entries in this order (indexes), where the folder is large enough to
    // be worth threads. A later order takes the place of an earlier one (whose threads stop first); not while
    // another thread asks for attributes.
    void ReadAhead(std::vector<size_t> order);
    // The entry's attributes; none when it went away before it was looked at.
    std::optional<DWORD> Attributes(size_t i);

private:
    // The names lie in two buffers (the host's, each ending in a NUL, and the Windows names), not one string each.
    struct Entry {
        uint32_t hostAt = 0, nameAt = 0, nameLength = 0;
        bool folder = false;
        std::optional<DWORD> attributes;
    };
    enum : int { kUnread = 0, kReading = 1, kRead = 2 };
    void Read(size_t i);
    // Reads the next entry of the order that no thread has taken: false when none is left.
    bool ReadUntaken();
    void StopHelpers();

    int m_folderFd = -1; // owned: the entries are looked at by name below it
    std::string m_hostFolder;
    std::vector<Entry> m_entries;
    std::string m_hostNames;
    std::u16string m_names;
    std::unique_ptr<std::atomic<int>[]> m_state;
    std::vector<size_t> m_order;
    std::atomic<size_t> m_next{0};
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_helpers;
};

} // namespace platform::fs
