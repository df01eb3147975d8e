// CSortListCtrl: a report list that keeps a copy of every row's texts beside the control (CSortListRow), sorts the
// rows by any column when its header is clicked, and offers row conveniences (insert with one text per column,
// delete with a veto callback, select, check, swap and move rows). Its header (CSortHeaderCtrl) remembers the sort
// column and direction and draws an arrow in that column.
//
// Rows are compared by the kind of their texts: empty texts first, then numbers by value, then dates and times by
// time, then all other texts by code unit. The kind of each text is its own, so that comparing a with b and b with
// a always agree and every sort gives the same order.
#pragma once

#include "platform/afx/HeaderCtrl.h"
#include "platform/afx/ListCtrl.h"
#include "platform/afx/StringArray.h"

#include <initializer_list>
#include <memory>
#include <unordered_map>

class CSortHeaderCtrl : public CHeaderCtrl {
    DECLARE_DYNAMIC(CSortHeaderCtrl)
public:
    CSortHeaderCtrl() = default;

    int GetSortColumn() const { return m_nSortColumn; }
    void SetSortColumn(int nColumn) { m_nSortColumn = nColumn; }
    BOOL IsAscending() const { return m_bAscending; }
    void SetAscending(BOOL bAscending) { m_bAscending = bAscending; }

    // Makes the sort column's item owner-drawn (the flag stays when the sort moves on) and repaints the header.
    void SetSortImage();
    void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;

private:
    int m_nSortColumn = -1;
    BOOL m_bAscending = TRUE;
};

// One row's texts (index = column) and the caller's own item data.
class CSortListRow {
public:
    CStringArray texts;
    DWORD userData = 0;
};

class CSortListCtrl : public CListCtrl {
    DECLARE_DYNAMIC(CSortListCtrl)
public:
    // A veto on deleting a row: FALSE keeps the row (and ends a run of deletions).
    using DeleteCallback = BOOL (*)(DWORD dwUserData, LPARAM lParam);

    CSortListCtrl() = default;
    ~CSortListCtrl() override;

    BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) override;

    // ---- Columns ----
    // "caption,width" or "caption,align,width" separated by ';' (align 1 centre, 2 right, else left); parsing ends
    // at a column without ','. FALSE when a column cannot be inserted.
    BOOL SetColumns(LPCTSTR lpszColumns);
    BOOL SetColumns(UINT nStringId);
    int InsertColumn(int nCol, const LVCOLUMNW* pColumn);
    int InsertColumn(int nCol, LPCTSTR lpszColumnHeading, int nFormat = LVCFMT_LEFT, int nWidth = -1,
                     int nSubItem = -1);
    BOOL DeleteColumn(int nCol);
    BOOL DeleteAllColumns();
    int GetColumnCount() const;
    void SetFullRowSelect(BOOL bSet);
    void SetGridLines(BOOL bSet);
    void SetCheckBoxes(BOOL bSet);

    // ---- Rows ----
    BOOL IsValidIndex(int nIndex) const { return nIndex >= 0 && nIndex < GetItemCount(); }
    // Inserts a row with one text per column (missing texts and null pointers are empty, texts beyond the columns
    // are not used); the new row's index, or -1.
    template <class... Texts> int AddItem(int nIndex, LPCTSTR lpszText, Texts... texts) {
        return AddItemTexts(nIndex, {lpszText, static_cast<LPCTSTR>(texts)...});
    }
    int AddItemTexts(int nIndex, std::initializer_list<LPCTSTR> texts);
    int InsertItem(const LVITEMW* pItem);
    int InsertItem(int nItem, LPCTSTR lpszItem, int nImage = -1);
    int InsertItem(UINT nMask, int nItem, LPCTSTR lpszItem, UINT nState, UINT nStateMask, int nImage, LPARAM lParam);

    BOOL SetItemText(int nItem, int nSubItem, LPCTSTR lpszText);
    BOOL SetItemText(int nItem, int nSubItem, TCHAR ch);
    BOOL SetItemText(int nItem, int nSubItem, signed char value) { return SetItemInt(nItem, nSubItem, value); }
    BOOL SetItemText(int nItem, int nSubItem, unsigned char value) { return SetItemInt(nItem, nSubItem, value); }
    BOOL SetItemText(int nItem, int nSubItem, short value) { return SetItemInt(nItem, nSubItem, value); }
    BOOL SetItemText(int nItem, int nSubItem, unsigned short value) { return SetItemInt(nItem, nSubItem, value); }
    BOOL SetItemText(int nItem, int nSubItem, int value) { return SetItemInt(nItem, nSubItem, value); }
    BOOL SetItemText(int nItem, int nSubItem, unsigned int value) {
        return SetItemInt(nItem, nSubItem, static_cast<int>(value));
    }
    BOOL SetItemText(int nItem, int nSubItem, long value) {
        return SetItemInt(nItem, nSubItem, static_cast<int>(value));
    }
    BOOL SetItemText(int nItem, int nSubItem, unsigned long value) {
        return SetItemInt(nItem, nSubItem, static_cast<int>(value));
    }
    // A negative precision counts as 0.
    BOOL SetItemText(int nItem, int nSubItem, float value, int nPrecision);
    BOOL SetItemText(int nItem, int nSubItem, double value, int nPrecision);
    BOOL SetItemData(int nItem, DWORD dwData);
    DWORD GetItemData(int nItem) const;

    BOOL DeleteItem(int nItem, BOOL bSelectNext = FALSE, DeleteCallback pfnCallback = nullptr, LPARAM lParam = 0);
    int DeleteAllItems(DeleteCallback pfnCallback = nullptr, LPARAM lParam = 0);
    int DeleteAllSelected(DeleteCallback pfnCallback = nullptr, LPARAM lParam = 0);
    int DeleteAllUnselected(DeleteCallback pfnCallback = nullptr, LPARAM lParam = 0);
    int DeleteAllChecked(DeleteCallback pfnCallback = nullptr, LPARAM lParam = 0);
    int DeleteAllUnchecked(DeleteCallback pfnCallback = nullptr, LPARAM lParam = 0);

    BOOL IsItemSelected(int nItem) const;
    int GetNextSelectedItem(int nAfter) const;
    int GetNextUnselectedItem(int nAfter) const;
    int GetNextCheckedItem(int nAfter) const;
    int GetNextUncheckedItem(int nAfter) const;
    int GetCheckedCount() const;
    int GetUncheckedCount() const;
    int GetUnselectedCount() const;
    BOOL SelectItem(int nItem, BOOL bClamp = FALSE);
    BOOL UnSelectItem(int nItem);
    BOOL SelectAll();
    BOOL UnSelectAll();
    BOOL InvertSelect();
    BOOL GetCheck(int nItem) const { return CListCtrl::GetCheck(nItem); }
    BOOL CheckItem(int nItem);
    BOOL UnCheckItem(int nItem);
    int CheckAll();
    int UnCheckAll();
    int InvertCheck();

    BOOL SwapItems(int nItem1, int nItem2);
    BOOL MoveUp(int nItem, int nCount = 1);
    BOOL MoveDown(int nItem, int nCount = 1);
    BOOL MoveToTop(int nItem) { return MoveUp(nItem, nItem); }
    BOOL MoveToBottom(int nItem) { return MoveDown(nItem, GetItemCount() - nItem - 1); }

    // Sorts by a column of the header (others are ignored) and shows the arrow there.
    void SortItems(int nColumn, BOOL bAscending);
    void Resort();

    CSortHeaderCtrl& GetSortHeader() { return m_header; }

    // The comparison of two texts as the sort makes it (ascending): -1, 0 or 1.
    static int CompareTexts(const CString& a, const CString& b);

protected:
    void PreSubclassWindow() override;
    void OnColumnClick(NMHDR* pNMHDR, LRESULT* pResult);
    void OnDestroy();
    DECLARE_MESSAGE_MAP()

private:
    BOOL SetItemInt(int nItem, int nSubItem, int value);
    void AttachHeader();
    CSortListRow* RowOf(int nItem) const;
    CSortListRow* NewRow(int nItem, LPARAM userData);
    void FreeRow(CSortListRow* pRow);
    void RefillRows();
    int DeleteAllWhere(int (CSortListCtrl::*next)(int) const, DeleteCallback pfnCallback, LPARAM lParam);
    static int CALLBACK CompareRows(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort);

    CSortHeaderCtrl m_header;
    std::unordered_map<const CSortListRow*, std::unique_ptr<CSortListRow>> m_rows;
};
