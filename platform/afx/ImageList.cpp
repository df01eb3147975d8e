#include "platform/afx/ImageList.h"

#include "platform/afx/DC.h"
#include "platform/afx/GdiObject.h"
#include "platform/afx/HandleMap.h"
#include "platform/afx/ModuleState.h"

#include <memory>
#include <mutex>
#include <unordered_map>

IMPLEMENT_DYNCREATE(CImageList, CObject)

namespace {

using HandleMap = CHandleMap<HIMAGELIST, CImageList>;

} // namespace

CImageList::~CImageList() {
    DeleteImageList();
}

CImageList* CImageList::FromHandlePermanent(HIMAGELIST hImageList) {
    return HandleMap::Instance().LookupPermanent(hImageList);
}

CImageList* CImageList::FromHandle(HIMAGELIST hImageList) {
    return HandleMap::Instance().FromHandle(hImageList, [](HIMAGELIST handle) {
        auto wrapper = std::make_unique<CImageList>();
        wrapper->m_hImageList = handle; // not in the permanent map: never destroys the handle
        return wrapper;
    });
}

BOOL CImageList::Attach(HIMAGELIST hImageList) {
    if (!hImageList || m_hImageList)
        return FALSE;
    m_hImageList = hImageList;
    HandleMap::Instance().SetPermanent(hImageList, this);
    return TRUE;
}

HIMAGELIST CImageList::Detach() {
    HIMAGELIST handle = m_hImageList;
    if (handle)
        HandleMap::Instance().RemovePermanent(handle, this);
    m_hImageList = nullptr;
    return handle;
}

BOOL CImageList::Create(int cx, int cy, UINT nFlags, int nInitial, int nGrow) {
    return Attach(::ImageList_Create(cx, cy, nFlags, nInitial, nGrow));
}

BOOL CImageList::Create(UINT nBitmapID, int cx, int nGrow, COLORREF crMask) {
    return Create(MAKEINTRESOURCEW(nBitmapID), cx, nGrow, crMask);
}

BOOL CImageList::Create(LPCTSTR lpszBitmapID, int cx, int nGrow, COLORREF crMask) {
    CBitmap bitmap;
    if (!bitmap.Attach(::LoadBitmapW(AfxGetResourceHandle(), lpszBitmapID)) &&
        !bitmap.Attach(::LoadBitmapW(nullptr, lpszBitmapID)))
        return FALSE;
    BITMAP info{};
    bitmap.GetObject(sizeof info, &info);
    if (cx <= 0 || !Create(cx, info.bmHeight, ILC_COLOR32 | ILC_MASK, 0, nGrow))
        return FALSE;
    if (Add(&bitmap, crMask) < 0) {
        DeleteImageList();
        return FALSE;
    }
    return TRUE;
}

BOOL CImageList::Create(CImageList* pImageList) {
    return pImageList && Attach(::ImageList_Duplicate(pImageList->m_hImageList));
}

BOOL CImageList::DeleteImageList() {
    if (!m_hImageList || !FromHandlePermanent(m_hImageList))
        return FALSE;
    return ::ImageList_Destroy(Detach());
}

int CImageList::GetImageCount() const {
    return ::ImageList_GetImageCount(m_hImageList);
}
BOOL CImageList::SetImageCount(UINT uNewCount) {
    return ::ImageList_SetImageCount(m_hImageList, uNewCount);
}
COLORREF CImageList::SetBkColor(COLORREF cr) {
    return ::ImageList_SetBkColor(m_hImageList, cr);
}
COLORREF CImageList::GetBkColor() const {
    return ::ImageList_GetBkColor(m_hImageList);
}
BOOL CImageList::GetImageInfo(int nImage, IMAGEINFO* pImageInfo) const {
    return ::ImageList_GetImageInfo(m_hImageList, nImage, pImageInfo);
}
int CImageList::Add(CBitmap* pbmImage, CBitmap* pbmMask) {
    return ::ImageList_Add(m_hImageList, pbmImage ? static_cast<HBITMAP>(*pbmImage) : nullptr,
                           pbmMask ? static_cast<HBITMAP>(*pbmMask) : nullptr);
}
int CImageList::Add(CBitmap* pbmImage, COLORREF crMask) {
    return ::ImageList_AddMasked(m_hImageList, pbmImage ? static_cast<HBITMAP>(*pbmImage) : nullptr, crMask);
}
int CImageList::Add(HICON hIcon) {
    return ::ImageList_AddIcon(m_hImageList, hIcon);
}
BOOL CImageList::Remove(int nImage) {
    return ::ImageList_Remove(m_hImageList, nImage);
}
BOOL CImageList::Replace(int nImage, CBitmap* pbmImage, CBitmap* pbmMask) {
    return ::ImageList_Replace(m_hImageList, nImage, pbmImage ? static_cast<HBITMAP>(*pbmImage) : nullptr,
                               pbmMask ? static_cast<HBITMAP>(*pbmMask) : nullptr);
}
int CImageList::Replace(int nImage, HICON hIcon) {
    return ::ImageList_ReplaceIcon(m_hImageList, nImage, hIcon);
}
HICON CImageList::ExtractIcon(int nImage) {
    return ::ImageList_GetIcon(m_hImageList, nImage, ILD_NORMAL);
}
BOOL CImageList::Draw(CDC* pDC, int nImage, POINT pt, UINT nStyle) {
    return pDC && ::ImageList_Draw(m_hImageList, nImage, pDC->GetSafeHdc(), pt.x, pt.y, nStyle);
}
BOOL CImageList::Copy(int iDst, int iSrc, UINT uFlags) {
    return ::ImageList_Copy(m_hImageList, iDst, m_hImageList, iSrc, uFlags);
}
