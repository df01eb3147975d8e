#include "platform/afx/FileDialog.h"

#include "platform/afx/ModuleState.h"
#include "platform/afx/WinThread.h"

#include <algorithm>
#include <string>

IMPLEMENT_DYNAMIC(CFileDialog, CDialog)

namespace {

// Where the name part of a path begins: after the last backslash, slash or drive colon.
size_t NameStart(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"\\/:");
    return slash == std::u16string::npos ? 0 : slash + 1;
}

} // namespace

CFileDialog::CFileDialog(BOOL bOpenFileDialog, LPCTSTR lpszDefExt, LPCTSTR lpszFileName, DWORD dwFlags,
                         LPCTSTR lpszFilter, CWnd* pParentWnd, DWORD, BOOL)
    : m_bOpenFileDialog(bOpenFileDialog) {
    m_pParentWnd = pParentWnd;
    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.lpstrFile = m_szFileName.data();
    m_ofn.nMaxFile = static_cast<DWORD>(m_szFileName.size());
    m_ofn.lpstrFileTitle = m_szFileTitle.data();
    m_ofn.nMaxFileTitle = static_cast<DWORD>(m_szFileTitle.size());
    m_ofn.Flags = dwFlags | OFN_EXPLORER;
    m_ofn.hInstance = AfxGetResourceHandle();
    if (lpszDefExt) {
        m_strDefExt = lpszDefExt;
        m_ofn.lpstrDefExt = m_strDefExt;
    }
    if (lpszFileName) {
        const std::u16string name(lpszFileName);
        const size_t n = std::min(name.size(), m_szFileName.size() - 1);
        std::copy_n(name.begin(), n, m_szFileName.begin());
        m_szFileName[n] = 0;
    }
    if (lpszFilter) {
        // "Text (*.txt)|*.txt|All (*.*)|*.*||" becomes the list of null-terminated strings the dialog reads; the
        // final "||" leaves the empty string that ends it.
        std::u16string filter(lpszFilter);
        std::replace(filter.begin(), filter.end(), u'|', u'\0');
        if (filter.empty() || filter.back() != 0)
            filter.push_back(0);
        filter.push_back(0);
        m_strFilter = CString(filter.data(), static_cast<int>(filter.size()));
        m_ofn.lpstrFilter = m_strFilter;
    }
}

INT_PTR CFileDialog::DoModal() {
    if (!m_ofn.hwndOwner) {
        CWnd* pOwner = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
        if (pOwner && pOwner->GetSafeHwnd())
            m_ofn.hwndOwner = ::GetAncestor(pOwner->GetSafeHwnd(), GA_ROOT);
    }
    const BOOL chosen = m_bOpenFileDialog ? ::GetOpenFileNameW(&m_ofn) : ::GetSaveFileNameW(&m_ofn);
    return chosen ? IDOK : IDCANCEL;
}

CString CFileDialog::GetPathName() const {
    return m_ofn.lpstrFile ? CString(m_ofn.lpstrFile) : CString();
}

CString CFileDialog::GetFileName() const {
    const std::u16string path = m_ofn.lpstrFile ? m_ofn.lpstrFile : u"";
    return CString(path.substr(NameStart(path)).c_str());
}

CString CFileDialog::GetFileExt() const {
    const std::u16string path = m_ofn.lpstrFile ? m_ofn.lpstrFile : u"";
    const std::u16string name = path.substr(NameStart(path));
    const size_t dot = name.rfind(u'.');
    return dot == std::u16string::npos ? CString() : CString(name.substr(dot + 1).c_str());
}

CString CFileDialog::GetFileTitle() const {
    const std::u16string path = m_ofn.lpstrFile ? m_ofn.lpstrFile : u"";
    const std::u16string name = path.substr(NameStart(path));
    return CString(name.substr(0, name.rfind(u'.')).c_str());
}

CString CFileDialog::GetFolderPath() const {
    const std::u16string path = m_ofn.lpstrFile ? m_ofn.lpstrFile : u"";
    size_t start = NameStart(path);
    if (start > 0 && (path[start - 1] == u'\\' || path[start - 1] == u'/'))
        --start;
    return CString(path.substr(0, start).c_str());
}

BOOL CFileDialog::GetReadOnlyPref() const {
    return (m_ofn.Flags & OFN_READONLY) ? TRUE : FALSE;
}
