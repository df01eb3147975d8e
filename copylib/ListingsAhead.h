// The calculation pass's folder listings, read ahead by a few threads in the order the walk comes to them.
//
// Listing a folder (reading each entry's attributes) is most of the calculation pass; the walk itself only reports
// what it finds. Helper threads list the folders below the walk's root depth first, files before subfolders, as
// the walk does, a bounded number of folders ahead of it. The walk takes a folder's listing when it gets there:
// if the folder still reads as it did just before it was listed (no entry added, removed or renamed since), the
// listing stands for one made at that moment; otherwise, and for a folder no helper has come to yet, the walk
// lists the folder itself. Folders the walk passes over (left out, skipped by the callback) are dropped with
// everything read below them.
#pragma once

#include "platform/fs/files.h"
#include "platform/fs/find.h"

#include <condition_variable>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

class CListingsAhead {
public:
    // A folder's listing as a helper made it.
    struct Listing {
        WIN32_FILE_ATTRIBUTE_DATA stamp{};      // the folder, read just before it was listed
        std::vector<WIN32_FIND_DATAW> entries; // every entry but "." and "..", in the listing's order
    };

    // Whether reading ahead can help here: there is a processor besides the walk's.
    static unsigned HelpersWorthStarting();

    explicit CListingsAhead(unsigned helpers);
    ~CListingsAhead(); // stops the helpers
    CListingsAhead(const CListingsAhead&) = delete;
    CListingsAhead& operator=(const CListingsAhead&) = delete;

    // A walk starts (at a root it lists itself): what is left of an earlier walk is dropped.
    void Start();
    // The walk has listed `folder` itself: its subfolders (full paths, in the walk's order) are read ahead.
    void Listed(const std::u16string& folder, const std::vector<std::u16string>& subfolders);
    // The walk has come to `folder`: its listing when a helper has made it (waiting while one is making it), and
    // the walk is past every folder before it. Null when the walk must list the folder itself.
    std::unique_ptr<Listing> Take(const std::u16string& folder);

    // Folders read ahead at most, and entries held at most.
    static constexpr size_t kMostFolders = 32;
    static constexpr size_t kMostEntries = 8192;

private:
    enum class State { Waiting, Reading, Read };
    struct Node {
        std::u16string path;
        State state = State::Waiting;
        bool dropped = false; // the walk went past it while a helper was reading it
        std::unique_ptr<Listing> listing;
    };
    using Nodes = std::list<Node>;

    void Run();
    // The first folder no one reads yet, when there is room to read it.
    bool NextToRead(Nodes::iterator& node);
    // Reads `node` without the lock (held on entry and return) and puts its subfolders after it.
    void Read(Nodes::iterator node, std::unique_lock<std::mutex>& lock);
    // Drops the nodes before `end`, but those being read (whose helpers drop them).
    void DropBefore(Nodes::iterator end);
    void Erase(Nodes::iterator node);
    void InsertAfter(Nodes::iterator node, const std::u16string& folder, const std::vector<std::u16string>& names);
    bool RoomAhead() const { return m_held < kMostFolders && m_entries < kMostEntries; }

    std::mutex m_mutex;
    std::condition_variable m_work; // helpers: a folder to read, or the end
    std::condition_variable m_read; // the walk: a folder read
    Nodes m_nodes;                  // in the walk's order
    std::unordered_map<std::u16string, Nodes::iterator> m_byPath;
    size_t m_held = 0;    // folders being read or read and not taken
    size_t m_entries = 0; // entries they hold
    bool m_stop = false;
    std::vector<std::thread> m_helpers;
};
