#include "engine/DirectoryMonitor.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/iocp.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"
#include "platform/base/unique_handle.h"
#include "platform/fs/changes.h"
#include "platform/fs/files.h"
#include "platform/ui/message.h"
#include "platform/ui/winuser_constants.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_map>

namespace {

constexpr DWORD kChangeBufferSize = 2080;
constexpr DWORD kNotifyFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;
// How long the stop waits for one thread before leaving it to end by itself.
constexpr DWORD kStopWaitMs = 3000;
// How long the action thread waits for a next change before the owner settles what it keeps back.
constexpr DWORD kQuietMs = 100;
// A queued record whose change a later record of the queue tells: it is dropped when its turn comes.
constexpr int kSuperseded = 0;

} // namespace

void DestroyFileActionRecord(FILE_ACTION_RECORD* pRecord) {
    if (!pRecord)
        return;
    delete pRecord->pObject;
    delete pRecord;
}

struct CDirectoryMonitor::WatchRecord {
    platform::OwnedHandle hDirectory;
    DWORD dwBytesReturned = 0;
    OVERLAPPED overlapped{};
    CString strPath;
    alignas(DWORD) BYTE buffer[kChangeBufferSize];
};

// Every watch record and the completion port their reads complete to. The last of the monitor and its change
// thread to let go cancels what is still pending, closes the handles and frees the records.
struct CDirectoryMonitor::WatchList {
    platform::OwnedHandle hPort; // closed after the directories
    std::vector<std::unique_ptr<WatchRecord>> records;

    WatchList() = default;
    WatchList(const WatchList&) = delete;
    WatchList& operator=(const WatchList&) = delete;
    ~WatchList() { CancelReads(); }
    void CancelReads() {
        for (auto& watch : records)
            CancelIoEx(watch->hDirectory.get(), nullptr);
    }
};

// What the parser and action threads share with the monitor. Each thread holds it, so that a thread left to end
// by itself after a stop never touches a monitor that is gone.
struct CDirectoryMonitor::Shared {
    FILE_ACTION_FILTER_ROUTINE pfnFilter = nullptr;
    FILE_ACTION_ROUTINE pfnAction = nullptr;
    LPVOID lpUserData = nullptr;
    std::atomic<bool> bStop{false};

    // Parser queue: the watched directory and a copy of the changes read (empty: changes were lost).
    struct ParserItem {
        CString strPath;
        std::vector<BYTE> data;
    };
    std::mutex parserLock;
    std::deque<ParserItem> parserQueue;
    platform::OwnedHandle hParserEvent;

    // Action queue, linked through the records' next field.
    std::mutex actionLock;
    FILE_ACTION_RECORD* pHead = nullptr;
    FILE_ACTION_RECORD* pTail = nullptr;
    int nCount = 0;
    platform::OwnedHandle hActionEvent;
    // The last records appended, newest last, with their place in the order of appending; one whose place is not
    // below `nTaken` is still queued.
    struct Recent {
        int nAction;
        CString strPath;
        unsigned long long nPlace;
    };
    std::deque<Recent> recent;
    unsigned long long nAppended = 0;
    unsigned long long nTaken = 0;
    static constexpr size_t kRecent = 8;
    // The modification of each path still queued, and whether it came right after an addition (which path): a
    // new folder followed by its parent's change is one folder copy for the owner, so such a pair stays as it is.
    struct QueuedModification {
        FILE_ACTION_RECORD* pRecord;
        CString strAddedBefore; // empty when the record before it was no addition
    };
    std::unordered_map<CString, QueuedModification> modified;

    ~Shared() { DrainActions(); }

    void DrainActions() {
        std::lock_guard lock(actionLock);
        while (pHead) {
            FILE_ACTION_RECORD* next = pHead->pNext;
            DestroyFileActionRecord(pHead);
            pHead = next;
        }
        pTail = nullptr;
        nCount = 0;
        modified.clear();
    }

    void Append(FILE_ACTION_RECORD* record) {
        {
            std::lock_guard lock(actionLock);
            record->pNext = nullptr;
            if (record->nAction == FILE_ACTION_MODIFIED) {
                CString addedBefore;
                if (pTail && pTail->nAction == FILE_ACTION_ADDED)
                    addedBefore = pTail->strPath;
                modified.insert_or_assign(record->strPath, QueuedModification{record, addedBefore});
            }
            if (pTail)
                pTail->pNext = record;
            else
                pHead = record;
            pTail = record;
            ++nCount;
            recent.push_back(Recent{record->nAction, record->strPath, nAppended++});
            if (recent.size() > kRecent)
                recent.pop_front();
        }
        SetEvent(hActionEvent.get());
    }

    FILE_ACTION_RECORD* Take() {
        std::lock_guard lock(actionLock);
        FILE_ACTION_RECORD* record = pHead;
        if (!record)
            return nullptr;
        pHead = record->pNext;
        if (!pHead)
            pTail = nullptr;
        --nCount;
        ++nTaken;
        record->pNext = nullptr;
        if (record->nAction == FILE_ACTION_MODIFIED) {
            auto it = modified.find(record->strPath);
            if (it != modified.end() && it->second.pRecord == record)
                modified.erase(it);
        }
        return record;
    }

    // A modification about to be queued tells all that an earlier one of the same path still queued would: the
    // new record takes the earlier one's place in the owner's eyes (with what the filter attached to it, so the
    // filter is not asked twice) and the earlier one is dropped, so that the owner looks at the entry once, after
    // the changes queued between the two (a folder's times, for one, are right only after its entries have been
    // copied). Not when the earlier one follows the addition of a folder: that pair means something of its own
    // to the owner. True when the new record took over.
    bool SupersedeModification(FILE_ACTION_RECORD* record) {
        const CString& path = record->strPath;
        FILE_ACTION_RECORD* earlier = nullptr;
        CString addedBefore;
        {
            std::lock_guard lock(actionLock);
            auto it = modified.find(path);
            if (it == modified.end())
                return false;
            earlier = it->second.pRecord;
            addedBefore = it->second.strAddedBefore;
        }
        if (!addedBefore.IsEmpty()) {
            const DWORD attributes = GetFileAttributesW(addedBefore);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                return false;
        }
        std::lock_guard lock(actionLock);
        // Only this thread queues records, so a record still listed here is the one looked at above.
        auto it = modified.find(path);
        if (it == modified.end() || it->second.pRecord != earlier)
            return false;
        earlier->nAction = kSuperseded;
        delete record->pObject;
        record->pObject = earlier->pObject;
        earlier->pObject = nullptr;
        modified.erase(it);
        return true;
    }

    // Whether a change of this kind to this path is already told by a record still queued: the same change at
    // the tail, or a modification of an entry whose addition or modification is still queued with nothing but
    // modifications after it (the earlier record's copy, made later, takes the entry as it is by then).
    bool AlreadyQueued(int action, const CString& path) {
        std::lock_guard lock(actionLock);
        if (pTail && pTail->nAction == action && pTail->strPath.Compare(path) == 0)
            return true;
        if (action != FILE_ACTION_MODIFIED)
            return false;
        for (auto it = recent.rbegin(); it != recent.rend() && it->nPlace >= nTaken; ++it) {
            if (it->strPath.Compare(path) == 0)
                return it->nAction == FILE_ACTION_ADDED || it->nAction == FILE_ACTION_MODIFIED;
            if (it->nAction != FILE_ACTION_MODIFIED)
                return false;
        }
        return false;
    }

    // Whether a flush of the same directory is still queued: its look at the directory comes later and covers
    // whatever an earlier one would have found.
    bool LaterFlushQueued(const CString& path) {
        std::lock_guard lock(actionLock);
        for (FILE_ACTION_RECORD* record = pHead; record; record = record->pNext)
            if (record->nAction == FILE_ACTION_FLUSH && record->strPath.Compare(path) == 0)
                return true;
        return false;
    }

    bool TailIs(int action, const CString& path) {
        std::lock_guard lock(actionLock);
        return pTail && pTail->nAction == action && pTail->strPath.Compare(path) == 0;
    }

    // A flush marker, unless the queue already ends with the same one.
    void AppendFlush(const CString& path) {
        if (TailIs(FILE_ACTION_FLUSH, path))
            return;
        auto* record = new FILE_ACTION_RECORD;
        record->nAction = FILE_ACTION_FLUSH;
        record->strPath = path;
        Append(record);
    }

    void Parse(const ParserItem& item) {
        if (item.data.empty()) {
            // The system's buffer overflowed: what happened under this directory is unknown. The owner is told
            // so and looks again; nothing old is replayed.
            AppendFlush(item.strPath);
            return;
        }
        for (size_t at = 0; at + offsetof(FILE_NOTIFY_INFORMATION, FileName) <= item.data.size();) {
            FILE_NOTIFY_INFORMATION info;
            std::memcpy(&info, item.data.data() + at, offsetof(FILE_NOTIFY_INFORMATION, FileName));
            const size_t nameAt = at + offsetof(FILE_NOTIFY_INFORMATION, FileName);
            const size_t chars = std::min<size_t>(info.FileNameLength, item.data.size() - nameAt) / sizeof(WCHAR);
            std::u16string name(chars, u'\0');
            std::memcpy(name.data(), item.data.data() + nameAt, chars * sizeof(WCHAR));
            CString path = item.strPath + CString(name.c_str(), static_cast<int>(chars));
            if (!AlreadyQueued(static_cast<int>(info.Action), path)) {
                auto* record = new FILE_ACTION_RECORD;
                record->nAction = static_cast<int>(info.Action);
                record->strPath = path;
                if (bStop) {
                    DestroyFileActionRecord(record);
                    return;
                }
                if ((record->nAction == FILE_ACTION_MODIFIED && SupersedeModification(record)) || !pfnFilter ||
                    pfnFilter(lpUserData, record)) {
                    Append(record);
                } else {
                    record->nAction = FILE_ACTION_FLUSH;
                    record->strPath.Empty();
                    if (TailIs(FILE_ACTION_FLUSH, record->strPath))
                        DestroyFileActionRecord(record);
                    else
                        Append(record);
                }
            }
            if (info.NextEntryOffset == 0)
                break;
            at += info.NextEntryOffset;
        }
    }

    static DWORD WINAPI ParsingDirectoryChangeThread(LPVOID lpParam) {
        std::shared_ptr<Shared> self = *static_cast<std::shared_ptr<Shared>*>(lpParam);
        delete static_cast<std::shared_ptr<Shared>*>(lpParam);
        while (!self->bStop) {
            if (WaitForSingleObject(self->hParserEvent.get(), INFINITE) != WAIT_OBJECT_0)
                break;
            for (;;) {
                ParserItem item;
                {
                    std::lock_guard lock(self->parserLock);
                    if (self->parserQueue.empty() || self->bStop)
                        break;
                    item = std::move(self->parserQueue.front());
                    self->parserQueue.pop_front();
                }
                self->Parse(item);
            }
        }
        return 0;
    }

    static DWORD WINAPI HandleFileActionFunc(LPVOID lpParam) {
        std::shared_ptr<Shared> self = *static_cast<std::shared_ptr<Shared>*>(lpParam);
        delete static_cast<std::shared_ptr<Shared>*>(lpParam);
        bool delivered = false;
        while (!self->bStop) {
            // Once changes have been delivered and no more come for a moment, the owner hears an empty flush: what
            // it keeps back to pair with a next change is then settled instead of waiting for one.
            const DWORD r = WaitForSingleObject(self->hActionEvent.get(), delivered ? kQuietMs : INFINITE);
            if (self->bStop)
                break;
            if (r == WAIT_TIMEOUT) {
                delivered = false;
                if (self->pfnAction) {
                    auto* record = new FILE_ACTION_RECORD;
                    record->nAction = FILE_ACTION_FLUSH;
                    self->pfnAction(self->lpUserData, record);
                }
                continue;
            }
            if (r != WAIT_OBJECT_0)
                break;
            delivered |= self->ProcessFileAction();
        }
        return 0;
    }

    // Delivers the queued records; true when it delivered any.
    bool ProcessFileAction() {
        bool delivered = false;
        while (!bStop) {
            FILE_ACTION_RECORD* record = Take();
            if (!record)
                return delivered;
            if (record->nAction == kSuperseded) {
                DestroyFileActionRecord(record);
                continue;
            }
            if (record->nAction == FILE_ACTION_FLUSH && !record->strPath.IsEmpty() &&
                LaterFlushQueued(record->strPath)) {
                DestroyFileActionRecord(record);
                continue;
            }
            delivered = true;
            switch (record->nAction) {
            case FILE_ACTION_ADDED:
            case FILE_ACTION_REMOVED:
            case FILE_ACTION_MODIFIED:
            case FILE_ACTION_RENAMED_NEW_NAME:
            case FILE_ACTION_FLUSH:
                if (pfnAction) {
                    pfnAction(lpUserData, record);
                    break;
                }
                [[fallthrough]];
            default:
                DestroyFileActionRecord(record);
                break;
            }
        }
        return delivered;
    }
};

namespace {

struct ChangeThreadArgs {
    std::shared_ptr<CDirectoryMonitor::WatchList> watches;
    std::shared_ptr<CDirectoryMonitor::Shared> shared;
};

BOOL IssueRead(HANDLE hDirectory, BYTE* buffer, LPDWORD bytes, LPOVERLAPPED overlapped) {
    *bytes = kChangeBufferSize;
    return ReadDirectoryChangesW(hDirectory, buffer, kChangeBufferSize, TRUE, kNotifyFilter, bytes, overlapped,
                                 nullptr);
}

// Starts a thread that owns one reference to the shared state.
HANDLE StartThread(LPTHREAD_START_ROUTINE routine, const std::shared_ptr<CDirectoryMonitor::Shared>& shared) {
    auto* arg = new std::shared_ptr<CDirectoryMonitor::Shared>(shared);
    HANDLE thread = CreateThread(nullptr, 0, routine, arg, 0, nullptr);
    if (!thread)
        delete arg;
    return thread;
}

// Waits for a thread to end while serving the messages sent to the calling thread. False after the time-out.
bool WaitForThread(HANDLE thread) {
    const ULONGLONG deadline = GetTickCount64() + kStopWaitMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
        const DWORD r =
            MsgWaitForMultipleObjects(1, &thread, FALSE, static_cast<DWORD>(deadline - now), QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0)
            return true;
        if (r == WAIT_OBJECT_0 + 1) {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
            continue;
        }
        if (r == WAIT_FAILED)
            return false;
    }
}

} // namespace

CDirectoryMonitor::CDirectoryMonitor() = default;

CDirectoryMonitor::~CDirectoryMonitor() {
    StopMonitor();
}

int CDirectoryMonitor::SetDrives(DWORD dwDrives) {
    for (int i = 0; i < 26; ++i) {
        if (dwDrives & (1u << i)) {
            CString drive;
            drive.Format(_T("%c:\\"), _T('A') + i);
            m_arrDirectories.Add(drive);
        }
    }
    return 0;
}

DWORD CDirectoryMonitor::MonitorDirectory(LPCTSTR lpszPath) {
    if (!lpszPath || !*lpszPath)
        return ERROR_INVALID_PARAMETER;
    auto record = std::make_unique<WatchRecord>();
    record->hDirectory.reset(CreateFileW(lpszPath, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!record->hDirectory)
        return GetLastError();
    record->strPath = lpszPath;
    if (record->strPath.Right(1) != _T("\\"))
        record->strPath += _T('\\');
    HANDLE port = CreateIoCompletionPort(record->hDirectory.get(), m_watchList->hPort.get(),
                                         reinterpret_cast<ULONG_PTR>(record.get()), 0);
    DWORD error = ERROR_SUCCESS;
    if (!port)
        error = GetLastError();
    else if (!m_watchList->hPort)
        m_watchList->hPort.reset(port);
    if (error == ERROR_SUCCESS &&
        !IssueRead(record->hDirectory.get(), record->buffer, &record->dwBytesReturned, &record->overlapped))
        error = GetLastError();
    if (error != ERROR_SUCCESS)
        return error;
    m_watchList->records.push_back(std::move(record));
    return ERROR_SUCCESS;
}

DWORD WINAPI CDirectoryMonitor::HandleDirectoryChange(LPVOID lpParam) {
    std::unique_ptr<ChangeThreadArgs> args(static_cast<ChangeThreadArgs*>(lpParam));
    for (;;) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED overlapped = nullptr;
        const BOOL ok = GetQueuedCompletionStatus(args->watches->hPort.get(), &bytes, &key, &overlapped, INFINITE);
        if (!overlapped && !ok)
            break;
        if (key == 0)
            break;
        auto* record = reinterpret_cast<WatchRecord*>(key);
        if (!ok && GetLastError() == ERROR_OPERATION_ABORTED)
            continue; // cancelled by the stop
        Shared::ParserItem item;
        item.strPath = record->strPath;
        // A failed read (a folder that could not be watched) counts as lost changes, like an overflow.
        if (ok && bytes > 0)
            item.data.assign(record->buffer, record->buffer + std::min(bytes, kChangeBufferSize));
        {
            std::lock_guard lock(args->shared->parserLock);
            args->shared->parserQueue.push_back(std::move(item));
        }
        SetEvent(args->shared->hParserEvent.get());
        // Re-arm at once; a directory that can no longer be read has had its flush and drops out.
        if (!args->shared->bStop)
            IssueRead(record->hDirectory.get(), record->buffer, &record->dwBytesReturned, &record->overlapped);
    }
    return 0;
}

DWORD CDirectoryMonitor::StartMonitor(FILE_ACTION_FILTER_ROUTINE pfnFilter, FILE_ACTION_ROUTINE pfnAction,
                                      LPVOID lpUserData) {
    if (m_shared)
        return ERROR_ALREADY_EXISTS;
    if (m_arrDirectories.GetSize() == 0)
        return ERROR_INVALID_PARAMETER;
    auto shared = std::make_shared<Shared>();
    shared->hActionEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!shared->hActionEvent)
        return GetLastError();
    m_watchList = std::make_shared<WatchList>();
    DWORD lastError = ERROR_SUCCESS;
    for (INT_PTR i = 0; i < m_arrDirectories.GetSize(); ++i) {
        const DWORD r = MonitorDirectory(m_arrDirectories[i]);
        if (r != ERROR_SUCCESS)
            lastError = r;
    }
    // Watching nothing is a failure, not a running monitor.
    if (m_watchList->records.empty()) {
        m_watchList.reset();
        return lastError != ERROR_SUCCESS ? lastError : ERROR_PATH_NOT_FOUND;
    }
    m_hCompletionPort = m_watchList->hPort.get();
    shared->pfnFilter = pfnFilter;
    shared->pfnAction = pfnAction;
    shared->lpUserData = lpUserData;
    shared->hParserEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    m_shared = shared;
    DWORD error = shared->hParserEvent ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_SUCCESS) {
        m_hParserThread.reset(StartThread(&Shared::ParsingDirectoryChangeThread, shared));
        if (m_hParserThread)
            m_hActionThread.reset(StartThread(&Shared::HandleFileActionFunc, shared));
        if (m_hActionThread) {
            auto* args = new ChangeThreadArgs{m_watchList, shared};
            m_hChangeThread.reset(CreateThread(nullptr, 0, &HandleDirectoryChange, args, 0, nullptr));
            if (!m_hChangeThread)
                delete args;
        }
        if (!m_hChangeThread)
            error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
    }
    if (error != ERROR_SUCCESS) {
        StopMonitor();
        return error;
    }
    return ERROR_SUCCESS;
}

DWORD CDirectoryMonitor::StopMonitor() {
    std::shared_ptr<Shared> shared = std::move(m_shared);
    std::shared_ptr<WatchList> watches = std::move(m_watchList);
    m_hCompletionPort = nullptr;
    if (shared)
        shared->bStop = true;
    // Pending reads end first; the change thread re-arms none once it sees the stop.
    if (watches)
        watches->CancelReads();
    if (m_hChangeThread) {
        PostQueuedCompletionStatus(watches->hPort.get(), 0, 0, nullptr);
        WaitForThread(m_hChangeThread.get());
        m_hChangeThread.reset();
    }
    if (shared) {
        if (m_hParserThread) {
            SetEvent(shared->hParserEvent.get());
            // A thread still inside a callback after the wait ends by itself when the callback returns; it holds
            // the shared state, so nothing it touches goes away under it.
            WaitForThread(m_hParserThread.get());
            m_hParserThread.reset();
        }
        if (m_hActionThread) {
            SetEvent(shared->hActionEvent.get());
            WaitForThread(m_hActionThread.get());
            m_hActionThread.reset();
        }
        {
            std::lock_guard lock(shared->parserLock);
            shared->parserQueue.clear();
        }
        shared->DrainActions();
    }
    // The directories and the port are closed and the records freed here, or, when the change thread is still at
    // work after its wait, as soon as it ends.
    return 0;
}
