// List view and header: the ListView_* and Header_* helpers over their messages (commctrl.h holds the messages and
// records).
//
// Stands in for the list-view and header helpers of the common controls; each helper sends its message, exactly as
// the Windows macros do.
#pragma once

#include "platform/ui/commctrl.h"

inline int ListView_InsertItem(HWND list, const LVITEMW* item) {
    return static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(item)));
}
inline BOOL ListView_SetItem(HWND list, const LVITEMW* item) {
    return static_cast<BOOL>(SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(item)));
}
inline BOOL ListView_GetItem(HWND list, LVITEMW* item) {
    return static_cast<BOOL>(SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(item)));
}
inline BOOL ListView_DeleteItem(HWND list, int index) {
    return static_cast<BOOL>(SendMessageW(list, LVM_DELETEITEM, static_cast<WPARAM>(index), 0));
}
inline BOOL ListView_DeleteAllItems(HWND list) {
    return static_cast<BOOL>(SendMessageW(list, LVM_DELETEALLITEMS, 0, 0));
}
inline int ListView_GetItemCount(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}
inline int ListView_GetNextItem(HWND list, int start, UINT flags) {
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(start), MAKELPARAM(flags, 0)));
}
inline UINT ListView_GetSelectedCount(HWND list) {
    return static_cast<UINT>(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0));
}
inline BOOL ListView_SetItemText(HWND list, int index, int subItem, LPCWSTR text) {
    LVITEMW item{};
    item.iSubItem = subItem;
    item.pszText = const_cast<LPWSTR>(text);
    return static_cast<BOOL>(
        SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}
inline int ListView_GetItemText(HWND list, int index, int subItem, LPWSTR text, int max) {
    LVITEMW item{};
    item.iSubItem = subItem;
    item.pszText = text;
    item.cchTextMax = max;
    return static_cast<int>(
        SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}
inline BOOL ListView_SetItemState(HWND list, int index, UINT state, UINT mask) {
    LVITEMW item{};
    item.state = state;
    item.stateMask = mask;
    return static_cast<BOOL>(
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}
inline UINT ListView_GetItemState(HWND list, int index, UINT mask) {
    return static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(index), mask));
}
// The check state of a check-box list: the state image index minus one (0 unchecked, 1 checked).
inline BOOL ListView_GetCheckState(HWND list, int index) {
    return static_cast<BOOL>((ListView_GetItemState(list, index, LVIS_STATEIMAGEMASK) >> 12) - 1);
}
inline BOOL ListView_SetCheckState(HWND list, int index, BOOL check) {
    return ListView_SetItemState(list, index, INDEXTOSTATEIMAGEMASK(check ? 2 : 1), LVIS_STATEIMAGEMASK);
}
inline int ListView_InsertColumn(HWND list, int index, const LVCOLUMNW* column) {
    return static_cast<int>(
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(column)));
}
inline BOOL ListView_SetColumn(HWND list, int index, const LVCOLUMNW* column) {
    return static_cast<BOOL>(
        SendMessageW(list, LVM_SETCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(column)));
}
inline BOOL ListView_GetColumn(HWND list, int index, LVCOLUMNW* column) {
    return static_cast<BOOL>(
        SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(column)));
}
inline BOOL ListView_DeleteColumn(HWND list, int index) {
    return static_cast<BOOL>(SendMessageW(list, LVM_DELETECOLUMN, static_cast<WPARAM>(index), 0));
}
inline int ListView_GetColumnWidth(HWND list, int index) {
    return static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(index), 0));
}
inline BOOL ListView_SetColumnWidth(HWND list, int index, int width) {
    return static_cast<BOOL>(SendMessageW(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(index), MAKELPARAM(width, 0)));
}
inline DWORD ListView_SetExtendedListViewStyle(HWND list, DWORD style) {
    return static_cast<DWORD>(SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(style)));
}
inline DWORD ListView_GetExtendedListViewStyle(HWND list) {
    return static_cast<DWORD>(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
}
inline HWND ListView_GetHeader(HWND list) {
    return reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
}
inline BOOL ListView_SortItems(HWND list, PFNLVCOMPARE compare, LPARAM sort) {
    return static_cast<BOOL>(
        SendMessageW(list, LVM_SORTITEMS, static_cast<WPARAM>(sort), reinterpret_cast<LPARAM>(compare)));
}
inline BOOL ListView_SortItemsEx(HWND list, PFNLVCOMPARE compare, LPARAM sort) {
    return static_cast<BOOL>(
        SendMessageW(list, LVM_SORTITEMSEX, static_cast<WPARAM>(sort), reinterpret_cast<LPARAM>(compare)));
}
inline int ListView_FindItem(HWND list, int start, const LVFINDINFOW* find) {
    return static_cast<int>(
        SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(find)));
}
inline int ListView_HitTest(HWND list, LVHITTESTINFO* info) {
    return static_cast<int>(SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(info)));
}
inline BOOL ListView_EnsureVisible(HWND list, int index, BOOL partialOk) {
    return static_cast<BOOL>(SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), partialOk));
}
inline BOOL ListView_GetItemRect(HWND list, int index, RECT* rect, int code) {
    rect->left = code;
    return static_cast<BOOL>(
        SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(rect)));
}
inline HIMAGELIST ListView_SetImageList(HWND list, HIMAGELIST images, int which) {
    return reinterpret_cast<HIMAGELIST>(
        SendMessageW(list, LVM_SETIMAGELIST, static_cast<WPARAM>(which), reinterpret_cast<LPARAM>(images)));
}
inline HIMAGELIST ListView_GetImageList(HWND list, int which) {
    return reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, static_cast<WPARAM>(which), 0));
}

inline int Header_GetItemCount(HWND header) {
    return static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
}
inline int Header_InsertItem(HWND header, int index, const HDITEMW* item) {
    return static_cast<int>(
        SendMessageW(header, HDM_INSERTITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item)));
}
inline BOOL Header_GetItem(HWND header, int index, HDITEMW* item) {
    return static_cast<BOOL>(
        SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item)));
}
inline BOOL Header_SetItem(HWND header, int index, const HDITEMW* item) {
    return static_cast<BOOL>(
        SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item)));
}
inline BOOL Header_DeleteItem(HWND header, int index) {
    return static_cast<BOOL>(SendMessageW(header, HDM_DELETEITEM, static_cast<WPARAM>(index), 0));
}
