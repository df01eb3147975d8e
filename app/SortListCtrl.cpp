#include "app/SortListCtrl.h"

#include "platform/afx/DC.h"
#include "platform/afx/OleDateTime.h"
#include "platform/gdi/wingdi.h"

#include "platform/base/strings.h"

#include <cstdlib>
#include <string>
#include <string_view>

IMPLEMENT_DYNAMIC(CSortHeaderCtrl, CHeaderCtrl)
IMPLEMENT_DYNAMIC(CSortListCtrl, CListCtrl)

// ---- Header ----------------------------------------------------------------------------------------------------

void CSortHeaderCtrl::SetSortImage() {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    if (!GetItem(m_nSortColumn, &item))
        return;
    item.fmt |= HDF_OWNERDRAW;
    SetItem(m_nSortColumn, &item);
    Invalidate();
}

void CSortHeaderCtrl::DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) {
    if (!lpDrawItemStruct || !lpDrawItemStruct->hDC)
        return;
    CDC dc;
    dc.Attach(lpDrawItemStruct->hDC);
    const int saved = dc.SaveDC();
    const RECT item = lpDrawItemStruct->rcItem;
    dc.IntersectClipRect(&item);
    dc.FillSolidRect(&item, ::GetSysColor(COLOR_BTNFACE));

    TCHAR text[256] = {};
    HDITEMW hd{};
    hd.mask = HDI_TEXT | HDI_FORMAT;
    hd.pszText = text;
    hd.cchTextMax = 255;
    GetItem(static_cast<int>(lpDrawItemStruct->itemID), &hd);
    UINT format = DT_END_ELLIPSIS | DT_NOPREFIX | DT_NOCLIP | DT_SINGLELINE | DT_VCENTER;
    if (hd.fmt & HDF_CENTER)
        format |= DT_CENTER;
    else if (hd.fmt & HDF_RIGHT)
        format |= DT_RIGHT;

    RECT rc = item;
    if (lpDrawItemStruct->itemState == ODS_SELECTED) {
        rc.left += 1;
        rc.top += 2;
        rc.right += 1;
    }
    const int c = (item.bottom - item.top) / 4;
    const bool sortColumn = static_cast<int>(lpDrawItemStruct->itemID) == m_nSortColumn;
    if (sortColumn)
        rc.right -= 3 * c;
    rc.left += c;
    rc.right -= c;
    if (rc.left < rc.right)
        dc.DrawText(text, -1, &rc, format);

    if (sortColumn) {
        const int R = item.right;
        const int B = item.bottom;
        HPEN highlight = ::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNHIGHLIGHT));
        HPEN shadow = ::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNSHADOW));
        HGDIOBJ old = ::SelectObject(dc.m_hDC, highlight);
        if (m_bAscending) {
            dc.MoveTo(R - 2 * c, c);
            dc.LineTo(R - c, B - c - 1);
            dc.LineTo(R - 3 * c - 2, B - c - 1);
            ::SelectObject(dc.m_hDC, shadow);
            dc.MoveTo(R - 3 * c - 1, B - c - 1);
            dc.LineTo(R - 2 * c, c - 1);
        } else {
            dc.MoveTo(R - c - 1, c);
            dc.LineTo(R - 2 * c - 1, B - c);
            ::SelectObject(dc.m_hDC, shadow);
            dc.MoveTo(R - 2 * c - 2, B - c);
            dc.LineTo(R - 3 * c - 1, c);
            dc.LineTo(R - c - 1, c);
        }
        ::SelectObject(dc.m_hDC, old);
        ::DeleteObject(highlight);
        ::DeleteObject(shadow);
    }
    dc.RestoreDC(saved);
    dc.Detach();
}

// ---- List: set-up ----------------------------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CSortListCtrl, CListCtrl)
ON_NOTIFY_REFLECT(LVN_COLUMNCLICK, OnColumnClick)
ON_WM_DESTROY()
END_MESSAGE_MAP()

CSortListCtrl::~CSortListCtrl() {
    // The window goes with the base class; the rows' records go with the map.
    if (m_hWnd)
        DestroyWindow();
}

BOOL CSortListCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    if (!CListCtrl::Create(dwStyle, rect, pParentWnd, nID))
        return FALSE;
    AttachHeader();
    return TRUE;
}

void CSortListCtrl::PreSubclassWindow() {
    CListCtrl::PreSubclassWindow();
    AttachHeader();
}

void CSortListCtrl::AttachHeader() {
    if (!m_header.m_hWnd) {
        if (CHeaderCtrl* pHeader = GetHeaderCtrl())
            m_header.SubclassWindow(pHeader->m_hWnd);
    }
    SetFullRowSelect(TRUE);
}

BOOL CSortListCtrl::SetColumns(LPCTSTR lpszColumns) {
    const CString columnText(lpszColumns ? lpszColumns : u"");
    int start = 0;
    while (start <= columnText.GetLength()) {
        int end = columnText.Find(u';', start);
        if (end < 0)
            end = columnText.GetLength();
        const CString column = columnText.Mid(start, end - start);
        const int comma = column.Find(u',');
        if (comma < 0)
            return TRUE;
        const CString caption = column.Left(comma);
        CString rest = column.Mid(comma + 1);
        int format = LVCFMT_LEFT;
        const int second = rest.Find(u',');
        if (second >= 0) {
            const int align = _wtoi(rest.Left(second));
            format = align == 1 ? LVCFMT_CENTER : (align == 2 ? LVCFMT_RIGHT : LVCFMT_LEFT);
            rest = rest.Mid(second + 1);
        }
        int width = _wtoi(rest);
        if (width < 1)
            width = 1;
        if (InsertColumn(GetColumnCount(), caption, format, width, -1) < 0)
            return FALSE;
        start = end + 1;
    }
    return TRUE;
}

BOOL CSortListCtrl::SetColumns(UINT nStringId) {
    CString columnText;
    columnText.LoadString(nStringId);
    return SetColumns(columnText);
}

int CSortListCtrl::InsertColumn(int nCol, const LVCOLUMNW* pColumn) {
    const int result = CListCtrl::InsertColumn(nCol, pColumn);
    if (result >= 0)
        RefillRows();
    return result;
}

int CSortListCtrl::InsertColumn(int nCol, LPCTSTR lpszColumnHeading, int nFormat, int nWidth, int nSubItem) {
    const int result = CListCtrl::InsertColumn(nCol, lpszColumnHeading, nFormat, nWidth, nSubItem);
    if (result >= 0)
        RefillRows();
    return result;
}

BOOL CSortListCtrl::DeleteColumn(int nCol) {
    const BOOL result = CListCtrl::DeleteColumn(nCol);
    if (result)
        RefillRows();
    return result;
}

BOOL CSortListCtrl::DeleteAllColumns() {
    while (GetColumnCount() > 0)
        if (!DeleteColumn(0))
            return FALSE;
    return TRUE;
}

int CSortListCtrl::GetColumnCount() const {
    CHeaderCtrl* pHeader = GetHeaderCtrl();
    return pHeader ? pHeader->GetItemCount() : 0;
}

void CSortListCtrl::SetFullRowSelect(BOOL bSet) {
    const DWORD style = GetExtendedStyle();
    SetExtendedStyle(bSet ? (style | LVS_EX_FULLROWSELECT) : (style & ~LVS_EX_FULLROWSELECT));
}

void CSortListCtrl::SetGridLines(BOOL bSet) {
    const DWORD style = GetExtendedStyle();
    SetExtendedStyle(bSet ? (style | LVS_EX_GRIDLINES) : (style & ~LVS_EX_GRIDLINES));
}

void CSortListCtrl::SetCheckBoxes(BOOL bSet) {
    const DWORD style = GetExtendedStyle();
    SetExtendedStyle(bSet ? (style | LVS_EX_CHECKBOXES) : (style & ~LVS_EX_CHECKBOXES));
}

// ---- Records ---------------------------------------------------------------------------------------------------

CSortListRow* CSortListCtrl::RowOf(int nItem) const {
    if (!IsValidIndex(nItem))
        return nullptr;
    auto* pRow = reinterpret_cast<const CSortListRow*>(CListCtrl::GetItemData(nItem));
    auto it = m_rows.find(pRow);
    return it == m_rows.end() ? nullptr : it->second.get();
}

CSortListRow* CSortListCtrl::NewRow(int nItem, LPARAM userData) {
    auto row = std::make_unique<CSortListRow>();
    const int columns = GetColumnCount();
    row->texts.SetSize(columns);
    for (int c = 0; c < columns; ++c)
        row->texts[c] = CListCtrl::GetItemText(nItem, c);
    row->userData = static_cast<DWORD>(userData);
    CSortListRow* pRow = row.get();
    m_rows.emplace(pRow, std::move(row));
    CListCtrl::SetItemData(nItem, reinterpret_cast<DWORD_PTR>(pRow));
    return pRow;
}

void CSortListCtrl::FreeRow(CSortListRow* pRow) {
    m_rows.erase(pRow);
}

void CSortListCtrl::RefillRows() {
    const int columns = GetColumnCount();
    const int count = GetItemCount();
    for (int i = 0; i < count; ++i) {
        if (CSortListRow* pRow = RowOf(i)) {
            pRow->texts.SetSize(columns);
            for (int c = 0; c < columns; ++c)
                pRow->texts[c] = CListCtrl::GetItemText(i, c);
        }
    }
}

// ---- Rows ------------------------------------------------------------------------------------------------------

int CSortListCtrl::AddItemTexts(int nIndex, std::initializer_list<LPCTSTR> texts) {
    auto it = texts.begin();
    const int row = CListCtrl::InsertItem(nIndex, *it ? *it : u"");
    if (row < 0)
        return row;
    const int columns = GetColumnCount();
    ++it;
    for (int c = 1; c < columns; ++c) {
        LPCTSTR text = it != texts.end() ? *it : nullptr;
        CListCtrl::SetItemText(row, c, text ? text : u"");
        if (it != texts.end())
            ++it;
    }
    NewRow(row, static_cast<LPARAM>(CListCtrl::GetItemData(row)));
    return row;
}

int CSortListCtrl::InsertItem(const LVITEMW* pItem) {
    const int row = CListCtrl::InsertItem(pItem);
    if (IsValidIndex(row))
        NewRow(row, (pItem && (pItem->mask & LVIF_PARAM)) ? pItem->lParam : 0);
    return row;
}

int CSortListCtrl::InsertItem(int nItem, LPCTSTR lpszItem, int nImage) {
    const int row =
        nImage < 0 ? CListCtrl::InsertItem(nItem, lpszItem) : CListCtrl::InsertItem(nItem, lpszItem, nImage);
    if (IsValidIndex(row))
        NewRow(row, 0);
    return row;
}

int CSortListCtrl::InsertItem(UINT nMask, int nItem, LPCTSTR lpszItem, UINT nState, UINT nStateMask, int nImage,
                              LPARAM lParam) {
    const int row = CListCtrl::InsertItem(nMask, nItem, lpszItem, nState, nStateMask, nImage, lParam);
    if (IsValidIndex(row))
        NewRow(row, (nMask & LVIF_PARAM) ? lParam : 0);
    return row;
}

BOOL CSortListCtrl::SetItemText(int nItem, int nSubItem, LPCTSTR lpszText) {
    if (!CListCtrl::SetItemText(nItem, nSubItem, lpszText))
        return FALSE;
    if (CSortListRow* pRow = RowOf(nItem)) {
        if (nSubItem >= pRow->texts.GetSize())
            pRow->texts.SetSize(nSubItem + 1);
        pRow->texts[nSubItem] = CListCtrl::GetItemText(nItem, nSubItem);
    }
    return TRUE;
}

BOOL CSortListCtrl::SetItemText(int nItem, int nSubItem, TCHAR ch) {
    const TCHAR text[2] = {ch, 0};
    return SetItemText(nItem, nSubItem, text);
}

BOOL CSortListCtrl::SetItemInt(int nItem, int nSubItem, int value) {
    CString text;
    text.Format(u"%d", value);
    return SetItemText(nItem, nSubItem, static_cast<LPCTSTR>(text));
}

BOOL CSortListCtrl::SetItemText(int nItem, int nSubItem, float value, int nPrecision) {
    return SetItemText(nItem, nSubItem, static_cast<double>(value), nPrecision);
}

BOOL CSortListCtrl::SetItemText(int nItem, int nSubItem, double value, int nPrecision) {
    CString format, text;
    format.Format(u"%%.%df", nPrecision < 0 ? 0 : nPrecision);
    text.Format(format, value);
    return SetItemText(nItem, nSubItem, static_cast<LPCTSTR>(text));
}

BOOL CSortListCtrl::SetItemData(int nItem, DWORD dwData) {
    CSortListRow* pRow = RowOf(nItem);
    if (!pRow)
        return FALSE;
    pRow->userData = dwData;
    return TRUE;
}

DWORD CSortListCtrl::GetItemData(int nItem) const {
    const CSortListRow* pRow = RowOf(nItem);
    return pRow ? pRow->userData : 0;
}

BOOL CSortListCtrl::DeleteItem(int nItem, BOOL bSelectNext, DeleteCallback pfnCallback, LPARAM lParam) {
    if (!IsValidIndex(nItem))
        return FALSE;
    CSortListRow* pRow = RowOf(nItem);
    if (pfnCallback && !pfnCallback(pRow ? pRow->userData : 0, lParam))
        return FALSE;
    if (!CListCtrl::DeleteItem(nItem))
        return FALSE;
    FreeRow(pRow);
    if (bSelectNext && GetItemCount() > 0)
        SelectItem(nItem, TRUE);
    return TRUE;
}

int CSortListCtrl::DeleteAllItems(DeleteCallback pfnCallback, LPARAM lParam) {
    int deleted = 0;
    while (DeleteItem(0, FALSE, pfnCallback, lParam))
        ++deleted;
    return deleted;
}

int CSortListCtrl::DeleteAllWhere(int (CSortListCtrl::*next)(int) const, DeleteCallback pfnCallback, LPARAM lParam) {
    int deleted = 0;
    for (int row = (this->*next)(-1); row >= 0 && DeleteItem(row, FALSE, pfnCallback, lParam); row = (this->*next)(-1))
        ++deleted;
    return deleted;
}

int CSortListCtrl::DeleteAllSelected(DeleteCallback pfnCallback, LPARAM lParam) {
    return DeleteAllWhere(&CSortListCtrl::GetNextSelectedItem, pfnCallback, lParam);
}
int CSortListCtrl::DeleteAllUnselected(DeleteCallback pfnCallback, LPARAM lParam) {
    return DeleteAllWhere(&CSortListCtrl::GetNextUnselectedItem, pfnCallback, lParam);
}
int CSortListCtrl::DeleteAllChecked(DeleteCallback pfnCallback, LPARAM lParam) {
    return DeleteAllWhere(&CSortListCtrl::GetNextCheckedItem, pfnCallback, lParam);
}
int CSortListCtrl::DeleteAllUnchecked(DeleteCallback pfnCallback, LPARAM lParam) {
    return DeleteAllWhere(&CSortListCtrl::GetNextUncheckedItem, pfnCallback, lParam);
}

// ---- Selection and checks --------------------------------------------------------------------------------------

BOOL CSortListCtrl::IsItemSelected(int nItem) const {
    return IsValidIndex(nItem) && (GetItemState(nItem, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

int CSortListCtrl::GetNextSelectedItem(int nAfter) const {
    for (int i = nAfter < 0 ? 0 : nAfter + 1; i < GetItemCount(); ++i)
        if (IsItemSelected(i))
            return i;
    return -1;
}
int CSortListCtrl::GetNextUnselectedItem(int nAfter) const {
    for (int i = nAfter < 0 ? 0 : nAfter + 1; i < GetItemCount(); ++i)
        if (!IsItemSelected(i))
            return i;
    return -1;
}
int CSortListCtrl::GetNextCheckedItem(int nAfter) const {
    for (int i = nAfter < 0 ? 0 : nAfter + 1; i < GetItemCount(); ++i)
        if (GetCheck(i))
            return i;
    return -1;
}
int CSortListCtrl::GetNextUncheckedItem(int nAfter) const {
    for (int i = nAfter < 0 ? 0 : nAfter + 1; i < GetItemCount(); ++i)
        if (!GetCheck(i))
            return i;
    return -1;
}

int CSortListCtrl::GetCheckedCount() const {
    int count = 0;
    for (int i = 0; i < GetItemCount(); ++i)
        count += GetCheck(i) ? 1 : 0;
    return count;
}
int CSortListCtrl::GetUncheckedCount() const {
    return GetItemCount() - GetCheckedCount();
}
int CSortListCtrl::GetUnselectedCount() const {
    return GetItemCount() - static_cast<int>(GetSelectedCount());
}

BOOL CSortListCtrl::SelectItem(int nItem, BOOL bClamp) {
    if (!IsValidIndex(nItem)) {
        if (!bClamp || GetItemCount() == 0)
            return FALSE;
        nItem = nItem < 0 ? 0 : GetItemCount() - 1;
    }
    return SetItemState(nItem, LVIS_SELECTED, LVIS_SELECTED);
}
BOOL CSortListCtrl::UnSelectItem(int nItem) {
    return IsValidIndex(nItem) && SetItemState(nItem, 0, LVIS_SELECTED);
}
BOOL CSortListCtrl::SelectAll() {
    BOOL all = TRUE;
    for (int i = 0; i < GetItemCount(); ++i)
        all = SelectItem(i) && all;
    return all;
}
BOOL CSortListCtrl::UnSelectAll() {
    BOOL all = TRUE;
    for (int i = 0; i < GetItemCount(); ++i)
        all = UnSelectItem(i) && all;
    return all;
}
BOOL CSortListCtrl::InvertSelect() {
    BOOL all = TRUE;
    for (int i = 0; i < GetItemCount(); ++i)
        all = (IsItemSelected(i) ? UnSelectItem(i) : SelectItem(i)) && all;
    return all;
}

BOOL CSortListCtrl::CheckItem(int nItem) {
    return IsValidIndex(nItem) && SetCheck(nItem, TRUE);
}
BOOL CSortListCtrl::UnCheckItem(int nItem) {
    return IsValidIndex(nItem) && SetCheck(nItem, FALSE);
}
int CSortListCtrl::CheckAll() {
    for (int i = 0; i < GetItemCount(); ++i)
        CheckItem(i);
    return GetItemCount();
}
int CSortListCtrl::UnCheckAll() {
    for (int i = 0; i < GetItemCount(); ++i)
        UnCheckItem(i);
    return GetItemCount();
}
int CSortListCtrl::InvertCheck() {
    for (int i = 0; i < GetItemCount(); ++i)
        SetCheck(i, !GetCheck(i));
    return GetItemCount();
}

// ---- Moving and sorting ----------------------------------------------------------------------------------------

BOOL CSortListCtrl::SwapItems(int nItem1, int nItem2) {
    if (!IsValidIndex(nItem1) || !IsValidIndex(nItem2))
        return FALSE;
    if (nItem1 == nItem2)
        return TRUE;
    CSortListRow* pRow1 = RowOf(nItem1);
    CSortListRow* pRow2 = RowOf(nItem2);
    const int columns = GetColumnCount();
    for (int c = 0; c < columns; ++c) {
        const CString text1 = CListCtrl::GetItemText(nItem1, c);
        const CString text2 = CListCtrl::GetItemText(nItem2, c);
        CListCtrl::SetItemText(nItem1, c, text2);
        CListCtrl::SetItemText(nItem2, c, text1);
    }
    // The records go with the rows' texts: each row keeps its place and takes the other's record.
    CListCtrl::SetItemData(nItem1, reinterpret_cast<DWORD_PTR>(pRow2));
    CListCtrl::SetItemData(nItem2, reinterpret_cast<DWORD_PTR>(pRow1));
    const BOOL check1 = GetCheck(nItem1);
    const BOOL check2 = GetCheck(nItem2);
    SetCheck(nItem1, check2);
    SetCheck(nItem2, check1);
    const UINT sel1 = GetItemState(nItem1, LVIS_SELECTED);
    const UINT sel2 = GetItemState(nItem2, LVIS_SELECTED);
    SetItemState(nItem1, sel2, LVIS_SELECTED);
    SetItemState(nItem2, sel1, LVIS_SELECTED);
    return TRUE;
}

BOOL CSortListCtrl::MoveUp(int nItem, int nCount) {
    if (nCount < 0)
        return MoveDown(nItem, -nCount);
    for (int i = 0; i < nCount; ++i, --nItem)
        if (!SwapItems(nItem, nItem - 1))
            return FALSE;
    return TRUE;
}

BOOL CSortListCtrl::MoveDown(int nItem, int nCount) {
    if (nCount < 0)
        return MoveUp(nItem, -nCount);
    for (int i = 0; i < nCount; ++i, ++nItem)
        if (!SwapItems(nItem, nItem + 1))
            return FALSE;
    return TRUE;
}

void CSortListCtrl::SortItems(int nColumn, BOOL bAscending) {
    if (nColumn < 0 || nColumn >= GetColumnCount())
        return;
    m_header.SetSortColumn(nColumn);
    m_header.SetAscending(bAscending);
    if (m_header.m_hWnd)
        m_header.SetSortImage();
    CListCtrl::SortItems(&CSortListCtrl::CompareRows, reinterpret_cast<DWORD_PTR>(this));
}

void CSortListCtrl::Resort() {
    SortItems(m_header.GetSortColumn(), m_header.IsAscending());
}

void CSortListCtrl::OnColumnClick(NMHDR* pNMHDR, LRESULT* pResult) {
    const int column = reinterpret_cast<NMLISTVIEW*>(pNMHDR)->iSubItem;
    const BOOL ascending = column != m_header.GetSortColumn() || !m_header.IsAscending();
    SortItems(column, ascending);
    *pResult = 0;
}

void CSortListCtrl::OnDestroy() {
    m_rows.clear();
    CListCtrl::OnDestroy();
}

namespace {

// The kinds of texts in their sort order.
enum class TextKind { Empty, Number, Date, Text };

// Digits with at most one '.', and one sign in front of a longer text; at least one digit.
bool IsNumber(const CString& text) {
    const int n = text.GetLength();
    bool dot = false, digit = false;
    for (int i = 0; i < n; ++i) {
        const TCHAR c = text[i];
        if (c >= u'0' && c <= u'9') {
            digit = true;
        } else if (c == u'.' && !dot) {
            dot = true;
        } else if ((c == u'-' || c == u'+') && i == 0 && n > 1) {
        } else {
            return false;
        }
    }
    return digit;
}

double NumberOf(const CString& text) {
    const std::string narrow(text.GetString(), text.GetString() + text.GetLength());
    return std::strtod(narrow.c_str(), nullptr);
}

template <class T> int Order(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

int CSortListCtrl::CompareTexts(const CString& aIn, const CString& bIn) {
    CString a = aIn, b = bIn;
    a.Trim();
    b.Trim();
    COleDateTime dateA, dateB;
    auto kindOf = [](const CString& text, COleDateTime& date) {
        if (text.IsEmpty())
            return TextKind::Empty;
        if (IsNumber(text))
            return TextKind::Number;
        if (date.ParseDateTime(text, 0, LANG_USER_DEFAULT))
            return TextKind::Date;
        return TextKind::Text;
    };
    const TextKind kindA = kindOf(a, dateA);
    const TextKind kindB = kindOf(b, dateB);
    if (kindA != kindB)
        return Order(static_cast<int>(kindA), static_cast<int>(kindB));
    switch (kindA) {
    case TextKind::Number:
        return Order(NumberOf(a), NumberOf(b));
    case TextKind::Date:
        return dateA < dateB ? -1 : (dateB < dateA ? 1 : 0);
    default:
        return Order(std::u16string_view(a.GetString(), static_cast<size_t>(a.GetLength())),
                     std::u16string_view(b.GetString(), static_cast<size_t>(b.GetLength())));
    }
}

int CALLBACK CSortListCtrl::CompareRows(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort) {
    auto* pList = reinterpret_cast<CSortListCtrl*>(lParamSort);
    const auto* pRow1 = reinterpret_cast<const CSortListRow*>(lParam1);
    const auto* pRow2 = reinterpret_cast<const CSortListRow*>(lParam2);
    const int column = pList->m_header.GetSortColumn();
    auto textOf = [&](const CSortListRow* pRow) {
        return pRow && column < pRow->texts.GetSize() ? pRow->texts[column] : CString();
    };
    const int result = CompareTexts(textOf(pRow1), textOf(pRow2));
    return pList->m_header.IsAscending() ? result : -result;
}
