// CStdioFile: a CFile with a C stream for line-oriented text.
//
// The stream (m_pStream) shares the file handle's position as the C runtime's stream does on Windows. Text mode
// (typeText, the default) reads lines of ANSI text (the host's code page, UTF-8) with CR LF turned into a line
// feed and writes a line feed as CR LF; binary mode (typeBinary) reads and writes UTF-16LE code units unchanged,
// as the wide-character line functions do on a binary stream. ReadString into a CString drops the line feed;
// ReadString into a buffer keeps it. Read and write errors throw CFileException*.
#pragma once

#include "platform/afx/File.h"

#include <cstdio>

class CStdioFile : public CFile {
    DECLARE_DYNAMIC(CStdioFile)
public:
    CStdioFile();
    explicit CStdioFile(FILE* pOpenStream);
    CStdioFile(LPCTSTR lpszFileName, UINT nOpenFlags);
    ~CStdioFile() override;

    BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr) override;
    virtual LPTSTR ReadString(LPTSTR lpsz, UINT nMax);
    virtual BOOL ReadString(CString& rString);
    virtual void WriteString(LPCTSTR lpsz);

    UINT Read(void* lpBuf, UINT nCount) override;
    void Write(const void* lpBuf, UINT nCount) override;
    ULONGLONG Seek(LONGLONG lOff, UINT nFrom) override;
    ULONGLONG GetPosition() const override;
    ULONGLONG GetLength() const override;
    void Flush() override;
    void Close() override;
    void Abort() override;

    FILE* m_pStream = nullptr;

private:
    // Next character of the stream (a byte in text mode, a UTF-16 unit in binary mode), or -1 at the end.
    int NextChar();
    void ThrowStreamError();

    BOOL m_bBinary = FALSE;
};
