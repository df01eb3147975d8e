// CPageSettings: the registry key of one Expert Mode page under the per-user settings root ("<root>\Expert\...")
// and its values. Reads of a missing key or value give the default; writes that cannot open the key are skipped
// and reported as FALSE. GUI thread only.
#pragma once

#include "platform/afx/String.h"
#include "platform/base/types.h"

class CPageSettings {
public:
    // The settings root, a backslash added when missing, then the subkey.
    explicit CPageSettings(LPCTSTR lpszSubKey);

    const CString& GetKeyPath() const { return m_strKey; }
    // Whether the key exists.
    BOOL Exists() const;
    // A REG_SZ value of at most nMaxBytes bytes (its terminating zero included); FALSE when missing, unreadable,
    // of another type or longer.
    BOOL ReadString(LPCTSTR lpszName, CString& strValue, DWORD nMaxBytes = 2048) const;
    // A REG_DWORD value; FALSE (and the value untouched) when missing or unreadable.
    BOOL ReadDword(LPCTSTR lpszName, DWORD& dwValue) const;
    BOOL WriteString(LPCTSTR lpszName, const CString& strValue) const;
    BOOL WriteDword(LPCTSTR lpszName, DWORD dwValue) const;
    BOOL DeleteValue(LPCTSTR lpszName) const;
    // Deletes the key with its values (it has no subkeys).
    BOOL RemoveKey() const;

private:
    CString m_strKey;
};
