// CSplash: the picture window shown while the program starts, with the program's version written over the bitmap.
//
// So far this holds the version text that the window writes; the window itself (its class "SPLASH", the bitmap
// with its key colour, showing, hiding and painting) comes with the drawing layer.
#pragma once

#include "platform/afx/String.h"
#include "platform/base/types.h"

class CSplash {
public:
    // The version text of a file: "%d.%d.%d.%d" of its file version, with " Build " and the special build text when
    // that is not empty. The text is unchanged when the file has no version record with a special-build string.
    static void GetApVersion(LPCTSTR lpszFilePath, CString& strVersion);

    // The line the splash window writes over its bitmap: "Version :", a blank and the running program's version
    // text (empty when the program has none).
    static CString GetVersionLine();
};
