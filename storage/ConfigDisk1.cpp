#include "storage/ConfigDisk1.h"

#include "shared/PhysicalDrive.h"
#include "storage/ZentraManager.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"

#include "platform/fs/volumes.h"

#include "platform/afx/DataExchange.h"

IMPLEMENT_DYNAMIC(CConfigDisk1, CWizardPage)

BEGIN_MESSAGE_MAP(CConfigDisk1, CWizardPage)
ON_CBN_SELCHANGE(3403, OnSelectDisk)
ON_MESSAGE(WM_HELP, OnHelpMsg)
END_MESSAGE_MAP()

namespace {
constexpr int IDC_DISKS = 3403;
constexpr int IDC_CAPACITY = 3405;
constexpr int IDC_CAPACITY_UNIT = 3406;
constexpr int IDC_MODEL = 3409;
constexpr UINT IDS_NO_ENCLOSURE_DISK = 5010;

CZentraManager* Manager() {
    auto* pApp = dynamic_cast<CBrannicApp*>(AfxGetApp());
    return pApp ? pApp->GetZentraManager() : nullptr;
}
} // namespace

void CConfigDisk1::DoDataExchange(CDataExchange* pDX) {
    CWizardPage::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_DISKS, m_cbDisks);
}

BOOL CConfigDisk1::OnInitDialog() {
    CWizardPage::OnInitDialog();
    if (CZentraManager* pManager = Manager()) {
        const DWORD dwDisks = pManager->GetPhysicalDrivesBitmap();
        for (int nNumber = 1; nNumber < 32; ++nNumber) {
            if (!(dwDisks & (1u << nNumber)))
                continue;
            CPhysicalDrive* pDisk = pManager->GetPhysicalDrive(nNumber);
            if (!pDisk)
                continue;
            const int nItem = m_cbDisks.AddString(pDisk->GetDescription());
            if (nItem >= 0)
                m_cbDisks.SetItemData(nItem, static_cast<DWORD_PTR>(nNumber));
        }
    }
    if (m_cbDisks.GetCount() > 0)
        m_cbDisks.SetCurSel(0);
    OnSelectDisk();
    return TRUE;
}

void CConfigDisk1::OnSetActive() {
    SetFocus();
}

int CConfigDisk1::GetSelectedDiskNumber() const {
    const int nItem = m_cbDisks.GetSafeHwnd() ? m_cbDisks.GetCurSel() : CB_ERR;
    return nItem == CB_ERR ? -1 : static_cast<int>(m_cbDisks.GetItemData(nItem));
}

CPhysicalDrive* CConfigDisk1::GetSelectedDisk() const {
    const int nNumber = GetSelectedDiskNumber();
    CZentraManager* pManager = Manager();
    return nNumber > 0 && pManager ? pManager->GetPhysicalDrive(nNumber) : nullptr;
}

void CConfigDisk1::OnSelectDisk() {
    CPhysicalDrive* pDisk = GetSelectedDisk();
    if (!pDisk) {
        m_ullCapacityMB = 0;
        SetDlgItemText(IDC_MODEL, u"");
        SetDlgItemText(IDC_CAPACITY, u"");
        SetDlgItemText(IDC_CAPACITY_UNIT, u"");
        m_nPublicIndex = m_nSecureIndex = 0;
        m_bLettersFound = FALSE;
        return;
    }
    SetDlgItemText(IDC_MODEL, pDisk->GetFriendlyName());
    m_ullCapacityMB = pDisk->GetCapacity() / 1048576ull;
    CString strNumber, strUnit;
    FormatSizeText(strNumber, strUnit, pDisk->GetCapacity());
    SetDlgItemText(IDC_CAPACITY, strNumber);
    SetDlgItemText(IDC_CAPACITY_UNIT, strUnit);
    m_bLettersFound = ChooseDriveLetters(pDisk);
}

BOOL CConfigDisk1::ChooseDriveLetters(CPhysicalDrive* pDisk) {
    const DWORD dwInUse = ::GetLogicalDrives();
    const DWORD dwOwn = pDisk->GetLogicalDrivesBitmap();
    constexpr int kE = 'E' - 'A';
    int aTaken[2] = {-1, -1};
    int nTaken = 0;
    for (int nIndex = 'C' - 'A'; nIndex <= 'Z' - 'A' && nTaken < 2; ++nIndex) {
        const DWORD dwBit = 1u << nIndex;
        const BOOL bCandidate = !(dwInUse & dwBit) || (dwOwn & dwBit) || nIndex == kE;
        if (!bCandidate)
            continue;
        if ((dwOwn & dwBit) || IsDriveLetterFree(nIndex))
            aTaken[nTaken++] = nIndex;
    }
    if (nTaken < 2) {
        m_nPublicIndex = m_nSecureIndex = 0;
        return FALSE;
    }
    m_nPublicIndex = static_cast<UINT>(aTaken[0]);
    m_nSecureIndex = static_cast<UINT>(aTaken[1]);
    return TRUE;
}

LRESULT CConfigDisk1::OnWizardNext() {
    // Without a disk, or without two letters for it, there is nothing the later pages could prepare.
    if (!GetSelectedDisk()) {
        AfxMessageBox(IDS_NO_ENCLOSURE_DISK, MB_OK | MB_ICONINFORMATION);
        return -1;
    }
    if (!m_bLettersFound || m_ullCapacityMB == 0) {
        ::MessageBeep(MB_ICONEXCLAMATION);
        return -1;
    }
    return 0;
}

LRESULT CConfigDisk1::OnHelpMsg(WPARAM, LPARAM) {
    return GetParent() ? GetParent()->SendMessage(WM_HELP) : 0;
}
