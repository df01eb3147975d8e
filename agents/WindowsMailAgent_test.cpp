// The Windows Mail agent on a realistic store folder and its three registry subtrees: backed up, wiped, restored
// (the store byte for byte, the subtrees read back equal key by key and value by value); cancelled jobs leave the
// previous backup and the live data alone; a restore whose copy is incomplete keeps the live store.
#include "agents/AgentTestSupport.h"
#include "agents/WindowsMailAgent.h"

#include "platform/registry/ini.h"
#include "platform/registry/registry.h"

#include <map>
#include <tuple>

using namespace agenttest;

namespace {

void Set(const std::u16string& path, const char16_t* name, DWORD type, const void* data, size_t size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, path.c_str(), &key), ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    RegCloseKey(key);
}
void SetText(const std::u16string& path, const char16_t* name, const std::u16string& text, DWORD type = REG_SZ) {
    Set(path, name, type, text.c_str(), (text.size() + 1) * 2);
}

constexpr const char16_t* kSubtrees[] = {u"Software\\Microsoft\\Windows Mail", u"Identities",
                                         u"Software\\Microsoft\\IAM"};

class WindowsMailAgentTest : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        Write("Program Files/Windows Mail/WinMail.exe", "MZ");
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyW(HKEY_LOCAL_MACHINE,
                                u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\WinMail.exe", &key),
                  ERROR_SUCCESS);
        const std::u16string program = u"C:\\Program Files\\Windows Mail\\WinMail.exe";
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                       static_cast<DWORD>((program.size() + 1) * 2));
        RegCloseKey(key);
        // The store and the settings Windows Mail keeps for it.
        SetText(u"Software\\Microsoft\\Windows Mail", u"Store Root", u"C:\\AppData\\Local\\Microsoft\\Windows Mail",
                REG_EXPAND_SZ);
        const DWORD one = 1;
        Set(u"Software\\Microsoft\\Windows Mail", u"Store Migrated", REG_DWORD, &one, 4);
        const BYTE blob[] = {0x01, 0x00, 0xff, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80,
                             0x90, 0xa0, 0xb0, 0xc0, 0xd0, 0xe0, 0xf0, 0x0f, 0x1e, 0x2d, 0x3c};
        Set(u"Software\\Microsoft\\Windows Mail\\Mail", u"Frame Pos", REG_BINARY, blob, sizeof blob);
        SetText(u"Software\\Microsoft\\Windows Mail\\Signatures\\00000000", u"text", u"Ann\r\nKovra tester");
        SetText(u"Identities", u"Default User ID", u"{A1B2C3D4-0000-1111-2222-333344445555}");
        SetText(u"Identities\\{A1B2C3D4-0000-1111-2222-333344445555}", u"Username", u"Main Identity");
        const char16_t multi[] = u"pop3\0smtp\0";
        Set(u"Software\\Microsoft\\IAM\\Accounts\\00000001", u"Kinds", REG_MULTI_SZ, multi, sizeof multi);
        SetText(u"Software\\Microsoft\\IAM\\Accounts\\00000001", u"Account Name", u"mail.example.org");
        for (const char16_t* subtree : kSubtrees)
            Dump(HKEY_CURRENT_USER, subtree, u"", m_before[subtree]);
        Write(kStore + "/WindowsMail.MSMessageStore", std::string(100000, 's'));
        Write(kStore + "/Local Folders/Inbox/{3A0E1F2B}.eml", "Subject: hello\r\n\r\nfirst");
        Write(kStore + "/Local Folders/Sent Items/{77AA0011}.eml", "Subject: re\r\n\r\nsecond");
        Write(kStore + "/Contacts/Ann.contact", "<contact/>");
        ASSERT_EQ(m_manager.AddAgent(&m_agent), 1);
    }
    void Write(const std::string& relative, const std::string& bytes) {
        const std::string path = m_home + "/" + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    HTREEITEM Root(CShellTreeCtrl& tree) { return Child(tree, tree.GetRootItem(), u"Windows Mail"); }
    // Every file below a host folder with its bytes.
    static std::map<std::string, std::string> Files(const std::string& folder) {
        std::map<std::string, std::string> files;
        if (!std::filesystem::exists(folder))
            return files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
            if (entry.is_regular_file())
                files[std::filesystem::relative(entry.path(), folder).string()] = ReadHost(entry.path().string());
        return files;
    }
    void BackUp(bool cancel = false) {
        CShellTreeCtrl& source = NewTree(kTreeBackup);
        HTREEITEM root = Root(source);
        ASSERT_NE(root, nullptr);
        source.CheckBranch(root, kStateChecked);
        JobRunner job(source, m_manager);
        job.Backup(CString(m_drive.Path()), cancel);
    }
    void Restore(bool cancel = false) {
        CShellTreeCtrl& restore = NewTree(kTreeRestore);
        HTREEITEM item = Root(restore);
        ASSERT_NE(item, nullptr);
        restore.CheckBranch(item, kStateChecked);
        JobRunner job(restore, m_manager);
        job.Restore(1, CString(), cancel);
    }

    const std::string kStore = "AppData/Local/Microsoft/Windows Mail";
    std::map<std::u16string, Tree> m_before;
    CWindowsMailAgent m_agent;
};

TEST_F(WindowsMailAgentTest, StoreAndSettingsComeBackWhole) {
    const auto store = Files(m_home + "/" + kStore);
    BackUp();
    EXPECT_EQ(Files(SetHost("WindowsMail/KovraWMStore")), store);
    EXPECT_FALSE(std::filesystem::exists(SetHost("WindowsMailBackup"))) << "the staging folder took its place";
    WCHAR recorded[2048] = {};
    GetPrivateProfileStringW(u"WindowsMail", u"KovraWMReg", u"", recorded, 2048, SetPath() + u"\\WindowsMail\\wm.ini");
    EXPECT_EQ(CString(recorded), CString(u"C:\\AppData\\Local\\Microsoft\\Windows Mail"));
    for (const char* file : {"WindowsMailMain", "Identities", "IAM"})
        EXPECT_TRUE(std::filesystem::exists(SetHost(std::string("WindowsMail/KovraWMReg/") + file))) << file;

    // The data goes: the store (a file the backup never saw stays only until the restore), and the settings.
    std::filesystem::remove_all(m_home + "/" + kStore);
    Write(kStore + "/Local Folders/Inbox/{NEW}.eml", "arrived after the backup");
    for (const char16_t* subtree : kSubtrees)
        DeleteTree(HKEY_CURRENT_USER, subtree);

    Restore();
    EXPECT_EQ(Files(m_home + "/" + kStore), store) << "the restored store replaces the live one whole";
    EXPECT_FALSE(std::filesystem::exists(m_home + "/" + kStore + " Restore"));
    for (const char16_t* subtree : kSubtrees) {
        Tree after;
        Dump(HKEY_CURRENT_USER, subtree, u"", after);
        EXPECT_EQ(after, m_before[subtree]) << platform::Utf16ToUtf8(subtree);
    }
}

TEST_F(WindowsMailAgentTest, CancelledJobsLeaveWhatWasThere) {
    BackUp();
    const auto saved = Files(SetHost("WindowsMail"));
    Write(kStore + "/Local Folders/Inbox/{later}.eml", "later mail");
    // A leftover of an interrupted run is not taken for a backup.
    std::filesystem::create_directories(SetHost("WindowsMailBackup/KovraWMStore"));
    std::ofstream(SetHost("WindowsMailBackup/KovraWMStore/stale.eml")) << "stale";
    BackUp(true);
    EXPECT_EQ(Files(SetHost("WindowsMail")), saved) << "a cancelled backup leaves the previous one";
    EXPECT_FALSE(std::filesystem::exists(SetHost("WindowsMailBackup/KovraWMStore/stale.eml")));
    BackUp();
    EXPECT_TRUE(std::filesystem::exists(SetHost("WindowsMail/KovraWMStore/Local Folders/Inbox/{later}.eml")));
    EXPECT_FALSE(std::filesystem::exists(SetHost("WindowsMail/KovraWMStore/stale.eml")));

    // A cancelled restore: the live store and the settings stay as they are.
    const auto live = Files(m_home + "/" + kStore);
    SetText(u"Identities\\{A1B2C3D4-0000-1111-2222-333344445555}", u"Username", u"Renamed");
    Restore(true);
    EXPECT_EQ(Files(m_home + "/" + kStore), live);
    WCHAR name[64] = {};
    DWORD size = sizeof name;
    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_CURRENT_USER, u"Identities\\{A1B2C3D4-0000-1111-2222-333344445555}", 0, KEY_READ, &key),
        ERROR_SUCCESS);
    RegQueryValueExW(key, u"Username", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    EXPECT_EQ(std::u16string(name), u"Renamed");
}

TEST_F(WindowsMailAgentTest, AnIncompleteRestoreKeepsTheLiveStore) {
    BackUp();
    const auto live = Files(m_home + "/" + kStore);
    // The copy into the staging folder misses a file (as a copy error would leave it).
    CShellTreeCtrl& restore = NewTree(kTreeRestore);
    HTREEITEM item = Root(restore);
    ASSERT_NE(item, nullptr);
    restore.SetCheckState(item, kStateChecked);
    int count = 0, size = 0;
    EXPECT_EQ(m_agent.PrepareRestore(&restore, item, 0x21, &count, &size), 0);
    EXPECT_EQ(count, 3);
    std::filesystem::create_directories(m_home + "/" + kStore + " Restore");
    std::ofstream(m_home + "/" + kStore + " Restore/WindowsMail.MSMessageStore") << std::string(100000, 's');
    m_agent.AfterRestore(0, &restore, item);
    EXPECT_EQ(Files(m_home + "/" + kStore), live);
    EXPECT_TRUE(std::filesystem::exists(m_home + "/" + kStore + " Restore")) << "the partial copy is kept aside";
}

TEST_F(WindowsMailAgentTest, PathsOutsideTheStoreAndOfTheSet) {
    CShellTreeCtrl& source = NewTree(kTreeBackup);
    ASSERT_NE(Root(source), nullptr);
    source.CheckBranch(Root(source), kStateChecked);
    int count = 0, size = 0;
    // A counting job sizes the three subtrees and writes nothing.
    m_agent.PrepareBackup(&source, Root(source), SetPath(), 0x11, &count, &size);
    EXPECT_EQ(count, 3);
    EXPECT_GT(size, 0);
    EXPECT_FALSE(std::filesystem::exists(SetHost("WindowsMailBackup")));
    WCHAR src[2048] = u"\\\\?\\C:\\Program Files\\Windows Mail\\WinMail.exe";
    WCHAR dest[2048] = u"T:\\";
    EXPECT_EQ(m_agent.MapBackupPath(&source, Root(source), u"Ann@PC", src, dest, sizeof dest), kPathSkip);
    WCHAR inStore[2048] = u"\\\\?\\C:\\AppData\\Local\\Microsoft\\Windows Mail\\Contacts\\Ann.contact";
    lstrcpynW(dest, u"T:\\", 2048);
    EXPECT_EQ(m_agent.MapBackupPath(&source, Root(source), u"Ann@PC", inStore, dest, sizeof dest), kPathMapped);
    EXPECT_EQ(CString(dest), CString(u"T:\\KovraData\\Ann@PC\\WindowsMailBackup\\KovraWMStore\\Contacts\\Ann.contact"));
}

} // namespace
