#include "platform/afx/FileException.h"

#include "platform/base/errors.h"
#include "platform/base/format.h"
#include "platform/base/strings.h"

IMPLEMENT_DYNAMIC(CFileException, CException)

namespace {

constexpr DWORD kErrorNegativeSeek = 131;

const char16_t* CauseText(int cause) {
    switch (cause) {
    case CFileException::none:
        return u"No error occurred.";
    case CFileException::fileNotFound:
        return u"%s was not found.";
    case CFileException::badPath:
        return u"%s contains an invalid path.";
    case CFileException::tooManyOpenFiles:
        return u"%s could not be opened because there are too many open files.";
    case CFileException::accessDenied:
        return u"Access to %s was denied.";
    case CFileException::invalidFile:
        return u"An unsupported operation was attempted on %s.";
    case CFileException::removeCurrentDir:
        return u"%s could not be removed because it is the current directory.";
    case CFileException::directoryFull:
        return u"%s could not be created because the directory is full.";
    case CFileException::badSeek:
        return u"Seek failed on %s.";
    case CFileException::hardIO:
        return u"A hardware I/O error was reported while accessing %s.";
    case CFileException::sharingViolation:
        return u"A sharing violation occurred while accessing %s.";
    case CFileException::lockViolation:
        return u"A locking violation occurred while accessing %s.";
    case CFileException::diskFull:
        return u"Disk full while accessing %s.";
    case CFileException::endOfFile:
        return u"An attempt was made to access %s past its end.";
    default:
        return u"An unexpected file error occurred while accessing %s.";
    }
}

} // namespace

CFileException::CFileException(int cause, LONG lOsError, LPCTSTR lpszArchiveName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszArchiveName) {}

void CFileException::Set(int cause, LONG lOsError, LPCTSTR lpszFileName) {
    m_cause = cause;
    m_lOsError = lOsError;
    m_strFileName = lpszFileName;
}

BOOL CFileException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) {
    if (pnHelpContext)
        *pnHelpContext = 0;
    if (!lpszError || nMaxError == 0)
        return FALSE;
    const CString name = m_strFileName.IsEmpty() ? CString(u"an unnamed file") : m_strFileName;
    std::u16string text = platform::Format(CauseText(m_cause), static_cast<LPCTSTR>(name));
    platform::CopyTruncated(lpszError, nMaxError, text);
    return TRUE;
}

int CFileException::OsErrorToException(LONG lOsError) {
    switch (static_cast<DWORD>(lOsError)) {
    case NO_ERROR:
        return none;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_HANDLE:
    case ERROR_MOD_NOT_FOUND:
        return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
        return badPath;
    case ERROR_TOO_MANY_OPEN_FILES:
        return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_INVALID_ACCESS:
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
    case ERROR_CANNOT_MAKE:
        return accessDenied;
    case ERROR_CURRENT_DIRECTORY:
        return removeCurrentDir;
    case ERROR_SEEK:
    case kErrorNegativeSeek:
        return badSeek;
    case ERROR_CRC:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_NOT_READY:
        return hardIO;
    case ERROR_SHARING_VIOLATION:
        return sharingViolation;
    case ERROR_LOCK_VIOLATION:
    case ERROR_NOT_LOCKED:
        return lockViolation;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
        return diskFull;
    case ERROR_HANDLE_EOF:
        return endOfFile;
    default:
        return genericException;
    }
}

void CFileException::ThrowOsError(LONG lOsError, LPCTSTR lpszFileName) {
    AfxThrowFileException(OsErrorToException(lOsError), lOsError, lpszFileName);
}

void AfxThrowFileException(int cause, LONG lOsError, LPCTSTR lpszFileName) {
    throw new CFileException(cause, lOsError, lpszFileName);
}
