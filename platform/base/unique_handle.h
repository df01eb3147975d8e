// UniqueHandle: owns one handle and closes it exactly once, when the owner goes out of scope or is given
// another handle.
//
// Every kind of handle the layer hands out is owned through this one template; the kind names its closing
// function. OwnedHandle is the common case, a kernel-object HANDLE closed with CloseHandle (files, events,
// threads, processes, timers, completion ports); other kinds name theirs, for example
// UniqueHandle<HKEY, &RegCloseKey> or UniqueHandle<HANDLE, &FindClose>. As the functions that return handles
// use either null or INVALID_HANDLE_VALUE for "none", both count as holding nothing and are never closed.
//
// The owner moves but does not copy. Closing leaves the thread's last error as it was, so an owner going out of
// scope after a failure does not change the error its function reports. What the closing function returns is
// dropped: a handle that fails to close cannot be closed by trying again.
#pragma once

#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/types.h"

#include <utility>

namespace platform {

template <class H, auto Close> class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(H handle) : m_handle(handle) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    // The handle held (null or INVALID_HANDLE_VALUE when none), still owned.
    H get() const { return m_handle; }
    bool valid() const { return IsHandle(m_handle); }
    explicit operator bool() const { return valid(); }

    // Gives the handle up without closing it.
    H release() { return std::exchange(m_handle, H{}); }

    // Closes what is held and takes `handle` instead.
    void reset(H handle = H{}) {
        const H old = std::exchange(m_handle, handle);
        if (!IsHandle(old) || old == handle)
            return;
        const DWORD error = GetLastError();
        Close(old);
        SetLastError(error);
    }

    // For functions that return a new handle through a pointer: closes what is held and lends the slot.
    H* put() {
        reset();
        return &m_handle;
    }

private:
    static bool IsHandle(H handle) { return handle != H{} && handle != reinterpret_cast<H>(INVALID_HANDLE_VALUE); }

    H m_handle{};
};

// A kernel-object handle closed with CloseHandle.
using OwnedHandle = UniqueHandle<HANDLE, &CloseHandle>;

} // namespace platform
