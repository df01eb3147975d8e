// The system's font table (HKEY_LOCAL_MACHINE "Software\Microsoft\Windows NT\CurrentVersion\Fonts", and the
// Windows 9x "Software\Microsoft\Windows\CurrentVersion\Fonts"): on Windows the system keeps it, one value per
// installed font, its display name naming the font's file. Here the fonts a user installs are the files of the
// user's font folder ($XDG_DATA_HOME/fonts, else ~/.local/share/fonts), and the table is brought up to date with
// that folder each time it is opened from HKEY_LOCAL_MACHINE: a font file that no value names gets a value named as
// Windows names fonts ("DejaVu Sans Bold (TrueType)", from the font's own family and style as fontconfig reads
// them), and a value naming a bare file that is no longer in the folder goes. Values whose data is a full path are
// left alone, as are values that name a file of the folder under another display name.
#pragma once

#include "platform/base/types.h"

namespace platform::registry {

// Called at every open or creation of a key below HKEY_LOCAL_MACHINE, before it is opened.
void RefreshFontTableIfNamed(LPCWSTR subKey);

} // namespace platform::registry
