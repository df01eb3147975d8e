#include "platform/base/shared_state.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace platform {

namespace {

constexpr uint32_t kMagic = 0x4F424A53; // "SJBO"

// A file name for an object name: safe characters as they are, others escaped; overlong names are hashed.
std::string FileStem(const std::u16string& name) {
    const std::string utf8 = Utf16ToUtf8(name);
    std::string stem;
    for (unsigned char c : utf8) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.') {
            stem += static_cast<char>(c);
        } else {
            static const char* hex = "0123456789ABCDEF";
            stem += '%';
            stem += hex[c >> 4];
            stem += hex[c & 15];
        }
    }
    if (stem.size() > 180) {
        uint64_t hash = 14695981039346656037ull;
        for (unsigned char c : utf8)
            hash = (hash ^ c) * 1099511628211ull;
        char buffer[24];
        std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(hash));
        stem = stem.substr(0, 160) + "~" + buffer;
    }
    return "n_" + stem;
}

// Closes a descriptor when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// The namespace lock: held while a process opens or closes a shared object.
class NamespaceLock {
public:
    explicit NamespaceLock(const std::string& folder)
        : m_fd(open((folder + "/.namespace").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (m_fd.get() >= 0) {
            while (flock(m_fd.get(), LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    bool ok() const { return m_fd.get() >= 0; }

private:
    Fd m_fd; // closing the descriptor drops the lock
};

bool TryExclusive(int fd) {
    return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

bool LockSharedBlocking(int fd) {
    while (flock(fd, LOCK_SH) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

SharedRecord* MapRecord(int fd) {
    void* p = mmap(nullptr, sizeof(SharedRecord), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : static_cast<SharedRecord*>(p);
}

bool InitMutex(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    const int err = pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    return err == 0;
}

} // namespace

std::unique_ptr<SharedState> SharedState::Open(const std::u16string& name, Kind kind, const SharedRecord& initial,
                                               bool mustExist, bool& created) {
    created = false;
    const std::string folder = machine::PathOf("objects");
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    NamespaceLock ns(folder);
    if (!ns.ok()) {
        FailErrno();
        return nullptr;
    }
    const std::string stem = folder + "/" + FileStem(name);
    const std::string lockPath = stem + ".lock";
    const std::string statePath = stem + ".state";

    Fd lockFd(open(lockPath.c_str(), O_RDWR | O_CLOEXEC | (mustExist ? 0 : O_CREAT), 0600));
    if (lockFd.get() < 0) {
        if (errno == ENOENT && mustExist)
            Fail(ERROR_FILE_NOT_FOUND);
        else
            FailErrno();
        return nullptr;
    }
    // Nobody holds the lock file: whatever the files say is left over from processes that have gone.
    const bool fresh = TryExclusive(lockFd.get());
    if (fresh && mustExist) {
        unlink(lockPath.c_str());
        unlink(statePath.c_str());
        Fail(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    Fd stateFd(open(statePath.c_str(), O_RDWR | O_CLOEXEC | (fresh ? O_CREAT | O_TRUNC : 0), 0600));
    if (stateFd.get() < 0) {
        FailErrno();
        return nullptr;
    }
    if (fresh && ftruncate(stateFd.get(), sizeof(SharedRecord)) != 0) {
        FailErrno();
        return nullptr;
    }
    SharedRecord* record = MapRecord(stateFd.get());
    if (!record) {
        FailErrno();
        return nullptr;
    }
    if (fresh) {
        *record = initial;
        record->magic = kMagic;
        record->kind = static_cast<uint32_t>(kind);
        if (!InitMutex(&record->mutex)) {
            munmap(record, sizeof(SharedRecord));
            Fail(ERROR_GEN_FAILURE);
            return nullptr;
        }
        created = true;
    } else if (record->magic != kMagic || record->kind != static_cast<uint32_t>(kind)) {
        munmap(record, sizeof(SharedRecord));
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // From exclusive (when fresh) to shared, or join the holders; the namespace lock keeps this step private.
    if (!LockSharedBlocking(lockFd.get())) {
        munmap(record, sizeof(SharedRecord));
        FailErrno();
        return nullptr;
    }
    return std::unique_ptr<SharedState>(new SharedState(lockFd.release(), record, lockPath, statePath));
}

SharedState::SharedState(int lockFd, SharedRecord* record, std::string lockPath, std::string statePath)
    : m_lockFd(lockFd), m_record(record), m_lockPath(std::move(lockPath)), m_statePath(std::move(statePath)) {}

SharedState::~SharedState() {
    const std::string folder = std::filesystem::path(m_lockPath).parent_path().string();
    NamespaceLock ns(folder);
    munmap(m_record, sizeof(SharedRecord));
    // The last process to close the object removes its files.
    if (ns.ok() && TryExclusive(m_lockFd)) {
        unlink(m_lockPath.c_str());
        unlink(m_statePath.c_str());
    }
    close(m_lockFd);
}

void SharedState::Lock() {
    // A process that died holding the lock leaves it "owner dead"; the state it guards is a few integers that
    // are always written whole, so it is taken over as it is.
    if (pthread_mutex_lock(&m_record->mutex) == EOWNERDEAD)
        pthread_mutex_consistent(&m_record->mutex);
}

void SharedState::Unlock() {
    pthread_mutex_unlock(&m_record->mutex);
}

} // namespace platform
