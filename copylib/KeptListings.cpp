#include "copylib/KeptListings.h"

#include "platform/base/errors.h"

#include <algorithm>
#include <iterator>
#include <new>

namespace {

bool same_time(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

} // namespace

void CKeptListings::Entry::ToFindData(WIN32_FIND_DATAW& data) const {
    data = WIN32_FIND_DATAW{};
    data.dwFileAttributes = dwFileAttributes;
    data.ftCreationTime = ftCreationTime;
    data.ftLastAccessTime = ftLastAccessTime;
    data.ftLastWriteTime = ftLastWriteTime;
    data.nFileSizeHigh = nFileSizeHigh;
    data.nFileSizeLow = nFileSizeLow;
    const size_t n = std::min(name.size(), std::size(data.cFileName) - 1);
    std::copy_n(name.begin(), n, data.cFileName);
    data.cFileName[n] = 0;
}

CKeptListings::CKeptListings(size_t maxEntries) : m_maxEntries(maxEntries) {}

bool CKeptListings::StampOf(LPCWSTR directory, WIN32_FILE_ATTRIBUTE_DATA& stamp) {
    const DWORD error = GetLastError();
    const bool read = GetFileAttributesExW(directory, GetFileExInfoStandard, &stamp) != FALSE;
    SetLastError(error);
    return read;
}

void CKeptListings::StartListing(LPCWSTR directory) {
    m_current.clear();
    m_pending.entries.clear();
    if (m_replaying || m_entries >= m_maxEntries || !StampOf(directory, m_pending.stamp))
        return;
    try {
        m_current = directory;
    } catch (const std::bad_alloc&) {
        m_current.clear();
    }
}

void CKeptListings::Add(const WIN32_FIND_DATAW& entry) {
    if (m_current.empty())
        return;
    if (m_entries + m_pending.entries.size() >= m_maxEntries) {
        m_current.clear();
        m_pending.entries.clear();
        return;
    }
    try {
        m_pending.entries.push_back(Entry{entry.dwFileAttributes, entry.ftCreationTime, entry.ftLastAccessTime,
                                          entry.ftLastWriteTime, entry.nFileSizeHigh, entry.nFileSizeLow,
                                          std::u16string(entry.cFileName)});
    } catch (const std::bad_alloc&) {
        m_current.clear();
        m_pending.entries.clear();
    }
}

void CKeptListings::EndListing(bool complete) {
    if (complete && !m_current.empty()) {
        try {
            const size_t added = m_pending.entries.size();
            m_listings.insert_or_assign(m_current, std::move(m_pending));
            m_entries += added;
        } catch (const std::bad_alloc&) {
        }
    }
    m_current.clear();
    m_pending = Kept{};
}

const CKeptListings::Listing* CKeptListings::Find(LPCWSTR directory) const {
    if (m_listings.empty())
        return nullptr;
    auto it = m_listings.find(std::u16string(directory));
    if (it == m_listings.end())
        return nullptr;
    WIN32_FILE_ATTRIBUTE_DATA now;
    if (!StampOf(directory, now))
        return nullptr;
    if (!SameStamp(now, it->second.stamp))
        return nullptr;
    return &it->second.entries;
}

bool CKeptListings::SameStamp(const WIN32_FILE_ATTRIBUTE_DATA& a, const WIN32_FILE_ATTRIBUTE_DATA& b) {
    return a.dwFileAttributes == b.dwFileAttributes && same_time(a.ftLastWriteTime, b.ftLastWriteTime) &&
           same_time(a.ftCreationTime, b.ftCreationTime);
}
