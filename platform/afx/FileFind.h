// CFileFind: the framework's directory search over FindFirstFileW and FindNextFileW.
//
// As in the framework, FindNextFile moves to the next entry and returns FALSE when that entry is the last one, so
// the loop "while (more) { more = finder.FindNextFile(); use the entry; }" sees every entry. The root is the
// folder part of the searched pattern.
#pragma once

#include "platform/afx/Object.h"
#include "platform/afx/Time.h"
#include "platform/fs/find.h"

#include <memory>

class CFileFind : public CObject {
    DECLARE_DYNAMIC(CFileFind)
public:
    CFileFind();
    ~CFileFind() override;
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;

    // A null name searches "*.*" in the current folder.
    virtual BOOL FindFile(LPCTSTR pstrName = nullptr, DWORD dwUnused = 0);
    virtual BOOL FindNextFile();
    void Close();

    ULONGLONG GetLength() const;
    virtual CString GetFileName() const;
    virtual CString GetFilePath() const;
    virtual CString GetFileTitle() const;
    virtual CString GetFileURL() const;
    virtual CString GetRoot() const;

    BOOL GetLastWriteTime(FILETIME* pTimeStamp) const;
    BOOL GetLastAccessTime(FILETIME* pTimeStamp) const;
    BOOL GetCreationTime(FILETIME* pTimeStamp) const;
    BOOL GetLastWriteTime(CTime& refTime) const;
    BOOL GetLastAccessTime(CTime& refTime) const;
    BOOL GetCreationTime(CTime& refTime) const;

    virtual BOOL MatchesMask(DWORD dwMask) const;
    virtual BOOL IsDots() const;
    BOOL IsReadOnly() const { return MatchesMask(FILE_ATTRIBUTE_READONLY_MASK); }
    BOOL IsDirectory() const { return MatchesMask(FILE_ATTRIBUTE_DIRECTORY_MASK); }
    BOOL IsCompressed() const { return MatchesMask(0x800); }
    BOOL IsSystem() const { return MatchesMask(0x4); }
    BOOL IsHidden() const { return MatchesMask(0x2); }
    BOOL IsTemporary() const { return MatchesMask(0x100); }
    BOOL IsNormal() const { return MatchesMask(0x80); }
    BOOL IsArchived() const { return MatchesMask(0x20); }

private:
    static constexpr DWORD FILE_ATTRIBUTE_READONLY_MASK = 0x1;
    static constexpr DWORD FILE_ATTRIBUTE_DIRECTORY_MASK = 0x10;

    const WIN32_FIND_DATAW* Found() const;

    HANDLE m_hContext = nullptr;
    std::unique_ptr<WIN32_FIND_DATAW> m_pFoundInfo;
    std::unique_ptr<WIN32_FIND_DATAW> m_pNextInfo;
    CString m_strRoot;
    TCHAR m_chDirSeparator = u'\\';
};
