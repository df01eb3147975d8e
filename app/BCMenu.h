// BCMenu: a menu that draws its items itself, so that every command can carry a small image beside its text, in a
// classic style (raised and sunken image buttons on the menu colour) or an XP style (a shaded image column, a light
// highlight bar with a frame).
//
// Every item the object knows has a record (MenuItemData) that is the item's owner-draw data; the records of a level
// stay in the order of the menu's positions. Pop-up items get BCMenu objects of their own (AppendPopup, or loading
// from a menu resource), which this menu deletes with itself. Images come from image lists and bitmap objects,
// either as the item's own image or as the class-wide shared image of its command.
//
// Where it differs from the layout it was designed from: a modification of a command that is nowhere in the menu
// changes nothing and answers FALSE (no record without an item); RemoveMenu of a pop-up item leaves the sub-menu and
// its object to the caller, as RemoveMenu does (DeleteMenu destroys them); the classic-theme test reads the whole
// registry value, however long and whether or not it ends with a null; every NT version from 5.1 on counts as the
// XP platform, so that later systems keep the themed look and the classic 3-D edges.
//
// An owner window forwards WM_MEASUREITEM of menu items whose menu passes IsOurMenu to MeasureItem, and WM_MENUCHAR
// to MenuChar. GUI thread only.
#pragma once

#include "platform/afx/DC.h"
#include "platform/afx/ImageList.h"
#include "platform/afx/Menu.h"
#include "platform/afx/String.h"

#include <memory>
#include <vector>

class CToolBar;

class MenuItemData {
public:
    MenuItemData() = default;
    MenuItemData(const MenuItemData&) = delete;
    MenuItemData& operator=(const MenuItemData&) = delete;

    void SetText(LPCTSTR lpszText) { m_text = lpszText ? CString(lpszText) : CString(); }
    CString GetText() const { return m_text; }

    int ownImageIndex = -1;
    int sharedImageIndex = -1;
    int imageSource = -1;
    UINT flags = 0;
    UINT_PTR commandId = 0;
    int syncMark = 0;
    std::unique_ptr<CImageList> ownImages;

private:
    CString m_text;
};

class BCMenu : public CMenu {
    DECLARE_DYNAMIC(BCMenu)
public:
    BCMenu();
    ~BCMenu() override;

    // Style predicates and settings, class-wide.
    static BOOL IsThemedXp();
    static BOOL IsXpStyle();
    static int GetDrawMode();
    static BOOL GetSelectDisabled();
    static BOOL HasEdges();
    static void SetDrawMode(int nMode);
    static int GetPlatform();
    // The platform code for a version (9x family or NT, major and minor).
    static int PlatformOf(BOOL bWin9x, DWORD dwMajor, DWORD dwMinor);
    // Whether the user's theme is "Windows Classic" (asked once per run).
    static BOOL IsClassicTheme();
    static void SetXp3dImages(BOOL b) { s_xp3dImages = b; }
    static void SetSelectDisabled(BOOL bClassic, BOOL bXp) {
        s_selectDisabledClassic = bClassic;
        s_selectDisabledXp = bXp;
    }
    static BOOL IsOurMenu(const CMenu* pMenu) { return pMenu && IsOurMenu(pMenu->m_hMenu); }
    static BOOL IsOurMenu(HMENU hMenu);
    // Answers WM_MENUCHAR: the position of the item whose mnemonic is the character, with MNC_EXECUTE.
    static LRESULT MenuChar(UINT nChar, UINT nFlags, CMenu* pMenu);
    static CImageList& SharedImages();
    static const std::vector<UINT>& SharedImageIds();
    static BOOL HasImageTriple(int nIndex);
    // Forgets the class-wide images and the theme answer (the program's end; tests).
    static void ResetClassState();

    void SetImageCellSize(int cx, int cy) {
        m_iconWidth = cx;
        m_iconHeight = cy;
    }
    int GetIconWidth() const { return m_iconWidth; }
    int GetIconHeight() const { return m_iconHeight; }
    void SetTransparentColor(COLORREF color) {
        m_transparentColor = color;
        m_useTransparentColor = TRUE;
    }
    void ClearTransparentColor() { m_useTransparentColor = FALSE; }
    void SetEmbossWithDib() { m_embossWithDib = TRUE; }
    void ClearEmbossWithDib() { m_embossWithDib = FALSE; }
    BOOL GetEmbossWithDib() const { return m_embossWithDib; }

    BOOL AppendItem(LPCTSTR lpszText, UINT nFlags = MF_OWNERDRAW, UINT_PTR nID = 0, int nImageId = -1);
    BOOL AppendItem(LPCTSTR lpszText, UINT nFlags, UINT_PTR nID, CImageList* pImages, int nIndex);
    BOOL AppendItem(UINT nFlags, UINT_PTR nID, LPCTSTR lpszText, CBitmap* pBitmap);
    BOOL InsertItem(UINT nPosition, LPCTSTR lpszText, UINT nFlags = MF_OWNERDRAW, UINT_PTR nID = 0, int nImageId = -1);
    BOOL InsertItem(UINT nPosition, LPCTSTR lpszText, UINT nFlags, UINT_PTR nID, CImageList* pImages, int nIndex);
    BOOL ModifyItem(LPCTSTR lpszText, UINT_PTR nID = 0, int nImageId = -1);
    BOOL ModifyItem(LPCTSTR lpszText, UINT_PTR nID, CImageList* pImages, int nIndex);
    // Bitmap forms: the bitmap (of the cell size, the transparent colour left out) as the command's shared image;
    // a null bitmap changes nothing of the image.
    BOOL InsertItem(UINT nPosition, LPCTSTR lpszText, UINT nFlags, UINT_PTR nID, CBitmap* pBitmap);
    BOOL ModifyItem(LPCTSTR lpszText, UINT_PTR nID, CBitmap* pBitmap);
    // A colour swatch (filled rectangle, solid for nHatchStyle -1, else hatched) as the command's image, of pSize
    // or of the cell size, centred in the cell.
    BOOL ModifyItemSwatch(LPCTSTR lpszText, UINT_PTR nID, COLORREF crFill, COLORREF crBorder, int nHatchStyle = -1,
                          const SIZE* pSize = nullptr);
    // The first record of the tree with the old text gets the new text and, with a bitmap resource id of 0 or more,
    // that bitmap as its own image.
    BOOL ModifyItemByText(LPCTSTR lpszText, LPCTSTR lpszOldText, int nBitmapId = -1);
    // Button images of a toolbar resource (and its bitmap) for the commands of the menu that have a button; the
    // image cell grows to the toolbar's image size. TRUE when the bitmap strip loaded.
    BOOL LoadToolbarImages(UINT nToolBar);
    BOOL LoadToolbarImages(const UINT* pToolBars, int nCount);
    // The buttons of a tool bar: each command of the menu that has a button gets the bitmap strip nBitmapId as its
    // own image list, showing the button's image. TRUE when every image loaded.
    BOOL LoadToolbarImages(CToolBar* pToolBar, UINT nBitmapId);
    BCMenu* AppendPopup(LPCTSTR lpszText);
    BOOL SetItemText(UINT nID, LPCTSTR lpszText, UINT nFlags = MF_BYPOSITION);
    BOOL GetItemText(UINT nID, CString& strText, UINT nFlags = MF_BYPOSITION);
    BCMenu* FindSubMenuOfRecord(LPCTSTR lpszText);
    CMenu* FindSubMenuByText(LPCTSTR lpszText);
    int FindRecordIndexByText(LPCTSTR lpszText) const;
    int RemoveByText(LPCTSTR lpszText, int nOption = 0);
    int DeleteByText(LPCTSTR lpszText, int nOption = 0);
    BOOL RemoveMenu(UINT nPosition, UINT nFlags);
    BOOL DeleteMenu(UINT nPosition, UINT nFlags);
    // Custom check marks from two bitmap resources (normal, highlighted).
    BOOL SetCheckImages(int nNormalId, int nSelectedId);
    MenuItemData* FindRecordByCommand(UINT_PTR nID);
    // The menu that holds a command (depth first, sub-menus before the item at each position) and its position.
    BCMenu* FindCommand(UINT_PTR nID, int& nPosition);

    virtual BOOL LoadMenuResource(UINT nIDResource);
    virtual BOOL LoadMenuResource(LPCTSTR lpszResourceName);
    virtual BOOL DestroyMenuAndItems();

    void DrawItem(LPDRAWITEMSTRUCT lpDIS) override;
    void MeasureItem(LPMEASUREITEMSTRUCT lpMIS) override;

    // The records of this level, in menu order.
    int GetRecordCount() const { return static_cast<int>(m_items.size()); }
    MenuItemData* GetRecord(int nIndex) const;
    BOOL IsLoadedFromResource() const { return m_loadedFromResource; }
    // Records made again from the live menu, one per position.
    void Synchronize();

    // Colour functions of the drawing.
    static COLORREF Lighten(COLORREF color, double factor);
    static COLORREF Darken(COLORREF color, double factor);

private:
    enum class Removal { Remove, Delete };
    BOOL RemoveOrDelete(UINT nPosition, UINT nFlags, Removal how);
    int RemoveOrDeleteByText(LPCTSTR lpszText, int nOption, Removal how);
    UINT NormalizeFlags(UINT nFlags, UINT_PTR nID, bool bInsert) const;
    BOOL InsertRecord(UINT nPosition, LPCTSTR lpszText, UINT nFlags, UINT_PTR nID, int nImageId, CImageList* pImages,
                      int nIndex);
    // The shared image of a command from a list; its index in the shared list, or -1.
    static int AddSharedImage(CImageList* pImages, int nIndex, UINT nID);
    static bool CopyImage(CImageList* pSource, int nIndex, std::unique_ptr<CImageList>& target);
    // Adds the bitmap resource (its button colours mapped when it has 16 colours) with the transparent colour, and
    // in the XP style with 3-D images the faded and shadow copies of image 0.
    BOOL AddBitmapResource(CImageList& list, UINT nResourceId) const;
    COLORREF TransparentKey() const;
    static void AddXp3dCopies(CImageList& list);
    void AttachSharedImage(MenuItemData& record, int nImageId);
    MenuItemData* FindRecordByText(LPCTSTR lpszText);
    void AlignAccelerators();
    void DrawClassic(LPDRAWITEMSTRUCT lpDIS);
    void DrawXp(LPDRAWITEMSTRUCT lpDIS);

    std::vector<std::unique_ptr<MenuItemData>> m_items;
    std::vector<HMENU> m_popupHandles;
    int m_iconWidth = 16;
    int m_iconHeight = 15;
    COLORREF m_transparentColor = RGB(192, 192, 192);
    BOOL m_useTransparentColor = FALSE;
    BOOL m_embossWithDib = FALSE;
    CImageList* m_checkImages = nullptr;
    BOOL m_checkImagesBorrowed = FALSE;
    int m_checkImageNormalId = -1;
    int m_checkImageSelectedId = -1;
    BOOL m_loadedFromResource = FALSE;

    static int s_drawModeOther;
    static int s_drawModeThemed;
    static BOOL s_selectDisabledClassic;
    static BOOL s_selectDisabledXp;
    static BOOL s_xp3dImages;
};
