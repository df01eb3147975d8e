#include "platform/afx/ListCtrl.h"

#include "platform/afx/ControlMessage.h"

#include <memory>
#include <unordered_map>

IMPLEMENT_DYNAMIC(CListCtrl, CWnd)

namespace {

using afx_control::P;
using afx_control::Send;

WPARAM W(int i) {
    return static_cast<WPARAM>(i);
}

} // namespace

CListCtrl::~CListCtrl() {
    DestroyWindow();
}

BOOL CListCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    InitCommonControls();
    return CWnd::Create(WC_LISTVIEWW, nullptr, dwStyle, rect, pParentWnd, nID);
}

BOOL CListCtrl::CreateEx(DWORD dwExStyle, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    InitCommonControls();
    return CWnd::CreateEx(dwExStyle, WC_LISTVIEWW, nullptr, dwStyle, rect, pParentWnd, nID);
}

int CListCtrl::InsertColumn(int nCol, const LVCOLUMNW* pColumn) {
    return Send<int>(m_hWnd, LVM_INSERTCOLUMNW, W(nCol), P(pColumn));
}

int CListCtrl::InsertColumn(int nCol, LPCTSTR lpszColumnHeading, int nFormat, int nWidth, int nSubItem) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_FMT;
    column.pszText = const_cast<LPWSTR>(lpszColumnHeading);
    column.fmt = nFormat;
    if (nWidth != -1) {
        column.mask |= LVCF_WIDTH;
        column.cx = nWidth;
    }
    if (nSubItem != -1) {
        column.mask |= LVCF_SUBITEM;
        column.iSubItem = nSubItem;
    }
    return InsertColumn(nCol, &column);
}

BOOL CListCtrl::DeleteColumn(int nCol) {
    return Send<BOOL>(m_hWnd, LVM_DELETECOLUMN, W(nCol));
}
BOOL CListCtrl::GetColumn(int nCol, LVCOLUMNW* pColumn) const {
    return Send<BOOL>(m_hWnd, LVM_GETCOLUMNW, W(nCol), P(pColumn));
}
BOOL CListCtrl::SetColumn(int nCol, const LVCOLUMNW* pColumn) {
    return Send<BOOL>(m_hWnd, LVM_SETCOLUMNW, W(nCol), P(pColumn));
}
int CListCtrl::GetColumnWidth(int nCol) const {
    return Send<int>(m_hWnd, LVM_GETCOLUMNWIDTH, W(nCol));
}
BOOL CListCtrl::SetColumnWidth(int nCol, int cx) {
    return Send<BOOL>(m_hWnd, LVM_SETCOLUMNWIDTH, W(nCol), MAKELPARAM(cx, 0));
}
CHeaderCtrl* CListCtrl::GetHeaderCtrl() const {
    HWND header = Send<HWND>(m_hWnd, LVM_GETHEADER);
    if (!header)
        return nullptr;
    // The header's own object when a class has subclassed it; otherwise a wrapper of this thread that is never
    // attached, so it neither destroys the header nor takes its messages.
    CWnd* permanent = CWnd::FromHandlePermanent(header);
    if (permanent && permanent->IsKindOf(RUNTIME_CLASS(CHeaderCtrl)))
        return static_cast<CHeaderCtrl*>(permanent);
    struct Release {
        void operator()(CHeaderCtrl* wrapper) const {
            wrapper->m_hWnd = nullptr;
            delete wrapper;
        }
    };
    thread_local std::unordered_map<HWND, std::unique_ptr<CHeaderCtrl, Release>> wrappers;
    auto& slot = wrappers[header];
    if (!slot) {
        slot.reset(new CHeaderCtrl);
        slot->m_hWnd = header;
    }
    return slot.get();
}

int CListCtrl::InsertItem(const LVITEMW* pItem) {
    return Send<int>(m_hWnd, LVM_INSERTITEMW, 0, P(pItem));
}
int CListCtrl::InsertItem(int nItem, LPCTSTR lpszItem) {
    return InsertItem(LVIF_TEXT, nItem, lpszItem, 0, 0, 0, 0);
}
int CListCtrl::InsertItem(int nItem, LPCTSTR lpszItem, int nImage) {
    return InsertItem(LVIF_TEXT | LVIF_IMAGE, nItem, lpszItem, 0, 0, nImage, 0);
}
int CListCtrl::InsertItem(UINT nMask, int nItem, LPCTSTR lpszItem, UINT nState, UINT nStateMask, int nImage,
                          LPARAM lParam) {
    LVITEMW item{};
    item.mask = nMask;
    item.iItem = nItem;
    item.pszText = const_cast<LPWSTR>(lpszItem);
    item.state = nState;
    item.stateMask = nStateMask;
    item.iImage = nImage;
    item.lParam = lParam;
    return InsertItem(&item);
}
BOOL CListCtrl::DeleteItem(int nItem) {
    return Send<BOOL>(m_hWnd, LVM_DELETEITEM, W(nItem));
}
BOOL CListCtrl::DeleteAllItems() {
    return Send<BOOL>(m_hWnd, LVM_DELETEALLITEMS);
}
BOOL CListCtrl::GetItem(LVITEMW* pItem) const {
    return Send<BOOL>(m_hWnd, LVM_GETITEMW, 0, P(pItem));
}
BOOL CListCtrl::SetItem(const LVITEMW* pItem) {
    return Send<BOOL>(m_hWnd, LVM_SETITEMW, 0, P(pItem));
}
BOOL CListCtrl::SetItem(int nItem, int nSubItem, UINT nMask, LPCTSTR lpszItem, int nImage, UINT nState, UINT nStateMask,
                        LPARAM lParam) {
    LVITEMW item{};
    item.mask = nMask;
    item.iItem = nItem;
    item.iSubItem = nSubItem;
    item.pszText = const_cast<LPWSTR>(lpszItem);
    item.iImage = nImage;
    item.state = nState;
    item.stateMask = nStateMask;
    item.lParam = lParam;
    return SetItem(&item);
}

CString CListCtrl::GetItemText(int nItem, int nSubItem) const {
    for (int size = 256;; size *= 2) {
        CString text;
        LPWSTR buffer = text.GetBuffer(size);
        buffer[0] = 0;
        const int length = GetItemText(nItem, nSubItem, buffer, size);
        text.ReleaseBuffer(length);
        if (length < size - 1 || size >= 1 << 16)
            return text;
    }
}

int CListCtrl::GetItemText(int nItem, int nSubItem, LPTSTR lpszText, int nLen) const {
    LVITEMW item{};
    item.iSubItem = nSubItem;
    item.pszText = lpszText;
    item.cchTextMax = nLen;
    return Send<int>(m_hWnd, LVM_GETITEMTEXTW, W(nItem), P(&item));
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, LPCTSTR lpszText) {
    LVITEMW item{};
    item.iSubItem = nSubItem;
    item.pszText = const_cast<LPWSTR>(lpszText);
    return Send<BOOL>(m_hWnd, LVM_SETITEMTEXTW, W(nItem), P(&item));
}

DWORD_PTR CListCtrl::GetItemData(int nItem) const {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = nItem;
    return GetItem(&item) ? static_cast<DWORD_PTR>(item.lParam) : 0;
}
BOOL CListCtrl::SetItemData(int nItem, DWORD_PTR dwData) {
    return SetItem(nItem, 0, LVIF_PARAM, nullptr, 0, 0, 0, static_cast<LPARAM>(dwData));
}
UINT CListCtrl::GetItemState(int nItem, UINT nMask) const {
    return Send<UINT>(m_hWnd, LVM_GETITEMSTATE, W(nItem), nMask);
}
BOOL CListCtrl::SetItemState(int nItem, UINT nState, UINT nMask) {
    LVITEMW item{};
    item.state = nState;
    item.stateMask = nMask;
    return SetItemState(nItem, &item);
}
BOOL CListCtrl::SetItemState(int nItem, LVITEMW* pItem) {
    return Send<BOOL>(m_hWnd, LVM_SETITEMSTATE, W(nItem), P(pItem));
}
BOOL CListCtrl::GetCheck(int nItem) const {
    return ((GetItemState(nItem, LVIS_STATEIMAGEMASK) >> 12) - 1) == 1;
}
BOOL CListCtrl::SetCheck(int nItem, BOOL fCheck) {
    return SetItemState(nItem, INDEXTOSTATEIMAGEMASK(fCheck ? 2 : 1), LVIS_STATEIMAGEMASK);
}
int CListCtrl::GetItemCount() const {
    return Send<int>(m_hWnd, LVM_GETITEMCOUNT);
}
BOOL CListCtrl::SetItemCount(int nItems) {
    return Send<BOOL>(m_hWnd, LVM_SETITEMCOUNT, W(nItems));
}
UINT CListCtrl::GetSelectedCount() const {
    return Send<UINT>(m_hWnd, LVM_GETSELECTEDCOUNT);
}
int CListCtrl::GetNextItem(int nItem, int nFlags) const {
    return Send<int>(m_hWnd, LVM_GETNEXTITEM, W(nItem), MAKELPARAM(nFlags, 0));
}

// A position is the selected row's index plus one, so that null means "no more".
POSITION CListCtrl::GetFirstSelectedItemPosition() const {
    const int first = GetNextItem(-1, LVNI_SELECTED);
    return reinterpret_cast<POSITION>(static_cast<intptr_t>(first + 1));
}
int CListCtrl::GetNextSelectedItem(POSITION& pos) const {
    const int index = static_cast<int>(reinterpret_cast<intptr_t>(pos)) - 1;
    const int next = GetNextItem(index, LVNI_SELECTED);
    pos = reinterpret_cast<POSITION>(static_cast<intptr_t>(next + 1));
    return index;
}
int CListCtrl::GetSelectionMark() const {
    return Send<int>(m_hWnd, LVM_GETSELECTIONMARK);
}
int CListCtrl::SetSelectionMark(int iIndex) {
    return Send<int>(m_hWnd, LVM_SETSELECTIONMARK, 0, iIndex);
}
int CListCtrl::FindItem(LVFINDINFOW* pFindInfo, int nStart) const {
    return Send<int>(m_hWnd, LVM_FINDITEMW, W(nStart), P(pFindInfo));
}
BOOL CListCtrl::SortItems(PFNLVCOMPARE pfnCompare, DWORD_PTR dwData) {
    return Send<BOOL>(m_hWnd, LVM_SORTITEMS, dwData, reinterpret_cast<LPARAM>(pfnCompare));
}
BOOL CListCtrl::SortItemsEx(PFNLVCOMPARE pfnCompare, DWORD_PTR dwData) {
    return Send<BOOL>(m_hWnd, LVM_SORTITEMSEX, dwData, reinterpret_cast<LPARAM>(pfnCompare));
}

DWORD CListCtrl::GetExtendedStyle() const {
    return Send<DWORD>(m_hWnd, LVM_GETEXTENDEDLISTVIEWSTYLE);
}
DWORD CListCtrl::SetExtendedStyle(DWORD dwNewStyle) {
    return Send<DWORD>(m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(dwNewStyle));
}
BOOL CListCtrl::EnsureVisible(int nItem, BOOL bPartialOK) {
    return Send<BOOL>(m_hWnd, LVM_ENSUREVISIBLE, W(nItem), bPartialOK);
}
int CListCtrl::GetTopIndex() const {
    return Send<int>(m_hWnd, LVM_GETTOPINDEX);
}
int CListCtrl::GetCountPerPage() const {
    return Send<int>(m_hWnd, LVM_GETCOUNTPERPAGE);
}
BOOL CListCtrl::GetItemRect(int nItem, LPRECT lpRect, UINT nCode) const {
    lpRect->left = static_cast<LONG>(nCode);
    return Send<BOOL>(m_hWnd, LVM_GETITEMRECT, W(nItem), P(lpRect));
}
BOOL CListCtrl::GetSubItemRect(int iItem, int iSubItem, int nArea, RECT& ref) const {
    ref.top = iSubItem;
    ref.left = nArea;
    return Send<BOOL>(m_hWnd, LVM_GETSUBITEMRECT, W(iItem), P(&ref));
}
int CListCtrl::HitTest(POINT pt, UINT* pFlags) const {
    LVHITTESTINFO info{};
    info.pt = pt;
    const int index = HitTest(&info);
    if (pFlags)
        *pFlags = info.flags;
    return index;
}
int CListCtrl::HitTest(LVHITTESTINFO* pHitTestInfo) const {
    return Send<int>(m_hWnd, LVM_HITTEST, 0, P(pHitTestInfo));
}
int CListCtrl::SubItemHitTest(LVHITTESTINFO* pInfo) {
    return Send<int>(m_hWnd, LVM_SUBITEMHITTEST, 0, P(pInfo));
}
COLORREF CListCtrl::GetBkColor() const {
    return Send<COLORREF>(m_hWnd, LVM_GETBKCOLOR);
}
BOOL CListCtrl::SetBkColor(COLORREF cr) {
    return Send<BOOL>(m_hWnd, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(cr));
}
COLORREF CListCtrl::GetTextColor() const {
    return Send<COLORREF>(m_hWnd, LVM_GETTEXTCOLOR);
}
BOOL CListCtrl::SetTextColor(COLORREF cr) {
    return Send<BOOL>(m_hWnd, LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(cr));
}
COLORREF CListCtrl::GetTextBkColor() const {
    return Send<COLORREF>(m_hWnd, LVM_GETTEXTBKCOLOR);
}
BOOL CListCtrl::SetTextBkColor(COLORREF cr) {
    return Send<BOOL>(m_hWnd, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(cr));
}
BOOL CListCtrl::RedrawItems(int nFirst, int nLast) {
    return Send<BOOL>(m_hWnd, LVM_REDRAWITEMS, W(nFirst), nLast);
}
BOOL CListCtrl::Update(int nItem) {
    return Send<BOOL>(m_hWnd, LVM_UPDATE, W(nItem));
}
CImageList* CListCtrl::GetImageList(int nImageList) const {
    return CImageList::FromHandle(Send<HIMAGELIST>(m_hWnd, LVM_GETIMAGELIST, W(nImageList)));
}
CImageList* CListCtrl::SetImageList(CImageList* pImageList, int nImageListType) {
    return CImageList::FromHandle(Send<HIMAGELIST>(m_hWnd, LVM_SETIMAGELIST, W(nImageListType),
                                                   P(pImageList ? pImageList->GetSafeHandle() : nullptr)));
}
