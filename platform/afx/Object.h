// CObject: the framework's root class, with run-time class information and dynamic creation.
//
// Every class that declares DECLARE_DYNAMIC (or DYNCREATE / SERIAL) gets one static CRuntimeClass record that
// names it, links to its base class and, for dynamic creation, knows how to default-construct an object.
// IsKindOf walks the base-class chain; CRuntimeClass::FromName finds a record by its class name. Records
// register themselves at static initialisation, so a name lookup sees every class linked into the program.
// Serialisation archives are not offered: Serialize exists as the virtual slot the framework has and does nothing.
//
// File naming in this folder: each framework class lives in a header and source pair named after the class
// without its leading "C" (CObject in Object.h, CString in String.h, CWinApp in WinApp.h); platform/afx/afx.h
// includes the whole framework.
#pragma once

#include "platform/base/types.h"

class CObject;
class CArchive;

// Iteration position of the framework's lists and maps; opaque.
struct POSITION__;
using POSITION = POSITION__*;
#define BEFORE_START_POSITION (reinterpret_cast<POSITION>(static_cast<intptr_t>(-1)))

struct CRuntimeClass {
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema; // 0xFFFF for classes that are not serialisable
    CObject* (*m_pfnCreateObject)();
    const CRuntimeClass* m_pBaseClass;

    // A new object of this class, or null when the class has no dynamic creation.
    CObject* CreateObject() const;
    BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;

    // Registered classes by name (exact, case-sensitive as the framework compares them).
    static const CRuntimeClass* FromName(LPCSTR lpszClassName);
    static const CRuntimeClass* FromName(LPCWSTR lpszClassName);
    static CObject* CreateObject(LPCSTR lpszClassName);
    static CObject* CreateObject(LPCWSTR lpszClassName);
};

// Adds a record to the name registry; used by the IMPLEMENT_* macros.
struct AFX_CLASSINIT {
    explicit AFX_CLASSINIT(const CRuntimeClass* pNewClass);
};

class CObject {
public:
    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() = default;

    BOOL IsKindOf(const CRuntimeClass* pClass) const;
    BOOL IsSerializable() const;
    virtual void Serialize(CArchive& ar);

    static const CRuntimeClass classCObject;

protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)                                                                                    \
public:                                                                                                                \
    static const CRuntimeClass class##class_name;                                                                      \
    virtual const CRuntimeClass* GetRuntimeClass() const;

#define DECLARE_DYNCREATE(class_name)                                                                                  \
    DECLARE_DYNAMIC(class_name)                                                                                        \
    static CObject* CreateObject();

#define DECLARE_SERIAL(class_name) DECLARE_DYNCREATE(class_name)

#define IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, pfnNew)                                           \
    const CRuntimeClass class_name::class##class_name = {#class_name, static_cast<int>(sizeof(class_name)), wSchema,   \
                                                         pfnNew, RUNTIME_CLASS(base_class_name)};                      \
    static const AFX_CLASSINIT _init_##class_name(RUNTIME_CLASS(class_name));                                          \
    const CRuntimeClass* class_name::GetRuntimeClass() const {                                                         \
        return RUNTIME_CLASS(class_name);                                                                              \
    }

#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                                                 \
    IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)                                                               \
    CObject* class_name::CreateObject() {                                                                              \
        return new class_name;                                                                                         \
    }                                                                                                                  \
    IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, class_name::CreateObject)

#define IMPLEMENT_SERIAL(class_name, base_class_name, wSchema)                                                         \
    CObject* class_name::CreateObject() {                                                                              \
        return new class_name;                                                                                         \
    }                                                                                                                  \
    IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, class_name::CreateObject)

// The framework's checked cast: the object when it is of the class (or null in), else null.
#define DYNAMIC_DOWNCAST(class_name, object)                                                                           \
    (static_cast<class_name*>(AfxDynamicDownCast(RUNTIME_CLASS(class_name), object)))
#define STATIC_DOWNCAST(class_name, object) (static_cast<class_name*>(object))
CObject* AfxDynamicDownCast(const CRuntimeClass* pClass, CObject* pObject);
