#include "copylib/ListingsAhead.h"

#include "copylib/FileSteps.h"
#include "platform/base/errors.h"
#include "platform/base/thread.h"
#include "platform/base/unique_handle.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace {

constexpr unsigned kMostHelpers = 3;

bool is_dot_entry(const WCHAR* name) {
    return name[0] == u'.' && (name[1] == 0 || (name[1] == u'.' && name[2] == 0));
}

std::u16string prefix_of(const std::u16string& folder) {
    std::u16string prefix(folder);
    if (prefix.empty() || prefix.back() != u'\\')
        prefix += u'\\';
    return prefix;
}

// Lists `folder` as the walk would: the folder's stamp first, then every entry. False when the folder could not be
// read to its end (the walk then lists it itself and meets what stopped the helper).
bool list_folder(const std::u16string& folder, CListingsAhead::Listing& listing, std::vector<std::u16string>& names) {
    if (!GetFileAttributesExW(folder.c_str(), GetFileExInfoStandard, &listing.stamp))
        return false;
    const std::u16string prefix = prefix_of(folder);
    const std::u16string pattern = prefix + u"*.*";
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    // Owned, so that the listing is closed also when memory runs out on the way.
    platform::UniqueHandle<HANDLE, &FindClose> owned(find);
    std::u16string child;
    while (true) {
        if (!is_dot_entry(data.cFileName)) {
            listing.entries.push_back(data);
            // The subfolders the walk goes into: folders that are not links, whose paths fit its buffers.
            constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
            if ((data.dwFileAttributes & kFolder) == FILE_ATTRIBUTE_DIRECTORY) {
                child.assign(prefix);
                child += data.cFileName;
                if (child.size() < static_cast<size_t>(KOVRA_PATH_CHARS) && !is_link(child.c_str()))
                    names.emplace_back(data.cFileName);
            }
        }
        if (!FindNextFileW(find, &data))
            return GetLastError() == ERROR_NO_MORE_FILES;
    }
}

} // namespace

unsigned CListingsAhead::HelpersWorthStarting() {
    const unsigned processors = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return processors > 1 ? std::min(processors - 1, kMostHelpers) : 0u;
}

CListingsAhead::CListingsAhead(unsigned helpers) {
    for (unsigned i = 0; i < helpers; ++i) {
        try {
            m_helpers.emplace_back([this] { Run(); });
        } catch (const std::system_error&) {
            break; // fewer helpers; with none the walk lists every folder itself
        }
    }
}

CListingsAhead::~CListingsAhead() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_work.notify_all();
    for (std::thread& helper : m_helpers)
        helper.join();
}

void CListingsAhead::Erase(Nodes::iterator node) {
    auto known = m_byPath.find(node->path);
    if (known != m_byPath.end() && known->second == node)
        m_byPath.erase(known);
    if (node->state == State::Read) {
        --m_held;
        m_entries -= node->listing ? node->listing->entries.size() : 0;
    }
    m_nodes.erase(node);
}

void CListingsAhead::DropBefore(Nodes::iterator end) {
    for (auto node = m_nodes.begin(); node != end;) {
        if (node->state == State::Reading) {
            node->dropped = true;
            auto known = m_byPath.find(node->path);
            if (known != m_byPath.end() && known->second == node)
                m_byPath.erase(known);
            ++node;
        } else {
            Erase(node++);
        }
    }
}

void CListingsAhead::InsertAfter(Nodes::iterator node, const std::u16string& folder,
                                 const std::vector<std::u16string>& names) {
    const std::u16string prefix = prefix_of(folder);
    const auto at = std::next(node);
    for (const std::u16string& name : names) {
        auto added = m_nodes.insert(at, Node{prefix + name, State::Waiting, false, nullptr});
        m_byPath[added->path] = added;
    }
}

void CListingsAhead::Start() {
    std::lock_guard lock(m_mutex);
    DropBefore(m_nodes.end());
}

void CListingsAhead::Listed(const std::u16string& folder, const std::vector<std::u16string>& subfolders) {
    {
        std::lock_guard lock(m_mutex);
        // The walk is at `folder`, so what lies before it has gone already; what a helper read below it from an
        // older listing comes first and goes now.
        const std::u16string prefix = prefix_of(folder);
        auto node = m_nodes.begin();
        while (node != m_nodes.end() && node->path.compare(0, prefix.size(), prefix) == 0)
            ++node;
        DropBefore(node);
        for (auto path = subfolders.rbegin(); path != subfolders.rend(); ++path) {
            auto added = m_nodes.insert(m_nodes.begin(), Node{*path, State::Waiting, false, nullptr});
            m_byPath[added->path] = added;
        }
    }
    if (!subfolders.empty())
        m_work.notify_all();
}

std::unique_ptr<CListingsAhead::Listing> CListingsAhead::Take(const std::u16string& folder) {
    std::unique_ptr<Listing> listing;
    bool room = false;
    {
        std::unique_lock lock(m_mutex);
        auto known = m_byPath.find(folder);
        if (known == m_byPath.end())
            return nullptr;
        const Nodes::iterator node = known->second;
        DropBefore(node);
        // While a helper reads it, the walk reads a folder further on instead of waiting idle.
        while (node->state == State::Reading) {
            Nodes::iterator other;
            if (NextToRead(other))
                Read(other, lock);
            else
                m_read.wait(lock);
        }
        const bool full = !RoomAhead();
        if (node->state == State::Read)
            listing = std::move(node->listing);
        if (listing) {
            --m_held;
            m_entries -= listing->entries.size();
            node->state = State::Waiting; // holds nothing any more
        }
        Erase(node);
        room = full && RoomAhead();
    }
    if (room)
        m_work.notify_one();
    return listing;
}

void CListingsAhead::Run() {
    std::unique_lock lock(m_mutex);
    while (true) {
        Nodes::iterator node;
        m_work.wait(lock, [&] { return m_stop || NextToRead(node); });
        if (m_stop)
            return;
        Read(node, lock);
    }
}

bool CListingsAhead::NextToRead(Nodes::iterator& node) {
    if (!RoomAhead())
        return false;
    node = std::find_if(m_nodes.begin(), m_nodes.end(), [](const Node& n) { return n.state == State::Waiting; });
    return node != m_nodes.end();
}

void CListingsAhead::Read(Nodes::iterator node, std::unique_lock<std::mutex>& lock) {
    node->state = State::Reading;
    ++m_held;
    const std::u16string folder = node->path;
    lock.unlock();
    // No exception leaves a reader: a listing that cannot be held is left to the walk.
    std::unique_ptr<Listing> listing;
    std::vector<std::u16string> names;
    try {
        listing = std::make_unique<Listing>();
        if (!list_folder(folder, *listing, names)) {
            listing.reset();
            names.clear();
        }
    } catch (const std::bad_alloc&) {
        listing.reset();
        names.clear();
    }
    lock.lock();
    node->state = State::Read;
    if (node->dropped) {
        // The walk went past it: everything read below it would be dropped as well.
        --m_held;
        m_nodes.erase(node);
    } else {
        if (listing)
            m_entries += listing->entries.size();
        node->listing = std::move(listing);
        try {
            InsertAfter(node, folder, names);
        } catch (const std::bad_alloc&) {
        }
        if (!names.empty())
            m_work.notify_all();
    }
    m_read.notify_all();
}
