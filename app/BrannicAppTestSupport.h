// The application object of the application core's test program, with the steps of its start-up within reach.
#pragma once

#include "app/BrannicApp.h"

#include "platform/base/handle.h"

class CTestBrannicApp : public CBrannicApp {
public:
    using CBrannicApp::HandOverToRunningInstance;
    using CBrannicApp::InitConfigFolder;
    using CBrannicApp::IsValidLangFileName;
    using CBrannicApp::LoadLanguageLibrary;
    using CBrannicApp::OpenSystemLog;
    using CBrannicApp::ProcessCommandLine;
    using CBrannicApp::ReadDriveType;
    using CBrannicApp::ReadMainIni;
    using CBrannicApp::ReadRunMode;
    using CBrannicApp::RunMainLoop;

    // Forgets what an earlier test set.
    void Reset() {
        m_nStartFlags = 0;
        m_bAnyDriveType = FALSE;
        m_bDebugMode = FALSE;
        m_strRootKey.Empty();
        m_lpCmdLine = nullptr;
        m_systemLog.Clear();
        if (m_hInstanceSemaphore) {
            ::CloseHandle(m_hInstanceSemaphore);
            m_hInstanceSemaphore = nullptr;
        }
    }
    void SetStartFlags(unsigned nFlags) { m_nStartFlags = nFlags; }
    void SetDebugMode(BOOL bDebug) { m_bDebugMode = bDebug; }
    void SetRootKey(LPCTSTR lpszKey) { m_strRootKey = lpszKey; }
    // The secure-disk manager a test made (the previous one goes). A template, so that only its callers need the
    // manager's class.
    template <class TManager> void UseZentraManager(std::unique_ptr<TManager> pManager) {
        m_pZentraManager = std::move(pManager);
    }
    HMODULE LanguageLibrary() const { return GetLanguageLibrary(); }
};

// The test program's one application object (BrannicApp_test.cpp).
extern CTestBrannicApp theApp;
