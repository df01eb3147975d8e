#include "engine/CheckTreeCtrl.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/clock.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/message.h"
#include "platform/ui/timer.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <algorithm>
#include <functional>

IMPLEMENT_DYNAMIC(CCheckTreeCtrl, CTreeCtrl)

BEGIN_MESSAGE_MAP(CCheckTreeCtrl, CTreeCtrl)
ON_MESSAGE(WM_LBUTTONDOWN, OnLButtonDownMsg)
ON_NOTIFY_REFLECT(TVN_ITEMEXPANDINGW, OnItemExpanding)
ON_NOTIFY_REFLECT(TVN_ITEMEXPANDEDW, OnItemExpanded)
END_MESSAGE_MAP()

namespace {

UINT StateOf(UINT state) {
    return state & TVIS_STATEIMAGEMASK;
}

// Snapshot text: characters that would break a line or a field are escaped.
void Escape(const CString& text, std::u16string& out) {
    for (int i = 0; i < text.GetLength(); ++i) {
        const char16_t c = text[i];
        switch (c) {
        case u'\\':
            out += u"\\\\";
            break;
        case u'\t':
            out += u"\\t";
            break;
        case u'\n':
            out += u"\\n";
            break;
        case u'\r':
            out += u"\\r";
            break;
        default:
            out += c;
        }
    }
}

std::u16string Unescape(const std::u16string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char16_t c = text[++i];
        out += c == u't' ? u'\t' : c == u'n' ? u'\n' : c == u'r' ? u'\r' : c;
    }
    return out;
}

std::u16string Number(long n) {
    std::u16string s;
    const std::string digits = std::to_string(n);
    s.assign(digits.begin(), digits.end());
    return s;
}

struct SnapNode {
    int depth = 0;
    UINT state = 0;
    int expanded = 0;
    int occurrence = 0;
    std::u16string text;
    std::vector<SnapNode> children;
};

// One line: depth, state, expanded bit, occurrence among same-text siblings, text (TAB separated).
bool ParseLine(const std::u16string& line, SnapNode& node) {
    std::vector<std::u16string> fields;
    // The depth's TABs in front; a name's own TABs are escaped.
    size_t start = line.find_first_not_of(u'\t');
    if (start == std::u16string::npos)
        return false;
    for (int i = 0; i < 4; ++i) {
        const size_t tab = line.find(u'\t', start);
        if (tab == std::u16string::npos)
            return false;
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    fields.push_back(line.substr(start));
    auto toInt = [](const std::u16string& s) {
        long v = 0;
        for (char16_t c : s) {
            if (c < u'0' || c > u'9')
                return -1L;
            v = v * 10 + (c - u'0');
        }
        return s.empty() ? -1L : v;
    };
    const long depth = toInt(fields[0]), state = toInt(fields[1]), expanded = toInt(fields[2]),
               occurrence = toInt(fields[3]);
    if (depth < 0 || state < 1 || state > 3 || expanded < 0 || occurrence < 0)
        return false;
    node.depth = static_cast<int>(depth);
    node.state = static_cast<UINT>(state) << 12;
    node.expanded = static_cast<int>(expanded);
    node.occurrence = static_cast<int>(occurrence);
    node.text = Unescape(fields[4]);
    return true;
}

// Builds the tree of a snapshot's lines; false when the first line is not a top line.
bool ParseSnapshot(const std::u16string& text, SnapNode& top) {
    std::vector<SnapNode*> stack;
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos)
            end = text.size();
        const std::u16string line = text.substr(start, end - start);
        start = end + 1;
        SnapNode node;
        if (!ParseLine(line, node))
            continue;
        if (first) {
            if (node.depth != 0)
                return false;
            top = node;
            stack = {&top};
            first = false;
            continue;
        }
        if (node.depth < 1 || node.depth > static_cast<int>(stack.size()))
            continue;
        stack.resize(static_cast<size_t>(node.depth));
        stack.back()->children.push_back(node);
        stack.push_back(&stack.back()->children.back());
    }
    return !first;
}

} // namespace

CCheckTreeCtrl::CCheckTreeCtrl() : m_strLoading(_T("Loading...")) {}

CCheckTreeCtrl::~CCheckTreeCtrl() {
    if (m_loader.joinable()) {
        m_bStop = 1;
        if (m_hCountEvent.get())
            SetEvent(m_hCountEvent.get());
        m_loader.join();
    }
}

BOOL CCheckTreeCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CTreeCtrl::Create(dwStyle, rect, pParentWnd, nID);
}

BOOL CCheckTreeCtrl::SetStateImages(UINT nBitmapId) {
    HBITMAP bitmap = LoadBitmapW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nBitmapId));
    if (!bitmap)
        return FALSE;
    m_stateImages.DeleteImageList();
    HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 5, 1);
    const int added = ImageList_AddMasked(list, bitmap, RGB(255, 0, 255));
    DeleteObject(bitmap);
    if (added < 0) {
        ImageList_Destroy(list);
        return FALSE;
    }
    m_stateImages.Attach(list);
    TreeView_SetImageList(m_hWnd, list, TVSIL_STATE);
    return TRUE;
}

UINT CCheckTreeCtrl::GetCheckState(HTREEITEM hItem) const {
    if (!hItem || hItem == TVI_ROOT)
        return 0;
    return StateOf(GetItemState(hItem, TVIS_STATEIMAGEMASK));
}

void CCheckTreeCtrl::SetCheckState(HTREEITEM hItem, UINT nState) {
    if (hItem && hItem != TVI_ROOT)
        SetItemState(hItem, nState, TVIS_STATEIMAGEMASK);
}

void CCheckTreeCtrl::SetChildrenState(HTREEITEM hItem, UINT nState, UINT nMask) {
    for (HTREEITEM hChild = GetChildItem(hItem); hChild; hChild = GetNextSiblingItem(hChild)) {
        // A fixed item keeps its mark whatever its parent gets.
        if (GetCheckState(hChild) != kStateFixed)
            SetItemState(hChild, nState, nMask);
        SetChildrenState(hChild, nState, nMask);
    }
}

void CCheckTreeCtrl::UpdateParentStates(HTREEITEM hItem, UINT nState, UINT nMask) {
    UINT result = nState;
    for (HTREEITEM hParent = GetParentItem(hItem); hParent; hParent = GetParentItem(hParent)) {
        if (result != kStatePartial) {
            for (HTREEITEM hChild = GetChildItem(hParent); hChild; hChild = GetNextSiblingItem(hChild)) {
                const UINT state = GetCheckState(hChild);
                if (state != kStateFixed && state != nState) {
                    result = kStatePartial;
                    break;
                }
            }
        }
        SetItemState(hParent, result, nMask);
    }
}

void CCheckTreeCtrl::CheckBranch(HTREEITEM hItem, UINT nState) {
    SetCheckState(hItem, nState);
    SetChildrenState(hItem, nState);
    UpdateParentStates(hItem, nState);
}

void CCheckTreeCtrl::SetAllStates(UINT nState) {
    if (nState != kStateUnchecked && nState != kStateChecked)
        return;
    std::function<void(HTREEITEM)> all = [&](HTREEITEM hParent) {
        for (HTREEITEM h = GetChildItem(hParent); h; h = GetNextSiblingItem(h)) {
            SetItemState(h, nState, TVIS_STATEIMAGEMASK);
            all(h);
        }
    };
    all(TVI_ROOT);
}

void CCheckTreeCtrl::ExpandAll(HTREEITEM hItem, UINT nCode) {
    if (!hItem)
        return;
    Expand(hItem, nCode);
    for (HTREEITEM h = GetChildItem(hItem); h; h = GetNextSiblingItem(h))
        if (ItemHasChildren(h))
            ExpandAll(h, nCode);
}

int CCheckTreeCtrl::GetItemDepth(HTREEITEM hItem) const {
    int depth = 0;
    for (HTREEITEM h = hItem ? GetParentItem(hItem) : nullptr; h; h = GetParentItem(h))
        ++depth;
    return depth;
}

int CCheckTreeCtrl::GetDistance(HTREEITEM hAncestor, HTREEITEM hItem) const {
    int distance = 0;
    for (HTREEITEM h = hItem; h && h != hAncestor; h = GetParentItem(h))
        ++distance;
    return distance;
}

void CCheckTreeCtrl::DeleteChildren(HTREEITEM hItem) {
    if (!hItem)
        return;
    Expand(hItem, TVE_COLLAPSE | TVE_COLLAPSERESET);
    while (HTREEITEM hChild = GetChildItem(hItem))
        DeleteItem(hChild);
}

int CCheckTreeCtrl::GetLoadCount(int* pnExpected) const {
    if (pnExpected)
        *pnExpected = m_nExpected;
    return m_nLoaded;
}

void CCheckTreeCtrl::SetLoadCount(int nExpected, int nLoaded) {
    m_nExpected = nExpected;
    m_nLoaded = nLoaded;
    if (m_hCountEvent.get()) {
        m_ullCountSignalled = GetTickCount64();
        SetEvent(m_hCountEvent.get());
    }
}

void CCheckTreeCtrl::AddLoadCount(int nCount) {
    m_nLoaded += nCount;
    if (!m_hCountEvent.get())
        return;
    // The loader paints the count; waking it for every one of thousands of children would cost the window's thread
    // a thread switch per child for frames nobody sees. The first counts move the bar most and always wake it;
    // later ones wake it once per frame.
    constexpr int kEveryCount = 32;
    constexpr ULONGLONG kFrameMs = 15;
    const ULONGLONG now = GetTickCount64();
    if (m_nLoaded <= kEveryCount || now - m_ullCountSignalled >= kFrameMs) {
        m_ullCountSignalled = now;
        SetEvent(m_hCountEvent.get());
    }
}

void CCheckTreeCtrl::SetLoadingText(LPCTSTR lpszText, HICON hIcon) {
    m_strLoading = lpszText ? lpszText : _T("");
    m_hLoadingIcon = hIcon;
}

void CCheckTreeCtrl::NotifyCheckChanged() {
    if (CWnd* pParent = GetParent())
        pParent->SendMessage(WM_TREE_CHECK_CHANGED, 0, 0);
}

LRESULT CCheckTreeCtrl::OnLButtonDownMsg(WPARAM, LPARAM lParam) {
    UINT flags = 0;
    const POINT pt{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
    HTREEITEM hItem = HitTest(pt, &flags);
    if (!hItem || !(flags & TVHT_ONITEMSTATEICON))
        return Default();
    const UINT state = GetCheckState(hItem);
    if (state != kStateFixed)
        CheckBranch(hItem, state == kStateChecked ? kStateUnchecked : kStateChecked);
    NotifyCheckChanged();
    return 0;
}

BOOL CCheckTreeCtrl::CanLoadChildren(HTREEITEM hItem) {
    return hItem && hItem != TVI_ROOT && hItem != GetRootItem() && !m_bEnsureVisible;
}

void CCheckTreeCtrl::OnItemExpanding(NMHDR* pNMHDR, LRESULT* pResult) {
    auto* nm = reinterpret_cast<NMTREEVIEWW*>(pNMHDR);
    *pResult = 0;
    if (nm->action & TVE_COLLAPSE) {
        if (nm->itemNew.hItem == GetRootItem())
            *pResult = 1;
        return;
    }
    if (nm->action & TVE_EXPAND)
        BeginExpand(nm->itemNew.hItem);
}

void CCheckTreeCtrl::OnItemExpanded(NMHDR* pNMHDR, LRESULT* pResult) {
    auto* nm = reinterpret_cast<NMTREEVIEWW*>(pNMHDR);
    *pResult = 0;
    HTREEITEM hItem = nm->itemNew.hItem;
    if (nm->action & TVE_EXPAND) {
        EndExpand(hItem);
        return;
    }
    if ((nm->action & TVE_COLLAPSE) && hItem != GetRootItem() && GetCheckState(hItem) != kStatePartial &&
        CanLoadChildren(hItem)) {
        while (HTREEITEM hChild = GetChildItem(hItem))
            DeleteItem(hChild);
    }
}

void CCheckTreeCtrl::SetRedraw(BOOL bRedraw) {
    ::SendMessageW(m_hWnd, WM_SETREDRAW, bRedraw, 0);
}

void CCheckTreeCtrl::Freeze() {
    m_bFrozen = 1;
}

void CCheckTreeCtrl::Unfreeze() {
    m_bFrozen = 0;
}

void CCheckTreeCtrl::BeginExpand(HTREEITEM hItem) {
    if (GetChildItem(hItem)) {
        if (!CanLoadChildren(hItem)) {
            m_hExpanding = nullptr;
            return;
        }
        if (GetCheckState(hItem) == kStatePartial)
            TakeSnapshot(hItem, TRUE, 1);
        while (HTREEITEM hChild = GetChildItem(hItem))
            DeleteItem(hChild);
    }
    m_hExpanding = hItem;
    UpdateWindow();
    SetRedraw(FALSE);
    TVINSERTSTRUCTW insert{};
    insert.hParent = hItem;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = const_cast<LPWSTR>(m_strLoading.GetString());
    m_hPlaceholder = InsertItem(&insert);
    m_nExpected = 1;
    m_nLoaded = 0;
}

void CCheckTreeCtrl::StartLoading(HTREEITEM hPlaceholder) {
    OnLoadStart(hPlaceholder);
    m_bStop = 0;
    m_hTimerEvent = platform::OwnedHandle(CreateEventW(nullptr, FALSE, TRUE, nullptr));
    m_hCountEvent = platform::OwnedHandle(CreateEventW(nullptr, FALSE, TRUE, nullptr));
    HANDLE events[2] = {m_hTimerEvent.get(), m_hCountEvent.get()};
    m_loader = std::thread([this, events] {
        while (!m_bStop) {
            const DWORD woken = WaitForMultipleObjects(2, events, FALSE, INFINITE);
            if (m_bStop || woken == WAIT_FAILED)
                break;
            OnLoadStep(woken == WAIT_OBJECT_0 ? 1 : 0, m_nExpected, m_nLoaded);
        }
    });
    if (m_nPeriod > 0)
        m_nTimerId = timeSetEvent(m_nPeriod, 5, reinterpret_cast<LPTIMECALLBACK>(m_hTimerEvent.get()), 0,
                                  TIME_PERIODIC | TIME_CALLBACK_EVENT_SET);
}

void CCheckTreeCtrl::StopLoading() {
    if (m_nTimerId) {
        timeKillEvent(m_nTimerId);
        m_nTimerId = 0;
    }
    m_bStop = 1;
    if (m_hCountEvent.get())
        SetEvent(m_hCountEvent.get());
    if (m_loader.joinable())
        m_loader.join();
    m_hTimerEvent = platform::OwnedHandle();
    m_hCountEvent = platform::OwnedHandle();
    OnLoadEnd();
}

void CCheckTreeCtrl::FinishLoad(HTREEITEM hItem, int nResult) {
    if (hItem && hItem != TVI_ROOT) {
        const bool hasChildren = GetChildItem(hItem) != nullptr;
        if (nResult) {
            TVITEMW tv{};
            tv.mask = TVIF_HANDLE | TVIF_CHILDREN;
            tv.hItem = hItem;
            tv.cChildren = hasChildren ? 1 : 0;
            SetItem(&tv);
        } else if (!hasChildren) {
            SetItemState(hItem, 0, TVIS_EXPANDED);
        }
    }
    const UINT state = GetCheckState(hItem);
    if (state == kStatePartial) {
        RestoreSnapshot(hItem);
    } else if (state == kStateChecked || state == kStateUnchecked) {
        for (HTREEITEM h = GetChildItem(hItem); h; h = GetNextSiblingItem(h))
            if (const UINT childState = GetCheckState(h); childState != kStateFixed && childState != state)
                SetCheckState(h, state);
    }
}

void CCheckTreeCtrl::EndExpand(HTREEITEM hItem) {
    if (!m_hExpanding || s_nEndExpand > 0)
        return;
    ++s_nEndExpand;
    hItem = m_hExpanding;
    m_hExpanding = nullptr;
    const int hScroll = GetScrollPos(SB_HORZ);
    const int vScroll = GetScrollPos(SB_VERT);
    if (m_bAnimate) {
        SetRedraw(TRUE);
        if (m_hPlaceholder)
            EnsureVisible(m_hPlaceholder);
        UpdateWindow();
    }
    StartLoading(m_hPlaceholder);
    SetRedraw(FALSE);
    Freeze();
    if (m_hPlaceholder) {
        DeleteItem(m_hPlaceholder);
        m_hPlaceholder = nullptr;
    }
    const int result = LoadChildren(hItem);
    FinishLoad(hItem, result);
    StopLoading();
    if (hItem != TVI_ROOT) {
        // Ancestors that open to show the item keep the children they have (a selection file loads a branch
        // without expanding it); reloading them here would drop the item just loaded.
        const int guard = m_bEnsureVisible;
        m_bEnsureVisible = 1;
        SelectItem(hItem);
        EnsureVisible(hItem);
        m_bEnsureVisible = guard;
    }
    SetScrollPos(SB_HORZ, hScroll, FALSE);
    SetScrollPos(SB_VERT, vScroll, FALSE);
    Unfreeze();
    SetRedraw(TRUE);
    Invalidate();
    --s_nEndExpand;
}

void CCheckTreeCtrl::RefreshItem(HTREEITEM hItem) {
    if (!hItem || hItem == TVI_ROOT || hItem == GetRootItem() || !(GetItemState(hItem, TVIS_EXPANDED) & TVIS_EXPANDED))
        return;
    HTREEITEM hFirstVisible = GetFirstVisibleItem();
    const int hScroll = GetScrollPos(SB_HORZ);
    const int vScroll = GetScrollPos(SB_VERT);
    if (GetChildItem(hItem)) {
        if (!CanLoadChildren(hItem))
            return;
        TakeSnapshot(hItem, FALSE, 1);
        Freeze();
        while (HTREEITEM hChild = GetChildItem(hItem))
            DeleteItem(hChild);
    }
    // Every item of the branch is loaded again; the marks come back from the snapshot.
    const UINT state = GetCheckState(hItem);
    const int result = LoadChildren(hItem);
    if (state != kStatePartial)
        FinishLoad(hItem, result);
    else {
        TVITEMW tv{};
        tv.mask = TVIF_HANDLE | TVIF_CHILDREN;
        tv.hItem = hItem;
        tv.cChildren = GetChildItem(hItem) ? 1 : 0;
        if (result)
            SetItem(&tv);
    }
    RestoreSnapshot(hItem);
    if (hFirstVisible && GetItemState(hFirstVisible, 0) == 0)
        SelectSetFirstVisible(hFirstVisible);
    SelectItem(hItem);
    SetScrollPos(SB_HORZ, hScroll, FALSE);
    SetScrollPos(SB_VERT, vScroll, FALSE);
    Unfreeze();
    SetRedraw(TRUE);
    NotifyCheckChanged();
}

int CCheckTreeCtrl::OccurrenceOf(HTREEITEM hItem) const {
    const CString text = GetItemText(hItem);
    int n = 0;
    for (HTREEITEM h = GetChildItem(GetParentItem(hItem) ? GetParentItem(hItem) : TVI_ROOT); h && h != hItem;
         h = GetNextSiblingItem(h))
        if (GetItemText(h) == text)
            ++n;
    return n;
}

void CCheckTreeCtrl::SnapshotNode(HTREEITEM hItem, int nDepth, std::u16string& out) const {
    const UINT state = GetCheckState(hItem);
    const int expanded = (GetItemState(hItem, TVIS_EXPANDED) & TVIS_EXPANDED) ? 1 : 0;
    auto line = [&](HTREEITEM h, int depth, UINT s, int e) {
        out.append(static_cast<size_t>(depth), u'\t');
        out += Number(depth) + u'\t' + Number(static_cast<long>(s >> 12)) + u'\t' + Number(e) + u'\t' +
               Number(OccurrenceOf(h)) + u'\t';
        Escape(GetItemText(h), out);
        out += u'\n';
    };
    line(hItem, nDepth, state == kStateFixed ? kStateUnchecked : state, state == kStatePartial ? expanded : 0);
    bool wrote = false;
    for (HTREEITEM hChild = GetChildItem(hItem); hChild; hChild = GetNextSiblingItem(hChild)) {
        const UINT childState = GetCheckState(hChild);
        const bool hasChildren = GetChildItem(hChild) != nullptr;
        const bool childExpanded = (GetItemState(hChild, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
        if (hasChildren && (nDepth > 0 || childExpanded || childState == kStatePartial)) {
            SnapshotNode(hChild, nDepth + 1, out);
            wrote = true;
        } else if (nDepth == 0 && childState == kStatePartial) {
            SnapshotNode(hChild, nDepth + 1, out);
            wrote = true;
        } else if (childState == kStateChecked) {
            line(hChild, nDepth + 1, kStateChecked, 0);
            wrote = true;
        }
    }
    // A loaded branch with nothing to say about its children still asks for them to be loaded again.
    if (!wrote && nDepth > 0)
        if (HTREEITEM hFirst = GetChildItem(hItem))
            line(hFirst, nDepth + 1, kStateUnchecked, 0);
}

BOOL CCheckTreeCtrl::TakeSnapshot(HTREEITEM hItem, BOOL bOnlyIfPartial, int) {
    if (!hItem)
        return FALSE;
    if (bOnlyIfPartial && GetCheckState(hItem) != kStatePartial)
        return TRUE;
    m_snapshot.clear();
    SnapshotNode(hItem, 0, m_snapshot);
    m_bSnapshot = true;
    return TRUE;
}

void CCheckTreeCtrl::LoadChildrenIfNeeded(HTREEITEM hItem) {
    if (!hItem || GetChildItem(hItem))
        return;
    m_bEnsureVisible = 1;
    const int result = LoadChildren(hItem);
    TVITEMW tv{};
    tv.mask = TVIF_HANDLE | TVIF_CHILDREN;
    tv.hItem = hItem;
    tv.cChildren = GetChildItem(hItem) ? 1 : 0;
    if (result)
        SetItem(&tv);
    const UINT state = GetCheckState(hItem);
    if (state == kStateChecked || state == kStateUnchecked)
        for (HTREEITEM h = GetChildItem(hItem); h; h = GetNextSiblingItem(h))
            if (GetCheckState(h) != kStateFixed)
                SetCheckState(h, state);
    if (HTREEITEM hFirst = GetChildItem(hItem))
        EnsureVisible(hFirst);
    m_bEnsureVisible = 0;
}

void CCheckTreeCtrl::RestoreSnapshot(HTREEITEM hItem) {
    if (!m_bSnapshot)
        return;
    SnapNode top;
    const bool parsed = ParseSnapshot(m_snapshot, top);
    m_snapshot.clear();
    m_bSnapshot = false;
    if (!parsed || std::u16string(GetItemText(hItem).Str()) != top.text)
        return;
    std::vector<HTREEITEM> collapse;
    std::function<void(HTREEITEM, const SnapNode&)> apply = [&](HTREEITEM hParent, const SnapNode& node) {
        for (const SnapNode& child : node.children) {
            HTREEITEM hMatch = nullptr;
            int seen = 0;
            for (HTREEITEM h = GetChildItem(hParent); h; h = GetNextSiblingItem(h)) {
                if (std::u16string(GetItemText(h).Str()) != child.text)
                    continue;
                if (seen++ == child.occurrence) {
                    hMatch = h;
                    break;
                }
            }
            // An item that is gone takes only its own marks with it.
            if (!hMatch)
                continue;
            if (!child.children.empty()) {
                LoadChildrenIfNeeded(hMatch);
                if (child.state == kStatePartial && !child.expanded)
                    collapse.push_back(hMatch);
                apply(hMatch, child);
            }
            if (child.state == kStateChecked && GetCheckState(hMatch) != kStateFixed)
                CheckBranch(hMatch, kStateChecked);
        }
    };
    apply(hItem, top);
    for (auto it = collapse.rbegin(); it != collapse.rend(); ++it)
        Expand(*it, TVE_COLLAPSE);
    if (top.state == kStateChecked && GetCheckState(hItem) != kStateFixed)
        CheckBranch(hItem, kStateChecked);
}

void CCheckTreeCtrl::ExpandRootTree() {
    BeginExpand(TVI_ROOT);
    EndExpand(TVI_ROOT);
    SetRedraw(FALSE);
    const int hScroll = GetScrollPos(SB_HORZ);
    if (HTREEITEM hRoot = GetRootItem())
        EnsureVisible(hRoot);
    SetScrollPos(SB_HORZ, hScroll, FALSE);
    SetRedraw(TRUE);
}

void CCheckTreeCtrl::OnLoadStart(HTREEITEM) {}

void CCheckTreeCtrl::OnLoadStep(int, int, int) {}

void CCheckTreeCtrl::OnLoadEnd() {}
