#include "platform/fs/sharelocks.h"

#include "platform/base/errors.h"
#include "platform/fs/files.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform::fs::detail {

namespace {

// The reserved bytes, far beyond any real file's data so that byte-range locks of the file's users never meet
// them.
constexpr off_t kShareBase = 0x7FFFFFFFFFFFFF00LL;
// What the bytes stand for. An open holds the meanings of what it does and what it refuses others, and tests
// the meanings that would conflict with it.
enum Meaning : unsigned { kOpenRead, kOpenWrite, kOpenDelete, kDenyRead, kDenyWrite, kDenyDelete, kMeanings };

// The bytes. Two meanings have a second byte, so that the common opens test and take one run of neighbours
// each: a holder locks every byte of a meaning, a tester needs only one of them. The common opens: a reader that
// lets others read (holds bytes 2-4, tests 5-7), a reader that lets others read and write (holds 3-4, tests 0-1),
// a reader and writer that lets others read and write (holds 3-5, tests 0-2), and the replacement of a copy's
// destination (tests 2-6).
constexpr int kBytes = 8;
constexpr Meaning kLayout[kBytes] = {kOpenDelete, kDenyRead,  kDenyWrite,  kOpenRead,
                                     kDenyDelete, kOpenWrite, kOpenDelete, kDenyRead};

unsigned BytesOf(Meaning m) {
    unsigned bytes = 0;
    for (int i = 0; i < kBytes; ++i)
        if (kLayout[i] == m)
            bytes |= 1u << i;
    return bytes;
}

// Bytes are handled in runs of neighbours, so that a typical open costs one test and one lock.
template <class F> bool ForRuns(unsigned mask, F f) {
    for (int i = 0; i < kBytes;) {
        if (!(mask & (1u << i))) {
            ++i;
            continue;
        }
        int j = i;
        while (j < kBytes && (mask & (1u << j)))
            ++j;
        if (!f(static_cast<off_t>(i), static_cast<off_t>(j - i)))
            return false;
        i = j;
    }
    return true;
}

int RunsOf(unsigned mask) {
    int runs = 0;
    ForRuns(mask, [&runs](off_t, off_t) { return ++runs, true; });
    return runs;
}

// The bytes that hold every meaning in `meanings`.
unsigned HolderBytes(unsigned meanings) {
    unsigned bytes = 0;
    for (unsigned m = 0; m < kMeanings; ++m)
        if (meanings & (1u << m))
            bytes |= BytesOf(static_cast<Meaning>(m));
    return bytes;
}

// One byte of each meaning in `meanings`, chosen so that they form as few runs as can be.
unsigned ChooseTestBytes(unsigned meanings) {
    unsigned best = 0;
    int bestRuns = kBytes + 1;
    // Each meaning with two bytes offers a choice; every combination is tried.
    unsigned choices[kMeanings][2] = {};
    int counts[kMeanings] = {};
    for (unsigned m = 0; m < kMeanings; ++m) {
        if (!(meanings & (1u << m)))
            continue;
        for (int i = 0; i < kBytes; ++i)
            if (kLayout[i] == m && counts[m] < 2)
                choices[m][counts[m]++] = 1u << i;
    }
    for (unsigned pick = 0; pick < (1u << kMeanings); ++pick) {
        unsigned bytes = 0;
        bool valid = true;
        for (unsigned m = 0; m < kMeanings && valid; ++m) {
            const bool second = (pick >> m) & 1u;
            if (!(meanings & (1u << m))) {
                valid = !second;
                continue;
            }
            valid = !second || counts[m] == 2;
            if (valid)
                bytes |= choices[m][second ? 1 : 0];
        }
        if (!valid)
            continue;
        if (int runs = RunsOf(bytes); runs < bestRuns) {
            bestRuns = runs;
            best = bytes;
        }
    }
    return best;
}

unsigned TestBytes(unsigned meanings) {
    static const auto table = [] {
        std::array<uint8_t, 1u << kMeanings> t{};
        for (unsigned m = 0; m < t.size(); ++m)
            t[m] = static_cast<uint8_t>(ChooseTestBytes(m));
        return t;
    }();
    return table[meanings & ((1u << kMeanings) - 1)];
}

// True when another open description holds a lock on any of the bytes in `mask`.
bool AnyHeld(int fd, unsigned mask) {
    return !ForRuns(mask, [fd](off_t start, off_t length) {
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = kShareBase + start;
        lock.l_len = length;
        if (fcntl(fd, F_OFD_GETLK, &lock) != 0)
            return true;
        return lock.l_type == F_UNLCK;
    });
}

// A descriptor that cannot carry read locks (opened write-only) leaves the open unrecorded; it still passes the
// check, which is the part that protects the other openers.
void TakeAll(int fd, unsigned mask) {
    ForRuns(mask, [fd](off_t start, off_t length) {
        struct flock lock = {};
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = kShareBase + start;
        lock.l_len = length;
        fcntl(fd, F_OFD_SETLK, &lock);
        return true;
    });
}

void ReleaseAll(int fd, unsigned mask) {
    ForRuns(mask, [fd](off_t start, off_t length) {
        struct flock lock = {};
        lock.l_type = F_UNLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = kShareBase + start;
        lock.l_len = length;
        fcntl(fd, F_OFD_SETLK, &lock);
        return true;
    });
}

unsigned Bit(Meaning m) {
    return 1u << m;
}

// The meanings other opens must not hold for this request to pass.
unsigned ConflictMask(const ShareRequest& r) {
    unsigned m = 0;
    if (r.read)
        m |= Bit(kDenyRead);
    if (r.write)
        m |= Bit(kDenyWrite);
    if (r.del)
        m |= Bit(kDenyDelete);
    if (!r.shareRead)
        m |= Bit(kOpenRead);
    if (!r.shareWrite)
        m |= Bit(kOpenWrite);
    if (!r.shareDelete)
        m |= Bit(kOpenDelete);
    return m;
}

// The meanings this open holds.
unsigned OwnMask(const ShareRequest& r) {
    unsigned m = 0;
    if (r.read)
        m |= Bit(kOpenRead);
    if (r.write)
        m |= Bit(kOpenWrite);
    if (r.del)
        m |= Bit(kOpenDelete);
    if (!r.shareRead)
        m |= Bit(kDenyRead);
    if (!r.shareWrite)
        m |= Bit(kDenyWrite);
    if (!r.shareDelete)
        m |= Bit(kDenyDelete);
    return m;
}

bool Conflicts(int fd, const ShareRequest& r) {
    return AnyHeld(fd, TestBytes(ConflictMask(r)));
}

// Holds the exclusive flock that serialises checks of one file.
class Gate {
public:
    explicit Gate(int fd) : m_fd(fd) {
        while (flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~Gate() { flock(m_fd, LOCK_UN); }
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

private:
    int m_fd;
};

} // namespace

ShareRequest ShareRequest::From(DWORD access, DWORD shareMode) {
    ShareRequest r;
    const bool all = (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) != 0;
    r.read = all || (access & (GENERIC_READ | GENERIC_EXECUTE | FILE_READ_DATA | 0x20 /*FILE_EXECUTE*/)) != 0;
    r.write = all || (access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    r.del = all || (access & DELETE) != 0;
    r.shareRead = (shareMode & FILE_SHARE_READ) != 0;
    r.shareWrite = (shareMode & FILE_SHARE_WRITE) != 0;
    r.shareDelete = (shareMode & FILE_SHARE_DELETE) != 0;
    return r;
}

namespace {

// Records `r` on `fd` and checks it against the other opens; false (with nothing recorded) on a conflict.
//
// The bytes are taken before the others are tested, so that of two conflicting opens that run at the same time
// at least the later one sees the earlier: an open that passes has been seen by every later test. Two that take
// at the same moment may both see each other; each then lets its bytes go, and the gate settles who comes first.
bool TakeAndCheck(int fd, const ShareRequest& r) {
    const unsigned own = HolderBytes(OwnMask(r));
    TakeAll(fd, own);
    if (!Conflicts(fd, r))
        return true;
    ReleaseAll(fd, own);
    return false;
}

} // namespace

DWORD AcquireShare(int fd, const ShareRequest& r) {
    if (!r.HasDataAccess())
        return ERROR_SUCCESS;
    // Most opens meet no conflict at all and need no gate.
    if (TakeAndCheck(fd, r))
        return ERROR_SUCCESS;
    Gate gate(fd);
    return TakeAndCheck(fd, r) ? ERROR_SUCCESS : ERROR_SHARING_VIOLATION;
}

DWORD WithShareCheck(const std::string& hostPath, const ShareRequest& r, const std::function<DWORD()>& action) {
    const int fd = open(hostPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return action();
    // The check holds the gate and the request's bytes while the action runs: an opener that comes meanwhile sees
    // the bytes and waits at the gate, as it would for a concurrent open. Closing the descriptor lets the bytes
    // and the gate go at once.
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    TakeAll(fd, HolderBytes(OwnMask(r)));
    return Conflicts(fd, r) ? ERROR_SHARING_VIOLATION : action();
}

} // namespace platform::fs::detail
