// CCriticalSection: the framework's critical section, recursive for its owning thread.
#pragma once

#include "platform/afx/SyncObject.h"
#include "platform/base/sync.h"

class CCriticalSection : public CSyncObject {
    DECLARE_DYNAMIC(CCriticalSection)
public:
    CCriticalSection();
    ~CCriticalSection() override;

    // A critical section waits without limit; a timeout other than INFINITE is not offered by the framework either.
    BOOL Lock();
    BOOL Lock(DWORD dwTimeout) override;
    BOOL Unlock() override;
    using CSyncObject::Unlock;

    operator CRITICAL_SECTION*() { return &m_sect; }
    CRITICAL_SECTION m_sect;
};
