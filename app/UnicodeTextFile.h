// CUnicodeTextFile: a line-oriented text file that reads UTF-16LE files with a byte-order mark as well as ANSI
// files, and writes UTF-16LE with a byte-order mark on request (modeWriteUnicode).
//
// Used exactly like CStdioFile: Open, ReadString into a string, WriteString, Close. WriteString adds nothing to the
// text, so callers write their own line feeds; every write goes straight to the file handle, so line ends are never
// translated on output.
#pragma once

#include "platform/afx/StdioFile.h"

class CUnicodeTextFile : public CStdioFile {
    DECLARE_DYNAMIC(CUnicodeTextFile)
public:
    // Write UTF-16LE with a byte-order mark; the framework's Open ignores this bit.
    static constexpr UINT modeWriteUnicode = 0x20000;

    CUnicodeTextFile();
    ~CUnicodeTextFile() override;

    void SetFilePath(LPCTSTR lpszNewName) override;
    BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr) override;
    void WriteString(LPCTSTR lpsz) override;
    BOOL ReadString(CString& rString) override;
    using CStdioFile::ReadString;

    // True when the file begins with the UTF-16LE byte-order mark FF FE; a file that cannot be opened is not Unicode.
    static BOOL IsUnicodeFile(LPCTSTR lpszFileName);

protected:
    UINT AdjustOpenFlags(LPCTSTR lpszFileName, UINT nOpenFlags);

    // Conversions with the object's code page. Each reports the characters or bytes produced, without the
    // terminating zero, and 0 when the conversion produced nothing.
    int AnsiToWide(const char* pszSource, int nSourceLength, LPWSTR pszTarget, int nTargetLength);
    int WideToAnsi(LPCWSTR pszSource, int nSourceLength, char* pszTarget, int nTargetLength);
    int WideToAnsiSize(LPCWSTR pszSource, int nSourceLength);

    bool m_bUnicode = false;
    UINT m_nFlags = 0;
    int m_nCodePage = -1;

private:
    UINT CodePage() const;
};
