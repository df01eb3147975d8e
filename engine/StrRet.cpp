#include "engine/StrRet.h"

#include "platform/base/strings.h"
#include "platform/base/unknwn.h"

#include <cstring>

CStrRet::CStrRet() {
    std::memset(&m_strret, 0, sizeof m_strret);
}

CStrRet::~CStrRet() {
    Reset();
}

void CStrRet::Reset() {
    if (m_strret.uType == STRRET_WSTR && m_strret.pOleStr) {
        IMalloc* malloc = nullptr;
        if (SUCCEEDED(SHGetMalloc(&malloc))) {
            malloc->Free(m_strret.pOleStr);
            malloc->Release();
        }
    }
    std::memset(&m_strret, 0, sizeof m_strret);
}

STRRET* CStrRet::Prepare(LPCITEMIDLIST pidl, UINT uType) {
    Reset();
    m_list = CItemIDList(pidl);
    m_strret.uType = uType;
    return &m_strret;
}

CString CStrRet::GetString() const {
    switch (m_strret.uType) {
    case STRRET_WSTR:
        return m_strret.pOleStr ? CString(m_strret.pOleStr) : CString();
    case STRRET_OFFSET:
        if (!m_list.IsValid())
            return CString();
        return CString(platform::Utf8ToUtf16(reinterpret_cast<const char*>(m_list.Get()) + m_strret.uOffset).c_str());
    case STRRET_CSTR:
        return CString(
            platform::Utf8ToUtf16(std::string(m_strret.cStr, strnlen(m_strret.cStr, sizeof m_strret.cStr))).c_str());
    default:
        return CString();
    }
}
