// Window properties.

#include "platform/ui/window.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/ui/broker.h"
#include "platform/ui/window_internal.h"

#include <algorithm>

using namespace platform;
using namespace platform::ui;

namespace platform::ui {
namespace {

std::u16string PropKey(LPCWSTR name) {
    if (IS_INTRESOURCE(name))
        return u"#" + Utf8ToUtf16(std::to_string(static_cast<unsigned>(reinterpret_cast<uintptr_t>(name))));
    return std::u16string(name);
}

} // namespace
} // namespace platform::ui

BOOL SetPropW(HWND hwnd, LPCWSTR name, HANDLE data) {
    if (IsRemoteWindow(hwnd)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::u16string key = PropKey(name);
    {
        std::lock_guard lock(GetState().mutex);
        auto it = std::find_if(w->props.begin(), w->props.end(), [&](auto& p) { return EqualsNoCase(p.first, key); });
        if (it != w->props.end())
            it->second = data;
        else
            w->props.emplace_back(key, data);
    }
    Publish(w);
    return TRUE;
}

HANDLE GetPropW(HWND hwnd, LPCWSTR name) {
    if (!name)
        return nullptr;
    const std::u16string key = PropKey(name);
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e))
            return nullptr;
        for (auto& [n, v] : e.properties)
            if (EqualsNoCase(n, key))
                return reinterpret_cast<HANDLE>(v);
        return nullptr;
    }
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w)
        return nullptr;
    std::lock_guard lock(GetState().mutex);
    for (auto& [n, v] : w->props)
        if (EqualsNoCase(n, key))
            return v;
    return nullptr;
}

HANDLE RemovePropW(HWND hwnd, LPCWSTR name) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w || !name)
        return nullptr;
    const std::u16string key = PropKey(name);
    HANDLE value = nullptr;
    {
        std::lock_guard lock(GetState().mutex);
        auto it = std::find_if(w->props.begin(), w->props.end(), [&](auto& p) { return EqualsNoCase(p.first, key); });
        if (it == w->props.end())
            return nullptr;
        value = it->second;
        w->props.erase(it);
    }
    Publish(w);
    return value;
}

int EnumPropsExW(HWND hwnd, PROPENUMPROCEXW proc, LPARAM lParam) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w || !proc)
        return -1;
    std::vector<std::pair<std::u16string, HANDLE>> props;
    {
        std::lock_guard lock(GetState().mutex);
        props = w->props;
    }
    if (props.empty())
        return -1;
    int last = -1;
    for (auto& [name, value] : props) {
        last = proc(hwnd, name.data(), value, static_cast<ULONG_PTR>(lParam));
        if (!last)
            break;
    }
    return last;
}

int EnumPropsW(HWND hwnd, PROPENUMPROCW proc) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w || !proc)
        return -1;
    std::vector<std::pair<std::u16string, HANDLE>> props;
    {
        std::lock_guard lock(GetState().mutex);
        props = w->props;
    }
    if (props.empty())
        return -1;
    int last = -1;
    for (auto& [name, value] : props) {
        last = proc(hwnd, name.c_str(), value);
        if (!last)
            break;
    }
    return last;
}
