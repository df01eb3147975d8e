// CHeaderCtrl: the framework's header control class (a CWnd over "SysHeader32" whose methods send HDM_ messages).
#pragma once

#include "platform/afx/Wnd.h"
#include "platform/ui/listview.h"
#include "platform/ui/menu.h"

class CHeaderCtrl : public CWnd {
    DECLARE_DYNAMIC(CHeaderCtrl)
public:
    CHeaderCtrl() = default;
    ~CHeaderCtrl() override;

    virtual BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);

    int GetItemCount() const { return static_cast<int>(SendMessage(HDM_GETITEMCOUNT)); }
    int InsertItem(int nPos, HDITEMW* phdi) {
        return static_cast<int>(
            SendMessage(HDM_INSERTITEMW, static_cast<WPARAM>(nPos), reinterpret_cast<LPARAM>(phdi)));
    }
    BOOL DeleteItem(int nPos) { return static_cast<BOOL>(SendMessage(HDM_DELETEITEM, static_cast<WPARAM>(nPos))); }
    BOOL GetItem(int nPos, HDITEMW* pHeaderItem) const {
        return static_cast<BOOL>(
            SendMessage(HDM_GETITEMW, static_cast<WPARAM>(nPos), reinterpret_cast<LPARAM>(pHeaderItem)));
    }
    BOOL SetItem(int nPos, HDITEMW* pHeaderItem) {
        return static_cast<BOOL>(
            SendMessage(HDM_SETITEMW, static_cast<WPARAM>(nPos), reinterpret_cast<LPARAM>(pHeaderItem)));
    }
    BOOL GetItemRect(int nIndex, LPRECT lpRect) const {
        return static_cast<BOOL>(
            SendMessage(HDM_GETITEMRECT, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(lpRect)));
    }
    BOOL Layout(HDLAYOUT* pHeaderLayout) {
        return static_cast<BOOL>(SendMessage(HDM_LAYOUT, 0, reinterpret_cast<LPARAM>(pHeaderLayout)));
    }
    int HitTest(HDHITTESTINFO* pHeaderHitTestInfo) {
        return static_cast<int>(SendMessage(HDM_HITTEST, 0, reinterpret_cast<LPARAM>(pHeaderHitTestInfo)));
    }
    int OrderToIndex(int nOrder) const {
        return static_cast<int>(SendMessage(HDM_ORDERTOINDEX, static_cast<WPARAM>(nOrder)));
    }

    // Owner draw of HDF_OWNERDRAW items (the parent reflects WM_DRAWITEM here); the default does nothing.
    virtual void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct);
    BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
};
