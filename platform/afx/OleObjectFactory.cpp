#include "platform/afx/OleObjectFactory.h"

#include "platform/base/module.h"
#include "platform/com/objbase.h"
#include "platform/registry/registry.h"

#include <mutex>
#include <string>

IMPLEMENT_DYNAMIC(COleObjectFactory, CCmdTarget)

namespace {

// The program's factories, most recently constructed first. Factories are static objects of their classes.
COleObjectFactory*& FirstFactory() {
    static COleObjectFactory* first = nullptr;
    return first;
}

std::mutex& FactoryListLock() {
    static std::mutex lock;
    return lock;
}

std::u16string ClassIdText(REFCLSID clsid) {
    OLECHAR text[40];
    StringFromGUID2(clsid, text, 40);
    return text;
}

bool SetDefaultValue(const std::u16string& keyPath, const std::u16string& value) {
    HKEY key = nullptr;
    if (RegCreateKeyW(HKEY_CLASSES_ROOT, keyPath.c_str(), &key) != ERROR_SUCCESS)
        return false;
    platform::OwnedKey owned(key);
    return RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(char16_t))) == ERROR_SUCCESS;
}

// Deletes a key and everything below it.
void DeleteTree(HKEY root, const std::u16string& keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    for (;;) {
        WCHAR name[256];
        DWORD size = 256;
        if (RegEnumKeyExW(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        DeleteTree(key, name);
    }
    RegCloseKey(key);
    RegDeleteKeyW(root, keyPath.c_str());
}

} // namespace

struct COleObjectFactory::XClassFactory final : IClassFactory {
    explicit XClassFactory(COleObjectFactory* owner) : m_owner(owner) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is a static object of the program: its count is kept only for the framework's bookkeeping.
    ULONG AddRef() override { return static_cast<ULONG>(++m_owner->m_dwRef); }
    ULONG Release() override { return m_owner->m_dwRef > 1 ? static_cast<ULONG>(--m_owner->m_dwRef) : 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        CCmdTarget* target = m_owner->OnCreateObject();
        if (!target)
            return E_OUTOFMEMORY;
        // The new object holds one reference of its own: hand one to the client and drop the creator's.
        const HRESULT hr = target->ExternalQueryInterface(&riid, object);
        target->InternalRelease();
        return hr;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

    COleObjectFactory* m_owner;
};

COleObjectFactory::COleObjectFactory(REFCLSID clsid, const CRuntimeClass* pRuntimeClass, BOOL bMultiInstance,
                                     LPCTSTR lpszProgID)
    : m_clsid(clsid), m_pRuntimeClass(pRuntimeClass), m_bMultiInstance(bMultiInstance),
      m_strProgID(lpszProgID ? lpszProgID : _T("")), m_pClassFactory(new XClassFactory(this)) {
    std::lock_guard guard(FactoryListLock());
    m_pNextFactory = FirstFactory();
    FirstFactory() = this;
}

COleObjectFactory::~COleObjectFactory() {
    Revoke();
    {
        std::lock_guard guard(FactoryListLock());
        for (COleObjectFactory** p = &FirstFactory(); *p; p = &(*p)->m_pNextFactory)
            if (*p == this) {
                *p = m_pNextFactory;
                break;
            }
    }
    delete m_pClassFactory;
}

CCmdTarget* COleObjectFactory::OnCreateObject() {
    if (!m_pRuntimeClass)
        return nullptr;
    CObject* object = m_pRuntimeClass->CreateObject();
    auto* target = dynamic_cast<CCmdTarget*>(object);
    if (!target) {
        delete object;
        return nullptr;
    }
    // Objects made for clients always speak automation.
    target->EnableAutomation();
    return target;
}

BOOL COleObjectFactory::Register() {
    if (m_dwRegister)
        return TRUE;
    const HRESULT hr = CoRegisterClassObject(m_clsid, m_pClassFactory, CLSCTX_LOCAL_SERVER,
                                             m_bMultiInstance ? REGCLS_SINGLEUSE : REGCLS_MULTIPLEUSE, &m_dwRegister);
    if (FAILED(hr))
        m_dwRegister = 0;
    return SUCCEEDED(hr);
}

void COleObjectFactory::Revoke() {
    if (!m_dwRegister)
        return;
    CoRevokeClassObject(m_dwRegister);
    m_dwRegister = 0;
}

BOOL COleObjectFactory::UpdateRegistry(BOOL bRegister) {
    const std::u16string clsid = ClassIdText(m_clsid);
    const std::u16string progId(static_cast<LPCTSTR>(m_strProgID));
    if (!bRegister) {
        DeleteTree(HKEY_CLASSES_ROOT, u"CLSID\\" + clsid);
        if (!progId.empty())
            DeleteTree(HKEY_CLASSES_ROOT, progId);
        return TRUE;
    }
    WCHAR path[2048];
    const DWORD length = GetModuleFileNameW(nullptr, path, 2048);
    if (length == 0 || length >= 2048)
        return FALSE;
    std::u16string server(path, length);
    if (server.find(u' ') != std::u16string::npos)
        server = u"\"" + server + u"\"";
    bool ok = SetDefaultValue(u"CLSID\\" + clsid, progId) &&
              SetDefaultValue(u"CLSID\\" + clsid + u"\\LocalServer32", server);
    if (!progId.empty())
        ok = ok && SetDefaultValue(u"CLSID\\" + clsid + u"\\ProgID", progId) && SetDefaultValue(progId, progId) &&
             SetDefaultValue(progId + u"\\CLSID", clsid);
    return ok ? TRUE : FALSE;
}

BOOL COleObjectFactory::RegisterAll() {
    BOOL all = TRUE;
    for (COleObjectFactory* f = FirstFactory(); f; f = f->m_pNextFactory)
        if (!f->Register())
            all = FALSE;
    return all;
}

void COleObjectFactory::RevokeAll() {
    for (COleObjectFactory* f = FirstFactory(); f; f = f->m_pNextFactory)
        f->Revoke();
}

BOOL COleObjectFactory::UpdateRegistryAll(BOOL bRegister) {
    BOOL all = TRUE;
    for (COleObjectFactory* f = FirstFactory(); f; f = f->m_pNextFactory)
        if (!f->UpdateRegistry(bRegister))
            all = FALSE;
    return all;
}
