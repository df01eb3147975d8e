#include "storage/EnclosureWnd.h"

IMPLEMENT_DYNAMIC(CEnclosureWnd, CWnd)

namespace {

int g_nRetryCount = 0;

} // namespace

long CEnclosureDriver::TurnOnSecureLed(long nDrive, short bOn) {
    long result = 0;
    static const BYTE params[] = VTS_I4 VTS_I2;
    InvokeHelper(1, DISPATCH_METHOD, VT_I4, &result, params, nDrive, bOn);
    return result;
}

long CEnclosureDriver::TurnOnReadyLed(long nDrive, short bOn) {
    long result = 0;
    static const BYTE params[] = VTS_I4 VTS_I2;
    InvokeHelper(2, DISPATCH_METHOD, VT_I4, &result, params, nDrive, bOn);
    return result;
}

long CEnclosureDriver::IsEffectiveLogicalDrive(long nDrive) {
    long result = 0;
    static const BYTE params[] = VTS_I4;
    InvokeHelper(3, DISPATCH_METHOD, VT_I4, &result, params, nDrive);
    return result;
}

long CEnclosureDriver::RegisterNotify(long lValue1, long lValue2) {
    long result = 0;
    static const BYTE params[] = VTS_I4 VTS_I4;
    InvokeHelper(4, DISPATCH_METHOD, VT_I4, &result, params, lValue1, lValue2);
    return result;
}

long CEnclosureDriver::IsEffectivePhysicalDrive(long nDrive) {
    long result = 0;
    static const BYTE params[] = VTS_I4;
    InvokeHelper(5, DISPATCH_METHOD, VT_I4, &result, params, nDrive);
    return result;
}

BEGIN_MESSAGE_MAP(CEnclosureWnd, CWnd)
    ON_WM_CREATE()
    ON_WM_DESTROY()
    ON_WM_TIMER()
    ON_MESSAGE(WM_ONE_TOUCH_NOTIFY, OnOTBNotify)
    ON_MESSAGE(WM_ENCLOSURE_SECURE_LED, OnTurnOnSecureLed)
END_MESSAGE_MAP()

CEnclosureWnd::~CEnclosureWnd() {
    if (m_hWnd)
        DestroyWindow();
}

int CEnclosureWnd::GetRetryCount() {
    return g_nRetryCount;
}

BOOL CEnclosureWnd::Create() {
    if (m_hWnd)
        return TRUE;
    CreateEx(WS_EX_TOPMOST, _T("STATIC"), _T("ONE_TOUCH_NOTIFY_TARGET"), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
             nullptr);
    return m_hWnd != nullptr;
}

int CEnclosureWnd::OnCreate(LPCREATESTRUCTW lpCreateStruct) {
    const int result = CWnd::OnCreate(lpCreateStruct);
    // Without the companion program the window lives on; LED requests are then simply lost.
    m_driver.CreateDispatch(_T("Enclosure.Application"));
    return result;
}

void CEnclosureWnd::OnDestroy() {
    CWnd::OnDestroy();
    KillTimer(kEnclosureRetryTimer);
    m_driver.ReleaseDispatch();
}

void CEnclosureWnd::SetHandler(OneTouchHandler pfnHandler, void* pUserData) {
    m_pfnHandler = pfnHandler;
    m_pHandlerData = pfnHandler ? pUserData : nullptr;
}

LRESULT CEnclosureWnd::OnOTBNotify(WPARAM wParam, LPARAM lParam) {
    if (m_pfnHandler)
        m_pfnHandler(m_pHandlerData, wParam, lParam);
    return 0;
}

LRESULT CEnclosureWnd::OnTurnOnSecureLed(WPARAM wParam, LPARAM lParam) {
    TurnOnSecureLed(static_cast<int>(wParam), static_cast<BOOL>(lParam));
    return 0;
}

void CEnclosureWnd::TurnOnSecureLed(int nDrive, BOOL bOn) {
    try {
        m_driver.TurnOnSecureLed(nDrive, static_cast<short>(bOn));
    } catch (COleException* e) {
        if (e->m_sc == RPC_E_CANTCALLOUT_ININPUTSYNCCALL) {
            m_nPendingDrive = nDrive;
            m_bPendingOn = bOn;
            SetTimer(kEnclosureRetryTimer, 300, nullptr);
        }
        e->Delete();
    } catch (COleDispatchException* e) {
        if (e->m_scError == RPC_E_CANTCALLOUT_ININPUTSYNCCALL) {
            m_nPendingDrive = nDrive;
            m_bPendingOn = bOn;
            SetTimer(kEnclosureRetryTimer, 300, nullptr);
        }
        e->Delete();
    }
}

void CEnclosureWnd::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == kEnclosureRetryTimer) {
        if (++g_nRetryCount > 5) {
            g_nRetryCount = 0;
            KillTimer(kEnclosureRetryTimer);
        } else {
            PostMessage(WM_ENCLOSURE_SECURE_LED, static_cast<WPARAM>(m_nPendingDrive), m_bPendingOn);
        }
    }
    CWnd::OnTimer(nIDEvent);
}
