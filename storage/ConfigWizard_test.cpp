// The Quick Configure Wizard on the program's own templates with the real driver, driven as a user drives it over
// image disks plugged in on an enclosure bridge: the pages' rules, a disk prepared end to end, and failures that
// stop the run where they happen and leave a disk that can be prepared again.
#include "shared/DiskTestSupport.h"
#include "shared/LogicalDrive.h"
#include "shared/PhysicalDrive.h"
#include "storage/ConfigWizardDlg.h"
#include "storage/SecureSetting.h"
#include "storage/ZentraManager.h"
#include "storage/testdata/StorageTestApp.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/fs/volumes.h"
#include "platform/registry/registry.h"
#include "platform/testing/eventually.h"
#include "platform/ui/input.h"
#include "platform/ui/prompt_test_support.h"

#include <atomic>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using platform::ui::PromptKind;
using storagetest::PumpUntil;

std::string ProgramFolder() {
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    path.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.find_last_of('/'));
}

std::atomic<int> g_removedSettings{0};

class ConfigWizardTest : public storagetest::StorageTest {
protected:
    void SetUp() override {
        StorageTest::SetUp();
        MapDrive(u'B', ProgramFolder());
        // The driver is written to the temporary folder, in the machine folder, before it is installed.
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
        g_removedSettings = 0;
        CONFIG_DISK_HOOKS hooks;
        hooks.pfnRemoveBackupSettings = [] { ++g_removedSettings; };
        CConfigDisk5::SetHooks(hooks);
    }
    void TearDown() override {
        CConfigDisk5::SetHooks(CONFIG_DISK_HOOKS{});
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

    DWORD PlugBlank(const char* name, uint64_t bytes) {
        const DWORD number = Plug(NewImage(name, bytes));
        EXPECT_TRUE(PumpUntil([&] { return manager->GetPhysicalDrive(static_cast<int>(number)) != nullptr; }));
        return number;
    }

    // Runs the wizard modally while `user` works its window from another thread; the wizard's result.
    INT_PTR RunWizard(const std::function<void(HWND)>& user) {
        CConfigWizardDlg wizard;
        CConfigDisk1 page1;
        CConfigDisk2 page2;
        CConfigDisk3 page3;
        CConfigDisk4 page4;
        CConfigDisk5 page5;
        wizard.AddPage(&page1, CConfigDisk1::IDD);
        wizard.AddPage(&page2, CConfigDisk2::IDD);
        wizard.AddPage(&page3, CConfigDisk3::IDD);
        wizard.AddPage(&page4, CConfigDisk4::IDD);
        wizard.AddPage(&page5, CConfigDisk5::IDD);
        std::atomic<bool> done{false};
        std::thread thread([&] {
            struct Done {
                std::atomic<bool>& flag;
                ~Done() { flag = true; }
            } markDone{done};
            HWND hwnd = nullptr;
            ASSERT_TRUE(testsupport::Eventually([&] {
                hwnd = FindWindowW(nullptr, u"Quick Configure Wizard");
                return hwnd && IsWindowVisible(hwnd);
            }));
            user(hwnd);
        });
        const INT_PTR result = wizard.DoModal();
        // The user may still be waiting on a window of this thread when the wizard ended too early.
        EXPECT_TRUE(PumpUntil([&] { return done.load(); }, std::chrono::seconds(150)));
        thread.join();
        return result;
    }

    // The visible page of the wizard (its dialog id), 0 when none.
    static int ShownPage(HWND wizard) {
        for (int id : {3400, 3500, 4100, 3600, 3700}) {
            for (HWND child = GetWindow(wizard, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                if (IsWindowVisible(child) && GetDlgItem(child, id == 3400   ? 3403
                                                                : id == 3500 ? 3502
                                                                : id == 4100 ? 4103
                                                                : id == 3600 ? 3603
                                                                             : 3704))
                    return id;
            }
        }
        return 0;
    }
    static HWND PageWindow(HWND wizard, int control) {
        for (HWND child = GetWindow(wizard, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (IsWindowVisible(child) && GetDlgItem(child, control))
                return child;
        }
        return nullptr;
    }
    static std::u16string Text(HWND dlg, int id) {
        WCHAR buffer[512] = {};
        GetWindowTextW(GetDlgItem(dlg, id), buffer, 512);
        return buffer;
    }
    // The disk's size in MB: public and secure size together.
    static long long Total(HWND page2) {
        return std::stoll(platform::Utf16ToUtf8(Text(page2, 3502))) +
               std::stoll(platform::Utf16ToUtf8(Text(page2, 3504)));
    }
    static void Type(HWND dlg, int id, const char16_t* text) { SetWindowTextW(GetDlgItem(dlg, id), text); }
    // Clicks the button once it can be clicked (the wizard sets its buttons right after a page shows).
    static void Press(HWND dlg, int id) {
        HWND button = GetDlgItem(dlg, id);
        ASSERT_TRUE(testsupport::Eventually([&] { return IsWindowVisible(button) && IsWindowEnabled(button); }));
        ASSERT_TRUE(platform::ui::Click(button));
    }
    static void WaitForPage(HWND wizard, int id) {
        ASSERT_TRUE(testsupport::Eventually([&] { return ShownPage(wizard) == id; })) << ShownPage(wizard);
    }

    // Pages 1 to 4 with the given public size and password; the last warning is answered with OK.
    void FillPages(HWND wizard, const char16_t* publicMB, const char16_t* password) {
        WaitForPage(wizard, 3400);
        Press(wizard, ID_WIZNEXT);
        WaitForPage(wizard, 3500);
        Type(PageWindow(wizard, 3502), 3502, publicMB);
        Press(wizard, ID_WIZNEXT);
        if (password) {
            WaitForPage(wizard, 4100);
            HWND page3 = PageWindow(wizard, 4103);
            Type(page3, 4103, password);
            Type(page3, 4105, password);
            SetWindowTextW(GetDlgItem(page3, 4107), u"Pet Name");
            Press(wizard, ID_WIZNEXT);
        }
        WaitForPage(wizard, 3600);
        Press(wizard, ID_WIZNEXT);
        WaitForPage(wizard, 3700);
    }
    // Waits until the run has ended (Finish enabled).
    static void WaitForRunEnd(HWND wizard) {
        // The wizard hides Cancel as the last page starts, and enables Finish when the run has ended.
        ASSERT_TRUE(testsupport::Eventually([&] { return !IsWindowVisible(GetDlgItem(wizard, IDCANCEL)); }));
        ASSERT_TRUE(testsupport::Eventually([&] { return IsWindowEnabled(GetDlgItem(wizard, ID_WIZFINISH)) == TRUE; },
                                            std::chrono::seconds(120)));
    }

    struct Layout {
        uint32_t signature = 0;
        uint8_t types[4] = {};
    };
    Layout ReadLayout(DWORD number) {
        Layout layout;
        for (const auto& disk : platform::devices::ListDisks()) {
            if (disk.number != number)
                continue;
            const auto mbr = ReadImage(disk.image, 0, 512);
            memcpy(&layout.signature, mbr.data() + 440, 4);
            for (int i = 0; i < 4; ++i)
                layout.types[i] = mbr[446 + 16 * i + 4];
        }
        return layout;
    }
    static std::u16string FileSystemOf(WCHAR letter) {
        WCHAR root[4] = {letter, u':', u'\\', 0};
        WCHAR label[64] = {}, fileSystem[16] = {};
        DWORD serial = 0;
        if (!GetVolumeInformationW(root, label, 64, &serial, nullptr, nullptr, fileSystem, 16))
            return u"";
        return std::u16string(fileSystem) + u" " + label;
    }

    CZentraManager* manager = nullptr;
    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
};

TEST_F(ConfigWizardTest, TheSizePageKeepsATenthPublicAndEightMegabytesSecureAndSkipsThePasswordWithoutASecurePart) {
    const DWORD number = PlugBlank("big.img", 100000ull << 20); // sparse; nothing is written
    std::u16string total;
    RunWizard([&](HWND wizard) {
        WaitForPage(wizard, 3400);
        HWND page1 = PageWindow(wizard, 3403);
        WCHAR item[64] = {};
        SendMessageW(GetDlgItem(page1, 3403), CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(item));
        EXPECT_EQ(std::u16string(item).rfind(u"Physical disk " + std::u16string(1, u'0' + number) + u" - ", 0), 0u);
        Press(wizard, ID_WIZNEXT);
        WaitForPage(wizard, 3500);
        HWND page2 = PageWindow(wizard, 3502);
        const long long t = Total(page2);
        const long long maxSecure = t / 10 * 9;
        auto next = [&](const std::u16string& typed) {
            Type(page2, 3502, typed.c_str());
            Press(wizard, ID_WIZNEXT);
        };
        auto back = [&](int from) {
            WaitForPage(wizard, from);
            Press(wizard, ID_WIZBACK);
            WaitForPage(wizard, 3500);
        };
        auto sizes = [&] { return Text(page2, 3502) + u"/" + Text(page2, 3504); };
        auto expect = [&](long long pub, long long sec) {
            EXPECT_EQ(sizes(), platform::Utf8ToUtf16(std::to_string(pub) + "/" + std::to_string(sec)));
        };
        next(u"5000"); // the secure part is at most nine tenths
        back(4100);
        expect(t - maxSecure, maxSecure);
        next(platform::Utf8ToUtf16(std::to_string(t - 5))); // 5 MB secure is raised to 8
        back(4100);
        expect(t - 8, 8);
        for (const char16_t* bad : {u"0", u"abc"}) { // no size of this disk: the split stays
            next(bad);
            back(4100);
            expect(t - 8, 8);
        }
        // The whole disk public: no secure part, the password page is skipped both ways.
        next(platform::Utf8ToUtf16(std::to_string(t)));
        WaitForPage(wizard, 3600);
        HWND page4 = PageWindow(wizard, 3603);
        EXPECT_EQ(SendMessageW(GetDlgItem(page4, 3603), LVM_GETITEMCOUNT, 0, 0), 1);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(page4, 1246)));
        back(3600);
        expect(t, 0);
        // With a secure part again, the summary has two rows and the remember-password choice.
        next(platform::Utf8ToUtf16(std::to_string(t / 2)));
        WaitForPage(wizard, 4100);
        HWND page3 = PageWindow(wizard, 4103);
        {
            // Seven characters are refused even when the confirmation differs; then a mismatch is refused.
            uitest::PromptScript prompts;
            prompts.Expect(PromptKind::MessageBox, u"at least 8 alphanumeric characters", IDOK)
                .Expect(PromptKind::MessageBox, u"The password is inconsistent", IDOK);
            Type(page3, 4103, u"1234567");
            Type(page3, 4105, u"other");
            Press(wizard, ID_WIZNEXT);
            ASSERT_TRUE(testsupport::Eventually([&] { return prompts.Seen().size() == 1; }));
            Type(page3, 4103, u"12345678");
            Type(page3, 4105, u"12345679");
            Press(wizard, ID_WIZNEXT);
            ASSERT_TRUE(testsupport::Eventually([&] { return prompts.Seen().size() == 2; }));
            EXPECT_EQ(ShownPage(wizard), 4100);
        }
        Type(page3, 4105, u"12345678");
        Press(wizard, ID_WIZNEXT);
        WaitForPage(wizard, 3600);
        page4 = PageWindow(wizard, 3603);
        EXPECT_EQ(SendMessageW(GetDlgItem(page4, 3603), LVM_GETITEMCOUNT, 0, 0), 2);
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(page4, 1246)));
        {
            // The last warning declined: the wizard stays, nothing is touched.
            uitest::PromptScript prompts;
            prompts.Expect(PromptKind::MessageBox, u"256 bit encryption", IDCANCEL);
            Press(wizard, ID_WIZNEXT);
            ASSERT_TRUE(testsupport::Eventually([&] { return prompts.Seen().size() == 1; }));
            EXPECT_EQ(ShownPage(wizard), 3600);
        }
        total = Text(page2, 3502);
        Press(wizard, IDCANCEL);
    });
    EXPECT_EQ(ReadLayout(number).signature, 0u);
    EXPECT_EQ(g_removedSettings, 0);
}

TEST_F(ConfigWizardTest, ABlankDiskIsPartitionedFormattedAndGetsItsSecureDisk) {
    const DWORD number = PlugBlank("blank.img", 160ull << 20);
    // The newest setup program beside the program goes to the public disk.
    const std::string oldSetup = ProgramFolder() + "/KovraV1Setup.exe";
    const std::string newSetup = ProgramFolder() + "/KovraV2Setup.exe";
    std::ofstream(oldSetup) << "old";
    std::ofstream(newSetup) << "new";
    struct timespec times[2] = {{1000, 0}, {1000, 0}};
    utimensat(AT_FDCWD, oldSetup.c_str(), times, 0);
    struct Remove {
        std::string a, b;
        ~Remove() {
            unlink(a.c_str());
            unlink(b.c_str());
        }
    } removeSetups{oldSetup, newSetup};
    std::u16string publicStatus, secureStatus;
    WCHAR publicLetter = 0, secureLetter = 0;
    RunWizard([&](HWND wizard) {
        uitest::PromptScript prompts;
        prompts.Expect(PromptKind::MessageBox, u"WARNING", IDOK);
        WaitForPage(wizard, 3400);
        Press(wizard, ID_WIZNEXT);
        WaitForPage(wizard, 3500);
        Press(wizard, ID_WIZBACK);
        FillPages(wizard, u"64", u"first secret");
        HWND page5 = PageWindow(wizard, 3704);
        EXPECT_TRUE(testsupport::Eventually([&] {
            return !IsWindowVisible(GetDlgItem(wizard, ID_WIZBACK)) && !IsWindowVisible(GetDlgItem(wizard, IDCANCEL));
        }));
        WaitForRunEnd(wizard);
        publicStatus = Text(page5, 3704);
        secureStatus = Text(page5, 3706);
        Press(wizard, ID_WIZFINISH);
    });
    EXPECT_EQ(publicStatus, u"Completed.");
    EXPECT_EQ(secureStatus, u"Completed.");
    const Layout layout = ReadLayout(number);
    EXPECT_EQ(layout.signature, ZENTRA_DISK_SIGNATURE);
    EXPECT_EQ(layout.types[0], 0x06);
    EXPECT_EQ(layout.types[1], 0x63);
    EXPECT_EQ(g_removedSettings, 1);
    const std::u16string letters = LettersOf(number);
    ASSERT_EQ(letters.size(), 1u);
    publicLetter = letters[0];
    EXPECT_EQ(FileSystemOf(publicLetter), u"NTFS Kovra Public Disk");
    const std::u16string setup = std::u16string(1, publicLetter) + u":\\KovraSetup\\KovraV2Setup.exe";
    EXPECT_NE(GetFileAttributesW(setup.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((std::u16string(1, publicLetter) + u":\\KovraSetup\\KovraV1Setup.exe").c_str()),
              INVALID_FILE_ATTRIBUTES);
    // The secure disk is open, NTFS, marked, and its question is stored; the password is not remembered.
    const DWORD opened = manager->GetOpenedSecureDisks();
    ASSERT_NE(opened, 0u);
    for (int i = 0; i < 26; ++i)
        if (opened & (1u << i))
            secureLetter = static_cast<WCHAR>(u'A' + i);
    EXPECT_EQ(FileSystemOf(secureLetter), u"NTFS Kovra Secure Disk");
    CString question;
    CSecureSetting::GetSecureQuestion(question);
    EXPECT_EQ(question, CString(u"Pet Name"));
    EXPECT_FALSE(CSecureSetting::GetSecureSetting());
    // The secure disk opens again with its password.
    ASSERT_EQ(manager->CloseSecureDisk(CString(secureLetter) + u":"), 0u);
    EXPECT_TRUE(manager->CanOpenSecurePartition(static_cast<int>(number)));
    CString partition = manager->GetPhysicalDrive(static_cast<int>(number))->GetSecurePartitionName();
    EXPECT_EQ(manager->OpenSecureDisk(CString(secureLetter) + u":", partition, u"first secret", 2), 0u);
}

TEST_F(ConfigWizardTest, ASecureLetterTakenMeanwhileStopsTheRunWithoutFormattingItAndTheDiskCanBePreparedAgain) {
    const DWORD number = PlugBlank("again.img", 160ull << 20);
    const std::string folder = machine.Scratch("taken");
    std::ofstream(folder + "/keep.txt") << "mine";
    std::u16string secureStatus;
    RunWizard([&](HWND wizard) {
        uitest::PromptScript prompts;
        prompts.Expect(PromptKind::MessageBox, u"WARNING", IDOK);
        WaitForPage(wizard, 3400);
        Press(wizard, ID_WIZNEXT);
        WaitForPage(wizard, 3500);
        // The second letter the first page chose goes to another drive before the work starts.
        Press(wizard, ID_WIZBACK);
        WaitForPage(wizard, 3400);
        DWORD used = GetLogicalDrives();
        int seen = 0;
        WCHAR secure = 0;
        for (int i = 3; i < 26 && !secure; ++i)
            if (!(used & (1u << i)) && ++seen == 2)
                secure = static_cast<WCHAR>(u'A' + i);
        MapDrive(secure, folder);
        FillPages(wizard, u"64", u"first secret");
        WaitForRunEnd(wizard);
        secureStatus = Text(PageWindow(wizard, 3704), 3706);
        Press(wizard, ID_WIZFINISH);
    });
    EXPECT_EQ(secureStatus, u"Failed.");
    std::ifstream kept(folder + "/keep.txt");
    std::string content;
    kept >> content;
    EXPECT_EQ(content, "mine");
    EXPECT_EQ(manager->GetOpenedSecureDisks(), 0u);
    EXPECT_FALSE(manager->CanOpenSecurePartition(static_cast<int>(number)));

    // Run again on the same disk, now with one partition only: the public disk holds NTFS, the secure part is gone.
    std::u16string publicStatus;
    RunWizard([&](HWND wizard) {
        uitest::PromptScript prompts;
        prompts.Expect(PromptKind::MessageBox, u"WARNING", IDOK);
        WaitForPage(wizard, 3400);
        Press(wizard, ID_WIZNEXT);
        WaitForPage(wizard, 3500);
        HWND page2 = PageWindow(wizard, 3502);
        Type(page2, 3502, platform::Utf8ToUtf16(std::to_string(Total(page2))).c_str());
        Press(wizard, ID_WIZNEXT);
        WaitForPage(wizard, 3600);
        Press(wizard, ID_WIZNEXT);
        WaitForPage(wizard, 3700);
        HWND page5 = PageWindow(wizard, 3704);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(page5, 3706)));
        WaitForRunEnd(wizard);
        publicStatus = Text(page5, 3704);
        Press(wizard, ID_WIZFINISH);
    });
    EXPECT_EQ(publicStatus, u"Completed.");
    const Layout layout = ReadLayout(number);
    EXPECT_EQ(layout.signature, ZENTRA_ONE_PARTITION_SIGNATURE);
    EXPECT_EQ(layout.types[0], 0x06);
    EXPECT_EQ(layout.types[1], 0x00);
    const std::u16string letters = LettersOf(number);
    ASSERT_EQ(letters.size(), 1u);
    EXPECT_EQ(FileSystemOf(letters[0]), u"NTFS Kovra Public Disk");
}

} // namespace
