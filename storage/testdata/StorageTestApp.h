// The application object of the storage tests: the program's own, with the secure-disk manager each test makes.
#pragma once

#include "storage/ZentraManager.h"

#include "app/BrannicApp.h"

#include <memory>

class CStorageTestApp : public CBrannicApp {
public:
    void UseManager(std::unique_ptr<CZentraManager> pManager) { m_pZentraManager = std::move(pManager); }
    void SetRootKey(LPCTSTR lpszKey) { m_strRootKey = lpszKey; }
};

extern CStorageTestApp theApp;
