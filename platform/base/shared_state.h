// The cross-process state of a named semaphore or event, private to the base layer.
//
// Each name has two files in the folder "objects" of the machine folder: a lock file and a state file. Every
// process that has the object open holds a shared flock on the lock file; the state (count, signal, a robust
// process-shared mutex) lives in the state file, mapped into each process. A process that finds nobody holding
// the lock file starts the object afresh, so a process that died leaves no stale name behind: the kernel drops
// its flock with it. All opening and closing is serialised by one namespace lock file.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

struct SharedRecord {
    uint32_t magic;
    uint32_t kind;
    int32_t count;
    int32_t maximum;
    uint32_t manualReset;
    uint32_t signaled;
    pthread_mutex_t mutex;
};

class SharedState {
public:
    enum class Kind : uint32_t { Semaphore = 1, Event = 2 };

    // Opens the shared object `name`, creating it from `initial` when no process has it (unless `mustExist`).
    // On failure returns null with the last error set: ERROR_FILE_NOT_FOUND (mustExist and absent),
    // ERROR_INVALID_HANDLE (the name belongs to another kind of object), or the host's error.
    static std::unique_ptr<SharedState> Open(const std::u16string& name, Kind kind, const SharedRecord& initial,
                                             bool mustExist, bool& created);
    ~SharedState();
    SharedState(const SharedState&) = delete;
    SharedState& operator=(const SharedState&) = delete;

    // Recursive; call before touching Record().
    void Lock();
    void Unlock();
    SharedRecord& Record() { return *m_record; }

private:
    SharedState(int lockFd, SharedRecord* record, std::string lockPath, std::string statePath);

    int m_lockFd;
    SharedRecord* m_record;
    std::string m_lockPath;
    std::string m_statePath;
};

} // namespace platform
