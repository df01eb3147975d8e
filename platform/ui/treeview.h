// Tree view: the TreeView_* helpers over the tree-view messages (commctrl.h holds the messages and records).
//
// Stands in for the tree-view helpers of the common controls; each helper sends its message, exactly as the
// Windows macros do, so they work on a tree view of any thread.
#pragma once

#include "platform/ui/commctrl.h"

#include <cstring>

inline HTREEITEM TreeView_InsertItem(HWND tree, const TVINSERTSTRUCTW* insert) {
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(insert)));
}
inline BOOL TreeView_DeleteItem(HWND tree, HTREEITEM item) {
    return static_cast<BOOL>(SendMessageW(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item)));
}
inline BOOL TreeView_DeleteAllItems(HWND tree) {
    return TreeView_DeleteItem(tree, TVI_ROOT);
}
inline BOOL TreeView_Expand(HWND tree, HTREEITEM item, UINT code) {
    return static_cast<BOOL>(SendMessageW(tree, TVM_EXPAND, code, reinterpret_cast<LPARAM>(item)));
}
inline HTREEITEM TreeView_GetNextItem(HWND tree, HTREEITEM item, UINT code) {
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, code, reinterpret_cast<LPARAM>(item)));
}
inline HTREEITEM TreeView_GetRoot(HWND tree) {
    return TreeView_GetNextItem(tree, nullptr, TVGN_ROOT);
}
inline HTREEITEM TreeView_GetChild(HWND tree, HTREEITEM item) {
    return TreeView_GetNextItem(tree, item, TVGN_CHILD);
}
inline HTREEITEM TreeView_GetNextSibling(HWND tree, HTREEITEM item) {
    return TreeView_GetNextItem(tree, item, TVGN_NEXT);
}
inline HTREEITEM TreeView_GetPrevSibling(HWND tree, HTREEITEM item) {
    return TreeView_GetNextItem(tree, item, TVGN_PREVIOUS);
}
inline HTREEITEM TreeView_GetParent(HWND tree, HTREEITEM item) {
    return TreeView_GetNextItem(tree, item, TVGN_PARENT);
}
inline HTREEITEM TreeView_GetSelection(HWND tree) {
    return TreeView_GetNextItem(tree, nullptr, TVGN_CARET);
}
inline BOOL TreeView_SelectItem(HWND tree, HTREEITEM item) {
    return static_cast<BOOL>(SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)));
}
inline BOOL TreeView_GetItem(HWND tree, TVITEMW* item) {
    return static_cast<BOOL>(SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(item)));
}
inline BOOL TreeView_SetItem(HWND tree, const TVITEMW* item) {
    return static_cast<BOOL>(SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(item)));
}
inline UINT TreeView_GetItemState(HWND tree, HTREEITEM item, UINT mask) {
    return static_cast<UINT>(SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), mask));
}
inline UINT TreeView_GetCount(HWND tree) {
    return static_cast<UINT>(SendMessageW(tree, TVM_GETCOUNT, 0, 0));
}
inline HTREEITEM TreeView_HitTest(HWND tree, TVHITTESTINFO* info) {
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(info)));
}
inline BOOL TreeView_GetItemRect(HWND tree, HTREEITEM item, RECT* rect, BOOL textOnly) {
    // The rectangle's storage carries the item on the way in.
    std::memcpy(rect, &item, sizeof(item));
    return static_cast<BOOL>(SendMessageW(tree, TVM_GETITEMRECT, textOnly, reinterpret_cast<LPARAM>(rect)));
}
inline HIMAGELIST TreeView_SetImageList(HWND tree, HIMAGELIST list, int which) {
    return reinterpret_cast<HIMAGELIST>(
        SendMessageW(tree, TVM_SETIMAGELIST, static_cast<WPARAM>(which), reinterpret_cast<LPARAM>(list)));
}
inline HIMAGELIST TreeView_GetImageList(HWND tree, int which) {
    return reinterpret_cast<HIMAGELIST>(SendMessageW(tree, TVM_GETIMAGELIST, static_cast<WPARAM>(which), 0));
}
inline BOOL TreeView_EnsureVisible(HWND tree, HTREEITEM item) {
    return static_cast<BOOL>(SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item)));
}
inline BOOL TreeView_SortChildren(HWND tree, HTREEITEM item, BOOL recurse) {
    return static_cast<BOOL>(
        SendMessageW(tree, TVM_SORTCHILDREN, static_cast<WPARAM>(recurse), reinterpret_cast<LPARAM>(item)));
}
inline BOOL TreeView_SortChildrenCB(HWND tree, const TVSORTCB* sort, BOOL recurse) {
    return static_cast<BOOL>(
        SendMessageW(tree, TVM_SORTCHILDRENCB, static_cast<WPARAM>(recurse), reinterpret_cast<LPARAM>(sort)));
}
// The check state of a check-box tree: the state image index minus one (0 unchecked, 1 checked).
inline BOOL TreeView_GetCheckState(HWND tree, HTREEITEM item) {
    return static_cast<BOOL>((TreeView_GetItemState(tree, item, TVIS_STATEIMAGEMASK) >> 12) - 1);
}
inline BOOL TreeView_SetCheckState(HWND tree, HTREEITEM item, BOOL check) {
    TVITEMW tv{};
    tv.mask = TVIF_HANDLE | TVIF_STATE;
    tv.hItem = item;
    tv.stateMask = TVIS_STATEIMAGEMASK;
    tv.state = INDEXTOSTATEIMAGEMASK(check ? 2 : 1);
    return TreeView_SetItem(tree, &tv);
}
