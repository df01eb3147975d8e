// Private to the framework's control classes: sending a control message and reading its result as the type the
// message returns, without a cast at every call.
#pragma once

#include "platform/ui/message.h"

#include <type_traits>

namespace afx_control {

template <class T> T Send(HWND hwnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
    const LRESULT r = ::SendMessageW(hwnd, msg, wParam, lParam);
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<T>(r);
    else
        return static_cast<T>(r);
}

inline LPARAM P(const void* p) {
    return reinterpret_cast<LPARAM>(p);
}

} // namespace afx_control
