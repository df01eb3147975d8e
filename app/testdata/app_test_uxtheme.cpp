// A library named like the system's visual-styles library that answers the few calls the themed image button
// makes and records them, so that the tests can see which face was drawn where. It draws nothing itself.
#include "app/testdata/app_test_uxtheme.h"

#include "platform/base/errors.h"

namespace {

ThemeTestCalls g_calls;
int g_theme = 1;

bool IsButtonClass(const char16_t* classes) {
    static const char16_t kButton[] = u"BUTTON";
    for (int i = 0; i < 7; ++i)
        if (!classes || classes[i] != kButton[i])
            return false;
    return true;
}

} // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT BOOL IsAppThemed() {
    return g_calls.active;
}

EXPORT BOOL IsThemeActive() {
    return g_calls.active;
}

EXPORT void* OpenThemeData(HWND, const char16_t* classes) {
    if (!IsButtonClass(classes))
        return nullptr;
    ++g_calls.opens;
    return &g_theme;
}

EXPORT HRESULT CloseThemeData(void* theme) {
    if (theme != &g_theme)
        return E_FAIL;
    ++g_calls.closes;
    return S_OK;
}

EXPORT HRESULT DrawThemeParentBackground(HWND, HDC, RECT*) {
    ++g_calls.parentBackgrounds;
    return S_OK;
}

EXPORT HRESULT DrawThemeBackground(void*, HDC, int part, int state, const RECT* rect, const RECT*) {
    ++g_calls.backgrounds;
    g_calls.lastPart = part;
    g_calls.lastState = state;
    g_calls.lastRect = *rect;
    return S_OK;
}

// The content lies 4 pixels inside the face.
EXPORT HRESULT GetThemeBackgroundContentRect(void*, HDC, int, int, const RECT* bounds, RECT* content) {
    *content = RECT{bounds->left + 4, bounds->top + 4, bounds->right - 4, bounds->bottom - 4};
    return S_OK;
}

EXPORT COLORREF GetThemeSysColor(void*, int) {
    return 0x123456;
}

// Test control: switch the styles on or off, read and reset the record.
EXPORT void TestThemeSetActive(BOOL active) {
    g_calls.active = active;
}

EXPORT void TestThemeCalls(ThemeTestCalls* out, BOOL reset) {
    *out = g_calls;
    if (reset) {
        const BOOL active = g_calls.active;
        g_calls = ThemeTestCalls{};
        g_calls.active = active;
    }
}
