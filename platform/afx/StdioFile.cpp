#include "platform/afx/StdioFile.h"

#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"

#include <cerrno>
#include <string>
#include <unistd.h>

IMPLEMENT_DYNAMIC(CStdioFile, CFile)

CStdioFile::CStdioFile() = default;

CStdioFile::CStdioFile(FILE* pOpenStream) : m_pStream(pOpenStream) {}

CStdioFile::CStdioFile(LPCTSTR lpszFileName, UINT nOpenFlags) {
    CFileException error;
    if (!Open(lpszFileName, nOpenFlags, &error))
        AfxThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
}

CStdioFile::~CStdioFile() {
    if (m_pStream && m_bCloseOnDelete)
        Abort();
}

BOOL CStdioFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
    if (m_pStream || m_hFile != hFileNull)
        Abort();
    m_bBinary = (nOpenFlags & typeBinary) != 0;
    if (!CFile::Open(lpszFileName, nOpenFlags & ~(typeText | typeBinary), pError))
        return FALSE;
    // The stream works on its own descriptor of the same open file, so both share one position.
    const int fd = platform::fs::HostDescriptor(m_hFile);
    const int streamFd = fd >= 0 ? dup(fd) : -1;
    const char* mode = (nOpenFlags & 3) == modeRead ? "rb" : (nOpenFlags & 3) == modeWrite ? "wb" : "r+b";
    m_pStream = streamFd >= 0 ? fdopen(streamFd, mode) : nullptr;
    if (!m_pStream) {
        const int err = errno;
        if (streamFd >= 0)
            close(streamFd);
        const DWORD error = platform::Win32ErrorFromErrno(err);
        CString name = m_strFileName;
        CFile::Abort();
        if (pError)
            pError->Set(CFileException::OsErrorToException(static_cast<LONG>(error)), static_cast<LONG>(error), name);
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

void CStdioFile::ThrowStreamError() {
    const DWORD error = platform::Win32ErrorFromErrno(errno);
    clearerr(m_pStream);
    CFileException::ThrowOsError(static_cast<LONG>(error), m_strFileName);
}

int CStdioFile::NextChar() {
    const int first = fgetc(m_pStream);
    if (first == EOF) {
        if (ferror(m_pStream))
            ThrowStreamError();
        return -1;
    }
    if (!m_bBinary)
        return first;
    const int second = fgetc(m_pStream);
    if (second == EOF) {
        if (ferror(m_pStream))
            ThrowStreamError();
        return -1; // half a character at the end is dropped, as the wide-character reader drops it
    }
    return first | (second << 8);
}

LPTSTR CStdioFile::ReadString(LPTSTR lpsz, UINT nMax) {
    if (!lpsz || nMax == 0)
        return nullptr;
    std::u16string line;
    std::string bytes;
    bool any = false;
    const size_t limit = nMax - 1;
    for (;;) {
        if ((m_bBinary ? line.size() : platform::Utf8ToUtf16(bytes).size()) >= limit)
            break;
        int ch = NextChar();
        if (ch < 0)
            break;
        any = true;
        if (m_bBinary) {
            line += static_cast<char16_t>(ch);
        } else if (ch == '\r') {
            // Text mode turns CR LF into LF; a lone CR stays.
            int next = fgetc(m_pStream);
            if (next == '\n') {
                bytes += '\n';
                break;
            }
            if (next != EOF)
                ungetc(next, m_pStream);
            bytes += '\r';
            continue;
        } else {
            bytes += static_cast<char>(ch);
        }
        if (ch == '\n')
            break;
    }
    if (!any) {
        lpsz[0] = 0;
        return nullptr;
    }
    if (!m_bBinary)
        line = platform::Utf8ToUtf16(bytes);
    platform::CopyTruncated(lpsz, nMax, line);
    return lpsz;
}

BOOL CStdioFile::ReadString(CString& rString) {
    std::u16string line;
    std::string bytes;
    bool any = false;
    for (;;) {
        int ch = NextChar();
        if (ch < 0)
            break;
        any = true;
        if (ch == '\n')
            break;
        if (m_bBinary) {
            line += static_cast<char16_t>(ch);
            continue;
        }
        if (ch == '\r') {
            int next = fgetc(m_pStream);
            if (next == '\n')
                break;
            if (next != EOF)
                ungetc(next, m_pStream);
        }
        bytes += static_cast<char>(ch);
    }
    if (!m_bBinary)
        line = platform::Utf8ToUtf16(bytes);
    rString = CString(std::u16string_view(line));
    return any;
}

void CStdioFile::WriteString(LPCTSTR lpsz) {
    if (!lpsz)
        return;
    std::string bytes;
    if (m_bBinary) {
        for (LPCTSTR p = lpsz; *p; ++p) {
            bytes += static_cast<char>(*p & 0xFF);
            bytes += static_cast<char>(*p >> 8);
        }
    } else {
        for (char c : platform::Utf16ToUtf8(lpsz)) {
            if (c == '\n')
                bytes += '\r';
            bytes += c;
        }
    }
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), m_pStream) != bytes.size())
        ThrowStreamError();
}

UINT CStdioFile::Read(void* lpBuf, UINT nCount) {
    if (nCount == 0)
        return 0;
    size_t read = fread(lpBuf, 1, nCount, m_pStream);
    if (read == 0 && ferror(m_pStream))
        ThrowStreamError();
    return static_cast<UINT>(read);
}

void CStdioFile::Write(const void* lpBuf, UINT nCount) {
    if (nCount && fwrite(lpBuf, 1, nCount, m_pStream) != nCount)
        ThrowStreamError();
}

ULONGLONG CStdioFile::Seek(LONGLONG lOff, UINT nFrom) {
    const int whence = nFrom == begin ? SEEK_SET : nFrom == current ? SEEK_CUR : SEEK_END;
    if (fseeko(m_pStream, static_cast<off_t>(lOff), whence) != 0)
        ThrowStreamError();
    return GetPosition();
}

ULONGLONG CStdioFile::GetPosition() const {
    off_t position = ftello(m_pStream);
    if (position < 0)
        CFileException::ThrowOsError(static_cast<LONG>(platform::Win32ErrorFromErrno(errno)), m_strFileName);
    return static_cast<ULONGLONG>(position);
}

ULONGLONG CStdioFile::GetLength() const {
    // What the stream has buffered belongs to the file's length too.
    fflush(m_pStream);
    return CFile::GetLength();
}

void CStdioFile::Flush() {
    if (m_pStream && fflush(m_pStream) != 0)
        ThrowStreamError();
}

void CStdioFile::Close() {
    int result = 0;
    if (m_pStream)
        result = fclose(m_pStream);
    const int err = errno;
    m_pStream = nullptr;
    CString name = m_strFileName;
    CFile::Close();
    if (result != 0)
        CFileException::ThrowOsError(static_cast<LONG>(platform::Win32ErrorFromErrno(err)), name);
}

void CStdioFile::Abort() {
    if (m_pStream)
        fclose(m_pStream);
    m_pStream = nullptr;
    CFile::Abort();
}
