// Objects whose state other processes share, private to the base layer.
//
// Their state sits in memory shared between processes and is guarded by a lock of its own besides the global
// wait lock. A wait takes the shared locks of all its shared objects (in name order, so two processes never
// deadlock) around checking and acquiring, which keeps multi-object waits atomic across processes too. Other
// processes cannot wake this process's waiters, so a wait on a shared object also looks again at short intervals.
#pragma once

#include "platform/base/handle.h"

namespace platform {

class SharedObject {
public:
    virtual ~SharedObject() = default;
    // False while the object is private to this process (unnamed); then the shared locks do nothing.
    virtual bool IsShared() const = 0;
    virtual void LockShared() = 0;
    virtual void UnlockShared() = 0;
};

} // namespace platform
