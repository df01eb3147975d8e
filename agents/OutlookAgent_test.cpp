// The Outlook agent on a realistic profile: a default mail profile naming personal folder files by wide and 8-bit
// paths (two of them of the same name), the client's program path; back up, wipe, restore at the recorded paths;
// the restore choices; and a running client (a stand-in program named "outlook.exe") asked about and closed.
#include "agents/AgentTestSupport.h"
#include "agents/OutlookAgent.h"

#include "app/Utility.h"

#include "platform/base/sync.h"
#include "platform/registry/ini.h"
#include "platform/registry/registry.h"
#include "platform/system/processes.h"
#include "platform/testing/eventually.h"
#include "platform/testing/shared_resource.h"
#include "platform/ui/msgbox.h"

#include <sys/stat.h>

using namespace agenttest;

namespace {

constexpr const char16_t* kProfiles =
    u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";

void SetBinary(const std::u16string& key, const char16_t* name, const void* data, size_t size) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, key.c_str(), &k), ERROR_SUCCESS);
    RegSetValueExW(k, name, 0, REG_BINARY, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    RegCloseKey(k);
}

void SetString(HKEY root, const std::u16string& key, const char16_t* name, const std::u16string& value) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyW(root, key.c_str(), &k), ERROR_SUCCESS);
    RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * 2));
    RegCloseKey(k);
}

class OutlookAgentTest : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        Write("Program Files/Microsoft Office/OFFICE11/OUTLOOK.EXE", "MZ");
        SetString(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Outlook.exe", nullptr,
                  u"C:\\Program Files\\Microsoft Office\\OFFICE11\\OUTLOOK.EXE");
        SetString(HKEY_CURRENT_USER, kProfiles, u"DefaultProfile", u"Outlook");
        const std::u16string profile = std::u16string(kProfiles) + u"\\Outlook\\";
        // The mail store of the default delivery: the wide form of the path.
        const std::u16string main = u"C:\\Local Settings\\Application Data\\Microsoft\\Outlook\\Outlook.pst";
        SetBinary(profile + u"13dbb0c8aa05101a9bb000aa002fc45a", u"001f6700", main.c_str(), (main.size() + 1) * 2);
        // An archive named by the 8-bit form.
        const std::string archive = "C:\\Mail\\archive.pst";
        SetBinary(profile + u"8503020000000000c000000000000046", u"001e6700", archive.c_str(), archive.size() + 1);
        // An older store of the same file name in another folder, and one whose file is gone.
        const std::u16string old = u"C:\\Old\\Outlook.pst";
        SetBinary(profile + u"0a0d020000000000c000000000000046", u"001f6700", old.c_str(), (old.size() + 1) * 2);
        const std::u16string gone = u"C:\\Gone\\lost.pst";
        SetBinary(profile + u"9207f3e0a3b11019908b08002b2a56c2", u"001f6700", gone.c_str(), (gone.size() + 1) * 2);
        Write("Local Settings/Application Data/Microsoft/Outlook/Outlook.pst", std::string(70000, 'm'));
        Write("Mail/archive.pst", "archive of old mail");
        Write("Old/Outlook.pst", "the older store");
        ASSERT_EQ(m_manager.AddAgent(&m_agent), 1);
    }
    void Write(const std::string& relative, const std::string& bytes) {
        const std::string path = m_home + "/" + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    HTREEITEM Root(CShellTreeCtrl& tree) { return Child(tree, tree.GetRootItem(), u"Outlook"); }
    std::vector<CString> Paths(CShellTreeCtrl& tree, HTREEITEM parent) {
        std::vector<CString> paths;
        for (HTREEITEM h = tree.GetChildItem(parent); h; h = tree.GetNextSiblingItem(h))
            paths.push_back(reinterpret_cast<CShellItemData*>(tree.GetItemData(h))->m_list.GetPath());
        return paths;
    }

    COutlookAgent m_agent;
};

TEST_F(OutlookAgentTest, StoresAreBackedUpWipedAndRestoredWhereTheyWere) {
    CShellTreeCtrl& source = NewTree(kTreeBackup);
    HTREEITEM root = Root(source);
    ASSERT_NE(root, nullptr);
    // The files are listed at once; the one whose file is gone is not.
    EXPECT_EQ(Paths(source, root),
              (std::vector<CString>{u"C:\\Local Settings\\Application Data\\Microsoft\\Outlook\\Outlook.pst",
                                    u"C:\\Mail\\archive.pst", u"C:\\Old\\Outlook.pst"}));
    source.CheckBranch(root, kStateChecked);
    JobRunner job(source, m_manager);
    job.Backup(CString(m_drive.Path()));
    EXPECT_EQ(job.copied.size(), 3u);
    // Two stores of one name keep both their copies and their lines.
    EXPECT_EQ(ReadHost(SetHost("Outlook/Outlook.pst")), std::string(70000, 'm'));
    EXPECT_EQ(ReadHost(SetHost("Outlook/Outlook (2).pst")), "the older store");
    EXPECT_EQ(ReadHost(SetHost("Outlook/archive.pst")), "archive of old mail");
    const CString ini = SetPath() + u"\\Outlook\\outlook.ini";
    WCHAR value[260] = {};
    GetPrivateProfileStringW(u"PSTPath", u"Outlook (2).pst", u"", value, 260, ini);
    EXPECT_EQ(CString(value), CString(u"C:\\Old\\Outlook.pst"));
    EXPECT_EQ(m_agent.HasBackupData(m_drive.Letter()), 1);

    for (const char* file :
         {"Local Settings/Application Data/Microsoft/Outlook/Outlook.pst", "Mail/archive.pst", "Old/Outlook.pst"})
        std::filesystem::remove(m_home + "/" + file);

    CShellTreeCtrl& restore = NewTree(kTreeRestore);
    HTREEITEM set = Root(restore);
    ASSERT_NE(set, nullptr);
    UserExpand(restore, set);
    EXPECT_EQ(restore.GetChildItem(set) ? Paths(restore, set).size() : 0u, 3u);
    restore.CheckBranch(set, kStateChecked);
    JobRunner back(restore, m_manager);
    back.Restore(1, CString());
    EXPECT_EQ(ReadHost(m_home + "/Local Settings/Application Data/Microsoft/Outlook/Outlook.pst"),
              std::string(70000, 'm'));
    EXPECT_EQ(ReadHost(m_home + "/Mail/archive.pst"), "archive of old mail");
    EXPECT_EQ(ReadHost(m_home + "/Old/Outlook.pst"), "the older store");
}

TEST_F(OutlookAgentTest, RestoreChoicesAndASetFileWithoutItsLine) {
    std::filesystem::create_directories(SetHost("Outlook"));
    std::ofstream(SetHost("Outlook/Outlook.pst")) << "x";
    std::ofstream(SetHost("Outlook/stray.pst")) << "y";
    ASSERT_TRUE(WritePrivateProfileStringW(u"PSTPath", u"Outlook.pst", u"C:\\Mail\\Outlook.pst",
                                           SetPath() + u"\\Outlook\\outlook.ini"));
    // The choices by the file's place in a set (the lines of the set below are read for choice 1).
    const CString set = u"\\\\?\\" + SetPath();
    struct Case {
        int option;
        const char16_t* destination;
        CString source;
        int answer;
        const char16_t* expected;
    };
    const Case cases[] = {
        {1, u"", set + u"\\Outlook\\Outlook.pst", kPathMapped, u"\\\\?\\C:\\Mail\\Outlook.pst"},
        {1, u"", set + u"\\Outlook\\stray.pst", kPathSkip, u""},
        {2, u"D:\\R", set + u"\\Outlook\\Outlook.pst", kPathMapped, u"\\\\?\\D:\\R\\Outlook.pst"},
        {2, u"D:\\R", u"\\\\?\\T:\\KovraData\\Ann@PC\\Outlook\\none.pst", kPathMapped, u"\\\\?\\D:\\R"},
        {3, u"D:\\R", u"\\\\?\\T:\\KovraData\\Ann@PC\\Outlook\\Outlook.pst", kPathMapped,
         u"\\\\?\\D:\\R\\Outlook\\Outlook.pst"},
        {3, u"", u"\\\\?\\T:\\KovraData\\Ann@PC\\Outlook\\Outlook.pst", kPathSkip, u""},
        {7, u"D:\\R", u"\\\\?\\T:\\KovraData\\Ann@PC\\Outlook\\Outlook.pst", kPathSkip, u""},
    };
    for (const Case& c : cases) {
        WCHAR source[2048] = {};
        lstrcpynW(source, c.source, 2048);
        WCHAR dest[2048] = {};
        EXPECT_EQ(m_agent.MapRestorePath(nullptr, nullptr, c.option, c.destination, source, dest, sizeof dest),
                  c.answer)
            << c.option;
        if (c.answer == kPathMapped) {
            EXPECT_EQ(CString(dest), CString(c.expected)) << c.option;
        }
    }
    // The restore tree shows only the file with its line.
    m_trees.clear();
    CShellTreeCtrl& restore = NewTree(kTreeRestore);
    HTREEITEM hSet = Root(restore);
    ASSERT_NE(hSet, nullptr);
    UserExpand(restore, hSet);
    ASSERT_EQ(Paths(restore, hSet).size(), 1u);
    EXPECT_EQ(agenttest::WithoutPrefix(Paths(restore, hSet)[0]), SetPath() + u"\\Outlook\\Outlook.pst");
}

// Starts the stand-in client as "outlook.exe" on T: (a lower-case name, as the client may well be started).
HANDLE StartClient(const testsupport::ScratchDrive& drive, bool stubborn) {
    const std::string path = drive.Root() + "/outlook.exe";
    std::filesystem::copy_file(AGENTS_TEST_PROGRAM, path, std::filesystem::copy_options::overwrite_existing);
    chmod(path.c_str(), 0755);
    std::u16string line = std::u16string(u"T:\\outlook.exe") + (stubborn ? u" --stubborn" : u"");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    return info.hProcess;
}

TEST_F(OutlookAgentTest, ARunningClientIsAskedAboutAndClosedFirst) {
    // Every program sees every "outlook.exe" of the computer: no other test may run one meanwhile.
    testsupport::ScopedSharedResource outlook("outlook-exe");
    ASSERT_TRUE(outlook.Held());
    EXPECT_EQ(m_agent.CanStartJob(m_host.GetSafeHwnd(), 1), 1) << "no client runs";
    HANDLE client = StartClient(m_drive, false);
    ASSERT_NE(client, nullptr) << GetLastError();
    ASSERT_TRUE(testsupport::Eventually([] { return FindWindowW(u"AgentsTestClient", nullptr) != nullptr; }));
    EXPECT_TRUE(IsProcessRunning(u"OUTLOOK.EXE")) << "the name is compared without regard to case";
    std::vector<std::u16string> asked;
    {
        // Cancel: the job does not start and the client goes on.
        platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
            asked.push_back(info.text);
            return platform::ui::PromptReply(IDCANCEL);
        });
        EXPECT_EQ(m_agent.CanStartJob(m_host.GetSafeHwnd(), 1), 0);
    }
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].rfind(u"Outlook is running.", 0), 0u);
    EXPECT_EQ(WaitForSingleObject(client, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    {
        // OK closes the client; whether it is gone within the second the close gives it depends on the machine, so
        // an unfinished close may still be reported and answered by Continue here.
        platform::ui::ScopedPromptHook again([&](const platform::ui::PromptInfo& info) {
            return platform::ui::PromptReply(info.text == u"Closing Outlook failed." ? IDCONTINUE : IDOK);
        });
        EXPECT_EQ(m_agent.CanStartJob(m_host.GetSafeHwnd(), 1), 1);
    }
    EXPECT_EQ(WaitForSingleObject(client, 20'000), WAIT_OBJECT_0) << "the client was not closed";
    CloseHandle(client);

    // A client that will not close: Cancel in the second question keeps the job from starting.
    HANDLE stubborn = StartClient(m_drive, true);
    ASSERT_NE(stubborn, nullptr);
    ASSERT_TRUE(testsupport::Eventually([] { return FindWindowW(u"AgentsTestClient", nullptr) != nullptr; }));
    asked.clear();
    {
        platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
            asked.push_back(info.text);
            return platform::ui::PromptReply(info.text == u"Closing Outlook failed." ? IDCANCEL : IDOK);
        });
        EXPECT_EQ(m_agent.CanStartJob(m_host.GetSafeHwnd(), 1), 0);
        // The schedule does not ask again: the job goes ahead.
        EXPECT_EQ(m_agent.CanStartJob(m_host.GetSafeHwnd(), 0), 1);
    }
    EXPECT_EQ(asked.size(), 3u);
    TerminateProcess(stubborn, 1);
    WaitForSingleObject(stubborn, INFINITE);
    CloseHandle(stubborn);
}

} // namespace
