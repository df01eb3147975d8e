// The window layer's private side of the broker.
#pragma once

#include "platform/ui/broker.h"

#include <vector>

namespace platform::ui {

// Snapshot of this process's published windows (top-level, not message-only, creation finished).
std::vector<broker::WindowEntry> LocalPublishedWindows();
// Removes the windows of an ended thread without sending messages.
void DestroyThreadWindows(DWORD threadId);

namespace broker {

// The session's foreground window, kept in the broker folder so that every process sees the same one.
void SetSessionForeground(HWND hwnd);
HWND SessionForeground();
// A window lost activation: when it was the session's foreground window, the foreground moves to `next` (or none).
void ForegroundGone(HWND gone, HWND next);

} // namespace broker
} // namespace platform::ui
