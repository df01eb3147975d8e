// CRegReader: reads registry export text (RegWriter) back one node at a time: a key that opens, a key that
// closes, or a value.
//
// Continued lines are joined (their leading blanks and tabs dropped) into one logical line before it is parsed;
// empty lines are passed over.
// The outermost key names its root ("HKEY_CURRENT_USER\..."); a caller may put another root and key path in its
// place, and the subtree is then read as if it had been saved there. Inner key names and the names of values of
// the exact form are unescaped.
//
// ReadString returns 0 at the end of the file and wherever reading cannot go on: a file that cannot be opened,
// a line longer than the line buffer, a last line cut off before its line end or in the middle of a continuation,
// a line that is neither a key nor a well-formed value line, a closing line that does not close the open key.
// GetError tells the two apart: 0 only after the clean end of the file.
#pragma once

#include "platform/afx/String.h"
#include "platform/base/types.h"

#include <string>

class CRegReader {
public:
    // Node kinds.
    enum { NODE_KEY_OPEN = 0, NODE_KEY_CLOSE = 1, NODE_VALUE = 2 };

    CRegReader();
    virtual ~CRegReader();
    CRegReader(const CRegReader&) = delete;
    CRegReader& operator=(const CRegReader&) = delete;

    // Taken only while no file is open; the next key read is the outermost one.
    void SetFileName(LPCTSTR lpszFileName);

    // Reads the next node; 1 when one was read. hRoot (a predefined root or 0) and lpszPath (or empty) replace the
    // outermost key's root and path when given.
    BOOL ReadString(HKEY hRoot, LPCTSTR lpszPath);
    // Parses the assembled logical line.
    BOOL ParseString(HKEY hRoot, LPCTSTR lpszPath);
    // Drops the last component of the full key path; called after a key closes.
    void PopKeyPath();
    // Closes the file; the next key read is the outermost one again.
    void Close();

    int GetNodeType() const { return m_nNodeType; }
    const CString& GetKeyName() const { return m_strKeyName; }
    // The full path of the current key below the root.
    const CString& GetKeyPath() const { return m_strKeyPath; }
    const CString& GetValueName() const { return m_strValueName; }
    const CString& GetTypeName() const { return m_strTypeName; }
    const CString& GetValueText() const { return m_strValueText; }
    // Hands the value text over to the caller.
    CString TakeValueText();
    HKEY GetRootKey() const { return m_hRootKey; }
    int GetDepth() const { return m_nDepth; }
    // Why the last ReadString returned 0: 0 at the clean end of the file, else a Win32 error code
    // (ERROR_INVALID_DATA for text that cannot be read, or the error of opening the file).
    DWORD GetError() const { return m_dwError; }

private:
    BOOL Open();
    // One physical line, its line feed included; false at the end of the data or for a line that does not end
    // in a line feed within the line buffer.
    bool ReadPhysicalLine(std::u16string& line);
    BOOL ReadLogicalLine();
    BOOL ParseKey(HKEY hRoot, LPCTSTR lpszPath);
    BOOL ParseValue();
    BOOL Fail();

    int m_nDepth = 0;
    bool m_bOpen = false;
    std::u16string m_data;
    size_t m_nPos = 0;
    CString m_strFileName;
    std::u16string m_strLine;
    CString m_strKeyName;
    CString m_strKeyPath;
    CString m_strValueName;
    CString m_strTypeName;
    CString m_strValueText;
    int m_nNodeType = NODE_KEY_OPEN;
    bool m_bFirstKey = true;
    HKEY m_hRootKey = nullptr;
    // The outermost key's name as the file has it, which its closing line repeats.
    CString m_strOuterName;
    DWORD m_dwError = 0;
};
