// COleObjectFactory: the class factory of a framework program's automation objects.
//
// As in the framework: a class declares DECLARE_OLECREATE and its source IMPLEMENT_OLECREATE(class, "ProgID", class
// id), which makes one factory per class, kept in the program's list of factories. RegisterAll registers each
// with the system (CoRegisterClassObject, a multiple-use local server unless the factory asked for one process
// per object), RevokeAll takes them back, UpdateRegistryAll writes each class's entries under HKEY_CLASSES_ROOT:
// the class id with its ProgID and the program's own path as its local server, and the ProgID with its class id.
// An object made for a client is created through the class's run-time information and handed out through its
// IDispatch; the object deletes itself when the last client lets go.
#pragma once

#include "platform/afx/CmdTarget.h"
#include "platform/afx/String.h"

class COleObjectFactory : public CCmdTarget {
    DECLARE_DYNAMIC(COleObjectFactory)
public:
    COleObjectFactory(REFCLSID clsid, const CRuntimeClass* pRuntimeClass, BOOL bMultiInstance, LPCTSTR lpszProgID);
    ~COleObjectFactory() override;

    BOOL Register();
    void Revoke();
    BOOL IsRegistered() const { return m_dwRegister != 0; }
    REFCLSID GetClassID() const { return m_clsid; }
    virtual BOOL UpdateRegistry(BOOL bRegister = TRUE);

    static BOOL RegisterAll();
    static void RevokeAll();
    static BOOL UpdateRegistryAll(BOOL bRegister = TRUE);

    // The object for a client: a new object of the class, or null.
    virtual CCmdTarget* OnCreateObject();

private:
    struct XClassFactory;
    friend struct XClassFactory;

    CLSID m_clsid;
    const CRuntimeClass* m_pRuntimeClass;
    BOOL m_bMultiInstance;
    CString m_strProgID;
    DWORD m_dwRegister = 0;
    XClassFactory* m_pClassFactory;
    COleObjectFactory* m_pNextFactory = nullptr;
};

#define DECLARE_OLECREATE(class_name)                                                                                  \
public:                                                                                                                \
    static COleObjectFactory factory;                                                                                  \
    static const GUID guid;

#define IMPLEMENT_OLECREATE(class_name, external_name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                      \
    const GUID class_name::guid = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}};                                       \
    COleObjectFactory class_name::factory(class_name::guid, RUNTIME_CLASS(class_name), FALSE, _T(external_name));
