#include "platform/base/errors.h"

#include <cerrno>

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD GetLastError() {
    return t_lastError;
}

void SetLastError(DWORD error) {
    t_lastError = error;
}

namespace platform {

DWORD Win32ErrorFromErrno(int err) {
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EFBIG:
        return ERROR_FILE_TOO_LARGE;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    case EBUSY:
        return ERROR_BUSY;
    case ETXTBSY:
    case EAGAIN:
        return ERROR_SHARING_VIOLATION;
    case ELOOP:
        return ERROR_CANT_RESOLVE_FILENAME;
    case EIO:
        return ERROR_IO_DEVICE;
    case ENODEV:
    case ENXIO:
        return ERROR_DEV_NOT_EXIST;
    case EPIPE:
        return ERROR_BROKEN_PIPE;
    case ETIMEDOUT:
        return ERROR_TIMEOUT;
    case ECONNREFUSED:
        return ERROR_CONNECTION_REFUSED;
    case ENOSYS:
    case EOPNOTSUPP:
        return ERROR_NOT_SUPPORTED;
    case ECANCELED:
        return ERROR_OPERATION_ABORTED;
    case ESPIPE:
        return ERROR_SEEK;
    case EILSEQ:
        return ERROR_NO_UNICODE_TRANSLATION;
    default:
        return ERROR_GEN_FAILURE;
    }
}

DWORD FailErrno() {
    return FailErrno(errno);
}

DWORD FailErrno(int err) {
    return Fail(Win32ErrorFromErrno(err));
}

} // namespace platform
