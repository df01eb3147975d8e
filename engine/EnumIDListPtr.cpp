#include "engine/EnumIDListPtr.h"

CEnumIDListPtr::CEnumIDListPtr(IShellFolder* pFolder, HWND hWnd, DWORD dwFlags) {
    if (pFolder && FAILED(pFolder->EnumObjects(hWnd, dwFlags, &m_pEnum)))
        m_pEnum = nullptr;
}

CEnumIDListPtr::~CEnumIDListPtr() {
    if (m_pEnum)
        m_pEnum->Release();
}
