#include "workflows/RestorePage2.h"

#include "app/Utility.h"
#include "app/WizardDialog.h"
#include "engine/BackManager.h"
#include "engine/ItemIDList.h"
#include "workflows/RestorePage1.h"
#include "workflows/RestoreSourceOps.h"

#include "platform/afx/DataExchange.h"
#include "platform/shell/browse.h"
#include "platform/shell/idlist.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/winuser_constants.h"

IMPLEMENT_DYNAMIC(RestorePage2, CWizardPage)

BEGIN_MESSAGE_MAP(RestorePage2, CWizardPage)
ON_BN_CLICKED(3951, OnOriginalPath)
ON_BN_CLICKED(3952, OnSelectedPath)
ON_BN_CLICKED(3953, OnSelectedPath)
ON_BN_CLICKED(3902, OnBrowse)
ON_CONTROL(10, 3903, OnCoverChange) // CBN_SELENDCANCEL
ON_CBN_SELCHANGE(3903, OnCoverChange)
ON_MESSAGE(WM_HELP, OnHelpMsg)
END_MESSAGE_MAP()

namespace {

constexpr int IDC_TARGET = 3901;
constexpr int IDC_BROWSE = 3902;
constexpr int IDC_COVER = 3903;
constexpr int IDC_LOCATION = 3950;
constexpr int IDC_ORIGINAL = 3951;
constexpr int IDC_SELECTED = 3952;
constexpr int IDC_INCLUDE_PATH = 3953;

// The overwrite choices: the text's string id and the option the backup manager takes.
constexpr struct {
    UINT nText;
    int nOption;
} kCoverChoices[] = {{3955, 1}, {3956, 0}, {3957, 2}};

} // namespace

RestorePage2::RestorePage2(CWnd* pParentWnd) : CWizardPage(3900, pParentWnd) {}

RestorePage2::~RestorePage2() = default;

void RestorePage2::DoDataExchange(CDataExchange* pDX) {
    CWizardPage::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_TARGET, m_strTargetFolder);
}

BOOL RestorePage2::OnInitDialog() {
    CWizardPage::OnInitDialog();
    m_coverCombo.SubclassDlgItem(IDC_COVER, this);
    for (const auto& choice : kCoverChoices) {
        CString text;
        text.LoadString(choice.nText);
        const int nIndex = m_coverCombo.AddString(text);
        if (nIndex >= 0)
            m_coverCombo.SetItemData(nIndex, static_cast<DWORD_PTR>(choice.nOption));
    }
    m_coverCombo.SetCurSel(0);
    m_strTargetFolder = _T("C:\\");
    SetDlgItemText(IDC_TARGET, m_strTargetFolder);
    m_nPathOption = 1;
    UpdateOptionControls();
    return TRUE;
}

int RestorePage2::GetCoverOption() const {
    const int nSel = m_coverCombo.GetCurSel();
    return nSel == CB_ERR ? 0 : static_cast<int>(m_coverCombo.GetItemData(nSel));
}

void RestorePage2::UpdateOptionControls() {
    const BOOL bSelected = m_nPathOption == 2 || m_nPathOption == 3;
    CheckDlgButton(IDC_ORIGINAL, bSelected ? BST_UNCHECKED : BST_CHECKED);
    CheckDlgButton(IDC_SELECTED, bSelected ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_INCLUDE_PATH, m_nPathOption == 2 ? BST_UNCHECKED : BST_CHECKED);
    for (int nId : {IDC_TARGET, IDC_BROWSE, IDC_INCLUDE_PATH})
        if (CWnd* pControl = GetDlgItem(nId))
            pControl->EnableWindow(bSelected);
    ApplyOptions();
}

void RestorePage2::ApplyOptions() {
    if (CBackManager* pManager = CBackManager::Get())
        pManager->SetRestoreOptions(m_nPathOption, m_strTargetFolder, GetCoverOption());
}

void RestorePage2::OnOriginalPath() {
    m_nPathOption = 1;
    UpdateOptionControls();
}

void RestorePage2::OnSelectedPath() {
    UpdateData(TRUE);
    m_nPathOption = IsDlgButtonChecked(IDC_INCLUDE_PATH) == BST_CHECKED ? 3 : 2;
    UpdateOptionControls();
}

void RestorePage2::OnCoverChange() {
    UpdateData(TRUE);
    ApplyOptions();
}

void RestorePage2::OnBrowse() {
    CString title;
    title.LoadString(5019);
    WCHAR name[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.hwndOwner = m_hWnd;
    info.pszDisplayName = name;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
    info.lpfn = BrowseFolderCallback;
    PIDLIST_ABSOLUTE pidl = SHBrowseForFolderW(&info);
    if (!pidl)
        return;
    WCHAR path[2048] = {};
    const BOOL bPath = SHGetPathFromIDListW(pidl, path);
    ILFree(pidl);
    if (!bPath)
        return;
    m_strTargetFolder = path;
    SetDlgItemText(IDC_TARGET, m_strTargetFolder);
    ApplyOptions();
}

BOOL RestorePage2::OnWizardFinish() {
    CString caption;
    caption.LoadString(2302);
    if (m_nPathOption == 2 || m_nPathOption == 3) {
        CString target;
        GetDlgItemText(IDC_TARGET, target);
        if (target.IsEmpty()) {
            CString text;
            GetDlgItemText(IDC_LOCATION, text);
            ::MessageBoxW(m_hWnd, text, caption, MB_OK | MB_ICONQUESTION);
            return FALSE;
        }
        if (!CItemIDList(target.GetString()).IsValid()) {
            CString text;
            text.LoadString(5006);
            if (::MessageBoxW(m_hWnd, text, caption, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
                return FALSE;
        }
        UpdateData(TRUE);
    } else if (GetWizard()) {
        // The original place: every drive the checked items came from must be there, or nothing is restored.
        auto* pSource = dynamic_cast<RestorePage1*>(GetWizard()->GetPageById(3800));
        const CString missing =
            pSource && pSource->IsCreated() ? restoresource::GetMissingOriginalDrives(pSource->GetTree()) : CString();
        if (!missing.IsEmpty()) {
            ::MessageBoxW(m_hWnd, restoresource::GetMissingDrivesText(missing), caption, MB_OK | MB_ICONEXCLAMATION);
            return FALSE;
        }
    }
    ApplyOptions();
    return TRUE;
}

LRESULT RestorePage2::OnHelpMsg(WPARAM, LPARAM) {
    ShowHelpTopic(3800);
    return TRUE;
}
