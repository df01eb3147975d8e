#include "platform/afx/FileFind.h"

#include "platform/base/errors.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"

#include <algorithm>
#include <cassert>
#include <vector>

IMPLEMENT_DYNAMIC(CFileFind, CObject)

CFileFind::CFileFind() = default;

CFileFind::~CFileFind() {
    Close();
}

void CFileFind::Close() {
    m_pFoundInfo.reset();
    m_pNextInfo.reset();
    if (m_hContext && m_hContext != INVALID_HANDLE_VALUE)
        FindClose(m_hContext);
    m_hContext = nullptr;
}

BOOL CFileFind::FindFile(LPCTSTR pstrName, DWORD) {
    Close();
    CString pattern = pstrName ? CString(pstrName) : CString(u"*.*");
    m_pNextInfo = std::make_unique<WIN32_FIND_DATAW>();
    m_hContext = FindFirstFileW(pattern, m_pNextInfo.get());
    if (m_hContext == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        Close();
        SetLastError(error);
        return FALSE;
    }
    // The root is the full folder of the pattern.
    std::vector<WCHAR> full(32768);
    LPWSTR filePart = nullptr;
    DWORD length = GetFullPathNameW(pattern, static_cast<DWORD>(full.size()), full.data(), &filePart);
    CString root = length ? CString(full.data(), static_cast<int>(length)) : pattern;
    if (length && filePart)
        root = CString(full.data(), static_cast<int>(filePart - full.data()));
    else {
        const int cut = std::max(root.ReverseFind(u'\\'), root.ReverseFind(u'/'));
        root = cut >= 0 ? root.Left(cut + 1) : CString();
    }
    if (root.GetLength() > 1 && (root.Right(1) == u"\\" || root.Right(1) == u"/") &&
        !(root.GetLength() == 3 && root[1] == u':'))
        root = root.Left(root.GetLength() - 1);
    m_strRoot = root;
    return TRUE;
}

BOOL CFileFind::FindNextFile() {
    if (!m_hContext || !m_pNextInfo)
        return FALSE;
    if (!m_pFoundInfo)
        m_pFoundInfo = std::make_unique<WIN32_FIND_DATAW>();
    std::swap(m_pFoundInfo, m_pNextInfo);
    return ::FindNextFileW(m_hContext, m_pNextInfo.get());
}

const WIN32_FIND_DATAW* CFileFind::Found() const {
    assert(m_pFoundInfo && "FindNextFile must be called before the found entry is read");
    return m_pFoundInfo.get();
}

ULONGLONG CFileFind::GetLength() const {
    const auto* info = Found();
    return (static_cast<ULONGLONG>(info->nFileSizeHigh) << 32) | info->nFileSizeLow;
}

CString CFileFind::GetFileName() const {
    return m_pFoundInfo ? CString(m_pFoundInfo->cFileName) : CString();
}

CString CFileFind::GetFilePath() const {
    CString path = m_strRoot;
    if (!path.IsEmpty() && path.Right(1) != u"\\" && path.Right(1) != u"/")
        path += m_chDirSeparator;
    return path + GetFileName();
}

CString CFileFind::GetFileTitle() const {
    CString name = GetFileName();
    const int dot = name.ReverseFind(u'.');
    return dot >= 0 ? name.Left(dot) : name;
}

CString CFileFind::GetFileURL() const {
    return CString(u"file://") + GetFilePath();
}

CString CFileFind::GetRoot() const {
    return m_strRoot;
}

BOOL CFileFind::GetLastWriteTime(FILETIME* pTimeStamp) const {
    if (!m_pFoundInfo || !pTimeStamp)
        return FALSE;
    *pTimeStamp = m_pFoundInfo->ftLastWriteTime;
    return TRUE;
}

BOOL CFileFind::GetLastAccessTime(FILETIME* pTimeStamp) const {
    if (!m_pFoundInfo || !pTimeStamp)
        return FALSE;
    *pTimeStamp = m_pFoundInfo->ftLastAccessTime;
    return TRUE;
}

BOOL CFileFind::GetCreationTime(FILETIME* pTimeStamp) const {
    if (!m_pFoundInfo || !pTimeStamp)
        return FALSE;
    *pTimeStamp = m_pFoundInfo->ftCreationTime;
    return TRUE;
}

BOOL CFileFind::GetLastWriteTime(CTime& refTime) const {
    FILETIME ft;
    if (!GetLastWriteTime(&ft))
        return FALSE;
    refTime = CTime(ft);
    return TRUE;
}

BOOL CFileFind::GetLastAccessTime(CTime& refTime) const {
    FILETIME ft;
    if (!GetLastAccessTime(&ft))
        return FALSE;
    refTime = CTime(ft);
    return TRUE;
}

BOOL CFileFind::GetCreationTime(CTime& refTime) const {
    FILETIME ft;
    if (!GetCreationTime(&ft))
        return FALSE;
    refTime = CTime(ft);
    return TRUE;
}

BOOL CFileFind::MatchesMask(DWORD dwMask) const {
    return m_pFoundInfo && (m_pFoundInfo->dwFileAttributes & dwMask) != 0;
}

BOOL CFileFind::IsDots() const {
    if (!m_pFoundInfo || !IsDirectory())
        return FALSE;
    const WCHAR* name = m_pFoundInfo->cFileName;
    return name[0] == u'.' && (name[1] == 0 || (name[1] == u'.' && name[2] == 0));
}
