// The window code's private side, shared by the files that make up windows (window.cpp, window_*.cpp and
// metrics.cpp): the sizes of the frame the layer gives windows, and the helpers one part of the window code calls in
// another.
// The locking rules of ui_internal.h hold: a function whose name ends in Locked needs State::mutex held, every
// other one takes it itself and calls window procedures and hooks without it.
#pragma once

#include "platform/ui/ui_internal.h"

#include <string>
#include <vector>

namespace platform::ui {

// The pseudo handle GetDesktopWindow returns.
inline constexpr uintptr_t kDesktopHandle = 0x10010;

// Non-client sizes and the screen's fixed furniture (GetSystemMetrics reports the same numbers).
inline constexpr int kFrame = 4;
inline constexpr int kDlgFrame = 3;
inline constexpr int kBorder = 1;
inline constexpr int kCaption = 19;
inline constexpr int kMenu = 19;
inline constexpr int kScroll = 17;
inline constexpr int kEdge = 2;
inline constexpr int kTaskbar = 30;
inline constexpr int kMinimizedWidth = 160;
inline constexpr int kMinimizedHeight = 28;
inline constexpr LONG kMinimizedPos = -32000;
// The mouse's hover rectangle (pixels across and down) and time (milliseconds).
inline constexpr UINT kHoverSize = 4;
inline constexpr UINT kHoverTime = 400;

// Handles (window.cpp).
uintptr_t Key(HWND hwnd);
HWND DesktopHandle();
bool IsDesktop(HWND hwnd);
// Sends through the message layer (direct call on the window's thread, cross-thread send otherwise).
LRESULT Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Tells the other processes that a published window changed.
void Publish(const WindowPtr& w);

// Classes (window_class.cpp).
WindowClassPtr FindClassLocked(State& s, LPCWSTR name);
// Registers the layer's own classes on first use.
void EnsureSystemClasses();

// The tree and Z order (window_tree.cpp).
std::vector<HWND>& SiblingListLocked(State& s, const Window& w);
void UnlinkLocked(State& s, Window& w);
// Inserts a top-level window at the top of its band (topmost windows above the others), or at its bottom.
void InsertTopLevelLocked(State& s, Window& w, bool atTop);
void ReorderLocked(State& s, Window& w, HWND insertAfter);
// Resolves a window's top-level window.
HWND RootLocked(HWND hwnd);

// Hooks (window_hooks.cpp): calls the thread's newest hook of the kind; 0 when it has none.
LRESULT CallHooks(int id, int code, WPARAM wParam, LPARAM lParam);

// Geometry (window_geometry.cpp).
RECT NonClientInsets(DWORD style, DWORD exStyle, bool menu);
// Screen position of the top-left corner of a window, and of its client area.
POINT WindowOriginLocked(State& s, const Window& w);
POINT ClientOriginLocked(State& s, const Window& w);
RECT WorkArea();
// Recomputes the client area through WM_NCCALCSIZE.
void RecalcClient(HWND hwnd);

// Invalidation (window_invalidate.cpp): marks the window as needing paint and wakes its thread.
void SetNeedsPaint(const WindowPtr& w, bool erase);

// Activation (window_focus.cpp).
// Activation on the window's own thread. Sends the deactivation to the previous active window of that thread.
void Activate(HWND hwnd, bool bringToTop = true);
// After the active window went away or was hidden, the thread activates its owner or its next visible window.
void ActivateAnother(const WindowPtr& gone);

} // namespace platform::ui
