// CEnclosureWnd: the main program's end of the link with the companion program Enclosure.
//
// A hidden top-most window titled "ONE_TOUCH_NOTIFY_TARGET": the companion finds it by its title and posts the
// one-touch signal WM_USER+1499 to it, which goes to the handler the System settings page installed (none: the
// signal is dropped). It also holds the client of the companion's automation object "Enclosure.Application"
// (the system starts the companion when it is not running), through which the secure-disk LED is switched; a call
// refused because this thread is inside an input-synchronous call is repeated by a timer.
//
// One object per process, embedded in the application object; GUI thread only.
#pragma once

#include "platform/afx/OleDispatchDriver.h"
#include "platform/afx/Wnd.h"
#include "platform/com/objbase.h"

constexpr UINT WM_ONE_TOUCH_NOTIFY = WM_USER + 1499;
constexpr UINT WM_ENCLOSURE_SECURE_LED = WM_USER + 1601;
constexpr UINT_PTR kEnclosureRetryTimer = 2625;

// The companion's automation object, by dispatch id.
class CEnclosureDriver : public COleDispatchDriver {
public:
    long TurnOnSecureLed(long nDrive, short bOn);
    long TurnOnReadyLed(long nDrive, short bOn);
    long IsEffectiveLogicalDrive(long nDrive);
    long RegisterNotify(long lValue1, long lValue2);
    long IsEffectivePhysicalDrive(long nDrive);
};

class CEnclosureWnd : public CWnd {
    DECLARE_DYNAMIC(CEnclosureWnd)
public:
    // The one-touch handler: user data, then the signal's wParam and lParam.
    using OneTouchHandler = void (*)(void* pUserData, WPARAM wParam, LPARAM lParam);

    CEnclosureWnd() = default;
    ~CEnclosureWnd() override;

    // Creates the hidden top-most window (which creates the automation client). Whether the window exists.
    BOOL Create();
    // Installs, or with none removes, the one-touch handler.
    void SetHandler(OneTouchHandler pfnHandler, void* pUserData);
    // Switches the enclosure's secure-disk LED for a drive index (0: every letter).
    void TurnOnSecureLed(int nDrive, BOOL bOn);

    BOOL HasDispatch() const { return m_driver.m_lpDispatch != nullptr; }
    // The retry timer's count of ticks (one per process).
    static int GetRetryCount();

protected:
    int OnCreate(LPCREATESTRUCTW lpCreateStruct);
    void OnDestroy();
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnOTBNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnTurnOnSecureLed(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    CEnclosureDriver m_driver;
    OneTouchHandler m_pfnHandler = nullptr;
    void* m_pHandlerData = nullptr;
    int m_nPendingDrive = 0;
    BOOL m_bPendingOn = FALSE;
};
