#include "storage/ConfigDisk2.h"

#include "app/Utility.h"

#include "platform/afx/Edit.h"
#include "platform/afx/ScrollBar.h"

#include "platform/afx/DataExchange.h"

IMPLEMENT_DYNAMIC(CConfigDisk2, CWizardPage)

BEGIN_MESSAGE_MAP(CConfigDisk2, CWizardPage)
ON_EN_CHANGE(3502, OnChangePublicSize)
ON_EN_KILLFOCUS(3502, OnKillFocusPublicSize)
ON_WM_HSCROLL()
ON_MESSAGE(WM_HELP, OnHelpMsg)
END_MESSAGE_MAP()

namespace {
constexpr int IDC_SLIDER = 3501;
constexpr int IDC_PUBLIC_SIZE = 3502;
constexpr int IDC_SECURE_SIZE = 3504;
constexpr int IDC_SPIN = 3505;
constexpr int IDC_TOTAL_UNIT = 3509;
constexpr int IDC_TOTAL = 3510;
// The smallest secure part: smaller ones typed are raised to it, and the slider leaves none below it.
constexpr ULONGLONG kMinSecureMB = 8;

CString SizeText(ULONGLONG ullMB) {
    CString strText;
    strText.Format(u"%I64d", static_cast<long long>(ullMB));
    return strText;
}
} // namespace

void CConfigDisk2::DoDataExchange(CDataExchange* pDX) {
    CWizardPage::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_SPIN, m_spin);
    DDX_Control(pDX, IDC_SLIDER, m_slider);
}

BOOL CConfigDisk2::OnInitDialog() {
    CWizardPage::OnInitDialog();
    m_spin.SetBuddy(GetDlgItem(IDC_PUBLIC_SIZE));
    // Held down, the arrows step by 10 MB after 2 s, 100 MB after 3 s, 1000 MB after 4 s and 5000 MB after 5 s.
    UDACCEL accels[] = {{2, 10}, {3, 100}, {4, 1000}, {5, 5000}};
    m_spin.SetAccel(4, accels);
    if (m_ullTotalMB)
        SetTotalSize(m_ullTotalMB);
    return TRUE;
}

void CConfigDisk2::OnSetActive() {
    SetFocus();
}

void CConfigDisk2::SetTotalSize(ULONGLONG ullTotalMB) {
    m_ullTotalMB = ullTotalMB;
    m_ullMaxSecureMB = (ullTotalMB / 10) * 9;
    m_ullSecureMB = ullTotalMB / 2;
    m_ullPublicMB = ullTotalMB - m_ullSecureMB;
    if (!GetSafeHwnd())
        return;
    CString strNumber, strUnit;
    FormatSizeText(strNumber, strUnit, ullTotalMB * 1048576ull);
    SetDlgItemText(IDC_TOTAL, strNumber);
    SetDlgItemText(IDC_TOTAL_UNIT, strUnit);
    const int nTotal = static_cast<int>(std::min<ULONGLONG>(ullTotalMB, 0x7FFFFFFF));
    m_slider.SetRange(0, nTotal, TRUE);
    m_spin.SetRange32(8, nTotal);
    ShowSizes(TRUE);
    SyncSlider();
    // The edit is reached as the window it is: the dialog does not keep a CEdit object for it.
    if (CWnd* pEdit = GetDlgItem(IDC_PUBLIC_SIZE))
        pEdit->SendMessage(EM_SETSEL, 0, -1);
}

ULONGLONG CConfigDisk2::ReadPublicSize() const {
    CString strText;
    GetDlgItemText(IDC_PUBLIC_SIZE, strText);
    strText.Trim();
    if (strText.IsEmpty())
        return 0;
    ULONGLONG ullValue = 0;
    for (int i = 0; i < strText.GetLength(); ++i) {
        const WCHAR c = strText[i];
        if (c < u'0' || c > u'9' || ullValue > (~0ull - 9) / 10)
            return 0;
        ullValue = ullValue * 10 + static_cast<ULONGLONG>(c - u'0');
    }
    return ullValue;
}

void CConfigDisk2::ShowSizes(BOOL bEdit) {
    if (bEdit)
        SetDlgItemText(IDC_PUBLIC_SIZE, SizeText(m_ullPublicMB));
    SetDlgItemText(IDC_SECURE_SIZE, SizeText(m_ullSecureMB));
}

void CConfigDisk2::SyncSlider() {
    m_slider.SetPos(static_cast<int>(std::min<ULONGLONG>(m_ullPublicMB, 0x7FFFFFFF)));
    m_slider.DrawSplit();
}

void CConfigDisk2::OnChangePublicSize() {
    const ULONGLONG ullValue = ReadPublicSize();
    if (ullValue == 0 || !m_slider.GetSafeHwnd())
        return;
    if (ullValue > m_ullTotalMB) {
        SetDlgItemText(IDC_PUBLIC_SIZE, SizeText(m_ullPublicMB));
        if (CWnd* pEdit = GetDlgItem(IDC_PUBLIC_SIZE))
            pEdit->SendMessage(EM_SETSEL, static_cast<WPARAM>(-1), -1);
        return;
    }
    if (ullValue == m_ullPublicMB)
        return;
    m_ullPublicMB = ullValue;
    m_ullSecureMB = m_ullTotalMB - ullValue;
    ShowSizes(FALSE);
    SyncSlider();
}

void CConfigDisk2::ApplyTypedSize() {
    const ULONGLONG ullValue = ReadPublicSize();
    // 0, text that is no number, or more than the disk: the current split stays and shows again.
    if (ullValue == 0 || ullValue > m_ullTotalMB) {
        ShowSizes(TRUE);
        SyncSlider();
        return;
    }
    m_ullSecureMB = m_ullTotalMB - ullValue;
    if (m_ullSecureMB > m_ullMaxSecureMB)
        m_ullSecureMB = m_ullMaxSecureMB;
    else if (m_ullSecureMB >= 1 && m_ullSecureMB < kMinSecureMB)
        m_ullSecureMB = kMinSecureMB;
    m_ullPublicMB = m_ullTotalMB - m_ullSecureMB;
    ShowSizes(TRUE);
    SyncSlider();
}

void CConfigDisk2::OnKillFocusPublicSize() {
    ApplyTypedSize();
}

LRESULT CConfigDisk2::OnWizardNext() {
    UpdateData(TRUE);
    ApplyTypedSize();
    return 0;
}

void CConfigDisk2::OnHScroll(UINT, UINT, CScrollBar* pScrollBar) {
    if (!pScrollBar || pScrollBar->GetSafeHwnd() != m_slider.GetSafeHwnd())
        return;
    const ULONGLONG ullPos = static_cast<ULONGLONG>(std::max(0, m_slider.GetPos()));
    if (ullPos != m_ullPublicMB) {
        ULONGLONG ullSecure = m_ullTotalMB - std::min(ullPos, m_ullTotalMB);
        // Near the end the secure part disappears rather than becoming smaller than the smallest one.
        if (ullSecure < kMinSecureMB)
            ullSecure = 0;
        else if (ullSecure >= m_ullMaxSecureMB)
            ullSecure = m_ullMaxSecureMB;
        m_ullSecureMB = ullSecure;
        m_ullPublicMB = m_ullTotalMB - ullSecure;
        ShowSizes(TRUE);
    }
    SyncSlider();
}

LRESULT CConfigDisk2::OnHelpMsg(WPARAM, LPARAM) {
    return GetParent() ? GetParent()->SendMessage(WM_HELP) : 0;
}
