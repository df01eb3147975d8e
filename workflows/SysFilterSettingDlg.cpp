#include "workflows/SysFilterSettingDlg.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "app/XMLLog.h"

#include "platform/registry/registry.h"
#include "platform/ui/dialog.h"

#include <vector>

IMPLEMENT_DYNAMIC(CSysFilterSettingDlg, CDialog)

namespace {

constexpr int IDC_NEW_FILTER = 3104;
constexpr int IDC_ADD = 3105;
constexpr int IDC_FILTERS = 3106;
constexpr int IDC_REMOVE = 3107;
constexpr int IDC_HINT = 3108;
constexpr int IDC_HINT_FRAME = 811;
constexpr UINT IDS_HINT_SHOW = 3108;
constexpr UINT IDS_HINT_HIDE = 3109;

CString RootKey() {
    CString key;
    if (auto* pApp = dynamic_cast<CBrannicApp*>(AfxGetApp()))
        pApp->GetRootKey(key);
    return key;
}

} // namespace

BEGIN_MESSAGE_MAP(CSysFilterSettingDlg, CDialog)
ON_BN_CLICKED(IDC_ADD, OnAdd)
ON_BN_CLICKED(IDC_REMOVE, OnRemove)
ON_EN_CHANGE(IDC_NEW_FILTER, OnEditChange)
ON_NOTIFY(LVN_ITEMCHANGED, IDC_FILTERS, OnItemChanged)
ON_BN_CLICKED(IDC_HINT, OnHint)
ON_MESSAGE(WM_HELP, OnHelpMsg)
END_MESSAGE_MAP()

CSysFilterSettingDlg::CSysFilterSettingDlg(CWnd* pParentWnd) : CDialog(IDD, pParentWnd) {}

BOOL CSysFilterSettingDlg::ReadFilter(CString& strFilter) {
    strFilter.Empty();
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, RootKey(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return TRUE;
    DWORD type = 0, size = 0;
    LONG result = RegQueryValueExW(hKey, u"Filter", nullptr, &type, nullptr, &size);
    if (result == ERROR_FILE_NOT_FOUND) {
        RegCloseKey(hKey);
        return TRUE;
    }
    // The whole value, whatever its length, and a terminator of our own.
    std::vector<WCHAR> buffer(size / sizeof(WCHAR) + 2, 0);
    size = static_cast<DWORD>((buffer.size() - 1) * sizeof(WCHAR));
    if (result == ERROR_SUCCESS)
        result = RegQueryValueExW(hKey, u"Filter", nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    RegCloseKey(hKey);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return FALSE;
    strFilter = buffer.data();
    return TRUE;
}

void CSysFilterSettingDlg::SplitFilter(const CString& strFilter, CStringArray& patterns) {
    patterns.RemoveAll();
    CString rest = strFilter;
    for (int tab = rest.Find(_T('\t')); tab >= 0; tab = rest.Find(_T('\t'))) {
        patterns.Add(rest.Left(tab));
        rest = rest.Mid(tab + 1);
    }
    if (!rest.IsEmpty())
        patterns.Add(rest);
}

BOOL CSysFilterSettingDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_list.SubclassDlgItem(IDC_FILTERS, this);
    m_list.SetExtendedStyle(m_list.GetExtendedStyle() | LVS_EX_FULLROWSELECT);
    RECT client{};
    m_list.GetClientRect(&client);
    m_list.InsertColumn(0, u"Heading 1", LVCFMT_LEFT, client.right - client.left);

    CString stored;
    if (!ReadFilter(stored)) {
        // A list that cannot be read is not shown as an empty one that OK would store over it.
        if (auto* pApp = dynamic_cast<CBrannicApp*>(AfxGetApp())) {
            CString text;
            text.Format(u"%s, %d: The file filter cannot be read; it is left as it is.", KOVRA_SOURCE_FILE, __LINE__);
            pApp->Log(text, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeError);
        }
        GetDlgItem(IDOK)->EnableWindow(FALSE);
    }
    CStringArray patterns;
    SplitFilter(stored, patterns);
    for (INT_PTR i = 0; i < patterns.GetSize(); ++i)
        m_list.InsertItem(m_list.GetItemCount(), patterns[i]);
    UpdateButtons();
    ShowHint(FALSE);
    return TRUE;
}

void CSysFilterSettingDlg::UpdateButtons() {
    CString text;
    GetDlgItemText(IDC_NEW_FILTER, text);
    GetDlgItem(IDC_ADD)->EnableWindow(!text.IsEmpty());
    GetDlgItem(IDC_REMOVE)->EnableWindow(m_list.GetSelectedCount() > 0);
}

void CSysFilterSettingDlg::OnAdd() {
    CString text;
    GetDlgItemText(IDC_NEW_FILTER, text);
    m_list.InsertItem(m_list.GetItemCount(), text);
    SetDlgItemText(IDC_NEW_FILTER, u"");
    UpdateButtons();
}

void CSysFilterSettingDlg::OnRemove() {
    for (int i = m_list.GetItemCount() - 1; i >= 0; --i)
        if (m_list.GetItemState(i, LVIS_SELECTED) & LVIS_SELECTED)
            m_list.DeleteItem(i);
    UpdateButtons();
}

void CSysFilterSettingDlg::OnEditChange() {
    UpdateButtons();
}

void CSysFilterSettingDlg::OnItemChanged(NMHDR*, LRESULT* pResult) {
    UpdateButtons();
    *pResult = 0;
}

void CSysFilterSettingDlg::OnHint() {
    ShowHint(!m_bExpanded);
}

void CSysFilterSettingDlg::ShowHint(BOOL bExpand) {
    CWnd* pFrame = GetDlgItem(IDC_HINT_FRAME);
    if (!pFrame || bExpand == m_bExpanded)
        return;
    RECT frame{};
    pFrame->GetWindowRect(&frame);
    RECT dialog{};
    GetWindowRect(&dialog);
    CString caption;
    caption.LoadString(bExpand ? IDS_HINT_HIDE : IDS_HINT_SHOW);
    SetDlgItemText(IDC_HINT, caption);
    if (!bExpand) {
        // The full size is kept with the frame that marks the collapsed one.
        ::SetWindowLongPtrW(pFrame->m_hWnd, GWLP_USERDATA,
                            MAKELONG(dialog.right - dialog.left, dialog.bottom - dialog.top));
        pFrame->ShowWindow(SW_HIDE);
    }
    for (HWND hChild = ::GetWindow(m_hWnd, GW_CHILD); hChild; hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
        RECT rc{}, overlap{};
        ::GetWindowRect(hChild, &rc);
        if (hChild != pFrame->m_hWnd && !::IntersectRect(&overlap, &rc, &frame))
            ::EnableWindow(hChild, bExpand);
    }
    if (bExpand) {
        const LONG_PTR size = ::GetWindowLongPtrW(pFrame->m_hWnd, GWLP_USERDATA);
        SetWindowPos(nullptr, 0, 0, LOWORD(size), HIWORD(size), SWP_NOMOVE | SWP_NOZORDER);
        SendMessage(DM_REPOSITION);
    } else {
        SetWindowPos(nullptr, 0, 0, frame.right - dialog.left, frame.bottom - dialog.top, SWP_NOMOVE | SWP_NOZORDER);
    }
    m_bExpanded = bExpand;
}

LRESULT CSysFilterSettingDlg::OnHelpMsg(WPARAM, LPARAM) {
    ShowHelpTopic(IDD);
    return TRUE;
}

void CSysFilterSettingDlg::OnOK() {
    m_strFilter.Empty();
    for (int i = 0; i < m_list.GetItemCount(); ++i) {
        if (i > 0)
            m_strFilter += _T('\t');
        m_strFilter += m_list.GetItemText(i, 0);
    }
    HKEY hKey = nullptr;
    m_bStored = RegCreateKeyExW(HKEY_CURRENT_USER, RootKey(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) ==
                    ERROR_SUCCESS &&
                RegSetValueExW(hKey, u"Filter", 0, REG_SZ, reinterpret_cast<const BYTE*>(m_strFilter.GetString()),
                               static_cast<DWORD>((m_strFilter.GetLength() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
    if (hKey)
        RegCloseKey(hKey);
    if (!m_bStored) {
        // Used for now, but gone at the next start: the user is told through the log, not only a debug entry.
        if (auto* pApp = dynamic_cast<CBrannicApp*>(AfxGetApp())) {
            CString text;
            text.Format(u"%s, %d: Write filter to registry failed.", KOVRA_SOURCE_FILE, __LINE__);
            pApp->Log(text, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeError);
        }
    }
    CDialog::OnOK();
}
