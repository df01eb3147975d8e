// Image lists: ImageList_Create and the functions that fill, read, draw and destroy them.
//
// Stands in for the image lists of the common controls. The same as Windows: a list holds images of one size;
// a bitmap added to it is cut into as many images as its width holds; with ILC_MASK each image has a mask,
// taken from a mask bitmap or made from a colour (AddMasked), and drawing leaves masked pixels alone; a list
// grows by its grow count; ReplaceIcon with index -1 appends; Remove with -1 empties the list; errors are
// reported through the result (-1, FALSE or null) as on Windows.
//
// Where it differs: every list keeps its images as 32-bit ARGB pixels whatever colour depth it was asked for.
// Bitmaps, icons and device contexts belong to the drawing layer, which lends the list its readers and its
// drawing routine through SetImageBridge; until it has done so, the functions that take or give a bitmap, an
// icon or a device context fail.
#pragma once

#include "platform/ui/commctrl.h"

#include <cstdint>
#include <vector>

HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int initial, int grow);
BOOL ImageList_Destroy(HIMAGELIST himl);
int ImageList_GetImageCount(HIMAGELIST himl);
// Grows (with empty images) or shrinks the list.
BOOL ImageList_SetImageCount(HIMAGELIST himl, UINT newCount);
BOOL ImageList_GetIconSize(HIMAGELIST himl, int* cx, int* cy);
// Changing the size empties the list.
BOOL ImageList_SetIconSize(HIMAGELIST himl, int cx, int cy);
COLORREF ImageList_SetBkColor(HIMAGELIST himl, COLORREF color);
COLORREF ImageList_GetBkColor(HIMAGELIST himl);
// Index -1 removes every image.
BOOL ImageList_Remove(HIMAGELIST himl, int index);
inline BOOL ImageList_RemoveAll(HIMAGELIST himl) {
    return ImageList_Remove(himl, -1);
}
HIMAGELIST ImageList_Duplicate(HIMAGELIST himl);
BOOL ImageList_Copy(HIMAGELIST dst, int dstIndex, HIMAGELIST src, int srcIndex, UINT flags);
BOOL ImageList_GetImageInfo(HIMAGELIST himl, int index, IMAGEINFO* info);

// Index of the first image added, or -1.
int ImageList_Add(HIMAGELIST himl, HBITMAP image, HBITMAP mask);
int ImageList_AddMasked(HIMAGELIST himl, HBITMAP image, COLORREF maskColor);
BOOL ImageList_Replace(HIMAGELIST himl, int index, HBITMAP image, HBITMAP mask);
// Index -1 appends. Returns the image's index or -1.
int ImageList_ReplaceIcon(HIMAGELIST himl, int index, HICON icon);
inline int ImageList_AddIcon(HIMAGELIST himl, HICON icon) {
    return ImageList_ReplaceIcon(himl, -1, icon);
}
HICON ImageList_GetIcon(HIMAGELIST himl, int index, UINT flags);
BOOL ImageList_Draw(HIMAGELIST himl, int index, HDC dc, int x, int y, UINT style);
BOOL ImageList_DrawEx(HIMAGELIST himl, int index, HDC dc, int x, int y, int dx, int dy, COLORREF bk, COLORREF fg,
                      UINT style);

namespace platform::ui {

// One image of a list: ARGB pixels, row by row from the top; alpha 0 marks a masked (transparent) pixel.
struct ImagePixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> argb;
};

// What the drawing layer lends the image lists.
struct ImageBridge {
    // The pixels of a bitmap (alpha 0xFF everywhere); false for an invalid bitmap.
    bool (*readBitmap)(HBITMAP bitmap, ImagePixels& out) = nullptr;
    // The pixels of an icon with its mask applied (masked pixels alpha 0).
    bool (*readIcon)(HICON icon, ImagePixels& out) = nullptr;
    // A new icon from pixels (alpha 0 masked); null on failure.
    HICON (*makeIcon)(const ImagePixels& pixels) = nullptr;
    // Draws the pixels at (x, y) on the device context, leaving alpha-0 pixels alone.
    bool (*draw)(HDC dc, int x, int y, const ImagePixels& pixels) = nullptr;
};
void SetImageBridge(const ImageBridge& bridge);

// The pixels of one image (for tests and for controls that paint); false for an invalid list or index.
bool GetImagePixels(HIMAGELIST himl, int index, ImagePixels& out);
// Appends an image given as pixels (cut to the list's size); returns its index or -1.
int AddImagePixels(HIMAGELIST himl, const ImagePixels& pixels);

} // namespace platform::ui
