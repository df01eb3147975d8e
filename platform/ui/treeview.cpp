// The tree-view control.
//
// Items live in a table keyed by their handle; the hidden root holds the top-level items. All state belongs to
// the window's thread: other threads reach it through SendMessageW, which runs the message here. Notifications
// are sent while no iterator over the item lists is held, because their handlers may change the tree.
#include "platform/ui/treeview.h"
#include "platform/ui/commctrl_internal.h"
#include "platform/ui/imagelist.h"
#include "platform/ui/scrollbar.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/gdi/wingdi.h"

#include <algorithm>
#include <array>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform::ui::controls {
namespace {

constexpr int kChildrenUnset = -2; // cChildren never set: answer whether the item has children

struct TvItem {
    HTREEITEM handle = nullptr;
    TvItem* parent = nullptr;
    std::vector<TvItem*> children;
    bool textCallback = false;
    std::u16string text;
    int image = 0;
    int selectedImage = 0;
    UINT state = 0;
    int cChildren = kChildrenUnset;
    LPARAM param = 0;
    int integral = 1;
    size_t slot = 0; // where the item last stood among its siblings: checked before it is trusted
    // The label's width as last measured, with the font it was measured in and, for a text the owner gives on
    // request, that text: the scroll range asks for every shown row's width, and measuring text is far dearer than
    // comparing it. (A text of the item's own drops the width whenever it is set.)
    std::u16string measuredText;
    HFONT measuredFont = nullptr;
    int measuredWidth = -1;
};

// The item's index among its siblings. Walking siblings or appending after the last one asks this once per item,
// so the remembered slot answers at once unless an insertion or deletion before it moved the item.
size_t IndexOf(std::vector<TvItem*>& list, TvItem* item) {
    if (item->slot < list.size() && list[item->slot] == item)
        return item->slot;
    // The list moved since: number every sibling again, so that a walk over them costs one pass in all.
    size_t index = list.size();
    for (size_t i = 0; i < list.size(); ++i) {
        list[i]->slot = i;
        if (list[i] == item)
            index = i;
    }
    return index;
}

struct TreeView {
    HWND hwnd = nullptr;
    std::unordered_map<uintptr_t, std::unique_ptr<TvItem>> items;
    TvItem root; // hidden: its children are the top-level items
    uintptr_t nextHandle = 0x7100;
    TvItem* caret = nullptr;
    TvItem* dropHilite = nullptr;
    int topIndex = 0; // first visible row
    int xOffset = 0;  // pixels scrolled to the right
    // What the scroll bars were last told: rows, page, first row, width, client width, offset.
    std::array<int, 6> scrollShown{-1, -1, -1, -1, -1, -1};
    int indent = 19;
    int itemHeight = -1; // -1: from the image lists
    HIMAGELIST normal = nullptr;
    HIMAGELIST stateList = nullptr;
    bool ownStateList = false;
    COLORREF bk = CLR_DEFAULT;
    COLORREF textColor = CLR_DEFAULT;
    COLORREF lineColor = CLR_DEFAULT;
    HFONT font = nullptr;
    LabelMeasure* measuring = nullptr; // while the rows are measured together
    bool destroying = false;
    // While the owner holds drawing back (WM_SETREDRAW), changes are noted once and shown when it lets go: a load of
    // thousands of items would otherwise ask for the whole window to be painted once per item.
    bool redraw = true;
    bool changedWhileHeld = false;

    void Invalidate() {
        if (redraw)
            InvalidateRect(hwnd, nullptr, TRUE);
        else
            changedWhileHeld = true;
    }

    DWORD Style() const { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)); }

    TvItem* Find(HTREEITEM h) {
        if (!h)
            return nullptr;
        auto it = items.find(reinterpret_cast<uintptr_t>(h));
        return it == items.end() ? nullptr : it->second.get();
    }
    // TVI_ROOT and null name the hidden root.
    TvItem* FindOrRoot(HTREEITEM h) { return (!h || h == TVI_ROOT) ? &root : Find(h); }

    int RowHeight() const {
        if (itemHeight > 0)
            return itemHeight;
        int h = 16;
        int cx = 0, cy = 0;
        if (normal && ImageList_GetIconSize(normal, &cx, &cy))
            h = std::max(h, cy);
        if (stateList && ImageList_GetIconSize(stateList, &cx, &cy))
            h = std::max(h, cy);
        return h;
    }

    int Depth(const TvItem* item) const {
        int d = 0;
        for (const TvItem* p = item->parent; p && p != &root; p = p->parent)
            ++d;
        return d;
    }

    // Items in display order: every item whose ancestors are all expanded.
    void Visible(std::vector<TvItem*>& out, TvItem* from) const {
        for (TvItem* c : from->children) {
            out.push_back(c);
            if (c->state & TVIS_EXPANDED)
                Visible(out, c);
        }
    }
    std::vector<TvItem*> VisibleItems() {
        std::vector<TvItem*> out;
        Visible(out, &root);
        return out;
    }
    bool IsShown(const TvItem* item) const {
        for (const TvItem* p = item->parent; p && p != &root; p = p->parent)
            if (!(p->state & TVIS_EXPANDED))
                return false;
        return true;
    }
    int VisibleCount() const {
        RECT rc{};
        GetClientRect(hwnd, &rc);
        return std::max(0, static_cast<int>(rc.bottom - rc.top) / RowHeight());
    }

    TvItem* Sibling(TvItem* item, int delta) {
        auto& list = item->parent->children;
        const size_t index = IndexOf(list, item);
        if (index == list.size())
            return nullptr;
        const auto pos = static_cast<long>(index) + delta;
        if (pos < 0 || pos >= static_cast<long>(list.size()))
            return nullptr;
        return list[static_cast<size_t>(pos)];
    }

    bool HasChildrenAnswer(TvItem* item) {
        if (item->cChildren == kChildrenUnset)
            return !item->children.empty();
        if (item->cChildren == I_CHILDRENCALLBACK)
            return AskChildren(item) != 0;
        return item->cChildren != 0;
    }

    // ---- Notifications ----

    static void Describe(TvItem* item, TVITEMW& tv) {
        tv.mask = TVIF_HANDLE | TVIF_STATE | TVIF_PARAM;
        if (!item)
            return;
        tv.hItem = item->handle;
        tv.state = item->state;
        tv.stateMask = 0xFFFF;
        tv.lParam = item->param;
    }

    LRESULT NotifyTree(UINT code, UINT action, TvItem* oldItem, TvItem* newItem, POINT pt = {}) {
        NMTREEVIEWW nm{};
        nm.action = action;
        Describe(oldItem, nm.itemOld);
        Describe(newItem, nm.itemNew);
        if (!oldItem)
            nm.itemOld.mask = 0;
        if (!newItem)
            nm.itemNew.mask = 0;
        nm.ptDrag = pt;
        return Notify(hwnd, nm.hdr, code);
    }

    // Asks the parent for callback fields of an item; the record's pszText is the caller's buffer.
    void AskDispInfo(TvItem* item, TVITEMW& request) {
        NMTVDISPINFOW nm{};
        nm.item = request;
        nm.item.hItem = item->handle;
        nm.item.state = item->state;
        nm.item.lParam = item->param;
        Notify(hwnd, nm.hdr, TVN_GETDISPINFOW);
        const UINT asked = request.mask;
        if ((asked & TVIF_TEXT) && request.pszText && request.cchTextMax > 0) {
            if (nm.item.pszText && nm.item.pszText != request.pszText)
                lstrcpynW(request.pszText, nm.item.pszText, request.cchTextMax);
            else if (!nm.item.pszText)
                request.pszText[0] = 0;
        }
        if (asked & TVIF_IMAGE)
            request.iImage = nm.item.iImage;
        if (asked & TVIF_SELECTEDIMAGE)
            request.iSelectedImage = nm.item.iSelectedImage;
        if (asked & TVIF_CHILDREN)
            request.cChildren = nm.item.cChildren;
        // TVIF_DI_SETITEM: the control keeps the answer from now on.
        if (nm.item.mask & TVIF_DI_SETITEM) {
            if ((asked & TVIF_TEXT) && item->textCallback && request.pszText) {
                item->text = request.pszText;
                item->textCallback = false;
                item->measuredWidth = -1;
            }
            if ((asked & TVIF_IMAGE) && item->image == I_IMAGECALLBACK)
                item->image = request.iImage;
            if ((asked & TVIF_SELECTEDIMAGE) && item->selectedImage == I_IMAGECALLBACK)
                item->selectedImage = request.iSelectedImage;
            if ((asked & TVIF_CHILDREN) && item->cChildren == I_CHILDRENCALLBACK)
                item->cChildren = request.cChildren;
        }
    }

    int AskChildren(TvItem* item) {
        TVITEMW tv{};
        tv.mask = TVIF_CHILDREN;
        AskDispInfo(item, tv);
        return tv.cChildren;
    }

    std::u16string TextOf(TvItem* item) {
        if (!item->textCallback)
            return item->text;
        WCHAR buffer[MAX_PATH + 1] = {};
        TVITEMW tv{};
        tv.mask = TVIF_TEXT;
        tv.pszText = buffer;
        tv.cchTextMax = MAX_PATH + 1;
        AskDispInfo(item, tv);
        return buffer;
    }

    // ---- Items ----

    HTREEITEM Insert(const TVINSERTSTRUCTW* ins) {
        if (!ins)
            return nullptr;
        TvItem* parent = FindOrRoot(ins->hParent);
        if (!parent)
            return nullptr;
        auto owned = std::make_unique<TvItem>();
        TvItem* item = owned.get();
        const TVITEMW& tv = ins->item;
        if (tv.mask & TVIF_TEXT) {
            if (tv.pszText == LPSTR_TEXTCALLBACKW)
                item->textCallback = true;
            else
                item->text = controls::TextOf(tv.pszText);
        }
        if (tv.mask & TVIF_IMAGE)
            item->image = tv.iImage;
        if (tv.mask & TVIF_SELECTEDIMAGE)
            item->selectedImage = tv.iSelectedImage;
        if (tv.mask & TVIF_STATE)
            item->state = tv.state & tv.stateMask & ~(TVIS_SELECTED);
        if (tv.mask & TVIF_CHILDREN)
            item->cChildren = tv.cChildren;
        if (tv.mask & TVIF_PARAM)
            item->param = tv.lParam;
        if (tv.mask & TVIF_INTEGRAL)
            item->integral = std::max(1, ins->itemex.iIntegral);
        if ((Style() & TVS_CHECKBOXES) && (item->state & TVIS_STATEIMAGEMASK) == 0)
            item->state |= INDEXTOSTATEIMAGEMASK(1);

        auto& list = parent->children;
        size_t pos = list.size();
        if (ins->hInsertAfter == TVI_FIRST) {
            pos = 0;
        } else if (ins->hInsertAfter == TVI_SORT) {
            if (!item->textCallback) {
                pos = 0;
                while (pos < list.size() && lstrcmpiW(TextOf(list[pos]).c_str(), item->text.c_str()) <= 0)
                    ++pos;
            }
        } else if (ins->hInsertAfter && ins->hInsertAfter != TVI_LAST) {
            TvItem* after = Find(ins->hInsertAfter);
            if (after && after->parent == parent) {
                const size_t index = IndexOf(list, after);
                if (index < list.size())
                    pos = index + 1;
            }
        }
        item->parent = parent;
        item->handle = reinterpret_cast<HTREEITEM>(nextHandle);
        nextHandle += 0x10;
        list.insert(list.begin() + static_cast<long>(pos), item);
        item->slot = pos;
        items.emplace(reinterpret_cast<uintptr_t>(item->handle), std::move(owned));
        Invalidate();
        return item->handle;
    }

    bool Contains(TvItem* ancestor, TvItem* item) const {
        for (TvItem* p = item; p; p = p->parent)
            if (p == ancestor)
                return true;
        return false;
    }

    // Deletes the item's children and then the item, notifying each.
    void DeleteRecursive(TvItem* item) {
        while (!item->children.empty())
            DeleteRecursive(item->children.front());
        if (Find(item->handle) != item)
            return;
        NotifyTree(TVN_DELETEITEMW, 0, item, nullptr);
        // The handler may have deleted children it was told about; detach whatever is left.
        while (!item->children.empty())
            DeleteRecursive(item->children.front());
        if (caret == item)
            caret = nullptr;
        if (dropHilite == item)
            dropHilite = nullptr;
        auto& list = item->parent->children;
        // Children go first to last: the first one needs no search.
        const size_t index = !list.empty() && list.front() == item ? 0 : IndexOf(list, item);
        if (index < list.size())
            list.erase(list.begin() + static_cast<long>(index));
        items.erase(reinterpret_cast<uintptr_t>(item->handle));
    }

    BOOL Delete(HTREEITEM h) {
        TvItem* item = FindOrRoot(h);
        if (!item)
            return FALSE;
        if (item == &root) {
            while (!root.children.empty())
                DeleteRecursive(root.children.front());
            caret = nullptr;
            topIndex = 0;
            Invalidate();
            return TRUE;
        }
        // Deleting the selection (or a branch that holds it) moves the selection to a neighbour.
        TvItem* replacement = nullptr;
        const bool hadCaret = caret && Contains(item, caret);
        if (hadCaret && !destroying) {
            replacement = Sibling(item, 1);
            if (!replacement)
                replacement = Sibling(item, -1);
            if (!replacement && item->parent != &root)
                replacement = item->parent;
        }
        TvItem* parent = item->parent;
        DeleteRecursive(item);
        if (parent != &root && parent->children.empty() && parent->cChildren == kChildrenUnset)
            parent->state &= ~TVIS_EXPANDED;
        if (hadCaret && replacement && Find(replacement->handle) == replacement)
            Select(replacement, TVC_UNKNOWN, true);
        ClampTop();
        Invalidate();
        return TRUE;
    }

    BOOL GetItem(TVITEMW* tv) {
        if (!tv)
            return FALSE;
        TvItem* item = Find(tv->hItem);
        if (!item)
            return FALSE;
        const UINT mask = tv->mask;
        TVITEMW ask{};
        if (mask & TVIF_TEXT) {
            if (item->textCallback) {
                if (tv->pszText && tv->cchTextMax > 0) {
                    ask.mask |= TVIF_TEXT;
                    ask.pszText = tv->pszText;
                    ask.cchTextMax = tv->cchTextMax;
                }
            } else {
                CopyOut(item->text, tv->pszText, tv->cchTextMax);
            }
        }
        if (mask & TVIF_IMAGE) {
            tv->iImage = item->image;
            if (item->image == I_IMAGECALLBACK)
                ask.mask |= TVIF_IMAGE;
        }
        if (mask & TVIF_SELECTEDIMAGE) {
            tv->iSelectedImage = item->selectedImage;
            if (item->selectedImage == I_IMAGECALLBACK)
                ask.mask |= TVIF_SELECTEDIMAGE;
        }
        if (mask & TVIF_CHILDREN) {
            if (item->cChildren == I_CHILDRENCALLBACK)
                ask.mask |= TVIF_CHILDREN;
            else
                tv->cChildren = item->cChildren == kChildrenUnset ? (item->children.empty() ? 0 : 1) : item->cChildren;
        }
        if (mask & TVIF_STATE)
            tv->state = item->state;
        if (mask & TVIF_PARAM)
            tv->lParam = item->param;
        if (ask.mask) {
            AskDispInfo(item, ask);
            if (ask.mask & TVIF_IMAGE)
                tv->iImage = ask.iImage;
            if (ask.mask & TVIF_SELECTEDIMAGE)
                tv->iSelectedImage = ask.iSelectedImage;
            if (ask.mask & TVIF_CHILDREN)
                tv->cChildren = ask.cChildren;
        }
        return TRUE;
    }

    BOOL SetItem(const TVITEMW* tv) {
        if (!tv)
            return FALSE;
        TvItem* item = Find(tv->hItem);
        if (!item)
            return FALSE;
        if (tv->mask & TVIF_TEXT) {
            item->textCallback = tv->pszText == LPSTR_TEXTCALLBACKW;
            item->text = item->textCallback ? std::u16string() : controls::TextOf(tv->pszText);
            item->measuredWidth = -1;
        }
        if (tv->mask & TVIF_IMAGE)
            item->image = tv->iImage;
        if (tv->mask & TVIF_SELECTEDIMAGE)
            item->selectedImage = tv->iSelectedImage;
        if (tv->mask & TVIF_STATE)
            item->state = (item->state & ~tv->stateMask) | (tv->state & tv->stateMask);
        if (tv->mask & TVIF_CHILDREN)
            item->cChildren = tv->cChildren;
        if (tv->mask & TVIF_PARAM)
            item->param = tv->lParam;
        Invalidate();
        return TRUE;
    }

    // ---- Navigation ----

    HTREEITEM Next(UINT code, HTREEITEM h) {
        auto handle = [](TvItem* i) { return i ? i->handle : nullptr; };
        switch (code) {
        case TVGN_ROOT:
            return root.children.empty() ? nullptr : root.children.front()->handle;
        case TVGN_CARET:
            return handle(caret);
        case TVGN_DROPHILITE:
            return handle(dropHilite);
        case TVGN_CHILD: {
            TvItem* item = FindOrRoot(h);
            return item && !item->children.empty() ? item->children.front()->handle : nullptr;
        }
        case TVGN_FIRSTVISIBLE: {
            auto vis = VisibleItems();
            return topIndex < static_cast<int>(vis.size()) ? vis[static_cast<size_t>(topIndex)]->handle : nullptr;
        }
        case TVGN_LASTVISIBLE: {
            auto vis = VisibleItems();
            return vis.empty() ? nullptr : vis.back()->handle;
        }
        default:
            break;
        }
        TvItem* item = Find(h);
        if (!item)
            return nullptr;
        switch (code) {
        case TVGN_NEXT:
            return handle(Sibling(item, 1));
        case TVGN_PREVIOUS:
            return handle(Sibling(item, -1));
        case TVGN_PARENT:
            return item->parent == &root ? nullptr : item->parent->handle;
        case TVGN_NEXTVISIBLE:
        case TVGN_PREVIOUSVISIBLE: {
            if (!IsShown(item))
                return nullptr;
            auto vis = VisibleItems();
            auto it = std::find(vis.begin(), vis.end(), item);
            if (code == TVGN_NEXTVISIBLE)
                return (it == vis.end() || it + 1 == vis.end()) ? nullptr : (*(it + 1))->handle;
            return (it == vis.begin() || it == vis.end()) ? nullptr : (*(it - 1))->handle;
        }
        default:
            return nullptr;
        }
    }

    // ---- Expanding ----

    // user: the change comes from the mouse or the keyboard, which always notifies.
    BOOL Expand(TvItem* item, UINT code, bool user) {
        if (!item || item == &root)
            return FALSE;
        UINT action = code & 0x3;
        if (action == TVE_TOGGLE)
            action = (item->state & TVIS_EXPANDED) ? TVE_COLLAPSE : TVE_EXPAND;
        if (action == TVE_EXPAND) {
            if (item->state & TVIS_EXPANDED)
                return TRUE;
            if (!HasChildrenAnswer(item))
                return FALSE;
            const bool notify = user || !(item->state & TVIS_EXPANDEDONCE);
            if (notify && NotifyTree(TVN_ITEMEXPANDINGW, TVE_EXPAND, nullptr, item))
                return FALSE;
            if (Find(item->handle) != item)
                return FALSE;
            item->state |= TVIS_EXPANDED | TVIS_EXPANDEDONCE;
            if (notify)
                NotifyTree(TVN_ITEMEXPANDEDW, TVE_EXPAND, nullptr, item);
            Invalidate();
            return TRUE;
        }
        if (action != TVE_COLLAPSE)
            return FALSE;
        const bool reset = (code & TVE_COLLAPSERESET) != 0;
        if (!(item->state & TVIS_EXPANDED) && !reset)
            return FALSE;
        const bool wasExpanded = (item->state & TVIS_EXPANDED) != 0;
        const bool notify = wasExpanded && (user || !(item->state & TVIS_EXPANDEDONCE) || reset);
        if (notify && NotifyTree(TVN_ITEMEXPANDINGW, TVE_COLLAPSE, nullptr, item))
            return FALSE;
        if (Find(item->handle) != item)
            return FALSE;
        item->state &= ~TVIS_EXPANDED;
        // A selection inside the collapsed branch moves to the item.
        if (caret && caret != item && Contains(item, caret))
            Select(item, user ? TVC_BYMOUSE : TVC_UNKNOWN, true);
        if (reset) {
            item->state &= ~TVIS_EXPANDEDONCE;
            while (!item->children.empty())
                DeleteRecursive(item->children.front());
        }
        if (notify)
            NotifyTree(TVN_ITEMEXPANDEDW, TVE_COLLAPSE, nullptr, item);
        ClampTop();
        Invalidate();
        return TRUE;
    }

    // ---- Selection and scrolling ----

    BOOL Select(TvItem* item, UINT cause, bool force = false) {
        if (item == caret)
            return TRUE;
        TvItem* old = caret;
        // The owner's handlers may delete items: both are looked up again by handle after each notice.
        const HTREEITEM handle = item ? item->handle : nullptr;
        const HTREEITEM oldHandle = old ? old->handle : nullptr;
        if (NotifyTree(TVN_SELCHANGINGW, cause, old, item) && !force)
            return FALSE;
        if (item && !(item = Find(handle)))
            return FALSE;
        old = Find(oldHandle);
        if (old)
            old->state &= ~TVIS_SELECTED;
        caret = item;
        if (item) {
            item->state |= TVIS_SELECTED;
            EnsureVisible(item);
            // Deleted while its parent opened: its deletion has already moved the selection and said so.
            item = Find(handle);
            if (!item)
                return FALSE;
        }
        if (old && Find(oldHandle) != old)
            old = nullptr;
        NotifyTree(TVN_SELCHANGEDW, cause, old, item);
        Invalidate();
        return TRUE;
    }

    void ClampTop() { ClampTop(static_cast<int>(VisibleItems().size())); }
    void ClampTop(int count) {
        const int page = std::max(1, VisibleCount());
        topIndex = std::clamp(topIndex, 0, std::max(0, count - page));
    }

    // Width of the widest visible row, unscrolled.
    int ContentWidth() { return ContentWidth(VisibleItems()); }
    int ContentWidth(const std::vector<TvItem*>& visible) {
        int width = 0;
        const RowMetrics metrics = Metrics();
        // The labels not measured yet (a folder's thousands of new rows) are measured with one device context.
        LabelMeasure measure(font);
        LabelMeasure* const outer = std::exchange(measuring, &measure);
        for (TvItem* item : visible)
            width = std::max(width, Layout(item, metrics).labelRight + xOffset);
        measuring = outer;
        return width;
    }

    void ClampOffset() { ClampOffset(ContentWidth()); }
    void ClampOffset(int contentWidth) {
        RECT client{};
        GetClientRect(hwnd, &client);
        xOffset = std::clamp(xOffset, 0, std::max(0, contentWidth - static_cast<int>(client.right)));
    }

    // Tells the standard scroll bars what the tree shows, when that changed since they were last told (so a position
    // set on the scroll bar alone stays until the tree scrolls).
    void SyncScrollBars() {
        if (Style() & TVS_NOSCROLL)
            return;
        for (int pass = 0; pass < 2; ++pass) {
            RECT client{};
            GetClientRect(hwnd, &client);
            // The rows and the widest of them, looked at once for the pass (a folder may show thousands).
            const std::vector<TvItem*> visible = VisibleItems();
            const std::array<int, 6> now{
                static_cast<int>(visible.size()), VisibleCount(), topIndex, ContentWidth(visible),
                static_cast<int>(client.right),   xOffset};
            if (now == scrollShown)
                return;
            scrollShown = now;
            SCROLLINFO si{sizeof si,
                          SIF_RANGE | SIF_PAGE | SIF_POS,
                          0,
                          std::max(0, now[0] - 1),
                          static_cast<UINT>(now[1]),
                          now[2],
                          0};
            SetScrollInfo(hwnd, SB_VERT, &si, FALSE);
            if (!(Style() & TVS_NOHSCROLL)) {
                si = SCROLLINFO{sizeof si,
                                SIF_RANGE | SIF_PAGE | SIF_POS,
                                0,
                                std::max(0, now[3] - 1),
                                static_cast<UINT>(now[4]),
                                now[5],
                                0};
                SetScrollInfo(hwnd, SB_HORZ, &si, FALSE);
            }
            // Showing or hiding a scroll bar changes the client area, and so the page.
            ClampTop(now[0]);
            ClampOffset(now[3]);
        }
    }

    BOOL EnsureVisible(TvItem* item) {
        bool expanded = false;
        // The owner may delete items while a parent expands: the chain and the item are looked up by handle.
        const HTREEITEM handle = item->handle;
        std::vector<HTREEITEM> chain;
        for (TvItem* p = item->parent; p && p != &root; p = p->parent)
            chain.push_back(p->handle);
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            TvItem* parent = Find(*it);
            if (!parent)
                return FALSE;
            if (!(parent->state & TVIS_EXPANDED)) {
                Expand(parent, TVE_EXPAND, false);
                expanded = true;
            }
        }
        item = Find(handle);
        if (!item)
            return FALSE;
        auto vis = VisibleItems();
        auto it = std::find(vis.begin(), vis.end(), item);
        if (it == vis.end())
            return FALSE;
        const int row = static_cast<int>(it - vis.begin());
        const int page = std::max(1, VisibleCount());
        bool scrolled = false;
        if (row < topIndex) {
            topIndex = row;
            scrolled = true;
        } else if (row >= topIndex + page) {
            topIndex = row - page + 1;
            scrolled = true;
        }
        return scrolled && !expanded;
    }

    // ---- Geometry ----

    struct Parts {
        int buttonLeft = 0, stateLeft = 0, iconLeft = 0, labelLeft = 0, labelRight = 0;
        bool hasButton = false;
    };

    int Measure(const std::u16string& text) { return measuring ? measuring->Width(text) : MeasureLabel(font, text); }

    int LabelWidth(TvItem* item) {
        if (!item->textCallback) {
            // A text of the item's own is measured again whenever it is set.
            if (item->measuredWidth < 0 || item->measuredFont != font) {
                item->measuredWidth = Measure(item->text);
                item->measuredFont = font;
                item->measuredText.clear();
            }
            return item->measuredWidth;
        }
        std::u16string text = TextOf(item);
        if (item->measuredWidth < 0 || item->measuredFont != font || item->measuredText != text) {
            item->measuredWidth = Measure(text);
            item->measuredFont = font;
            item->measuredText = std::move(text);
        }
        return item->measuredWidth;
    }

    // What the geometry of every row shares: the style and the widths of the two images.
    struct RowMetrics {
        DWORD style = 0;
        bool haveState = false;
        int stateWidth = 0;
        bool haveImage = false;
        int imageWidth = 0;
    };

    RowMetrics Metrics() {
        RowMetrics m;
        m.style = Style();
        int cx = 0, cy = 0;
        if (stateList && ImageList_GetIconSize(stateList, &cx, &cy)) {
            m.haveState = true;
            m.stateWidth = cx;
        }
        if (normal && ImageList_GetIconSize(normal, &cx, &cy)) {
            m.haveImage = true;
            m.imageWidth = cx;
        }
        return m;
    }

    Parts Layout(TvItem* item) { return Layout(item, Metrics()); }

    Parts Layout(TvItem* item, const RowMetrics& m) {
        Parts p;
        const DWORD style = m.style;
        int level = Depth(item);
        if ((style & TVS_LINESATROOT) && (style & (TVS_HASLINES | TVS_HASBUTTONS)))
            ++level;
        p.stateLeft = level * indent;
        p.buttonLeft = p.stateLeft - indent;
        p.hasButton = (style & TVS_HASBUTTONS) && p.buttonLeft >= 0;
        int x = p.stateLeft;
        if (m.haveState && (item->state & TVIS_STATEIMAGEMASK))
            x += m.stateWidth;
        p.iconLeft = x;
        if (m.haveImage)
            x += m.imageWidth + 3;
        p.labelLeft = x;
        p.labelRight = x + LabelWidth(item);
        for (int* edge : {&p.buttonLeft, &p.stateLeft, &p.iconLeft, &p.labelLeft, &p.labelRight})
            *edge -= xOffset;
        return p;
    }

    int RowOf(TvItem* item) {
        auto vis = VisibleItems();
        auto it = std::find(vis.begin(), vis.end(), item);
        return it == vis.end() ? -1 : static_cast<int>(it - vis.begin());
    }

    BOOL ItemRect(BOOL textOnly, RECT* rc) {
        if (!rc)
            return FALSE;
        // The rectangle's storage carries the item on the way in.
        HTREEITEM handle;
        memcpy(&handle, rc, sizeof(handle));
        TvItem* item = Find(handle);
        if (!item)
            return FALSE;
        const int row = RowOf(item);
        if (row < 0)
            return FALSE;
        RECT client{};
        GetClientRect(hwnd, &client);
        const int h = RowHeight();
        const int top = (row - topIndex) * h;
        if (textOnly) {
            const Parts p = Layout(item);
            *rc = RECT{p.labelLeft, top, p.labelRight, top + h};
        } else {
            *rc = RECT{0, top, client.right, top + h};
        }
        return TRUE;
    }

    HTREEITEM HitTest(TVHITTESTINFO* info) {
        if (!info)
            return nullptr;
        RECT client{};
        GetClientRect(hwnd, &client);
        const POINT pt = info->pt;
        info->hItem = nullptr;
        info->flags = 0;
        if (pt.x < 0)
            info->flags |= TVHT_TOLEFT;
        else if (pt.x >= client.right)
            info->flags |= TVHT_TORIGHT;
        if (pt.y < 0)
            info->flags |= TVHT_ABOVE;
        else if (pt.y >= client.bottom)
            info->flags |= TVHT_BELOW;
        if (info->flags)
            return nullptr;
        auto vis = VisibleItems();
        const int row = topIndex + pt.y / RowHeight();
        if (row >= static_cast<int>(vis.size())) {
            info->flags = TVHT_NOWHERE;
            return nullptr;
        }
        TvItem* item = vis[static_cast<size_t>(row)];
        const Parts p = Layout(item);
        info->hItem = item->handle;
        if (pt.x >= p.labelRight)
            info->flags = TVHT_ONITEMRIGHT;
        else if (pt.x >= p.labelLeft)
            info->flags = TVHT_ONITEMLABEL;
        else if (pt.x >= p.iconLeft && p.labelLeft > p.iconLeft)
            info->flags = TVHT_ONITEMICON;
        else if (pt.x >= p.stateLeft && p.iconLeft > p.stateLeft)
            info->flags = TVHT_ONITEMSTATEICON;
        else if (p.hasButton && pt.x >= p.buttonLeft && pt.x < p.stateLeft && HasButton(item))
            info->flags = TVHT_ONITEMBUTTON;
        else
            info->flags = TVHT_ONITEMINDENT;
        return item->handle;
    }

    bool HasButton(TvItem* item) {
        return item->cChildren == kChildrenUnset ? !item->children.empty() : item->cChildren != 0;
    }

    // ---- Sorting ----

    void SortLevel(TvItem* parent, bool recurse, const std::function<int(TvItem*, TvItem*)>& compare) {
        std::vector<TvItem*> list = parent->children;
        const auto less = [&](TvItem* a, TvItem* b) { return compare(a, b) < 0; };
        // Children that came in order (a folder's listing mostly does) are left as they are: one comparison each.
        if (!std::is_sorted(list.begin(), list.end(), less)) {
            std::stable_sort(list.begin(), list.end(), less);
            // The comparison may have called back into the tree; keep only items that still belong here.
            if (list.size() == parent->children.size())
                parent->children = list;
        }
        if (recurse)
            for (TvItem* c : std::vector<TvItem*>(parent->children))
                SortLevel(c, true, compare);
        Invalidate();
    }

    // ---- Input ----

    UINT StateImageCount() { return stateList ? static_cast<UINT>(ImageList_GetImageCount(stateList)) : 0; }

    void ToggleStateImage(TvItem* item) {
        const UINT count = StateImageCount();
        UINT index = STATEIMAGEMASKTOINDEX(item->state) + 1;
        if (count < 2 || index >= count)
            index = 1;
        item->state = (item->state & ~TVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(index);
        Invalidate();
    }

    void ButtonDown(LPARAM lParam, bool right, bool doubleClick) {
        SetFocus(hwnd);
        TVHITTESTINFO hit{};
        hit.pt = PointFromLParam(lParam);
        HitTest(&hit);
        TvItem* item = Find(hit.hItem);
        if (right) {
            if (NotifySimple(hwnd, NM_RCLICK) == 0) {
                POINT screen = hit.pt;
                ClientToScreen(hwnd, &screen);
                SendMessageW(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd), MAKELPARAM(screen.x, screen.y));
            }
            return;
        }
        if (doubleClick) {
            if (NotifySimple(hwnd, NM_DBLCLK) == 0 && item && (hit.flags & (TVHT_ONITEMLABEL | TVHT_ONITEMICON)))
                Expand(item, TVE_TOGGLE, true);
            return;
        }
        if (item && (hit.flags & TVHT_ONITEMBUTTON)) {
            Expand(item, TVE_TOGGLE, true);
            return;
        }
        if (item && (hit.flags & TVHT_ONITEMSTATEICON)) {
            if (NotifySimple(hwnd, NM_CLICK) == 0 && (Style() & TVS_CHECKBOXES) && Find(hit.hItem) == item)
                ToggleStateImage(item);
            return;
        }
        const bool fullRow = (Style() & TVS_FULLROWSELECT) && (hit.flags & TVHT_ONITEMRIGHT);
        if (item && ((hit.flags & (TVHT_ONITEMLABEL | TVHT_ONITEMICON)) || fullRow))
            Select(item, TVC_BYMOUSE);
        NotifySimple(hwnd, NM_CLICK);
    }

    void KeyDown(WPARAM key) {
        NMTVKEYDOWN nm{};
        nm.wVKey = static_cast<WORD>(key);
        Notify(hwnd, nm.hdr, TVN_KEYDOWN);
        auto vis = VisibleItems();
        if (vis.empty())
            return;
        TvItem* cur = caret;
        auto it = cur ? std::find(vis.begin(), vis.end(), cur) : vis.end();
        const int row = it == vis.end() ? -1 : static_cast<int>(it - vis.begin());
        auto selectRow = [&](int r) {
            r = std::clamp(r, 0, static_cast<int>(vis.size()) - 1);
            Select(vis[static_cast<size_t>(r)], TVC_BYKEYBOARD);
        };
        switch (static_cast<int>(key)) {
        case VK_DOWN:
            selectRow(row + 1);
            break;
        case VK_UP:
            selectRow(row < 0 ? 0 : row - 1);
            break;
        case VK_HOME:
            selectRow(0);
            break;
        case VK_END:
            selectRow(static_cast<int>(vis.size()) - 1);
            break;
        case VK_LEFT:
            if (cur && (cur->state & TVIS_EXPANDED))
                Expand(cur, TVE_COLLAPSE, true);
            else if (cur && cur->parent != &root)
                Select(cur->parent, TVC_BYKEYBOARD);
            break;
        case VK_RIGHT:
            if (cur && !(cur->state & TVIS_EXPANDED))
                Expand(cur, TVE_EXPAND, true);
            else if (cur && !cur->children.empty())
                Select(cur->children.front(), TVC_BYKEYBOARD);
            break;
        case kVkAdd:
            if (cur)
                Expand(cur, TVE_EXPAND, true);
            break;
        case kVkSubtract:
            if (cur)
                Expand(cur, TVE_COLLAPSE, true);
            break;
        case VK_SPACE:
            if (cur && (Style() & TVS_CHECKBOXES))
                ToggleStateImage(cur);
            break;
        case VK_RETURN:
            NotifySimple(hwnd, NM_RETURN);
            break;
        default:
            break;
        }
    }

    HIMAGELIST SetImageList(WPARAM which, HIMAGELIST list) {
        HIMAGELIST old = nullptr;
        if (which == TVSIL_NORMAL) {
            old = normal;
            normal = list;
        } else if (which == TVSIL_STATE) {
            old = stateList;
            if (ownStateList && old && old != list) {
                ImageList_Destroy(old);
                old = nullptr;
            }
            ownStateList = false;
            stateList = list;
        }
        Invalidate();
        return old;
    }

    // ---- Painting ----

    void Paint(WPARAM wParam) {
        ControlPaint paint(hwnd, wParam);
        HDC dc = paint.dc();
        if (!dc)
            return;
        paint.UseFont(font);
        RECT client{};
        GetClientRect(hwnd, &client);
        FillColor(dc, client, ColorOr(bk, COLOR_WINDOW));
        const auto vis = VisibleItems();
        const int h = RowHeight();
        const bool showSelection = (Style() & TVS_SHOWSELALWAYS) || GetFocus() == hwnd;
        for (int row = topIndex; row < static_cast<int>(vis.size()); ++row) {
            const int top = (row - topIndex) * h;
            if (top >= client.bottom)
                break;
            TvItem* item = vis[static_cast<size_t>(row)];
            const Parts p = Layout(item);
            if (p.hasButton && HasButton(item)) {
                // A 9 x 9 box with a minus, and a plus when collapsed.
                const int cx = p.buttonLeft + indent / 2, cy = top + h / 2;
                HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
                HGDIOBJ oldPen = SelectObject(dc, pen);
                HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
                Rectangle(dc, cx - 4, cy - 4, cx + 5, cy + 5);
                SelectObject(dc, GetStockObject(BLACK_PEN));
                MoveToEx(dc, cx - 2, cy, nullptr);
                LineTo(dc, cx + 3, cy);
                if (!(item->state & TVIS_EXPANDED)) {
                    MoveToEx(dc, cx, cy - 2, nullptr);
                    LineTo(dc, cx, cy + 3);
                }
                SelectObject(dc, oldBrush);
                SelectObject(dc, oldPen);
                DeleteObject(pen);
            }
            int cx = 0, cy = 0;
            const UINT stateIndex = STATEIMAGEMASKTOINDEX(item->state);
            if (stateList && stateIndex && ImageList_GetIconSize(stateList, &cx, &cy))
                ImageList_Draw(stateList, static_cast<int>(stateIndex), dc, p.stateLeft, top + (h - cy) / 2,
                               ILD_TRANSPARENT);
            if (normal && ImageList_GetIconSize(normal, &cx, &cy)) {
                TVITEMW tv{};
                tv.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
                tv.hItem = item->handle;
                GetItem(&tv);
                const int image = (item->state & TVIS_SELECTED) ? tv.iSelectedImage : tv.iImage;
                if (image >= 0)
                    ImageList_Draw(normal, image, dc, p.iconLeft, top + (h - cy) / 2, ILD_TRANSPARENT);
            }
            const RECT label{p.labelLeft, top, p.labelRight, top + h};
            const bool selected = (item == caret && showSelection) || item == dropHilite;
            if (selected)
                FillColor(dc, label, GetSysColor(COLOR_HIGHLIGHT));
            DrawLabel(dc, TextOf(item), label,
                      selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : ColorOr(textColor, COLOR_WINDOWTEXT));
        }
    }

    void EnsureCheckBoxImages() {
        if ((Style() & TVS_CHECKBOXES) && !stateList) {
            stateList = CreateCheckBoxImages();
            ownStateList = true;
        }
    }
};

LRESULT CALLBACK TreeViewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        TreeView* tv = CreateState<TreeView>(hwnd);
        tv->hwnd = hwnd;
        SetScrollSync(hwnd, [](HWND h) {
            if (TreeView* t = StateOf<TreeView>(h))
                t->SyncScrollBars();
        });
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    TreeView* tv = StateOf<TreeView>(hwnd);
    if (!tv)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (msg) {
    case WM_CREATE:
        tv->EnsureCheckBoxImages();
        return 0;
    case WM_DESTROY:
        tv->destroying = true;
        tv->Delete(TVI_ROOT);
        return 0;
    case WM_NCDESTROY:
        if (tv->ownStateList && tv->stateList)
            ImageList_Destroy(tv->stateList);
        DestroyState<TreeView>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_STYLECHANGED:
        tv->EnsureCheckBoxImages();
        return 0;
    case WM_GETDLGCODE:
        return kDlgcWantArrows | kDlgcWantChars;
    case WM_PAINT:
    case WM_PRINTCLIENT:
        tv->Paint(wParam);
        return 0;
    case WM_ERASEBKGND:
        return 1; // painting fills the background
    case WM_SETREDRAW:
        tv->redraw = wParam != 0;
        if (tv->redraw && tv->changedWhileHeld) {
            tv->changedWhileHeld = false;
            InvalidateRect(hwnd, nullptr, TRUE);
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_SETFONT:
        tv->font = reinterpret_cast<HFONT>(wParam);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(tv->font);
    case WM_SIZE:
        tv->ClampTop();
        tv->ClampOffset();
        return 0;
    case WM_HSCROLL: {
        RECT client{};
        GetClientRect(hwnd, &client);
        const int page = std::max(1, static_cast<int>(client.right));
        switch (LOWORD(wParam)) {
        case SB_LINELEFT:
            tv->xOffset -= kCharWidth;
            break;
        case SB_LINERIGHT:
            tv->xOffset += kCharWidth;
            break;
        case SB_PAGELEFT:
            tv->xOffset -= page;
            break;
        case SB_PAGERIGHT:
            tv->xOffset += page;
            break;
        case SB_THUMBPOSITION:
        case SB_THUMBTRACK:
            tv->xOffset = HIWORD(wParam);
            break;
        case SB_LEFT:
            tv->xOffset = 0;
            break;
        case SB_RIGHT:
            tv->xOffset = tv->ContentWidth();
            break;
        default:
            return 0;
        }
        tv->ClampOffset();
        tv->Invalidate();
        return 0;
    }
    case WM_LBUTTONDOWN:
        tv->ButtonDown(lParam, false, false);
        return 0;
    case WM_LBUTTONDBLCLK:
        tv->ButtonDown(lParam, false, true);
        return 0;
    case WM_RBUTTONDOWN:
        tv->ButtonDown(lParam, true, false);
        return 0;
    case WM_KEYDOWN:
        tv->KeyDown(wParam);
        return 0;
    case WM_VSCROLL: {
        const int page = std::max(1, tv->VisibleCount());
        switch (LOWORD(wParam)) {
        case 0: // SB_LINEUP
            --tv->topIndex;
            break;
        case 1: // SB_LINEDOWN
            ++tv->topIndex;
            break;
        case 2: // SB_PAGEUP
            tv->topIndex -= page;
            break;
        case 3: // SB_PAGEDOWN
            tv->topIndex += page;
            break;
        case 4: // SB_THUMBPOSITION
        case 5: // SB_THUMBTRACK
            tv->topIndex = HIWORD(wParam);
            break;
        case 6: // SB_TOP
            tv->topIndex = 0;
            break;
        case 7: // SB_BOTTOM
            tv->topIndex = static_cast<int>(tv->items.size());
            break;
        default:
            return 0;
        }
        tv->ClampTop();
        tv->Invalidate();
        return 0;
    }
    case WM_SETFOCUS:
        NotifySimple(hwnd, NM_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        NotifySimple(hwnd, NM_KILLFOCUS);
        return 0;

    case TVM_INSERTITEMW:
        return reinterpret_cast<LRESULT>(tv->Insert(reinterpret_cast<const TVINSERTSTRUCTW*>(lParam)));
    case TVM_DELETEITEM:
        return tv->Delete(reinterpret_cast<HTREEITEM>(lParam));
    case TVM_GETITEMW:
        return tv->GetItem(reinterpret_cast<TVITEMW*>(lParam));
    case TVM_SETITEMW:
        return tv->SetItem(reinterpret_cast<const TVITEMW*>(lParam));
    case TVM_GETITEMSTATE: {
        TvItem* item = tv->Find(reinterpret_cast<HTREEITEM>(wParam));
        return item ? static_cast<LRESULT>(item->state & static_cast<UINT>(lParam)) : 0;
    }
    case TVM_GETNEXTITEM:
        return reinterpret_cast<LRESULT>(tv->Next(static_cast<UINT>(wParam), reinterpret_cast<HTREEITEM>(lParam)));
    case TVM_GETCOUNT:
        return static_cast<LRESULT>(tv->items.size());
    case TVM_EXPAND:
        return tv->Expand(tv->Find(reinterpret_cast<HTREEITEM>(lParam)), static_cast<UINT>(wParam), false);
    case TVM_SELECTITEM: {
        HTREEITEM h = reinterpret_cast<HTREEITEM>(lParam);
        TvItem* item = tv->Find(h);
        if (h && !item)
            return FALSE;
        switch (wParam & 0xFF) {
        case TVGN_CARET:
            return tv->Select(item, TVC_UNKNOWN);
        case TVGN_DROPHILITE:
            if (tv->dropHilite)
                tv->dropHilite->state &= ~TVIS_DROPHILITED;
            tv->dropHilite = item;
            if (item)
                item->state |= TVIS_DROPHILITED;
            tv->Invalidate();
            return TRUE;
        case TVGN_FIRSTVISIBLE: {
            if (!item)
                return FALSE;
            tv->EnsureVisible(item);
            const int row = tv->RowOf(item);
            if (row < 0)
                return FALSE;
            tv->topIndex = row;
            tv->ClampTop();
            tv->Invalidate();
            return TRUE;
        }
        default:
            return FALSE;
        }
    }
    case TVM_ENSUREVISIBLE: {
        TvItem* item = tv->Find(reinterpret_cast<HTREEITEM>(lParam));
        return item ? tv->EnsureVisible(item) : FALSE;
    }
    case TVM_GETITEMRECT:
        return tv->ItemRect(static_cast<BOOL>(wParam), reinterpret_cast<RECT*>(lParam));
    case TVM_HITTEST:
        return reinterpret_cast<LRESULT>(tv->HitTest(reinterpret_cast<TVHITTESTINFO*>(lParam)));
    case TVM_SORTCHILDREN: {
        TvItem* parent = tv->FindOrRoot(reinterpret_cast<HTREEITEM>(lParam));
        if (!parent)
            return FALSE;
        tv->SortLevel(parent, wParam != 0,
                      [tv](TvItem* a, TvItem* b) { return lstrcmpiW(tv->TextOf(a).c_str(), tv->TextOf(b).c_str()); });
        return TRUE;
    }
    case TVM_SORTCHILDRENCB: {
        auto* sort = reinterpret_cast<const TVSORTCB*>(lParam);
        if (!sort || !sort->lpfnCompare)
            return FALSE;
        TvItem* parent = tv->FindOrRoot(sort->hParent);
        if (!parent)
            return FALSE;
        const TVSORTCB cb = *sort;
        tv->SortLevel(parent, wParam != 0,
                      [cb](TvItem* a, TvItem* b) { return cb.lpfnCompare(a->param, b->param, cb.lParam); });
        return TRUE;
    }
    case TVM_SETIMAGELIST:
        return reinterpret_cast<LRESULT>(tv->SetImageList(wParam, reinterpret_cast<HIMAGELIST>(lParam)));
    case TVM_GETIMAGELIST:
        return reinterpret_cast<LRESULT>(wParam == TVSIL_NORMAL  ? tv->normal
                                         : wParam == TVSIL_STATE ? tv->stateList
                                                                 : nullptr);
    case TVM_GETINDENT:
        return tv->indent;
    case TVM_SETINDENT:
        tv->indent = std::max(static_cast<int>(wParam), 0);
        tv->Invalidate();
        return 0;
    case TVM_GETVISIBLECOUNT:
        return tv->VisibleCount();
    case TVM_SETITEMHEIGHT: {
        const int old = tv->RowHeight();
        const int h = static_cast<int>(static_cast<SHORT>(LOWORD(wParam)));
        tv->itemHeight = h == -1 ? -1 : std::max(1, h);
        tv->Invalidate();
        return old;
    }
    case TVM_GETITEMHEIGHT:
        return tv->RowHeight();
    case TVM_SETBKCOLOR: {
        const COLORREF old = tv->bk;
        tv->bk = static_cast<COLORREF>(lParam);
        return static_cast<LRESULT>(old == CLR_DEFAULT ? static_cast<COLORREF>(-1) : old);
    }
    case TVM_GETBKCOLOR:
        return static_cast<LRESULT>(tv->bk == CLR_DEFAULT ? static_cast<COLORREF>(-1) : tv->bk);
    case TVM_SETTEXTCOLOR: {
        const COLORREF old = tv->textColor;
        tv->textColor = static_cast<COLORREF>(lParam);
        return static_cast<LRESULT>(old == CLR_DEFAULT ? static_cast<COLORREF>(-1) : old);
    }
    case TVM_GETTEXTCOLOR:
        return static_cast<LRESULT>(tv->textColor == CLR_DEFAULT ? static_cast<COLORREF>(-1) : tv->textColor);
    case TVM_SETLINECOLOR: {
        const COLORREF old = tv->lineColor;
        tv->lineColor = static_cast<COLORREF>(lParam);
        return static_cast<LRESULT>(old);
    }
    case TVM_GETLINECOLOR:
        return static_cast<LRESULT>(tv->lineColor);
    case TVM_GETEDITCONTROL:
    case TVM_EDITLABELW:
        return 0;
    case TVM_ENDEDITLABELNOW:
        return FALSE;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

void RegisterTreeView() {
    RegisterControlClass(WC_TREEVIEWW, TreeViewProc, CS_DBLCLKS);
}

} // namespace platform::ui::controls
