// WholeFile: a file replaced whole or not at all.
//
// Every writer of the layer and of its users that must never leave half a file (copies, ini files, the
// registry export text, event logs, the drive table, attribute records) goes through this one class. The new
// content goes to a file that has no name yet, in the target's folder (O_TMPFILE); Commit flushes it when asked,
// gives it a temporary name beside the target and renames that over the target in one step. A writer that
// fails, that is dropped before Commit, or whose process dies leaves the target as it was and nothing else.
//
// Where the file system cannot make unnamed files (FUSE mounts among them) the content goes to a named temporary
// file beside the target from the start, ".~write-PID-N.tmp"; the first writer of a process in such a folder
// removes the temporaries of processes that no longer run, so that a killed writer's leftovers do not pile up.
//
// A caller may name the temporary file itself (a program whose temporary companion file has a fixed name): that
// name is taken by the new content just before it replaces the target, and a file already there is replaced.
//
// Replacing a target follows the rules of MoveFileExW with MOVEFILE_REPLACE_EXISTING: a folder or a read-only
// file is not replaced (ERROR_ACCESS_DENIED), nor a file that somebody holds open without sharing deletion
// (ERROR_SHARING_VIOLATION). A new file gets the mode 0666 less the umask, a replacement the mode of the file it
// replaces; a caller that wants other bits sets them on Descriptor().
#pragma once

#include "platform/base/types.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace platform::fs {

class UnnamedFileSupply;

class WholeFile {
public:
    // What Commit does besides putting the content in place (flags, combined with |).
    // The content and the folder entry reach the disk before Commit returns.
    static constexpr unsigned kFlush = 0x1;
    // An existing target is kept and Commit fails with ERROR_FILE_EXISTS.
    static constexpr unsigned kKeepExisting = 0x2;
    // The replacement counts as opening the target to write and delete it: any other open of the target refuses
    // it with ERROR_SHARING_VIOLATION (as copying onto a file does).
    static constexpr unsigned kExclusive = 0x4;

    WholeFile() = default;
    // Drops content that was not committed.
    ~WholeFile();
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;

    // Starts new content for `target`, a host path, or for a Windows path. `temporary` (optional, in the same
    // folder) names the temporary file. A Win32 error when the folder does not exist, the target cannot be
    // replaced, or no file can be made there; the writer then holds nothing.
    // `targetMissing`: the caller has just found that the target does not exist (it is not looked up again).
    // `supply`: where a new file's unnamed content may come from, made ahead in the target's folder.
    DWORD Begin(const std::string& target, const std::string& temporary = {}, bool targetMissing = false,
                UnnamedFileSupply* supply = nullptr);
    DWORD Begin(LPCWSTR target, LPCWSTR temporary = nullptr);

    // Appends bytes; a Win32 error when they could not all be written (ERROR_DISK_FULL when the disk is full).
    DWORD Write(const void* data, size_t size);
    DWORD Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }

    // The content's host descriptor, for writers that move data themselves (and set modes or times); -1 when the
    // writer holds nothing. It stays the writer's.
    int Descriptor() const { return m_fd; }
    // Makes the caller the owner of Descriptor(): the writer no longer closes it, and the caller keeps it open
    // until Commit has returned (dropping the content needs it no more). For a caller that goes on using the
    // descriptor, as the committed file's handle, without a second one.
    void GiveUpDescriptor() { m_ownsDescriptor = false; }
    // Whether content was begun and is neither committed nor dropped.
    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Target() const { return m_target; }

    // Puts the content in place of the target (see the flags above). After a failure the content is still held
    // (under its temporary name when it got one), so that a caller may try again with other flags or drop it;
    // after success the writer holds nothing.
    DWORD Commit(unsigned flags = kFlush);

    // Drops the content; the target stays as it was.
    void Abandon();

private:
    DWORD NameTemporary();
    DWORD PutInPlace(unsigned flags);

    std::string m_target;
    std::string m_folder;
    std::string m_temporary; // the named temporary, when the content has a name
    std::string m_chosenTemporary;
    int m_fd = -1;
    bool m_ownsDescriptor = true;
    bool m_unnamed = false;
};

// Unnamed files made ahead, on a thread of their own, in the folder that a run of new files is about to go to:
// making the file is a good part of the cost of writing a small one, and this way it is paid beside the writer
// instead of by it. A file made ahead and not taken has no name and goes when it is closed (or its process ends),
// leaving nothing behind. Where unnamed files cannot be made the supply makes none, and writers make their own
// content files as they otherwise do (with the errors they otherwise meet).
class UnnamedFileSupply {
public:
    UnnamedFileSupply() = default;
    ~UnnamedFileSupply(); // stops making files and closes those not taken
    UnnamedFileSupply(const UnnamedFileSupply&) = delete;
    UnnamedFileSupply& operator=(const UnnamedFileSupply&) = delete;

    // Whether a supply can help in this process: unnamed files can be made and named, and there is a processor
    // besides the writer's to make them on.
    static bool Worthwhile();

    // From now on up to `count` files are made in `folder` (a host path, or a Windows path as a file's folder
    // is spelled in the names given to WholeFile), a few at a time ahead of their use; the files made for the
    // previous folder and not taken are dropped. Nothing is made for a path that does not name a host folder
    // as written, or where the making thread cannot be started.
    void Stock(const std::string& folder, size_t count);
    void Stock(LPCWSTR folder, size_t count);
    // A descriptor (the caller's from now on, read and write) of an unnamed file made with mode 0666 less the
    // umask in the host folder `folder`, spelled as given to Stock; -1 when none is ready.
    int Take(const std::string& folder);

    static constexpr size_t kAhead = 64; // files made ahead at most
    static constexpr size_t kLow = 16;   // ... and made again once no more than this many are left

private:
    void Run();
    void Drop(std::deque<int>& files);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::string m_folder;
    std::deque<int> m_ready;
    size_t m_toMake = 0;
    unsigned m_generation = 0; // raised by each Stock: a file made for an earlier folder is not handed out
    bool m_stop = false;
    std::thread m_maker;
};

// Replaces `target` (a host path) with `content`, flushed to the disk.
DWORD WriteWholeFile(const std::string& target, std::string_view content, unsigned flags = WholeFile::kFlush);

namespace detail {
// Tests only: makes writers use named temporary files, as on file systems without unnamed files.
void ForceNamedTemporariesForTests(bool force);
} // namespace detail

} // namespace platform::fs
