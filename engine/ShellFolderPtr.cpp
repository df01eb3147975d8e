#include "engine/ShellFolderPtr.h"

CShellFolderPtr::CShellFolderPtr(IShellFolder* pFolder) : m_pFolder(pFolder) {
    if (m_pFolder)
        m_pFolder->AddRef();
}

CShellFolderPtr::CShellFolderPtr(IShellFolder* pParent, LPCITEMIDLIST pidlChild) {
    if (!pParent)
        return;
    if (ILIsEmpty(pidlChild)) {
        m_pFolder = pParent;
        m_pFolder->AddRef();
        return;
    }
    void* folder = nullptr;
    if (SUCCEEDED(pParent->BindToObject(pidlChild, nullptr, IID_IShellFolder, &folder)))
        m_pFolder = static_cast<IShellFolder*>(folder);
}

CShellFolderPtr::CShellFolderPtr(const CShellFolderPtr& other) : m_pFolder(other.m_pFolder) {
    if (m_pFolder)
        m_pFolder->AddRef();
}

CShellFolderPtr& CShellFolderPtr::operator=(const CShellFolderPtr& other) {
    if (other.m_pFolder)
        other.m_pFolder->AddRef();
    if (m_pFolder)
        m_pFolder->Release();
    m_pFolder = other.m_pFolder;
    return *this;
}

CShellFolderPtr::~CShellFolderPtr() {
    if (m_pFolder)
        m_pFolder->Release();
}
