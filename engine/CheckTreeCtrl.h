// CCheckTreeCtrl: a tree-view control whose items carry a three-state check mark and whose children are loaded
// when an item is expanded, with a "Loading..." item and progress drawn by a loader thread meanwhile.
//
// Check states are the items' state images: 1 unchecked, 2 checked, 3 partly checked, 4 fixed (never toggled by a
// click, left out when a parent's state is worked out, never checked by a loaded selection or snapshot). A click on
// a state image checks or unchecks the item and everything below it (fixed items keep their state) and brings its
// ancestors up to date; the parent window then gets WM_TREE_CHECK_CHANGED.
//
// Expanding an item that can load children drops the children it had and loads them again (LoadChildren); the
// check marks of a partly checked item survive through a snapshot of its branch taken before and applied after.
// Snapshots grow as the branch needs (no fixed size), keep names with any characters, tell apart siblings that
// show the same text, and a line whose item has gone is passed over without losing the marks after it.
//
// GUI thread only, but for the loader thread, which only draws progress.
#pragma once

#include "platform/afx/ImageList.h"
#include "platform/afx/String.h"
#include "platform/afx/TreeCtrl.h"
#include "platform/base/unique_handle.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

constexpr UINT WM_TREE_CHECK_CHANGED = 0x0400 + 3110;

constexpr UINT kStateUnchecked = 0x1000;
constexpr UINT kStateChecked = 0x2000;
constexpr UINT kStatePartial = 0x3000;
constexpr UINT kStateFixed = 0x4000;

class CCheckTreeCtrl : public CTreeCtrl {
    DECLARE_DYNAMIC(CCheckTreeCtrl)
public:
    CCheckTreeCtrl();
    ~CCheckTreeCtrl() override;

    BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) override;

    virtual void OnLoadStart(HTREEITEM hPlaceholder);
    virtual void OnLoadStep(int nTimerTick, int nExpected, int nLoaded);
    virtual void OnLoadEnd();
    virtual BOOL CanLoadChildren(HTREEITEM hItem);
    virtual int LoadChildren(HTREEITEM hItem) = 0;

    BOOL SetStateImages(UINT nBitmapId);
    // The check state (0x1000 to 0x4000) of an item; 0 for none.
    UINT GetCheckState(HTREEITEM hItem) const;
    void SetCheckState(HTREEITEM hItem, UINT nState);
    void SetChildrenState(HTREEITEM hItem, UINT nState, UINT nMask = TVIS_STATEIMAGEMASK);
    void UpdateParentStates(HTREEITEM hItem, UINT nState, UINT nMask = TVIS_STATEIMAGEMASK);
    // The item checked or unchecked with everything below it and its ancestors brought up to date.
    void CheckBranch(HTREEITEM hItem, UINT nState);
    void SetAllStates(UINT nState);
    void ExpandAll(HTREEITEM hItem, UINT nCode);
    int GetItemDepth(HTREEITEM hItem) const;
    int GetDistance(HTREEITEM hAncestor, HTREEITEM hItem) const;
    void DeleteChildren(HTREEITEM hItem);

    int GetLoadCount(int* pnExpected) const;
    void SetLoadCount(int nExpected, int nLoaded);
    void AddLoadCount(int nCount);
    void SetAnimationPeriod(UINT nMilliseconds) { m_nPeriod = nMilliseconds; }
    void SetLoadingText(LPCTSTR lpszText, HICON hIcon);

    void BeginExpand(HTREEITEM hItem);
    void EndExpand(HTREEITEM hItem);
    void RefreshItem(HTREEITEM hItem);
    // The snapshot of an item's branch (nothing, and success, for an item that is not partly checked when asked
    // so). The size factor is kept for callers that retry with larger ones; the snapshot is never cut.
    BOOL TakeSnapshot(HTREEITEM hItem, BOOL bOnlyIfPartial, int nSizeFactor);
    void RestoreSnapshot(HTREEITEM hItem);
    BOOL HasSnapshot() const { return m_bSnapshot; }
    // Loads an item's children now when it has none yet (as a selection or a snapshot descends).
    void LoadChildrenIfNeeded(HTREEITEM hItem);
    void ExpandRootTree();

    // Tells the parent that check states changed.
    void NotifyCheckChanged();
    // Turns drawing of the tree off and on again (WM_SETREDRAW).
    void SetRedraw(BOOL bRedraw);

protected:
    LRESULT OnLButtonDownMsg(WPARAM wParam, LPARAM lParam);
    void OnItemExpanding(NMHDR* pNMHDR, LRESULT* pResult);
    void OnItemExpanded(NMHDR* pNMHDR, LRESULT* pResult);

    void StartLoading(HTREEITEM hPlaceholder);
    void StopLoading();
    void Freeze();
    void Unfreeze();
    void FinishLoad(HTREEITEM hItem, int nResult);

    // Members in the order of the control's data model.
    std::thread m_loader;
    platform::OwnedHandle m_hTimerEvent;
    platform::OwnedHandle m_hCountEvent;
    std::atomic<int> m_bStop{0};
    int m_bFrozen = 0;
    UINT m_nTimerId = 0;
    UINT m_nPeriod = 0;
    CString m_strLoading;
    HICON m_hLoadingIcon = nullptr;
    int m_bAnimate = 0;
    std::atomic<int> m_nLoaded{0};
    std::atomic<int> m_nExpected{0};
    ULONGLONG m_ullCountSignalled = 0; // when the count event was last signalled (layer clock, ms)
    HTREEITEM m_hPlaceholder = nullptr;
    HTREEITEM m_hExpanding = nullptr;
    std::u16string m_snapshot;
    bool m_bSnapshot = false;
    CImageList m_stateImages;
    int m_bEnsureVisible = 0;
    static inline int s_nEndExpand = 0;

    DECLARE_MESSAGE_MAP()

private:
    void SnapshotNode(HTREEITEM hItem, int nDepth, std::u16string& out) const;
    int OccurrenceOf(HTREEITEM hItem) const;
};
