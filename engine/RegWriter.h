// RegWriter: writes a registry subtree as registry export text, one key or value line at a time.
//
// The text is UTF-16LE with a byte-order mark, lines end with CR LF, and every key is a block of an opening line
// "[name]", its value lines name="...",type="...",value="...", its subkey blocks and a closing line "[/name]",
// indented two blanks per level. Binary and multi-string texts are cut into 48-character pieces continued with a
// trailing backslash. Every line stays within what the reader takes: a longer line is continued the same way,
// and a continuation never begins with a blank or tab (the reader drops those). An inner key name or the name of
// a value of the exact form (regtext::HexTypeName) that holds a character which would break its line is escaped.
//
// The file is written whole or not at all: the lines go to new content for the target (platform/fs/wholefile.h),
// which Close puts in place of the target only when every write succeeded.
#pragma once

#include "platform/afx/String.h"
#include "platform/base/types.h"
#include "platform/fs/wholefile.h"

#include <string>
#include <vector>

class RegWriter {
public:
    RegWriter();
    virtual ~RegWriter();
    RegWriter(const RegWriter&) = delete;
    RegWriter& operator=(const RegWriter&) = delete;

    // The file to write; taken only while no file is open.
    void SetFileName(LPCTSTR lpszFileName);

    // Writes an opening (bOpen) or closing key line at the current indent; the indent grows by 2 after an
    // opening line and shrinks by 2 before a closing one. The first key creates the file. 0 when the file cannot
    // be created, a write fails, or the name cannot be written (an outermost name holding ']', CR or LF); a
    // failure is kept, and every later write and Close report it too.
    BOOL WriteKey(LPCTSTR lpszName, BOOL bOpen);
    // Writes one value line (and its continuations). 0 while no file is open, when a write fails, or when the
    // line cannot be written as given (see CanWriteValue).
    BOOL WriteValue(LPCTSTR lpszValueName, LPCTSTR lpszTypeName, LPCTSTR lpszText, DWORD dwType);

    // Add to nSize, in characters, what WriteKey and WriteValue would write, and move the indent the same way.
    BOOL CountKey(LPCTSTR lpszName, BOOL bOpen, ULONGLONG& nSize);
    BOOL CountValue(LPCTSTR lpszValueName, LPCTSTR lpszTypeName, LPCTSTR lpszText, DWORD dwType, ULONGLONG& nSize);

    // Whether a value line of a named form reads back as given: its name holds no CR, LF or the sequence that ends
    // a name, its text no line feed, and its lines can be continued without a blank at the start of one. A line of
    // the exact form can always be written.
    BOOL CanWriteValue(LPCTSTR lpszValueName, LPCTSTR lpszTypeName, LPCTSTR lpszText, DWORD dwType) const;

    // Closes the file and sets the indent to 0. With bKeep, the text replaces the target file when everything was
    // written; without it, or after a failure, the target is left as it was. 0 when the text was not kept for a
    // failure (GetError tells which).
    BOOL Close(BOOL bKeep = TRUE);

    // The Win32 error of the first failure since the file was opened, 0 when none.
    DWORD GetError() const { return m_dwError; }

private:
    // One logical line and where it is cut into physical lines.
    struct Line {
        std::u16string content;
        std::vector<size_t> cuts;
    };

    BOOL LayoutKey(LPCTSTR lpszName, int nIndent, BOOL bOpen, Line& line) const;
    BOOL LayoutValue(LPCTSTR lpszValueName, LPCTSTR lpszTypeName, LPCTSTR lpszText, DWORD dwType, Line& line) const;
    static BOOL CutLine(Line& line, size_t nTextStart, size_t nTextLength, bool bPieced, int nIndent);
    static ULONGLONG LineLength(const Line& line, int nIndent);
    BOOL Emit(const Line& line, int nIndent);
    BOOL OpenFile();
    BOOL Flush();
    BOOL Fail(DWORD dwError);

    CString m_strFileName;
    platform::fs::WholeFile m_file;
    int m_nIndent = 0;
    DWORD m_dwError = 0;
    std::u16string m_buffer;
};
