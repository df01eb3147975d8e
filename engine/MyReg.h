// MyReg: saves a registry subtree (a key with all its values and subkeys) as registry export text, measures how
// long that text would be, and writes such a text back into the registry, optionally under another root and key
// path.
//
// Every value comes back with its type and its bytes: a value whose named text form (TypeName, ValueToText)
// would not rebuild it exactly is written in the exact form (regtext::HexTypeName). A save that cannot write the
// whole subtree fails and leaves the target file as it was; a load that cannot read the whole text or write
// every key and value reports it.
//
// One MyReg handles one save, measure or load at a time, on the thread that calls it.
#pragma once

#include "engine/RegReader.h"
#include "engine/RegWriter.h"
#include "platform/afx/String.h"
#include "platform/base/types.h"
#include "platform/registry/registry.h"

#include <memory>
#include <vector>

// An open key of a load; owns its handle.
struct MyRegKeyItem {
    MyRegKeyItem() = default;
    ~MyRegKeyItem();
    MyRegKeyItem(const MyRegKeyItem&) = delete;
    MyRegKeyItem& operator=(const MyRegKeyItem&) = delete;

    HKEY hKey = nullptr;
    CString strName;
};

// A value of a load, written when a key closes into the key it was read under.
struct MyRegValueItem {
    HKEY hKey = nullptr;
    CString strName;
    CString strType;
    CString strText;
};

class MyReg {
public:
    MyReg();
    virtual ~MyReg();
    MyReg(const MyReg&) = delete;
    MyReg& operator=(const MyReg&) = delete;

    // Saves hRoot\lpszSubKey to lpszFile. 1 on success; 0 (the reason in GetLastError) when the key cannot be
    // opened, hRoot is not a predefined root, or the subtree cannot be read or written whole; the file is then
    // left as it was.
    BOOL SaveKeyToFile(HKEY hRoot, LPCTSTR lpszSubKey, LPCTSTR lpszFile);
    // Adds to nSize the length, in characters, of the text that SaveKeyToFile would write. 1 on success; 0 as
    // for SaveKeyToFile, nSize then unchanged.
    BOOL CalKeyByName(HKEY hRoot, LPCTSTR lpszSubKey, ULONGLONG& nSize);

    // The walk of one key and its subkeys under the given name: writes it, or counts it into nSize. 1 on success,
    // 0 when a key cannot be queried or enumerated, a buffer cannot be allocated or a line cannot be written.
    BOOL SaveKey(HKEY hKey, LPCTSTR lpszName);
    BOOL CalKey(HKEY hKey, LPCTSTR lpszName, ULONGLONG& nSize);

    // Writes the keys and values of a registry export text into the registry, under hRoot and lpszKeyPath in
    // place of the outermost key's own root and path when they are given. Returns 0 when the whole text was read
    // and every key and value written; else a Win32 error code: the error of opening the file, ERROR_INVALID_DATA
    // when the text stops early or cannot be read (the values still pending are then not written), or the error
    // of the first key or value that the registry refused (the load goes on with the rest).
    DWORD LoadKeyFromFile(LPCTSTR lpszFile, HKEY hRoot = nullptr, LPCTSTR lpszKeyPath = nullptr);

    // Creates or opens lpszPath under the reader's root key into pItem.
    LONG OpenKey(LPCTSTR lpszPath, MyRegKeyItem* pItem);
    void CloseKey(MyRegKeyItem* pItem);
    // Writes and frees all pending values, in the order they were read; 0 or the first error.
    DWORD SetPendingValues();

    // The text forms of registry data.
    static void ValueToText(DWORD dwType, const BYTE* pData, DWORD cbData, CString& strText);
    // Rebuilds data from a value line's type name and text; 0 for a malformed text of the exact form.
    static BOOL TextToValue(const CString& strTypeName, const CString& strText, DWORD& dwType, std::vector<BYTE>& data);
    static CString TypeName(DWORD dwType);
    static DWORD TypeFromName(LPCTSTR lpszTypeName);
    // Two hexadecimal digits as a byte; any other character counts as 0.
    static BYTE HexByte(TCHAR chHigh, TCHAR chLow);
    // Whether the named text form of these data rebuilds the same type and bytes.
    static BOOL IsTextExact(DWORD dwType, const BYTE* pData, DWORD cbData);

private:
    BOOL Walk(HKEY hKey, LPCTSTR lpszName, ULONGLONG* pSize);
    BOOL PutValue(LPCTSTR lpszName, DWORD dwType, const BYTE* pData, DWORD cbData, ULONGLONG* pSize);
    static CString KeyFileName(HKEY hRoot, LPCTSTR lpszSubKey);

    std::vector<std::unique_ptr<MyRegKeyItem>> m_keys;
    std::vector<std::unique_ptr<MyRegValueItem>> m_values;
    CRegReader m_reader;
    RegWriter m_writer;
};
