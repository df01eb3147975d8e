#include "platform/afx/Dialog.h"

#include "platform/afx/DataExchange.h"
#include "platform/afx/ModuleState.h"
#include "platform/afx/WinApp.h"
#include "platform/afx/WinThread.h"
#include "platform/base/module.h"
#include "platform/base/thread.h"
#include "platform/res/resources.h"
#include "platform/ui/commctrl.h"
#include "platform/ui/message.h"

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

namespace {

// The dialog being created on this thread: attached to its window at HCBT_CREATEWND, before its first message.
thread_local CDialog* t_creating = nullptr;

LRESULT DialogCbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && t_creating) {
        CDialog* pDlg = t_creating;
        t_creating = nullptr;
        pDlg->SubclassWindow(reinterpret_cast<HWND>(wParam));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The resource module that holds a dialog template: the current resource module, else the program.
HINSTANCE FindTemplateModule(LPCTSTR name) {
    HINSTANCE res = AfxGetResourceHandle();
    if (FindResourceW(res, name, RT_DIALOG))
        return res;
    HINSTANCE inst = AfxGetInstanceHandle();
    if (inst != res && FindResourceW(inst, name, RT_DIALOG))
        return inst;
    return nullptr;
}

bool IsInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST);
}

} // namespace

INT_PTR AfxDlgProc(HWND hWnd, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG)
        return FALSE;
    auto* pDlg = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(hWnd));
    return pDlg ? pDlg->OnInitDialog() : TRUE;
}

CDialog::CDialog() = default;

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_lpszTemplateName(MAKEINTRESOURCEW(nIDTemplate)), m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {
    m_nIDHelp = nIDTemplate;
}

CDialog::CDialog(LPCTSTR lpszTemplateName, CWnd* pParentWnd)
    : m_lpszTemplateName(lpszTemplateName), m_pParentWnd(pParentWnd) {
    if (IS_INTRESOURCE(lpszTemplateName))
        m_nIDTemplate = m_nIDHelp = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(lpszTemplateName));
}

CDialog::~CDialog() {
    if (m_hWnd && ::IsWindow(m_hWnd))
        CWnd::DestroyWindow();
}

BOOL CDialog::CreateWithHook(HWND hWndParent, LPCDLGTEMPLATEW lpTemplate) {
    // A template may name any common control, so their classes must be there before the first one is made.
    InitCommonControls();
    CDialog* const previous = t_creating;
    t_creating = this;
    HHOOK hook = SetWindowsHookExW(WH_CBT, &DialogCbtHook, nullptr, GetCurrentThreadId());
    HWND hWnd = nullptr;
    if (lpTemplate) {
        hWnd = CreateDialogIndirectParamW(AfxGetInstanceHandle(), lpTemplate, hWndParent, AfxDlgProc, 0);
    } else if (HINSTANCE module = FindTemplateModule(m_lpszTemplateName)) {
        hWnd = CreateDialogParamW(module, m_lpszTemplateName, hWndParent, AfxDlgProc, 0);
    }
    if (hook)
        UnhookWindowsHookEx(hook);
    t_creating = previous == this ? nullptr : previous;
    if (!hWnd) {
        if (m_hWnd && !::IsWindow(m_hWnd))
            Detach();
        return FALSE;
    }
    return m_hWnd == hWnd;
}

BOOL CDialog::CreateFromResource(CWnd* pParentWnd) {
    m_pParentWnd = pParentWnd;
    return CreateWithHook(pParentWnd ? pParentWnd->GetSafeHwnd() : nullptr, nullptr);
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd) {
    m_nIDTemplate = nIDTemplate;
    m_lpszTemplateName = MAKEINTRESOURCEW(nIDTemplate);
    if (!m_nIDHelp)
        m_nIDHelp = nIDTemplate;
    return CreateFromResource(pParentWnd);
}

BOOL CDialog::Create(LPCTSTR lpszTemplateName, CWnd* pParentWnd) {
    m_lpszTemplateName = lpszTemplateName;
    return CreateFromResource(pParentWnd);
}

BOOL CDialog::CreateIndirect(LPCDLGTEMPLATEW lpDialogTemplate, CWnd* pParentWnd) {
    m_pParentWnd = pParentWnd;
    return CreateWithHook(pParentWnd ? pParentWnd->GetSafeHwnd() : nullptr, lpDialogTemplate);
}

HWND CDialog::OwnerForModal() const {
    HWND owner = nullptr;
    if (m_pParentWnd)
        owner = m_pParentWnd->GetSafeHwnd();
    else if (CWnd* pMain = AfxGetMainWnd(); pMain && pMain != this)
        owner = pMain->GetSafeHwnd();
    if (owner)
        owner = ::GetAncestor(owner, GA_ROOT) ? ::GetAncestor(owner, GA_ROOT) : owner;
    if (owner && !::IsWindow(owner))
        owner = nullptr;
    return owner;
}

INT_PTR CDialog::DoModal() {
    if (m_hWnd)
        return -1;
    HWND owner = OwnerForModal();
    bool enableOwner = false;
    if (owner && ::IsWindowEnabled(owner)) {
        ::EnableWindow(owner, FALSE);
        enableOwner = true;
    }
    m_nModalResult = -1;
    if (CreateWithHook(owner, nullptr)) {
        INT_PTR ended = 0;
        if (platform::ui::DialogEnded(m_hWnd, &ended)) {
            m_nModalResult = static_cast<int>(ended);
        } else {
            platform::ui::ModalLoopOptions options;
            options.flags = MLF_SHOWONIDLE | ((GetStyle() & DS_NOIDLEMSG) ? MLF_NOIDLEMSG : 0);
            options.idleNotify = owner;
            const HWND self = m_hWnd;
            options.onIdle = [self](LONG count) -> BOOL {
                if (count == 0)
                    CWnd::DeleteTempMap();
                return ::SendMessageW(self, WM_KICKIDLE, MSGF_DIALOGBOX, count) != 0;
            };
            options.preTranslate = [](MSG& msg) -> BOOL {
                // Each framework window from the target up gets its chance, as the framework's pump gives it.
                for (HWND hWnd = msg.hwnd; hWnd; hWnd = ::GetParent(hWnd)) {
                    CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
                    if (pWnd && pWnd->PreTranslateMessage(&msg))
                        return TRUE;
                    if (!(::GetWindowLongW(hWnd, GWL_STYLE) & WS_CHILD))
                        break;
                }
                return FALSE;
            };
            const INT_PTR result = platform::ui::RunModalLoop(self, options);
            if (::IsWindow(self) && platform::ui::DialogEnded(self, &ended))
                m_nModalResult = static_cast<int>(ended);
            else
                m_nModalResult = static_cast<int>(result);
        }
        if (m_hWnd)
            ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                           SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
    }
    if (enableOwner)
        ::EnableWindow(owner, TRUE);
    if (owner && ::GetActiveWindow() == m_hWnd)
        ::SetActiveWindow(owner);
    if (m_hWnd)
        DestroyWindow();
    return m_nModalResult;
}

void CDialog::EndDialog(int nResult) {
    m_nModalResult = nResult;
    if (m_hWnd)
        ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::OnInitDialog() {
    // A failure to fill the controls does not stop the dialog.
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

namespace {
struct DataExchangeFailure {};
} // namespace

CDataExchange::CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
    : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

HWND CDataExchange::PrepareCtrl(int nIDC) {
    HWND hWnd = ::GetDlgItem(m_pDlgWnd->GetSafeHwnd(), nIDC);
    if (!hWnd) {
        OutputDebugStringW(u"CDataExchange: a control of the exchange does not exist.\n");
        Fail();
    }
    m_hWndLastControl = hWnd;
    m_bEditLastControl = FALSE;
    return hWnd;
}

HWND CDataExchange::PrepareEditCtrl(int nIDC) {
    HWND hWnd = PrepareCtrl(nIDC);
    m_bEditLastControl = TRUE;
    return hWnd;
}

void CDataExchange::Fail() {
    if (m_bSaveAndValidate && m_hWndLastControl && ::IsWindow(m_hWndLastControl)) {
        ::SetFocus(m_hWndLastControl);
        if (m_bEditLastControl)
            ::SendMessageW(m_hWndLastControl, EM_SETSEL, 0, -1);
    }
    throw DataExchangeFailure{};
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    if (!m_hWnd)
        return FALSE;
    CDataExchange dx(this, bSaveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const DataExchangeFailure&) {
        return FALSE;
    }
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
    if (CWnd::PreTranslateMessage(pMsg))
        return TRUE;
    if (!m_hWnd || !IsInput(pMsg->message))
        return FALSE;
    return ::IsDialogMessageW(m_hWnd, pMsg);
}

void CDialog::NextDlgCtrl() const {
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, 0, 0);
}

void CDialog::PrevDlgCtrl() const {
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, 1, 0);
}

void CDialog::GotoDlgCtrl(CWnd* pWndCtrl) {
    if (pWndCtrl)
        ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(pWndCtrl->GetSafeHwnd()), TRUE);
}

void CDialog::SetDefID(UINT nID) {
    ::SendMessageW(m_hWnd, DM_SETDEFID, nID, 0);
}

DWORD CDialog::GetDefID() const {
    return static_cast<DWORD>(::SendMessageW(m_hWnd, DM_GETDEFID, 0, 0));
}

void CDialog::MapDialogRect(LPRECT lpRect) const {
    ::MapDialogRect(m_hWnd, lpRect);
}

int AfxMessageBox(LPCTSTR lpszText, UINT nType, UINT) {
    if (!(nType & MB_ICONMASK)) {
        switch (nType & MB_TYPEMASK) {
        case MB_OK:
        case MB_OKCANCEL:
            nType |= MB_ICONEXCLAMATION;
            break;
        case MB_YESNO:
        case MB_YESNOCANCEL:
            nType |= MB_ICONQUESTION;
            break;
        default:
            break;
        }
    }
    HWND owner = ::GetActiveWindow();
    if (!owner) {
        if (CWnd* pMain = AfxGetMainWnd())
            owner = pMain->GetSafeHwnd();
    }
    if (owner && !::IsWindow(owner))
        owner = nullptr;
    LPCTSTR caption = AfxGetAppName();
    return ::MessageBoxW(owner, lpszText, caption ? caption : u"", nType);
}

int AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp) {
    CString text;
    if (!text.LoadString(nIDPrompt))
        OutputDebugStringW(u"AfxMessageBox: the prompt is not in the string table.\n");
    return AfxMessageBox(static_cast<LPCTSTR>(text), nType, nIDHelp == static_cast<UINT>(-1) ? nIDPrompt : nIDHelp);
}
