// Pop-up menus on the display: the menu window of class "#32768" that TrackPopupMenu opens when windows are shown
// on a display and no menu hook answers for the user.
//
// The same as Windows: the menu opens at the point the flags align it to, kept on the screen; the mouse highlights
// items and a button released over an item chooses it; sub-menus open when the pointer rests on their item or with
// the Right key; Up and Down move, Left and Escape close a level, Enter chooses, an item's mnemonic letter chooses
// it; a click outside every level, or Alt, closes the menu. WM_INITMENUPOPUP goes to the owner before a sub-menu
// opens and WM_MENUSELECT as the highlight moves. The menu takes the capture for its time, and runs its own
// message loop on the calling thread, as Windows' menu loop does.
#pragma once

#include "platform/base/types.h"

namespace platform::ui {

// Shows the pop-up menu and returns the command chosen, 0 when the menu was closed without a choice.
UINT TrackMenuOnDisplay(HMENU menu, UINT flags, POINT at, HWND owner);

} // namespace platform::ui
