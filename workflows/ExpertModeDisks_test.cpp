// The Expert Mode dialog's start-up with an enclosure disk plugged in, with the real driver: the secure disk found
// on it is offered (or opened with the remembered password) before the start-up ends; Explorer's icons follow the
// secure and public disks; a disk that goes takes its open secure disk with it.
#include "workflows/ExpertModeDlg.h"

#include "app/BrannicAppTestSupport.h"
#include "shared/DiskTestSupport.h"
#include "shared/PhysicalDrive.h"
#include "storage/ZentraManager.h"
#include "storage/ZentraObj.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/devices/disks.h"
#include "platform/fs/paths.h"
#include "platform/registry/registry.h"
#include "platform/ui/msgbox.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char16_t* kPassword = u"first secret";
constexpr LPCTSTR kDriveIcons = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";

std::vector<std::u16string> g_steps;

// A page that records the last start-up step.
class CStepPage : public CExpertPage {
public:
    explicit CStepPage(int nTab) : CExpertPage(3200), m_nTab(nTab) {}
    void OnLastStartupStep(BOOL bNormalStart) override {
        g_steps.push_back(u"last step " + std::u16string(1, static_cast<char16_t>(u'0' + m_nTab)) +
                          (bNormalStart ? u"" : u" after one-touch"));
    }
    int m_nTab;
};

class CStepExpertDlg : public CExpertModeDlg {
protected:
    std::unique_ptr<CExpertPage> NewPage(int nTab) override {
        if (nTab == kSystemTab || nTab == kAutoBackupTab)
            return std::make_unique<CStepPage>(nTab);
        return nullptr;
    }
};

std::string ExeFolder() {
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    path.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.find_last_of('/'));
}

CString DefaultValue(const CString& strSubKey) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, CString(kDriveIcons) + strSubKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return u"(none)";
    WCHAR value[4096] = {};
    DWORD dwSize = sizeof value - 2;
    RegQueryValueExW(hKey, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &dwSize);
    RegCloseKey(hKey);
    return value;
}

class ExpertModeDisksTest : public storagetest::StorageTest {
protected:
    void SetUp() override {
        StorageTest::SetUp();
        platform::fs::DriveInfo bin;
        bin.letter = u'B';
        bin.hostRoot = ExeFolder();
        ASSERT_TRUE(platform::fs::SetDrive(bin));
        // The machine folder has a letter, so that the temporary folder the driver is dropped into has one too.
        platform::fs::DriveInfo machineDrive;
        machineDrive.letter = u'M';
        machineDrive.hostRoot = machine.Folder();
        ASSERT_TRUE(platform::fs::SetDrive(machineDrive));
        m_previousResources = AfxGetResourceHandle();
        m_resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
        ASSERT_NE(m_resources, nullptr);
        AfxSetResourceHandle(m_resources);
        theApp.Reset();
        theApp.SetRootKey(u"Software\\VEVUVUV\\Kovra");
        g_steps.clear();
        auto pManager = std::make_unique<CZentraManager>();
        ASSERT_TRUE(pManager->Init(0x1A));
        m_manager = pManager.get();
        theApp.UseZentraManager(std::move(pManager));

        // An enclosure disk of a 16 MiB public and a 16 MiB secure partition, the secure one made with kPassword.
        m_image =
            NewImage("enclosure.img", 40ull << 20, ZENTRA_DISK_SIGNATURE, {{0x06, 63, 32768}, {0x63, 32894, 32768}});
        m_number = Plug(m_image);
        ASSERT_TRUE(storagetest::PumpUntil(
            [&] { return m_manager->GetPhysicalDrive(static_cast<int>(m_number)) != nullptr; }));
        ASSERT_TRUE(m_manager->WriteSecureSignature(static_cast<int>(m_number)));
        m_partition = m_manager->GetPhysicalDrive(static_cast<int>(m_number))->GetSecurePartitionName();
        ASSERT_EQ(m_manager->CreateSecureDisk(u"S:", m_partition, kPassword, ZENTRA_MODE_ENCRYPTED, 0), 0u);
        ASSERT_EQ(m_manager->CloseSecureDisk(u"S:"), 0u);
        ASSERT_EQ(m_manager->GetOpenableSecureDiskCount(), 1);
    }
    void TearDown() override {
        m_manager = nullptr;
        theApp.UseZentraManager(std::make_unique<CZentraManager>());
        theApp.SetCurrentDialog(nullptr);
        AfxSetResourceHandle(m_previousResources);
        if (m_resources)
            FreeLibrary(m_resources);
        StorageTest::TearDown();
    }
    static void Start(CExpertModeDlg& dlg) {
        ASSERT_TRUE(dlg.Create());
        ASSERT_TRUE(storagetest::PumpUntil([&] { return dlg.IsInitialized() != FALSE; }));
    }
    // The letter of the first open secure disk, 0 when none is open.
    WCHAR OpenSecureLetter() const {
        const DWORD dwOpen = m_manager->GetOpenedSecureDisks();
        for (int i = 0; i < 26; ++i)
            if (dwOpen & (1u << i))
                return static_cast<WCHAR>(u'A' + i);
        return 0;
    }

    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
    CZentraManager* m_manager = nullptr;
    std::string m_image;
    DWORD m_number = 0;
    CString m_partition;
};

TEST_F(ExpertModeDisksTest, TheStartUpOffersTheSecureDiskFoundAndEndsOnceTheDiskHasReported) {
    std::vector<std::u16string> questions;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) -> platform::ui::PromptReply {
        questions.push_back(info.caption + u": " + info.text);
        g_steps.push_back(u"asked");
        return IDNO;
    });
    CStepExpertDlg dlg;
    Start(dlg);
    dlg.ScanSecureDrives(FALSE);
    ASSERT_TRUE(storagetest::PumpUntil([] { return g_steps.size() >= 3; }));
    storagetest::PumpUntil([] { return false; }, std::chrono::seconds(0));
    // The question first; the start-up ends only after the disk's step.
    EXPECT_EQ(g_steps, (std::vector<std::u16string>{u"asked", u"last step 4", u"last step 0"}));
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], u"Find a secure disk: A secure disk image is found, do you want to open it now?");
    EXPECT_EQ(OpenSecureLetter(), 0);

    // The public partition of the enclosure disk carries the program's public-disk picture in Explorer.
    const std::u16string letters = LettersOf(m_number);
    ASSERT_FALSE(letters.empty());
    const CString strPublic = CString(u"\\") + letters[0];
    EXPECT_EQ(DefaultValue(strPublic + u"\\DefaultLabel"), CString(u"Kovra Public Disk"));
    dlg.DestroyWindow();
}

TEST_F(ExpertModeDisksTest, ARememberedPasswordOpensTheSecureDiskWhichGoesWithItsDisk) {
    ASSERT_TRUE(CExpertModeDlg::SetSecureSetting(TRUE, kPassword));
    int asked = 0;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo&) -> platform::ui::PromptReply {
        ++asked;
        return IDNO;
    });
    CStepExpertDlg dlg;
    Start(dlg);
    dlg.ScanSecureDrives(TRUE);
    ASSERT_TRUE(storagetest::PumpUntil([] { return g_steps.size() >= 2; }, std::chrono::seconds(60)));
    EXPECT_EQ(asked, 0);
    const WCHAR secure = OpenSecureLetter();
    ASSERT_NE(secure, 0);
    // Explorer shows it as the secure disk.
    const CString strKey = CString(u"\\") + secure;
    ASSERT_TRUE(storagetest::PumpUntil(
        [&] { return DefaultValue(strKey + u"\\DefaultLabel") == CString(u"Kovra Secure Disk"); }));

    // The disk is pulled out: its secure disk is closed, and its picture removed with its letter.
    ASSERT_EQ(storagetest::PumpWhile([&] { return platform::devices::UnplugDisk(m_number, true); }),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(storagetest::PumpUntil([&] { return OpenSecureLetter() == 0; }, std::chrono::seconds(60)));
    EXPECT_TRUE(storagetest::PumpUntil([&] { return DefaultValue(strKey) == CString(u"(none)"); }));
    dlg.DestroyWindow();
}

} // namespace
