#include "platform/afx/Object.h"

#include "platform/base/strings.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct ClassRegistry {
    std::mutex lock;
    std::vector<const CRuntimeClass*> classes;
};

ClassRegistry& Registry() {
    static ClassRegistry registry;
    return registry;
}

} // namespace

AFX_CLASSINIT::AFX_CLASSINIT(const CRuntimeClass* pNewClass) {
    auto& registry = Registry();
    std::lock_guard guard(registry.lock);
    registry.classes.push_back(pNewClass);
}

CObject* CRuntimeClass::CreateObject() const {
    if (!m_pfnCreateObject)
        return nullptr;
    return m_pfnCreateObject();
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
    for (const CRuntimeClass* p = this; p; p = p->m_pBaseClass) {
        if (p == pBaseClass)
            return TRUE;
    }
    return FALSE;
}

const CRuntimeClass* CRuntimeClass::FromName(LPCSTR lpszClassName) {
    if (!lpszClassName)
        return nullptr;
    if (std::strcmp(lpszClassName, CObject::classCObject.m_lpszClassName) == 0)
        return &CObject::classCObject;
    auto& registry = Registry();
    std::lock_guard guard(registry.lock);
    for (const CRuntimeClass* p : registry.classes) {
        if (std::strcmp(p->m_lpszClassName, lpszClassName) == 0)
            return p;
    }
    return nullptr;
}

const CRuntimeClass* CRuntimeClass::FromName(LPCWSTR lpszClassName) {
    if (!lpszClassName)
        return nullptr;
    return FromName(platform::Utf16ToUtf8(lpszClassName).c_str());
}

CObject* CRuntimeClass::CreateObject(LPCSTR lpszClassName) {
    const CRuntimeClass* p = FromName(lpszClassName);
    return p ? p->CreateObject() : nullptr;
}

CObject* CRuntimeClass::CreateObject(LPCWSTR lpszClassName) {
    const CRuntimeClass* p = FromName(lpszClassName);
    return p ? p->CreateObject() : nullptr;
}

const CRuntimeClass CObject::classCObject = {"CObject", static_cast<int>(sizeof(CObject)), 0xFFFF, nullptr, nullptr};

const CRuntimeClass* CObject::GetRuntimeClass() const {
    return &classCObject;
}

BOOL CObject::IsKindOf(const CRuntimeClass* pClass) const {
    return GetRuntimeClass()->IsDerivedFrom(pClass);
}

BOOL CObject::IsSerializable() const {
    return GetRuntimeClass()->m_wSchema != 0xFFFF;
}

void CObject::Serialize(CArchive&) {}

CObject* AfxDynamicDownCast(const CRuntimeClass* pClass, CObject* pObject) {
    if (pObject && pObject->IsKindOf(pClass))
        return pObject;
    return nullptr;
}
