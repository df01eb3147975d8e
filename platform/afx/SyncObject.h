// CSyncObject: the framework's base of the synchronisation classes (CCriticalSection, CEvent).
//
// Lock waits for the object (a kernel wait on m_hObject for the waitable kinds); Unlock releases what Lock took.
// The handle is closed when the object is destroyed.
#pragma once

#include "platform/afx/Object.h"

class CSyncObject : public CObject {
    DECLARE_DYNAMIC(CSyncObject)
public:
    explicit CSyncObject(LPCTSTR pstrName);
    ~CSyncObject() override;
    CSyncObject(const CSyncObject&) = delete;
    CSyncObject& operator=(const CSyncObject&) = delete;

    virtual BOOL Lock(DWORD dwTimeout = INFINITE);
    virtual BOOL Unlock() = 0;
    virtual BOOL Unlock(LONG lCount, LPLONG lpPrevCount = nullptr);

    operator HANDLE() const { return m_hObject; }

    HANDLE m_hObject = nullptr;
};
