// The secure disk's dialogs on the program's own templates, with the real driver and an enclosure image plugged in:
// opening, closing and re-passwording a secure disk as a user does it, the remembered password and the dialog that
// opens the disk with it.
#include "shared/DiskTestSupport.h"
#include "shared/LogicalDrive.h"
#include "shared/PhysicalDrive.h"
#include "storage/AutoMountSecureDlg.h"
#include "storage/ManageSecureDiskDlg.h"
#include "storage/SecureSetting.h"
#include "storage/SysChangePasswordDlg.h"
#include "storage/SysManDismountDlg.h"
#include "storage/SysManMountDlg.h"
#include "storage/ZentraManager.h"
#include "storage/ZentraObj.h"

#include "app/BrannicApp.h"
#include "storage/testdata/StorageTestApp.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/codepage.h"
#include "platform/base/module.h"
#include "platform/fs/paths.h"
#include "platform/registry/registry.h"
#include "platform/testing/eventually.h"
#include "platform/ui/input.h"
#include "platform/ui/prompt_test_support.h"

#include <functional>
#include <random>
#include <thread>
#include <unistd.h>

CStorageTestApp theApp;

namespace {

using platform::ui::PromptKind;
using storagetest::PumpUntil;

std::string ExeFolder() {
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    path.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.find_last_of('/'));
}

constexpr const char16_t* kPassword = u"first secret";

class SecureDiskDialogsTest : public storagetest::StorageTest {
protected:
    void SetUp() override {
        StorageTest::SetUp();
        MapDrive(u'B', ExeFolder());
        MapDrive(u'M', machine.Folder());
        m_previousResources = AfxGetResourceHandle();
        m_resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
        ASSERT_NE(m_resources, nullptr);
        AfxSetResourceHandle(m_resources);
        theApp.SetRootKey(u"Software\\VEVUVUV\\Kovra");
        auto pManager = std::make_unique<CZentraManager>();
        ASSERT_TRUE(pManager->Init(0x1A));
        manager = pManager.get();
        theApp.UseManager(std::move(pManager));

        // An enclosure disk of a 16 MiB public and a 16 MiB secure partition, the secure one made with kPassword.
        const std::string image =
            NewImage("enclosure.img", 40ull << 20, ZENTRA_DISK_SIGNATURE, {{0x06, 63, 32768}, {0x63, 32894, 32768}});
        number = Plug(image);
        ASSERT_TRUE(PumpUntil([&] { return manager->GetPhysicalDrive(static_cast<int>(number)) != nullptr; }));
        ASSERT_TRUE(manager->WriteSecureSignature(static_cast<int>(number)));
        partition = manager->GetPhysicalDrive(static_cast<int>(number))->GetSecurePartitionName();
        ASSERT_EQ(manager->CreateSecureDisk(u"S:", partition, kPassword, ZENTRA_MODE_ENCRYPTED, 0), 0u);
        ASSERT_EQ(manager->CloseSecureDisk(u"S:"), 0u);
        ASSERT_EQ(manager->GetOpenableSecureDiskCount(), 1);
    }
    void TearDown() override {
        manager = nullptr;
        theApp.UseManager(std::make_unique<CZentraManager>());
        AfxSetResourceHandle(m_previousResources);
        if (m_resources)
            FreeLibrary(m_resources);
        StorageTest::TearDown();
    }

    void MapDrive(WCHAR letter, const std::string& folder) {
        platform::fs::DriveInfo drive;
        drive.letter = letter;
        drive.hostRoot = folder;
        ASSERT_TRUE(platform::fs::SetDrive(drive));
    }

    // Opens the secure disk the way the program does and waits until the monitor knows its volume.
    CString OpenSecure(LPCTSTR lpszPassword) {
        CString drive;
        CDiskDriveMonitor::GetFreeDriveLetter(drive);
        EXPECT_EQ(manager->OpenSecureDisk(drive, partition, lpszPassword, ZENTRA_MODE_ENCRYPTED), 0u);
        EXPECT_TRUE(PumpUntil([&] { return manager->GetLogicalDriveByName(drive) != nullptr; }));
        return drive;
    }

    // Runs a modal dialog while `user` acts on its window, found by its caption, from another thread.
    static INT_PTR RunWith(CDialog& dlg, const char16_t* caption, const std::function<void(HWND)>& user) {
        std::thread thread([&] {
            HWND hwnd = nullptr;
            ASSERT_TRUE(testsupport::Eventually([&] {
                hwnd = FindWindowW(nullptr, caption);
                return hwnd && IsWindowVisible(hwnd);
            }));
            user(hwnd);
        });
        const INT_PTR result = dlg.DoModal();
        thread.join();
        return result;
    }
    static HWND Item(HWND dlg, int id) { return GetDlgItem(dlg, id); }
    static void Type(HWND dlg, int id, const char16_t* text) { SetWindowTextW(GetDlgItem(dlg, id), text); }
    static std::u16string Text(HWND dlg, int id) {
        WCHAR buffer[256] = {};
        GetWindowTextW(GetDlgItem(dlg, id), buffer, 256);
        return buffer;
    }
    static void Press(HWND dlg, int id) { ASSERT_TRUE(platform::ui::Click(GetDlgItem(dlg, id))); }
    // Clicks the button and answers the dialog it opens with OK.
    static void PressAndConfirm(HWND dlg, int id, const char16_t* caption) {
        Press(dlg, id);
        HWND confirm = nullptr;
        ASSERT_TRUE(testsupport::Eventually([&] {
            confirm = FindWindowW(nullptr, caption);
            return confirm && IsWindowVisible(confirm);
        }));
        Press(confirm, IDOK);
        ASSERT_TRUE(testsupport::Eventually([&] { return !IsWindow(confirm); }));
    }

    CZentraManager* manager = nullptr;
    DWORD number = 0;
    CString partition;
    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
};

CString Stored(LPCTSTR lpszValue) {
    HKEY hKey = nullptr;
    WCHAR buffer[300] = {};
    DWORD size = sizeof(buffer) - 2;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, CSecureSetting::GetKeyPath(), 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
        if (RegQueryValueExW(hKey, lpszValue, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS)
            buffer[0] = 0;
        RegCloseKey(hKey);
    }
    return buffer;
}

} // namespace

TEST_F(SecureDiskDialogsTest, AWrongPasswordKeepsTheOpenDialogAndTheRightOneOpensTheDiskAndIsRemembered) {
    CString expected;
    CDiskDriveMonitor::GetFreeDriveLetter(expected);
    uitest::PromptScript prompts;
    prompts.Expect(PromptKind::MessageBox, u"Password Error!", IDOK)
        .Expect(PromptKind::MessageBox, u"Open secure disk " + std::u16string(expected) + u" successfully.", IDOK);
    CSysManMountDlg dlg;
    const INT_PTR result = RunWith(dlg, u"Open Secure Disk", [&](HWND h) {
        // Collapsed, what lies below the frame is out of reach; without a stored question there is no prompt.
        EXPECT_FALSE(IsWindowEnabled(Item(h, 1249)));
        EXPECT_FALSE(IsWindowEnabled(Item(h, 3)));
        Type(h, 2803, u"wrong secret");
        Press(h, IDOK);
        ASSERT_TRUE(testsupport::Eventually([&] { return prompts.Seen().size() == 1 && Text(h, 2803).empty(); }));
        PressAndConfirm(h, 1245, u"Remember Password Option");
        Type(h, 2803, kPassword);
        Press(h, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(dlg.m_strDrive == expected);
    EXPECT_NE(manager->GetZentraObj(expected[0] - u'A'), nullptr);
    CString remembered;
    EXPECT_TRUE(CSecureSetting::GetSecureSetting(&remembered));
    EXPECT_TRUE(remembered == kPassword);
    // The registry holds the password enciphered, not as it was typed.
    EXPECT_FALSE(Stored(u"Password").IsEmpty());
    EXPECT_TRUE(Stored(u"Password").Find(kPassword) < 0);
}

TEST_F(SecureDiskDialogsTest, DecliningToRememberLeavesTheBoxClearAndDropsARememberedPassword) {
    ASSERT_TRUE(CSecureSetting::SetSecureSetting(TRUE, u"an old secret"));
    uitest::PromptScript prompts;
    prompts.Expect(PromptKind::MessageBox, u"successfully", IDOK);
    CSysManMountDlg dlg;
    const INT_PTR result = RunWith(dlg, u"Open Secure Disk", [&](HWND h) {
        // Automatic opening is on: the box starts ticked. Clearing it and ticking it again asks for confirmation,
        // and Cancel clears it.
        EXPECT_EQ(SendMessageW(Item(h, 1245), BM_GETCHECK, 0, 0), BST_CHECKED);
        Press(h, 1245);
        ASSERT_TRUE(testsupport::Eventually([&] { return SendMessageW(Item(h, 1245), BM_GETCHECK, 0, 0) == 0; }));
        Press(h, 1245);
        HWND confirm = nullptr;
        ASSERT_TRUE(testsupport::Eventually([&] {
            confirm = FindWindowW(nullptr, u"Remember Password Option");
            return confirm && IsWindowVisible(confirm);
        }));
        Press(confirm, IDCANCEL);
        ASSERT_TRUE(testsupport::Eventually([&] { return !IsWindow(confirm); }));
        EXPECT_EQ(SendMessageW(Item(h, 1245), BM_GETCHECK, 0, 0), 0);
        Type(h, 2803, kPassword);
        Press(h, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_FALSE(CSecureSetting::GetSecureSetting());
    EXPECT_TRUE(Stored(u"Password").IsEmpty());
}

TEST_F(SecureDiskDialogsTest, ThePasswordPromptShowsTheStoredQuestionBelowTheFrame) {
    ASSERT_TRUE(CSecureSetting::SetSecureQuestion(u"Pet Name"));
    CSysManMountDlg dlg;
    RunWith(dlg, u"Open Secure Disk", [&](HWND h) {
        RECT collapsed{};
        GetWindowRect(h, &collapsed);
        EXPECT_EQ(Text(h, 3), u"Password Prompt >>");
        Press(h, 3);
        ASSERT_TRUE(testsupport::Eventually([&] { return IsWindowEnabled(Item(h, 1249)) != 0; }));
        RECT expanded{};
        GetWindowRect(h, &expanded);
        EXPECT_GT(expanded.bottom - expanded.top, collapsed.bottom - collapsed.top);
        EXPECT_EQ(Text(h, 1249), u"Pet Name");
        EXPECT_EQ(Text(h, 3), u"<< Password Prompt");
        Press(h, IDCANCEL);
    });
    EXPECT_FALSE(dlg.IsExpanded() == FALSE);
}

TEST_F(SecureDiskDialogsTest, TheManageDialogOffersOnlyWhatThereIsADiskFor) {
    {
        uitest::PromptScript prompts;
        prompts.Expect(PromptKind::MessageBox, u"No opened secure disk is detected.", IDOK)
            .Expect(PromptKind::MessageBox, u"No opened secure disk is detected.", IDOK);
        CManageSecureDiskDlg dlg;
        const INT_PTR result = RunWith(dlg, u"Manage Secure Disk", [&](HWND h) {
            Press(h, 2908);
            ASSERT_TRUE(testsupport::Eventually([&] { return prompts.Seen().size() == 1; }));
            Press(h, 2903);
            ASSERT_TRUE(testsupport::Eventually([&] { return prompts.Seen().size() == 2; }));
            Press(h, 2910);
        });
        EXPECT_EQ(result, IDOK);
    }
    // Once the only secure disk is open, there is nothing left to open.
    OpenSecure(kPassword);
    uitest::PromptScript prompts;
    prompts.Expect(PromptKind::MessageBox, u"All detected secure disk has been opened already.", IDOK);
    CManageSecureDiskDlg dlg;
    RunWith(dlg, u"Manage Secure Disk", [&](HWND h) {
        Press(h, 2905);
        ASSERT_TRUE(testsupport::Eventually([&] { return prompts.Seen().size() == 1; }));
        Press(h, 2910);
    });
}

TEST_F(SecureDiskDialogsTest, ChangingThePasswordRefusesShortAndWrongPasswordsAndKeepsTheDisk) {
    const CString drive = OpenSecure(kPassword);
    ASSERT_TRUE(CSecureSetting::SetSecureSetting(TRUE, kPassword));
    uitest::PromptScript prompts;
    prompts.Expect(PromptKind::MessageBox, u"at least 8 alphanumeric characters", IDOK)
        .Expect(PromptKind::MessageBox, u"The password is inconsistent", IDOK)
        .Expect(PromptKind::MessageBox, u"Fail to change password", IDOK)
        .Expect(PromptKind::MessageBox, u"Change secure disk password successfully.", IDOK);
    CSysChangePasswordDlg dlg;
    const INT_PTR result = RunWith(dlg, u"Change Password", [&](HWND h) {
        // The opened secure disk is listed and selected once the dialog has started.
        ASSERT_TRUE(testsupport::Eventually([&] { return SendMessageW(Item(h, 2602), CB_GETCURSEL, 0, 0) == 0; }));
        EXPECT_EQ(Text(h, 2602), std::u16string(drive));
        // A remembered password ticks the box.
        EXPECT_EQ(SendMessageW(Item(h, 1247), BM_GETCHECK, 0, 0), BST_CHECKED);
        // Seven characters of the old password are refused before the new ones are compared.
        Type(h, 2604, u"7 chars");
        Type(h, 2606, u"second secret");
        Type(h, 2608, u"other secret");
        Press(h, IDOK);
        ASSERT_TRUE(testsupport::Eventually([&] { return prompts.Seen().size() == 1; }));
        Type(h, 2604, u"wrong secret");
        Press(h, IDOK);
        ASSERT_TRUE(testsupport::Eventually([&] { return prompts.Seen().size() == 2; }));
        Type(h, 2608, u"second secret");
        Press(h, IDOK);
        // A failed change empties the three fields.
        ASSERT_TRUE(testsupport::Eventually([&] { return prompts.Seen().size() == 3 && Text(h, 2606).empty(); }));
        EXPECT_TRUE(Text(h, 2604).empty());
        Type(h, 2604, kPassword);
        Type(h, 2606, u"second secret");
        Type(h, 2608, u"second secret");
        Press(h, 1247);
        ASSERT_TRUE(testsupport::Eventually([&] { return SendMessageW(Item(h, 1247), BM_GETCHECK, 0, 0) == 0; }));
        SetWindowTextW(Item(h, 1237), u"Where I was born");
        EXPECT_EQ(Text(h, 1237), u"Where I was born");
        Press(h, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    // Without the box ticked, nothing is remembered; the question is kept.
    EXPECT_FALSE(CSecureSetting::GetSecureSetting());
    EXPECT_TRUE(Stored(u"Password").IsEmpty());
    CString question;
    CSecureSetting::GetSecureQuestion(question);
    EXPECT_TRUE(question == u"Where I was born") << platform::Utf16ToUtf8(std::u16string_view(question));
    // The disk opens with the new password only.
    ASSERT_EQ(manager->CloseSecureDisk(drive), 0u);
    EXPECT_EQ(manager->OpenSecureDisk(drive, partition, kPassword, ZENTRA_MODE_ENCRYPTED),
              static_cast<DWORD>(ERROR_INVALID_PASSWORD));
    EXPECT_EQ(manager->OpenSecureDisk(drive, partition, u"second secret", ZENTRA_MODE_ENCRYPTED), 0u);
}

TEST_F(SecureDiskDialogsTest, TheCloseDialogClosesTheChosenDisk) {
    const CString drive = OpenSecure(kPassword);
    uitest::PromptScript prompts;
    prompts.Expect(PromptKind::MessageBox, u"Close secure disk " + std::u16string(drive) + u" successfully.", IDOK);
    CSysManDismountDlg dlg;
    const INT_PTR result = RunWith(dlg, u"Close Secure Disk", [&](HWND h) {
        EXPECT_EQ(Text(h, 2702), std::u16string(drive));
        Press(h, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(dlg.m_strDrive == drive);
    EXPECT_EQ(manager->GetZentraObj(drive[0] - u'A'), nullptr);
    EXPECT_TRUE(PumpUntil([&] { return manager->GetOpenedSecureDisks() == 0; }));
    EXPECT_EQ(manager->GetOpenableSecureDiskCount(), 1);
}

TEST_F(SecureDiskDialogsTest, TheAutoMountDialogOpensTheDiskWithoutAQuestionOrReportsAWrongPassword) {
    {
        uitest::PromptScript prompts;
        prompts.Expect(PromptKind::MessageBox, u"Password Error!", IDOK);
        CAutoMountSecureDlg dlg;
        dlg.m_dwDiskNumber = number;
        dlg.m_strPassword = u"not the password";
        EXPECT_EQ(dlg.DoModal(), static_cast<INT_PTR>(ERROR_INVALID_PASSWORD));
    }
    CString expected;
    CDiskDriveMonitor::GetFreeDriveLetter(expected);
    uitest::PromptScript noPrompts;
    CAutoMountSecureDlg dlg;
    dlg.m_dwDiskNumber = number;
    dlg.m_strPassword = kPassword;
    EXPECT_EQ(dlg.DoModal(), 0);
    EXPECT_TRUE(dlg.m_strDrive == expected);
    EXPECT_NE(manager->GetZentraObj(expected[0] - u'A'), nullptr);
    EXPECT_NE(manager->GetLogicalDriveByName(expected), nullptr);
    // A disk that is not there ends the dialog with "not ready".
    uitest::PromptScript notReady;
    notReady.Expect(PromptKind::MessageBox, u"", IDOK);
    CAutoMountSecureDlg missing;
    missing.m_dwDiskNumber = 31;
    missing.m_strPassword = kPassword;
    EXPECT_EQ(missing.DoModal(), static_cast<INT_PTR>(ERROR_NOT_READY));
}

// The remembered password's cipher: every password comes back exactly, also those whose cipher bytes hold a zero
// (about one in forty of these), which a zero-terminated store would cut.
TEST(SecureSetting, EveryPasswordComesBackExactlyThroughTheStore) {
    platform::machine::ScopedTestMachine machine;
    std::mt19937 random(17);
    std::uniform_int_distribution<int> letter(0x20, 0xFF);
    for (int n = 0; n < 400; ++n) {
        std::u16string password;
        const int length = 8 + n % 57;
        while (static_cast<int>(password.size()) < length) {
            const char16_t c = static_cast<char16_t>(letter(random));
            if (c < 0x7F || c >= 0xA0)
                password += c;
        }
        CString text(password.c_str());
        ASSERT_TRUE(EncryptPassword(text));
        EXPECT_FALSE(text == password.c_str());
        ASSERT_TRUE(DecryptPassword(text));
        ASSERT_TRUE(text == password.c_str()) << n;
        ASSERT_TRUE(CSecureSetting::SetSecureSetting(TRUE, password.c_str()));
        CString stored;
        ASSERT_TRUE(CSecureSetting::GetSecureSetting(&stored));
        ASSERT_TRUE(stored == password.c_str()) << n;
    }
    // A password of characters the ANSI code page lacks cannot be enciphered and is not stored.
    CString cyrillic(u"Пароль123");
    EXPECT_FALSE(EncryptPassword(cyrillic));
    EXPECT_TRUE(cyrillic == u"Пароль123");
}

TEST(SecureSetting, AStoredPasswordThatCannotBeDecipheredCountsAsNone) {
    platform::machine::ScopedTestMachine machine;
    ASSERT_TRUE(CSecureSetting::SetSecureSetting(TRUE, u"a good secret"));
    EXPECT_TRUE(CSecureSetting::GetSecureSetting());
    HKEY hKey = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, CSecureSetting::GetKeyPath(), 0, KEY_WRITE, &hKey), ERROR_SUCCESS);
    const char16_t damaged[] = u"\u00e9\u00e8x";
    RegSetValueExW(hKey, u"Password", 0, REG_SZ, reinterpret_cast<const BYTE*>(damaged), sizeof damaged);
    RegCloseKey(hKey);
    CString password(u"left over");
    EXPECT_FALSE(CSecureSetting::GetSecureSetting(&password));
    EXPECT_TRUE(password.IsEmpty());
    // Without the password asked for, the setting itself still reads as on.
    EXPECT_TRUE(CSecureSetting::GetSecureSetting());
}
