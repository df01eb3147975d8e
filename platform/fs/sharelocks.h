// Private: Windows share modes across processes, kept as open-file-description locks on reserved bytes at the
// very end of the offset range.
//
// Each open that has data access holds shared locks on the bytes that say what it does (opened for read,
// write, delete) and what it refuses others (denies read, write, delete). A new open takes its own bytes and
// then tests the opposite bytes of every other open, so that of two concurrent openers in any process the later
// one always sees the earlier; when both see each other, both let go and try again one at a time under an
// exclusive flock of the file. The locks go away with the descriptor, also when a process dies. Opens without
// read, write or delete access (attributes only) take no part.
#pragma once

#include "platform/base/types.h"

#include <functional>
#include <string>

namespace platform::fs::detail {

struct ShareRequest {
    bool read = false;
    bool write = false;
    bool del = false;
    bool shareRead = false;
    bool shareWrite = false;
    bool shareDelete = false;

    bool HasDataAccess() const { return read || write || del; }
    static ShareRequest From(DWORD access, DWORD shareMode);
};

// Checks `request` against the other opens of the file behind `fd` and records it on `fd`. ERROR_SUCCESS or
// ERROR_SHARING_VIOLATION. `fd` must be open for reading when the request has data access.
DWORD AcquireShare(int fd, const ShareRequest& request);

// Checks `request` against the opens of `hostPath` and, when it passes, runs `action` while holding the
// request's bytes as an open would, and the file's flock (nothing is kept afterwards): a conflicting opener that
// comes meanwhile waits until the action is done.
// Returns ERROR_SHARING_VIOLATION or the action's result. A name that cannot be opened for the check (a symbolic
// link, no read permission) is not checked.
DWORD WithShareCheck(const std::string& hostPath, const ShareRequest& request, const std::function<DWORD()>& action);

} // namespace platform::fs::detail
