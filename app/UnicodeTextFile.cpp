#include "app/UnicodeTextFile.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#ifndef MB_PRECOMPOSED
#define MB_PRECOMPOSED 0x00000001
#endif
#ifndef WC_COMPOSITECHECK
#define WC_COMPOSITECHECK 0x00000200
#endif
#ifndef WC_SEPCHARS
#define WC_SEPCHARS 0x00000020
#endif

IMPLEMENT_DYNAMIC(CUnicodeTextFile, CStdioFile)

namespace {

// Longest piece of an ANSI line returned by one ReadString, in bytes and in characters.
constexpr int kAnsiLineBytes = 4095;

const BYTE kByteOrderMark[2] = {0xFF, 0xFE};

// Removes one line end: CR LF when the text is longer than one character and ends in both, else a single CR or LF.
void StripLineEnd(CString& line) {
    const int length = line.GetLength();
    if (length > 1 && line[length - 2] == u'\r' && line[length - 1] == u'\n') {
        line.Delete(length - 2, 2);
        return;
    }
    if (length > 0 && (line[length - 1] == u'\r' || line[length - 1] == u'\n'))
        line.Delete(length - 1, 1);
}

// The number of bytes at the end that begin a UTF-8 sequence without completing it (0 when the text ends whole).
size_t IncompleteUtf8Tail(const std::vector<char>& bytes) {
    size_t continuation = 0;
    for (size_t i = bytes.size(); i-- > 0 && continuation < 4;) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if ((byte & 0xC0) == 0x80) {
            ++continuation;
            continue;
        }
        size_t needed = 0;
        if ((byte & 0xE0) == 0xC0)
            needed = 1;
        else if ((byte & 0xF0) == 0xE0)
            needed = 2;
        else if ((byte & 0xF8) == 0xF0)
            needed = 3;
        return continuation < needed ? continuation + 1 : 0;
    }
    return 0;
}

} // namespace

CUnicodeTextFile::CUnicodeTextFile() = default;

CUnicodeTextFile::~CUnicodeTextFile() = default;

void CUnicodeTextFile::SetFilePath(LPCTSTR lpszNewName) {
    CStdioFile::SetFilePath(lpszNewName);
}

UINT CUnicodeTextFile::CodePage() const {
    return m_nCodePage == -1 ? CP_ACP : static_cast<UINT>(m_nCodePage);
}

BOOL CUnicodeTextFile::IsUnicodeFile(LPCTSTR lpszFileName) {
    CFile file;
    if (!file.Open(lpszFileName, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary))
        return FALSE;
    BYTE mark[2] = {};
    UINT read = 0;
    try {
        read = file.Read(mark, sizeof(mark));
    } catch (CFileException* e) {
        e->Delete();
        read = 0;
    }
    file.Abort();
    return read == 2 && mark[0] == kByteOrderMark[0] && mark[1] == kByteOrderMark[1];
}

UINT CUnicodeTextFile::AdjustOpenFlags(LPCTSTR lpszFileName, UINT nOpenFlags) {
    m_bUnicode = false;
    const bool readingText = (nOpenFlags & typeText) && !(nOpenFlags & (modeCreate | modeWrite));
    if (readingText && IsUnicodeFile(lpszFileName)) {
        m_bUnicode = true;
        nOpenFlags = (nOpenFlags & ~static_cast<UINT>(typeText)) | typeBinary;
    }
    m_nFlags = nOpenFlags;
    return nOpenFlags;
}

BOOL CUnicodeTextFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
    const UINT flags = AdjustOpenFlags(lpszFileName, nOpenFlags);
    return CStdioFile::Open(lpszFileName, flags & ~modeWriteUnicode, pError);
}

int CUnicodeTextFile::AnsiToWide(const char* pszSource, int nSourceLength, LPWSTR pszTarget, int nTargetLength) {
    try {
        return MultiByteToWideChar(CodePage(), MB_PRECOMPOSED, pszSource, nSourceLength, pszTarget, nTargetLength);
    } catch (...) {
        return 0;
    }
}

int CUnicodeTextFile::WideToAnsiSize(LPCWSTR pszSource, int nSourceLength) {
    try {
        return WideCharToMultiByte(CodePage(), WC_COMPOSITECHECK | WC_SEPCHARS, pszSource, nSourceLength, nullptr, 0,
                                   "#", nullptr);
    } catch (...) {
        return 0;
    }
}

int CUnicodeTextFile::WideToAnsi(LPCWSTR pszSource, int nSourceLength, char* pszTarget, int nTargetLength) {
    try {
        return WideCharToMultiByte(CodePage(), WC_COMPOSITECHECK | WC_SEPCHARS, pszSource, nSourceLength, pszTarget,
                                   nTargetLength, "#", nullptr);
    } catch (...) {
        return 0;
    }
}

void CUnicodeTextFile::WriteString(LPCTSTR lpsz) {
    if (!lpsz)
        return;
    // Writes go to the handle itself, past the stream's buffer, so nothing is translated on the way out.
    if (m_nFlags & modeWriteUnicode) {
        if (CFile::GetPosition() == 0)
            CFile::Write(kByteOrderMark, sizeof(kByteOrderMark));
        std::vector<BYTE> bytes;
        bytes.reserve(static_cast<size_t>(lstrlenW(lpsz)) * 2);
        for (LPCTSTR p = lpsz; *p; ++p) {
            bytes.push_back(static_cast<BYTE>(*p & 0xFF));
            bytes.push_back(static_cast<BYTE>(*p >> 8));
        }
        if (!bytes.empty())
            CFile::Write(bytes.data(), static_cast<UINT>(bytes.size()));
        return;
    }
    const int length = lstrlenW(lpsz);
    if (length == 0)
        return;
    const int needed = WideToAnsiSize(lpsz, length);
    if (needed <= 0)
        return;
    std::vector<char> bytes(static_cast<size_t>(needed));
    const int converted = WideToAnsi(lpsz, length, bytes.data(), needed);
    if (converted > 0)
        CFile::Write(bytes.data(), static_cast<UINT>(converted));
}

BOOL CUnicodeTextFile::ReadString(CString& rString) {
    if (!m_pStream)
        return FALSE;
    if (m_bUnicode) {
        if (ftello(m_pStream) == 0) {
            BYTE mark[2];
            if (fread(mark, 1, sizeof(mark), m_pStream) < sizeof(mark) && ferror(m_pStream))
                CFileException::ThrowOsError(static_cast<LONG>(platform::Win32ErrorFromErrno(errno)), m_strFileName);
        }
        // The framework's reader drops the line feed; a carriage return before it is ours to remove.
        CString line;
        if (!CStdioFile::ReadString(line))
            return FALSE;
        StripLineEnd(line);
        rString = line;
        return TRUE;
    }

    // ANSI: up to 4095 bytes up to and including a line feed, CR LF read as LF as a text-mode stream does.
    std::vector<char> bytes;
    bytes.reserve(kAnsiLineBytes);
    while (static_cast<int>(bytes.size()) < kAnsiLineBytes) {
        int ch = fgetc(m_pStream);
        if (ch == EOF) {
            if (ferror(m_pStream)) {
                const int err = errno;
                clearerr(m_pStream);
                CFileException::ThrowOsError(static_cast<LONG>(platform::Win32ErrorFromErrno(err)), m_strFileName);
            }
            break;
        }
        if (ch == '\r') {
            int next = fgetc(m_pStream);
            if (next == '\n')
                ch = '\n';
            else if (next != EOF)
                ungetc(next, m_pStream);
        }
        bytes.push_back(static_cast<char>(ch));
        if (ch == '\n')
            break;
    }
    if (bytes.empty())
        return FALSE;
    // A piece cut at 4095 bytes must not split a character: the host's ANSI code page is UTF-8, so an incomplete
    // sequence at the end goes back to the stream and starts the next piece.
    if (bytes.back() != '\n' && static_cast<int>(bytes.size()) == kAnsiLineBytes) {
        const size_t incomplete = IncompleteUtf8Tail(bytes);
        if (incomplete > 0 && incomplete < bytes.size() &&
            fseeko(m_pStream, -static_cast<off_t>(incomplete), SEEK_CUR) == 0)
            bytes.resize(bytes.size() - incomplete);
    }
    std::vector<WCHAR> wide(kAnsiLineBytes + 1, 0);
    const int converted = AnsiToWide(bytes.data(), static_cast<int>(bytes.size()), wide.data(), kAnsiLineBytes);
    if (converted > 0) {
        CString line(wide.data(), converted);
        StripLineEnd(line);
        rString = line;
    }
    return TRUE;
}
