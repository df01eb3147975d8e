#include "platform/afx/TreeCtrl.h"

#include "platform/afx/ControlMessage.h"

IMPLEMENT_DYNAMIC(CTreeCtrl, CWnd)

namespace {

using afx_control::P;
using afx_control::Send;

} // namespace

CTreeCtrl::~CTreeCtrl() {
    DestroyWindow();
}

BOOL CTreeCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    InitCommonControls();
    return CWnd::Create(WC_TREEVIEWW, nullptr, dwStyle, rect, pParentWnd, nID);
}

BOOL CTreeCtrl::CreateEx(DWORD dwExStyle, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    InitCommonControls();
    return CWnd::CreateEx(dwExStyle, WC_TREEVIEWW, nullptr, dwStyle, rect, pParentWnd, nID);
}

HTREEITEM CTreeCtrl::InsertItem(LPTVINSERTSTRUCTW lpInsertStruct) {
    return Send<HTREEITEM>(m_hWnd, TVM_INSERTITEMW, 0, P(lpInsertStruct));
}

HTREEITEM CTreeCtrl::InsertItem(UINT nMask, LPCTSTR lpszItem, int nImage, int nSelectedImage, UINT nState,
                                UINT nStateMask, LPARAM lParam, HTREEITEM hParent, HTREEITEM hInsertAfter) {
    TVINSERTSTRUCTW ins{};
    ins.hParent = hParent;
    ins.hInsertAfter = hInsertAfter;
    ins.item.mask = nMask;
    ins.item.pszText = const_cast<LPWSTR>(lpszItem);
    ins.item.iImage = nImage;
    ins.item.iSelectedImage = nSelectedImage;
    ins.item.state = nState;
    ins.item.stateMask = nStateMask;
    ins.item.lParam = lParam;
    return InsertItem(&ins);
}

HTREEITEM CTreeCtrl::InsertItem(LPCTSTR lpszItem, HTREEITEM hParent, HTREEITEM hInsertAfter) {
    return InsertItem(TVIF_TEXT, lpszItem, 0, 0, 0, 0, 0, hParent, hInsertAfter);
}

HTREEITEM CTreeCtrl::InsertItem(LPCTSTR lpszItem, int nImage, int nSelectedImage, HTREEITEM hParent,
                                HTREEITEM hInsertAfter) {
    return InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE, lpszItem, nImage, nSelectedImage, 0, 0, 0, hParent,
                      hInsertAfter);
}

BOOL CTreeCtrl::DeleteItem(HTREEITEM hItem) {
    return Send<BOOL>(m_hWnd, TVM_DELETEITEM, 0, P(hItem));
}

BOOL CTreeCtrl::DeleteAllItems() {
    return DeleteItem(TVI_ROOT);
}

BOOL CTreeCtrl::GetItem(TVITEMW* pItem) const {
    return Send<BOOL>(m_hWnd, TVM_GETITEMW, 0, P(pItem));
}

BOOL CTreeCtrl::SetItem(TVITEMW* pItem) {
    return Send<BOOL>(m_hWnd, TVM_SETITEMW, 0, P(pItem));
}

BOOL CTreeCtrl::SetItem(HTREEITEM hItem, UINT nMask, LPCTSTR lpszItem, int nImage, int nSelectedImage, UINT nState,
                        UINT nStateMask, LPARAM lParam) {
    TVITEMW item{};
    item.hItem = hItem;
    item.mask = nMask;
    item.pszText = const_cast<LPWSTR>(lpszItem);
    item.iImage = nImage;
    item.iSelectedImage = nSelectedImage;
    item.state = nState;
    item.stateMask = nStateMask;
    item.lParam = lParam;
    return SetItem(&item);
}

CString CTreeCtrl::GetItemText(HTREEITEM hItem) const {
    // The text is read into a growing buffer until it fits.
    for (int size = 256;; size *= 2) {
        CString text;
        LPWSTR buffer = text.GetBuffer(size);
        TVITEMW item{};
        item.mask = TVIF_TEXT;
        item.hItem = hItem;
        item.pszText = buffer;
        item.cchTextMax = size;
        buffer[0] = 0;
        const BOOL ok = GetItem(&item);
        text.ReleaseBuffer();
        if (!ok || text.GetLength() < size - 1 || size >= 1 << 16)
            return ok ? text : CString();
    }
}

BOOL CTreeCtrl::SetItemText(HTREEITEM hItem, LPCTSTR lpszItem) {
    return SetItem(hItem, TVIF_TEXT, lpszItem, 0, 0, 0, 0, 0);
}

DWORD_PTR CTreeCtrl::GetItemData(HTREEITEM hItem) const {
    TVITEMW item{};
    item.mask = TVIF_PARAM;
    item.hItem = hItem;
    return GetItem(&item) ? static_cast<DWORD_PTR>(item.lParam) : 0;
}

BOOL CTreeCtrl::SetItemData(HTREEITEM hItem, DWORD_PTR dwData) {
    return SetItem(hItem, TVIF_PARAM, nullptr, 0, 0, 0, 0, static_cast<LPARAM>(dwData));
}

UINT CTreeCtrl::GetItemState(HTREEITEM hItem, UINT nStateMask) const {
    return Send<UINT>(m_hWnd, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(hItem), nStateMask);
}

BOOL CTreeCtrl::SetItemState(HTREEITEM hItem, UINT nState, UINT nStateMask) {
    return SetItem(hItem, TVIF_STATE, nullptr, 0, 0, nState, nStateMask, 0);
}

BOOL CTreeCtrl::GetItemImage(HTREEITEM hItem, int& nImage, int& nSelectedImage) const {
    TVITEMW item{};
    item.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    item.hItem = hItem;
    const BOOL ok = GetItem(&item);
    nImage = item.iImage;
    nSelectedImage = item.iSelectedImage;
    return ok;
}

BOOL CTreeCtrl::SetItemImage(HTREEITEM hItem, int nImage, int nSelectedImage) {
    return SetItem(hItem, TVIF_IMAGE | TVIF_SELECTEDIMAGE, nullptr, nImage, nSelectedImage, 0, 0, 0);
}

BOOL CTreeCtrl::ItemHasChildren(HTREEITEM hItem) const {
    TVITEMW item{};
    item.mask = TVIF_CHILDREN;
    item.hItem = hItem;
    return GetItem(&item) ? item.cChildren : FALSE;
}

BOOL CTreeCtrl::GetCheck(HTREEITEM hItem) const {
    return ((GetItemState(hItem, TVIS_STATEIMAGEMASK) >> 12) - 1) == 1;
}

BOOL CTreeCtrl::SetCheck(HTREEITEM hItem, BOOL fCheck) {
    return SetItemState(hItem, INDEXTOSTATEIMAGEMASK(fCheck ? 2 : 1), TVIS_STATEIMAGEMASK);
}

UINT CTreeCtrl::GetCount() const {
    return Send<UINT>(m_hWnd, TVM_GETCOUNT);
}

UINT CTreeCtrl::GetVisibleCount() const {
    return Send<UINT>(m_hWnd, TVM_GETVISIBLECOUNT);
}

HTREEITEM CTreeCtrl::GetNextItem(HTREEITEM hItem, UINT nCode) const {
    return Send<HTREEITEM>(m_hWnd, TVM_GETNEXTITEM, nCode, P(hItem));
}
HTREEITEM CTreeCtrl::GetChildItem(HTREEITEM hItem) const {
    return GetNextItem(hItem, TVGN_CHILD);
}
HTREEITEM CTreeCtrl::GetNextSiblingItem(HTREEITEM hItem) const {
    return GetNextItem(hItem, TVGN_NEXT);
}
HTREEITEM CTreeCtrl::GetPrevSiblingItem(HTREEITEM hItem) const {
    return GetNextItem(hItem, TVGN_PREVIOUS);
}
HTREEITEM CTreeCtrl::GetParentItem(HTREEITEM hItem) const {
    return GetNextItem(hItem, TVGN_PARENT);
}
HTREEITEM CTreeCtrl::GetFirstVisibleItem() const {
    return GetNextItem(nullptr, TVGN_FIRSTVISIBLE);
}
HTREEITEM CTreeCtrl::GetNextVisibleItem(HTREEITEM hItem) const {
    return GetNextItem(hItem, TVGN_NEXTVISIBLE);
}
HTREEITEM CTreeCtrl::GetPrevVisibleItem(HTREEITEM hItem) const {
    return GetNextItem(hItem, TVGN_PREVIOUSVISIBLE);
}
HTREEITEM CTreeCtrl::GetSelectedItem() const {
    return GetNextItem(nullptr, TVGN_CARET);
}
HTREEITEM CTreeCtrl::GetDropHilightItem() const {
    return GetNextItem(nullptr, TVGN_DROPHILITE);
}
HTREEITEM CTreeCtrl::GetRootItem() const {
    return GetNextItem(nullptr, TVGN_ROOT);
}

BOOL CTreeCtrl::Expand(HTREEITEM hItem, UINT nCode) {
    return Send<BOOL>(m_hWnd, TVM_EXPAND, nCode, P(hItem));
}
BOOL CTreeCtrl::Select(HTREEITEM hItem, UINT nCode) {
    return Send<BOOL>(m_hWnd, TVM_SELECTITEM, nCode, P(hItem));
}
BOOL CTreeCtrl::SelectItem(HTREEITEM hItem) {
    return Select(hItem, TVGN_CARET);
}
BOOL CTreeCtrl::SelectDropTarget(HTREEITEM hItem) {
    return Select(hItem, TVGN_DROPHILITE);
}
BOOL CTreeCtrl::SelectSetFirstVisible(HTREEITEM hItem) {
    return Select(hItem, TVGN_FIRSTVISIBLE);
}
BOOL CTreeCtrl::EnsureVisible(HTREEITEM hItem) {
    return Send<BOOL>(m_hWnd, TVM_ENSUREVISIBLE, 0, P(hItem));
}

BOOL CTreeCtrl::GetItemRect(HTREEITEM hItem, LPRECT lpRect, BOOL bTextOnly) const {
    return TreeView_GetItemRect(m_hWnd, hItem, lpRect, bTextOnly);
}

HTREEITEM CTreeCtrl::HitTest(POINT pt, UINT* pFlags) const {
    TVHITTESTINFO info{};
    info.pt = pt;
    HTREEITEM item = HitTest(&info);
    if (pFlags)
        *pFlags = info.flags;
    return item;
}

HTREEITEM CTreeCtrl::HitTest(TVHITTESTINFO* pHitTestInfo) const {
    return Send<HTREEITEM>(m_hWnd, TVM_HITTEST, 0, P(pHitTestInfo));
}

BOOL CTreeCtrl::SortChildren(HTREEITEM hItem) {
    return Send<BOOL>(m_hWnd, TVM_SORTCHILDREN, 0, P(hItem));
}
BOOL CTreeCtrl::SortChildrenCB(LPTVSORTCB pSort) {
    return Send<BOOL>(m_hWnd, TVM_SORTCHILDRENCB, 0, P(pSort));
}
UINT CTreeCtrl::GetIndent() const {
    return Send<UINT>(m_hWnd, TVM_GETINDENT);
}
void CTreeCtrl::SetIndent(UINT nIndent) {
    ::SendMessageW(m_hWnd, TVM_SETINDENT, nIndent, 0);
}
SHORT CTreeCtrl::GetItemHeight() const {
    return Send<SHORT>(m_hWnd, TVM_GETITEMHEIGHT);
}
SHORT CTreeCtrl::SetItemHeight(SHORT cyHeight) {
    return Send<SHORT>(m_hWnd, TVM_SETITEMHEIGHT, static_cast<WPARAM>(static_cast<WORD>(cyHeight)));
}
COLORREF CTreeCtrl::GetBkColor() const {
    return Send<COLORREF>(m_hWnd, TVM_GETBKCOLOR);
}
COLORREF CTreeCtrl::SetBkColor(COLORREF clr) {
    return Send<COLORREF>(m_hWnd, TVM_SETBKCOLOR, 0, static_cast<LPARAM>(clr));
}
COLORREF CTreeCtrl::GetTextColor() const {
    return Send<COLORREF>(m_hWnd, TVM_GETTEXTCOLOR);
}
COLORREF CTreeCtrl::SetTextColor(COLORREF clr) {
    return Send<COLORREF>(m_hWnd, TVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(clr));
}

CImageList* CTreeCtrl::GetImageList(UINT nImageList) const {
    return CImageList::FromHandle(Send<HIMAGELIST>(m_hWnd, TVM_GETIMAGELIST, nImageList));
}

CImageList* CTreeCtrl::SetImageList(CImageList* pImageList, int nImageListType) {
    return CImageList::FromHandle(Send<HIMAGELIST>(m_hWnd, TVM_SETIMAGELIST, static_cast<WPARAM>(nImageListType),
                                                   P(pImageList ? pImageList->GetSafeHandle() : nullptr)));
}
