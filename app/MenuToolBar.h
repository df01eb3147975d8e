// CMenuToolBar: a tool bar that loads a toolbar resource by itself and remembers the image size the resource
// declares; the owner-drawn menu takes its button images from it.
#pragma once

#include "platform/afx/ToolBar.h"

class CMenuToolBar : public CToolBar {
public:
    CMenuToolBar() = default;

    // The toolbar resource nID of the current resource module, else of the program, with its bitmap of the same
    // id (button colours mapped to the system's); FALSE when either is missing.
    BOOL LoadToolBarResource(UINT nID);
    void GetImageSize(int& cx, int& cy) const {
        cx = imageWidth;
        cy = imageHeight;
    }

    int imageWidth = 0;
    int imageHeight = 0;
};
