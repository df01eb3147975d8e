// CEvent: the framework's event object over a kernel event (auto-reset unless bManualReset).
#pragma once

#include "platform/afx/SyncObject.h"

class CEvent : public CSyncObject {
    DECLARE_DYNAMIC(CEvent)
public:
    explicit CEvent(BOOL bInitiallyOwn = FALSE, BOOL bManualReset = FALSE, LPCTSTR lpszName = nullptr,
                    LPSECURITY_ATTRIBUTES lpsaAttribute = nullptr);

    BOOL SetEvent();
    BOOL PulseEvent();
    BOOL ResetEvent();
    BOOL Unlock() override { return TRUE; }
    using CSyncObject::Unlock;
};
