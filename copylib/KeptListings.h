// The folder listings a job's calculation pass made, kept for its copy pass.
//
// The copy pass walks the same folders right after the calculation pass; a folder that still reads as it did
// when it was listed (same last-write and creation time, same attributes: no entry was added, removed or renamed
// in between) is walked from the kept listing instead of being listed again. What the entries say of each file
// (its size and times) may have aged meanwhile, so the copy pass uses a kept listing only where that does not
// matter: in a destination folder the walk has just made, where no file is compared with an older copy, and the
// copy itself reads the source afresh. The listings kept are bounded in number of entries; beyond that, folders
// are listed twice as before.
#pragma once

#include "platform/fs/files.h"
#include "platform/fs/find.h"

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

class CKeptListings {
public:
    // What one listed entry said.
    struct Entry {
        DWORD dwFileAttributes;
        FILETIME ftCreationTime;
        FILETIME ftLastAccessTime;
        FILETIME ftLastWriteTime;
        DWORD nFileSizeHigh;
        DWORD nFileSizeLow;
        std::u16string name;
        void ToFindData(WIN32_FIND_DATAW& data) const;
    };
    using Listing = std::vector<Entry>;

    explicit CKeptListings(size_t maxEntries = kDefaultMaxEntries);

    // The calculation pass: StartListing before a folder is listed, Add for each of its entries, then
    // EndListing(true) once the listing ran to its end (false drops it).
    void StartListing(LPCWSTR directory);
    void Add(const WIN32_FIND_DATAW& entry);
    void EndListing(bool complete);

    // The copy pass: from here on nothing more is kept.
    void StartReplay() { m_replaying = true; }
    bool Replaying() const { return m_replaying; }
    // The kept listing of `directory` when the folder still reads as it did when it was listed; else null.
    const Listing* Find(LPCWSTR directory) const;

    // How the folder being listed read just before its listing began; null when it is not being kept.
    const WIN32_FILE_ATTRIBUTE_DATA* CurrentStamp() const { return m_current.empty() ? nullptr : &m_pending.stamp; }
    // How a folder's entries are told unchanged: the same attributes, last-write and creation times.
    static bool SameStamp(const WIN32_FILE_ATTRIBUTE_DATA& a, const WIN32_FILE_ATTRIBUTE_DATA& b);
    // Reads a folder's stamp; the caller's last error stays as it was.
    static bool StampOf(LPCWSTR directory, WIN32_FILE_ATTRIBUTE_DATA& stamp);

    static constexpr size_t kDefaultMaxEntries = 1u << 18;

private:
    struct Kept {
        WIN32_FILE_ATTRIBUTE_DATA stamp;
        Listing entries;
    };
    std::unordered_map<std::u16string, Kept> m_listings;
    std::u16string m_current; // the folder being listed, empty when none is kept
    Kept m_pending;
    size_t m_entries = 0;
    size_t m_maxEntries;
    bool m_replaying = false;
};
