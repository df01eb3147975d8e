// The Outlook Express agent on realistic identities of a Windows XP machine: two identities with their registry
// parts, store folders of ".DBX" files and an address book are backed up, wiped, and restored into two other
// identities of "this computer" chosen in the Select Identity dialog; the registry parts read back equal under the
// target identities' keys. Also the name/value list and the dialog's own rules.
#include "agents/AgentTestSupport.h"
#include "agents/NameValueList.h"
#include "agents/OutlookEAgent.h"
#include "agents/SelectIdentityDlg.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/registry/ini.h"
#include "platform/testing/eventually.h"
#include "platform/ui/commctrl.h"
#include "platform/ui/input.h"

#include <algorithm>
#include <thread>

using namespace agenttest;

namespace {

constexpr const char16_t* kAnn = u"{11111111-AAAA-4000-8000-000000000001}";
constexpr const char16_t* kBob = u"{22222222-BBBB-4000-8000-000000000002}";
constexpr const char16_t* kAnnHome = u"{33333333-CCCC-4000-8000-000000000003}";
constexpr const char16_t* kBobHome = u"{44444444-DDDD-4000-8000-000000000004}";
constexpr const char16_t* kOe = u"Software\\Microsoft\\Outlook Express\\5.0";

std::u16string Id(const char16_t* id, const std::u16string& below = u"") {
    return std::u16string(u"Identities\\") + id + (below.empty() ? u"" : u"\\" + below);
}
void Set(const std::u16string& path, const char16_t* name, DWORD type, const void* data, size_t size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, path.c_str(), &key), ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    RegCloseKey(key);
}
void SetText(const std::u16string& path, const char16_t* name, const std::u16string& text, DWORD type = REG_SZ) {
    Set(path, name, type, text.c_str(), (text.size() + 1) * 2);
}
void SetDword(const std::u16string& path, const char16_t* name, DWORD value) {
    Set(path, name, REG_DWORD, &value, 4);
}

class OutlookEAgentTest : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        // Outlook Express lives on Windows XP.
        std::ofstream(platform::machine::PathOf("version")) << "platform=2\nmajor=5\nminor=1\nbuild=2600\n";
        platform::fs::DriveInfo bin;
        bin.letter = u'B';
        bin.hostRoot = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
        ASSERT_TRUE(platform::fs::SetDrive(bin));
        Write("Program Files/Outlook Express/msimn.exe", "MZ");
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyW(HKEY_LOCAL_MACHINE,
                                u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\msimn.exe", &key),
                  ERROR_SUCCESS);
        const std::u16string program = u"C:\\Program Files\\Outlook Express\\msimn.exe";
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                       static_cast<DWORD>((program.size() + 1) * 2));
        RegCloseKey(key);
        SetText(u"Identities", u"Default User ID", kAnn);
        Identity(kAnn, u"Ann", "OE/Ann");
        Identity(kBob, u"Bob", "OE/Bob");
        // Ann is the default identity: her accounts are the plain account manager's; Bob's are his own.
        SetText(u"Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001", u"Account Name", u"ann.example");
        SetDword(u"Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001", u"POP3 Port", 110);
        SetText(Id(kBob, u"Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001"), u"Account Name",
                u"bob.example");
        SetText(u"Software\\Microsoft\\WAB\\WAB4\\Wab File Name", nullptr, u"C:\\OE\\Address Book\\Ann.wab");
        Write("OE/Address Book/Ann.wab", std::string(5000, 'w'));
        for (const char* who : {"Ann", "Bob"})
            for (const char* file : {"Inbox.dbx", "Folders.dbx", "Sent Items.dbx"})
                Write(std::string("OE/") + who + "/Store/" + file,
                      std::string(who) + " " + file + std::string(3000, 'd'));
        ASSERT_EQ(m_manager.AddAgent(&m_agent), 1);
        m_previousResources = AfxGetResourceHandle();
        m_resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
        ASSERT_NE(m_resources, nullptr);
        AfxSetResourceHandle(m_resources);
    }
    void TearDown() override {
        AfxSetResourceHandle(m_previousResources);
        if (m_resources)
            FreeLibrary(m_resources);
        AgentTest::TearDown();
    }
    void Identity(const char16_t* id, const char16_t* name, const std::string& folder) {
        SetText(Id(id), u"Username", name);
        SetDword(Id(id, std::u16string(kOe) + u"\\Mail"), u"Accounts Checked", 1);
        std::u16string store = u"C:\\" + platform::Utf8ToUtf16(folder) + u"\\Store";
        for (auto& c : store)
            if (c == u'/')
                c = u'\\';
        SetText(Id(id, kOe), u"Store Root", store, REG_EXPAND_SZ);
        std::filesystem::create_directories(m_home + "/" + folder + "/Store");
        SetText(Id(id, std::u16string(kOe) + u"\\signatures"), u"Default Signature", u"00000000");
        SetText(Id(id, std::u16string(kOe) + u"\\signatures\\00000000"), u"text",
                std::u16string(name) + u"\r\n-- sent with care");
        SetDword(Id(id, std::u16string(kOe) + u"\\Rules\\Mail\\000"), u"Enabled", 1);
        const BYTE criteria[] = {0x02, 0x00, 0x00, 0x00, 0x10, 0x20};
        Set(Id(id, std::u16string(kOe) + u"\\Rules\\Mail\\000"), u"Criteria", REG_BINARY, criteria, sizeof criteria);
        SetText(Id(id, std::u16string(kOe) + u"\\Block Senders\\Mail\\Criteria\\0"), u"Value", u"spam@example.com");
    }
    void Write(const std::string& relative, const std::string& bytes) {
        const std::string path = m_home + "/" + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::map<std::string, std::string> Files(const std::string& folder) {
        std::map<std::string, std::string> files;
        if (!std::filesystem::exists(folder))
            return files;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.is_regular_file())
                files[entry.path().filename().string()] = ReadHost(entry.path().string());
        return files;
    }
    HTREEITEM Root(CShellTreeCtrl& tree) { return Child(tree, tree.GetRootItem(), u"Outlook Express"); }

    COutlookEAgent m_agent;
    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
};

// Picks, for each "Original User:" the dialog shows, the target the map names, and confirms it.
INT_PTR RunSelectIdentity(CSelectIdentityDlg& dlg, const std::map<std::u16string, std::u16string>& choices,
                          std::vector<std::u16string>& shown) {
    std::thread user([&] {
        HWND hwnd = nullptr;
        ASSERT_TRUE(testsupport::Eventually([&] {
            hwnd = FindWindowW(nullptr, u"Select Identity");
            return hwnd && IsWindowVisible(hwnd);
        }));
        for (size_t round = 0; round < choices.size(); ++round) {
            WCHAR source[256] = {};
            GetWindowTextW(GetDlgItem(hwnd, 2403), source, 256);
            shown.emplace_back(source);
            const auto choice = choices.find(source);
            ASSERT_NE(choice, choices.end());
            HWND list = GetDlgItem(hwnd, 2405);
            const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
            int found = -1;
            for (int i = 0; i < count && found < 0; ++i) {
                WCHAR text[256] = {};
                LVITEMW item{};
                item.iSubItem = 0;
                item.pszText = text;
                item.cchTextMax = 256;
                SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
                if (choice->second == text)
                    found = i;
            }
            ASSERT_GE(found, 0);
            LVITEMW state{};
            state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(list, LVM_SETITEMSTATE, found, reinterpret_cast<LPARAM>(&state));
            ASSERT_TRUE(testsupport::Eventually([&] { return IsWindowEnabled(GetDlgItem(hwnd, IDOK)) != FALSE; }));
            ASSERT_TRUE(platform::ui::Click(GetDlgItem(hwnd, IDOK)));
            if (round + 1 < choices.size()) {
                ASSERT_TRUE(testsupport::Eventually([&] {
                    WCHAR next[256] = {};
                    GetWindowTextW(GetDlgItem(hwnd, 2403), next, 256);
                    return shown.back() != next;
                }));
            }
        }
    });
    const INT_PTR result = dlg.DoModal();
    user.join();
    return result;
}

TEST_F(OutlookEAgentTest, TwoIdentitiesComeBackIntoTheIdentitiesTheUserChose) {
    Tree annAccounts, bobAccounts;
    Dump(HKEY_CURRENT_USER, u"Software\\Microsoft\\Internet Account Manager", u"", annAccounts);
    Dump(HKEY_CURRENT_USER, Id(kBob, u"Software\\Microsoft\\Internet Account Manager"), u"", bobAccounts);
    Tree annOe, bobOe;
    for (const char16_t* part : {u"signatures", u"Rules", u"Block Senders"}) {
        Dump(HKEY_CURRENT_USER, Id(kAnn, std::u16string(kOe) + u"\\" + part), part, annOe);
        Dump(HKEY_CURRENT_USER, Id(kBob, std::u16string(kOe) + u"\\" + part), part, bobOe);
    }
    const auto annStore = Files(m_home + "/OE/Ann/Store");
    const auto bobStore = Files(m_home + "/OE/Bob/Store");

    CShellTreeCtrl& source = NewTree(kTreeBackup);
    HTREEITEM root = Root(source);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Texts(source, root), (std::vector<CString>{u"Address Book", u"Ann", u"Bob"}));
    EXPECT_EQ(
        Texts(source, Child(source, root, u"Ann")),
        (std::vector<CString>{u"Account Settings", u"Block Sender", u"Mailbox", u"Message Rules", u"Signatures"}));
    source.CheckBranch(root, kStateChecked);
    JobRunner job(source, m_manager);
    job.Backup(CString(m_drive.Path()));
    EXPECT_EQ(job.count, 8) << "four registry parts of each identity";
    EXPECT_EQ(ReadHost(SetHost("OutlookExpress/AddressBook.wab")), std::string(5000, 'w'));
    EXPECT_EQ(Files(SetHost("OutlookExpress/Ann/Mailbox")), annStore);
    EXPECT_EQ(Files(SetHost("OutlookExpress/Bob/Mailbox")), bobStore);
    const CString oeIni = SetPath() + u"\\OutlookExpress\\oe.ini";
    WCHAR value[260] = {};
    GetPrivateProfileStringW(u"OutlookExpress", u"Bob", u"", value, 260, oeIni);
    EXPECT_EQ(CString(value), CString(kBob));
    GetPrivateProfileStringW(u"MainID", u"MainID", u"", value, 260, oeIni);
    EXPECT_EQ(CString(value), CString(kAnn));

    // The old identities go with their stores and the address book; this computer has two identities of its own.
    DeleteTree(HKEY_CURRENT_USER, u"Identities");
    DeleteTree(HKEY_CURRENT_USER, u"Software\\Microsoft\\Internet Account Manager");
    std::filesystem::remove_all(m_home + "/OE");
    SetText(u"Identities", u"Default User ID", kAnnHome);
    Identity(kAnnHome, u"Ann Home", "Home/Ann");
    Identity(kBobHome, u"Bob Home", "Home/Bob");
    for (const char16_t* id : {kAnnHome, kBobHome})
        for (const char16_t* part : {u"signatures", u"Rules", u"Block Senders"})
            DeleteTree(HKEY_CURRENT_USER, Id(id, std::u16string(kOe) + u"\\" + part));
    // An identity that was never used is not offered.
    SetText(Id(u"{55555555-EEEE-4000-8000-000000000005}"), u"Username", u"Unused");

    CShellTreeCtrl& restore = NewTree(kTreeRestore);
    HTREEITEM set = Root(restore);
    ASSERT_NE(set, nullptr);
    auto texts = Texts(restore, set);
    std::sort(texts.begin(), texts.end(), [](const CString& a, const CString& b) { return a.Compare(b) < 0; });
    EXPECT_EQ(texts, (std::vector<CString>{u"Address Book", u"Ann", u"Bob"}));
    restore.CheckBranch(set, kStateChecked);

    // The manager collects the checked identities, the dialog pairs them, and the manager hands the pairs over.
    CStringList sources, targets;
    EXPECT_EQ(m_manager.GetCheckedOEIdentities(&restore, sources), 1);
    EXPECT_EQ(sources.GetCount(), 2);
    EXPECT_EQ(sources.Find(u"Address Book"), nullptr);
    CSelectIdentityDlg dlg(&m_host);
    dlg.m_pSourceList = &sources;
    dlg.m_pTargetList = &targets;
    std::vector<std::u16string> shown;
    // Crossed on purpose: Ann's data into Bob Home, Bob's into Ann Home.
    EXPECT_EQ(RunSelectIdentity(dlg, {{u"Ann", u"Bob Home"}, {u"Bob", u"Ann Home"}}, shown), IDOK);
    // Each source was shown once, in the order of the list, and got the target chosen for it.
    ASSERT_EQ(shown.size(), 2u);
    ASSERT_EQ(targets.GetCount(), 2);
    EXPECT_EQ(CString(shown[0].c_str()), sources.GetHead());
    EXPECT_EQ(targets.GetHead(), CString(shown[0] == u"Ann" ? u"Bob Home" : u"Ann Home"));
    EXPECT_EQ(m_manager.SetOEIdentityLists(&restore, sources, targets), 1);
    EXPECT_TRUE(sources.IsEmpty() && targets.IsEmpty());

    JobRunner back(restore, m_manager);
    back.Restore(1, CString());
    EXPECT_EQ(Files(m_home + "/Home/Bob/Store"), annStore);
    EXPECT_EQ(Files(m_home + "/Home/Ann/Store"), bobStore);
    EXPECT_EQ(ReadHost(m_home + "/OE/Address Book/Ann.wab"), std::string(5000, 'w'));
    // Ann's accounts (the default identity's plain keys) now are Bob Home's own; Bob's are the default's plain ones.
    Tree after;
    Dump(HKEY_CURRENT_USER, Id(kBobHome, u"Software\\Microsoft\\Internet Account Manager"), u"", after);
    EXPECT_EQ(after, annAccounts);
    after.clear();
    Dump(HKEY_CURRENT_USER, u"Software\\Microsoft\\Internet Account Manager", u"", after);
    EXPECT_EQ(after, bobAccounts);
    Tree bobHomeOe, annHomeOe;
    for (const char16_t* part : {u"signatures", u"Rules", u"Block Senders"}) {
        Dump(HKEY_CURRENT_USER, Id(kBobHome, std::u16string(kOe) + u"\\" + part), part, bobHomeOe);
        Dump(HKEY_CURRENT_USER, Id(kAnnHome, std::u16string(kOe) + u"\\" + part), part, annHomeOe);
    }
    EXPECT_EQ(bobHomeOe, annOe);
    EXPECT_EQ(annHomeOe, bobOe);
}

TEST_F(OutlookEAgentTest, AnIdentityWithoutATargetIsLeftOutOfTheRestore) {
    CShellTreeCtrl& source = NewTree(kTreeBackup);
    source.CheckBranch(Root(source), kStateChecked);
    JobRunner job(source, m_manager);
    job.Backup(CString(m_drive.Path()));
    Tree before;
    Dump(HKEY_CURRENT_USER, u"Identities", u"", before);
    CShellTreeCtrl& restore = NewTree(kTreeRestore);
    restore.CheckBranch(Root(restore), kStateChecked);
    CStringList sources, targets;
    sources.AddTail(u"Ann");
    targets.AddTail(u"Nobody Here");
    m_manager.SetOEIdentityLists(&restore, sources, targets);
    std::filesystem::remove_all(m_home + "/OE/Ann/Store");
    std::filesystem::create_directories(m_home + "/OE/Ann/Store");
    JobRunner back(restore, m_manager);
    back.Restore(1, CString());
    Tree after;
    Dump(HKEY_CURRENT_USER, u"Identities", u"", after);
    EXPECT_EQ(after, before) << "no identity's keys were written";
    EXPECT_TRUE(Files(m_home + "/OE/Ann/Store").empty());
}

// The default identity changes after the restore tree was filled (the user switched identities meanwhile): the
// accounts of a source restored into the identity that is the default now go to the plain account keys, which that
// identity reads, not under its own key.
TEST_F(OutlookEAgentTest, AccountsGoToThePlainKeysOfTheIdentityThatIsTheDefaultAtRestore) {
    Tree annAccounts;
    Dump(HKEY_CURRENT_USER, u"Software\\Microsoft\\Internet Account Manager", u"", annAccounts);
    CShellTreeCtrl& source = NewTree(kTreeBackup);
    source.CheckBranch(Root(source), kStateChecked);
    JobRunner job(source, m_manager);
    job.Backup(CString(m_drive.Path()));
    CShellTreeCtrl& restore = NewTree(kTreeRestore);
    restore.CheckBranch(Root(restore), kStateChecked);
    SetText(u"Identities", u"Default User ID", kBob);
    DeleteTree(HKEY_CURRENT_USER, u"Software\\Microsoft\\Internet Account Manager");
    DeleteTree(HKEY_CURRENT_USER, Id(kBob, u"Software\\Microsoft\\Internet Account Manager"));
    CStringList sources, targets;
    sources.AddTail(u"Ann");
    targets.AddTail(u"Bob");
    m_manager.SetOEIdentityLists(&restore, sources, targets);
    JobRunner back(restore, m_manager);
    back.Restore(1, CString());
    Tree after;
    Dump(HKEY_CURRENT_USER, u"Software\\Microsoft\\Internet Account Manager", u"", after);
    EXPECT_EQ(after, annAccounts);
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, Id(kBob, u"Software\\Microsoft\\Internet Account Manager").c_str(), 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
}

// Declining the identity step unchecks the identities only: the address book is still restored, and the manager
// finds no identity left to pair.
TEST_F(OutlookEAgentTest, UncheckedIdentitiesLeaveTheAddressBookChecked) {
    CShellTreeCtrl& source = NewTree(kTreeBackup);
    source.CheckBranch(Root(source), kStateChecked);
    JobRunner job(source, m_manager);
    job.Backup(CString(m_drive.Path()));
    CShellTreeCtrl& restore = NewTree(kTreeRestore);
    HTREEITEM root = Root(restore);
    ASSERT_NE(root, nullptr);
    CStringList none;
    EXPECT_EQ(m_manager.GetCheckedOEIdentities(&restore, none), 0) << "nothing checked yet";
    restore.CheckBranch(Child(restore, root, u"Bob"), kStateChecked);
    restore.CheckBranch(Child(restore, root, u"Address Book"), kStateChecked);
    CStringList checked;
    EXPECT_EQ(m_manager.GetCheckedOEIdentities(&restore, checked), 1);
    ASSERT_EQ(checked.GetCount(), 1);
    EXPECT_EQ(checked.GetHead(), CString(u"Bob"));
    m_manager.UncheckOEIdentities(&restore);
    EXPECT_EQ(restore.GetCheckState(Child(restore, root, u"Bob")), kStateUnchecked);
    EXPECT_EQ(restore.GetCheckState(Child(restore, root, u"Address Book")), kStateChecked);
    EXPECT_NE(restore.GetCheckState(root), kStateUnchecked);
    EXPECT_EQ(m_manager.GetCheckedOEIdentities(&restore, none), 0);
    EXPECT_TRUE(none.IsEmpty());
}

TEST_F(OutlookEAgentTest, SelectIdentityEndsAtOnceWithoutIdentitiesAndTheListKeepsNamesUnique) {
    DeleteTree(HKEY_CURRENT_USER, u"Identities");
    CShellTreeCtrl& tree = NewTree(kTreeBackup);
    (void)tree;
    CStringList sources, targets;
    sources.AddTail(u"Ann");
    CSelectIdentityDlg dlg(&m_host);
    dlg.m_pSourceList = &sources;
    dlg.m_pTargetList = &targets;
    EXPECT_EQ(dlg.DoModal(), 3);

    CNameValueList list;
    EXPECT_EQ(list.Add(u"Ann", u"1"), 1);
    EXPECT_EQ(list.Add(u"ann", u"2"), 1) << "names compare with regard to case";
    EXPECT_EQ(list.Add(u"Ann", u"3"), 0);
    for (int i = 0; i < 10; ++i) {
        CString name;
        name.Format(u"n%d", i);
        EXPECT_EQ(list.Add(name, u"v"), 1);
    }
    EXPECT_EQ(list.GetCount(), 12);
    EXPECT_EQ(CString(list.Lookup(u"Ann")), CString(u"1"));
    EXPECT_EQ(list.Lookup(u"nobody"), nullptr);
    LPCTSTR names[12] = {};
    EXPECT_EQ(list.GetNames(names, 11), 0);
    EXPECT_EQ(list.GetNames(names, 12), 1);
    EXPECT_EQ(CString(names[1]), CString(u"ann"));
    // Two sources and one target: the lists do not pair.
    CStringList two, one;
    two.AddTail(u"A");
    two.AddTail(u"B");
    one.AddTail(u"X");
    EXPECT_EQ(m_agent.SetIdentityPairs(two, one), 0);
}

// A registry part that cannot be saved (its key went between the listing and the backup) is logged and left out,
// but its identity keeps its line in "oe.ini": the identity's copied store and its other parts are offered on
// restore and come back.
TEST_F(OutlookEAgentTest, AnIdentityWhosePartCannotBeSavedIsStillOfferedWithItsStore) {
    const auto bobStore = Files(m_home + "/OE/Bob/Store");
    CShellTreeCtrl& source = NewTree(kTreeBackup);
    HTREEITEM root = Root(source);
    ASSERT_NE(root, nullptr);
    source.CheckBranch(root, kStateChecked);
    DeleteTree(HKEY_CURRENT_USER, Id(kBob, std::u16string(kOe) + u"\\Rules"));
    JobRunner job(source, m_manager);
    job.Backup(CString(m_drive.Path()));
    EXPECT_EQ(job.count, 7) << "Bob's rules were not saved";
    EXPECT_FALSE(std::filesystem::exists(SetHost("OutlookExpress/Bob/Message Rules")));
    WCHAR value[260] = {};
    GetPrivateProfileStringW(u"OutlookExpress", u"Bob", u"", value, 260, SetPath() + u"\\OutlookExpress\\oe.ini");
    EXPECT_EQ(CString(value), CString(kBob));

    std::filesystem::remove_all(m_home + "/OE/Bob/Store");
    std::filesystem::create_directories(m_home + "/OE/Bob/Store");
    CShellTreeCtrl& restore = NewTree(kTreeRestore);
    HTREEITEM set = Root(restore);
    ASSERT_NE(set, nullptr);
    HTREEITEM bob = Child(restore, set, u"Bob");
    ASSERT_NE(bob, nullptr);
    UserExpand(restore, bob);
    auto texts = Texts(restore, bob);
    std::sort(texts.begin(), texts.end(), [](const CString& a, const CString& b) { return a.Compare(b) < 0; });
    EXPECT_EQ(texts, (std::vector<CString>{u"Account Settings", u"Block Sender", u"Mailbox", u"Signatures"}));
    restore.CheckBranch(set, kStateChecked);
    CStringList sources, targets;
    for (const char16_t* name : {u"Ann", u"Bob"}) {
        sources.AddTail(name);
        targets.AddTail(name);
    }
    m_manager.SetOEIdentityLists(&restore, sources, targets);
    JobRunner back(restore, m_manager);
    back.Restore(1, CString());
    EXPECT_EQ(Files(m_home + "/OE/Bob/Store"), bobStore);
}

TEST_F(OutlookEAgentTest, TwoIdentitiesOfOneNameAreSavedApart) {
    SetText(Id(kBob), u"Username", u"Ann");
    CShellTreeCtrl& source = NewTree(kTreeBackup);
    HTREEITEM root = Root(source);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Texts(source, root), (std::vector<CString>{u"Address Book", u"Ann", u"Ann (2)"}));
    source.CheckBranch(root, kStateChecked);
    JobRunner job(source, m_manager);
    job.Backup(CString(m_drive.Path()));
    WCHAR value[260] = {};
    GetPrivateProfileStringW(u"OutlookExpress", u"Ann (2)", u"", value, 260, SetPath() + u"\\OutlookExpress\\oe.ini");
    EXPECT_EQ(CString(value), CString(kBob));
    EXPECT_EQ(Files(SetHost("OutlookExpress/Ann (2)/Mailbox")), Files(m_home + "/OE/Bob/Store"));
}

} // namespace
