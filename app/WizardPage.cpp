#include "app/WizardPage.h"

#include "app/WizardDialog.h"

#include "platform/gdi/wingdi.h"

IMPLEMENT_DYNAMIC(CWizardPage, CDialog)

BEGIN_MESSAGE_MAP(CWizardPage, CDialog)
ON_MESSAGE(WM_CTLCOLORMSGBOX, OnCtlColor)
ON_MESSAGE(WM_CTLCOLOREDIT, OnCtlColor)
ON_MESSAGE(WM_CTLCOLORLISTBOX, OnCtlColor)
ON_MESSAGE(WM_CTLCOLORBTN, OnCtlColor)
ON_MESSAGE(WM_CTLCOLORDLG, OnCtlColor)
ON_MESSAGE(WM_CTLCOLORSCROLLBAR, OnCtlColor)
ON_MESSAGE(WM_CTLCOLORSTATIC, OnCtlColor)
END_MESSAGE_MAP()

CWizardPage::CWizardPage(UINT nIDTemplate, CWnd* pParentWnd) : CDialog(nIDTemplate, pParentWnd) {
    m_nDialogID = nIDTemplate;
}

CWizardPage::CWizardPage(LPCTSTR lpszTemplateName, CWnd* pParentWnd) : CDialog(lpszTemplateName, pParentWnd) {
    m_nDialogID = m_nIDTemplate;
}

CWizardPage::~CWizardPage() {
    // The brush first, then the font.
    m_backgroundBrush.DeleteObject();
    m_titleFont.DeleteObject();
}

void CWizardPage::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}

BOOL CWizardPage::OnInitDialog() {
    CDialog::OnInitDialog();
    m_titleFont.DeleteObject();
    m_titleFont.CreateFont(-16, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, u"MS Sans Serif");
    m_backgroundBrush.DeleteObject();
    m_backgroundBrush.CreateSolidBrush(RGB(0xFF, 0xFF, 0xFF));
    return TRUE;
}

BOOL CWizardPage::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CWizardPage::OnCancel() {}

LRESULT CWizardPage::OnCtlColor(WPARAM wParam, LPARAM) {
    const MSG* pMsg = GetCurrentMessage();
    switch (pMsg ? pMsg->message : 0) {
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        HDC hDC = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(hDC, RGB(0, 0, 0));
        ::SetBkColor(hDC, RGB(0xFF, 0xFF, 0xFF));
        break;
    }
    default:
        break;
    }
    return reinterpret_cast<LRESULT>(m_backgroundBrush.GetSafeHandle());
}

BOOL CWizardPage::OnCreatePage() {
    return TRUE;
}

void CWizardPage::OnDestroyPage() {}

BOOL CWizardPage::OnKillActive() {
    return TRUE;
}

void CWizardPage::OnSetActive() {}

BOOL CWizardPage::OnQueryCancel() {
    return TRUE;
}

LRESULT CWizardPage::OnWizardBack() {
    return 0;
}

LRESULT CWizardPage::OnWizardNext() {
    return 0;
}

BOOL CWizardPage::OnWizardFinish() {
    return TRUE;
}
