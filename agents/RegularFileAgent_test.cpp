// The plain-file agent in a real source tree over a scratch drive: drives and folders, selection files written and
// read back (also by a reader of the format's own), live changes on disk, and the copy job's answers.
#include "agents/RegularFileAgent.h"
#include "copylib/Brannic.h"
#include "engine/BackManager.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/Wnd.h"
#include "platform/fs/paths.h"
#include "platform/registry/ini.h"
#include "platform/shell/changenotify.h"
#include "platform/testing/scratch_drive.h"
#include "platform/ui/menu.h"
#include "platform/ui/message.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>

namespace {

class CHostWnd : public CWnd {};

// What a selection file selects, read from the format alone: each "D 1" path, and each file line joined to the
// folder of the "D 2" line before it.
std::set<std::u16string> ReadSelectionFile(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    EXPECT_EQ(text.substr(0, 1), u"\xFEFF");
    std::set<std::u16string> selected;
    std::u16string folder;
    size_t start = 1;
    while (start < text.size()) {
        const size_t end = text.find(u"\r\n", start);
        EXPECT_NE(end, std::u16string::npos) << "every line ends with CR LF";
        if (end == std::u16string::npos)
            break;
        const std::u16string line = text.substr(start, end - start);
        start = end + 2;
        if (line.empty() || line[0] == u'#')
            continue;
        if (line.rfind(u"D\t1\t", 0) == 0)
            selected.insert(line.substr(4));
        else if (line.rfind(u"D\t2\t", 0) == 0)
            folder = line.substr(4);
        else if (line.rfind(u"\tF\t1\t", 0) == 0)
            selected.insert(folder + u"\\" + line.substr(5));
        else
            ADD_FAILURE() << "a line the format does not have";
    }
    return selected;
}

class RegularFileTreeTest : public testsupport::ScratchDriveTest {
protected:
    void SetUp() override {
        m_home = m_machine.Scratch("home");
        platform::fs::DriveInfo c;
        c.letter = u'C';
        c.hostRoot = m_home;
        ASSERT_TRUE(platform::fs::SetDrive(c));
        m_oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
        setenv("HOME", m_home.c_str(), 1);
        ASSERT_TRUE(m_manager.Create());
        ASSERT_EQ(m_manager.AddAgent(&m_agent), 1);
        ASSERT_TRUE(m_host.CreateEx(0, nullptr, u"Host", WS_OVERLAPPEDWINDOW, 0, 0, 500, 700, nullptr, nullptr));
    }
    void TearDown() override {
        for (auto& tree : m_trees)
            tree->DestroyWindow();
        m_host.DestroyWindow();
        m_manager.RemoveAllAgents();
        setenv("HOME", m_oldHome.c_str(), 1);
    }

    CShellTreeCtrl& NewTree(BOOL notify = FALSE) {
        m_trees.push_back(std::make_unique<CShellTreeCtrl>());
        CShellTreeCtrl& tree = *m_trees.back();
        RECT rc{0, 0, 480, 680};
        EXPECT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, rc, &m_host, 3202));
        EXPECT_TRUE(tree.InitTree(603, 130, 700, 3200, kTreeBackup, notify));
        EXPECT_EQ(m_manager.FillSourceTree(&tree), 1);
        tree.SendMessage(WM_TREE_EXPAND_ROOT);
        return tree;
    }
    CShellTreeCtrl& NewRestoreTree(const std::u16string& setPath) {
        m_trees.push_back(std::make_unique<CShellTreeCtrl>());
        CShellTreeCtrl& tree = *m_trees.back();
        RECT rc{0, 0, 480, 680};
        EXPECT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, rc, &m_host, 3807));
        EXPECT_TRUE(tree.InitTree(603, 130, 700, 3800, kTreeRestore, FALSE));
        EXPECT_EQ(m_manager.FillRestoreTree(&tree, setPath.c_str()), 1);
        tree.SendMessage(WM_TREE_EXPAND_ROOT);
        return tree;
    }
    static void UserExpand(CShellTreeCtrl& tree, HTREEITEM hItem) {
        if (tree.GetItemState(hItem, TVIS_EXPANDED) & TVIS_EXPANDED)
            return;
        tree.SelectItem(hItem);
        tree.SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
    }
    static HTREEITEM Child(CShellTreeCtrl& tree, HTREEITEM hParent, const CString& text) {
        for (HTREEITEM h = tree.GetChildItem(hParent); h; h = tree.GetNextSiblingItem(h))
            if (tree.GetItemText(h) == text)
                return h;
        return nullptr;
    }
    HTREEITEM DriveT(CShellTreeCtrl& tree) { return Child(tree, tree.GetRootItem(), u"Local Disk (T:)"); }
    // The item of a path below T: ("a/b"), expanding on the way.
    HTREEITEM ItemOf(CShellTreeCtrl& tree, const std::u16string& relative) {
        HTREEITEM h = DriveT(tree);
        size_t start = 0;
        while (h && start < relative.size()) {
            size_t slash = relative.find(u'/', start);
            if (slash == std::u16string::npos)
                slash = relative.size();
            UserExpand(tree, h);
            h = Child(tree, h, CString(relative.substr(start, slash - start)));
            start = slash + 1;
        }
        return h;
    }
    // Serves messages until the condition holds; false when it did not in time.
    static bool PumpUntil(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
        }
        return true;
    }

    std::string m_home, m_oldHome;
    CBackManager m_manager;
    CRegularFileAgent m_agent;
    CHostWnd m_host;
    std::vector<std::unique_ptr<CShellTreeCtrl>> m_trees;
};

TEST_F(RegularFileTreeTest, DrivesAndTheirFoldersFillTheTree) {
    m_drive.MakeFolder("RECYCLER/S-1");
    m_drive.MakeFolder("Data/RECYCLER");
    m_drive.Write("Data/keep.txt", "k");
    m_drive.Write("Data/cache.tmp", "t");
    m_drive.Write("Data/.hidden", "h");
    CShellTreeCtrl& tree = NewTree();
    tree.SetFilter(_T("*.tmp\t"));
    HTREEITEM root = tree.GetRootItem();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(tree.GetItemText(root), CString(u"My Computer"));
    HTREEITEM t = DriveT(tree);
    ASSERT_NE(t, nullptr);
    ASSERT_NE(Child(tree, root, u"Local Disk (C:)"), nullptr);
    UserExpand(tree, t);
    // The drive's own RECYCLER is never listed; one deeper down is, as are files the filter lets through.
    EXPECT_EQ(Child(tree, t, u"RECYCLER"), nullptr);
    HTREEITEM data = Child(tree, t, u"Data");
    ASSERT_NE(data, nullptr);
    UserExpand(tree, data);
    EXPECT_NE(Child(tree, data, u"RECYCLER"), nullptr);
    EXPECT_NE(Child(tree, data, u"keep.txt"), nullptr);
    EXPECT_EQ(Child(tree, data, u"cache.tmp"), nullptr);
    EXPECT_EQ(Child(tree, data, u".hidden"), nullptr);
    // Names of selection files: the drive is "T:", a folder its last component, with its kind.
    CString name;
    TCHAR type = 0;
    EXPECT_EQ(m_agent.GetItemName(&tree, t, name, type), 1);
    EXPECT_EQ(name, CString(u"T:"));
    EXPECT_EQ(m_agent.GetItemName(&tree, Child(tree, data, u"keep.txt"), name, type), 1);
    EXPECT_EQ(name, CString(u"keep.txt"));
    EXPECT_EQ(type, _T('F'));
    EXPECT_EQ(m_agent.GetItemName(&tree, TVI_ROOT, name, type), 0);
}

TEST_F(RegularFileTreeTest, SelectionsSurviveAFreshTreeWithOddNamesAndManyMarks) {
    // A partly checked branch five levels deep whose checked files make far more than 9,000 characters of marks,
    // names with a TAB and with leading blanks, a checked folder and an unchecked sibling.
    const std::u16string deep = u"Data/level one/level two/level three/level four";
    const std::string deepHost = "Data/level one/level two/level three/level four";
    for (int i = 0; i < 150; ++i)
        m_drive.Write(deepHost + "/a file with a rather long descriptive name, number " + std::to_string(i) + ".txt",
                      "x");
    m_drive.Write("Data/tab\tname.txt", "t");
    m_drive.Write("Data/  leading blanks.txt", "b");
    m_drive.MakeFolder("Data/whole folder/inside");
    m_drive.MakeFolder("Data/left out");
    m_drive.MakeFolder("Other");

    CShellTreeCtrl& tree = NewTree();
    HTREEITEM level = ItemOf(tree, deep);
    ASSERT_NE(level, nullptr);
    UserExpand(tree, level);
    int n = 0;
    for (HTREEITEM h = tree.GetChildItem(level); h; h = tree.GetNextSiblingItem(h))
        if (n++ % 3 != 2)
            tree.CheckBranch(h, kStateChecked);
    for (const char16_t* name : {u"Data/tab\tname.txt", u"Data/  leading blanks.txt", u"Data/whole folder"}) {
        HTREEITEM h = ItemOf(tree, name);
        ASSERT_NE(h, nullptr) << std::string(name, name + 10);
        tree.CheckBranch(h, kStateChecked);
    }
    tree.CheckBranch(ItemOf(tree, u"Other"), kStateChecked);
    ASSERT_EQ(tree.GetCheckState(ItemOf(tree, u"Data")), kStatePartial);

    const std::u16string file = m_drive.Path("ManualBackup.rpr");
    ASSERT_TRUE(tree.SaveSelecton(file.c_str(), nullptr));
    const std::set<std::u16string> written = ReadSelectionFile(m_drive.Host("ManualBackup.rpr"));
    EXPECT_EQ(written.size(), 100u + 4u);
    EXPECT_TRUE(written.count(u"T:\\Data\\tab\tname.txt"));
    EXPECT_TRUE(written.count(u"T:\\Data\\  leading blanks.txt"));
    EXPECT_TRUE(written.count(u"T:\\Data\\whole folder"));
    EXPECT_TRUE(written.count(u"T:\\Other"));
    EXPECT_FALSE(written.count(u"T:\\Data\\left out"));
    size_t characters = 0;
    for (const auto& path : written)
        characters += path.size();
    EXPECT_GT(characters, 9000u);

    // A fresh tree, as after a restart: loading the file loads only the named branches and checks the same items.
    CShellTreeCtrl& again = NewTree();
    ASSERT_TRUE(again.LoadSelection(file.c_str()));
    EXPECT_EQ(again.GetCheckState(ItemOf(again, u"Data")), kStatePartial);
    EXPECT_EQ(again.GetCheckState(ItemOf(again, u"Data/tab\tname.txt")), kStateChecked);
    EXPECT_EQ(again.GetCheckState(ItemOf(again, u"Data/  leading blanks.txt")), kStateChecked);
    EXPECT_EQ(again.GetCheckState(ItemOf(again, u"Data/left out")), kStateUnchecked);
    const std::u16string copy = m_drive.Path("again.rpr");
    ASSERT_TRUE(again.SaveSelecton(copy.c_str(), nullptr));
    EXPECT_EQ(ReadSelectionFile(m_drive.Host("again.rpr")), written);
}

TEST_F(RegularFileTreeTest, FailedSavesAndLoadsLeaveFilesAndMarksAsTheyWere) {
    m_drive.MakeFolder("Data");
    CShellTreeCtrl& tree = NewTree();
    tree.CheckBranch(ItemOf(tree, u"Data"), kStateChecked);
    ASSERT_TRUE(tree.SaveSelecton(m_drive.Path("kept.rpr").c_str(), nullptr));
    const std::string before = m_drive.Read("kept.rpr");
    // No such folder: nothing written, and the caller is told.
    EXPECT_FALSE(tree.SaveSelecton(m_drive.Path("no folder/x.rpr").c_str(), nullptr));
    // A missing file changes no mark.
    EXPECT_FALSE(tree.LoadSelection(m_drive.Path("missing.rpr").c_str()));
    EXPECT_EQ(tree.GetCheckState(ItemOf(tree, u"Data")), kStateChecked);
    EXPECT_EQ(m_drive.Read("kept.rpr"), before);
    // A file with only its two comment lines leaves everything unchecked.
    ASSERT_TRUE(NewTree().SaveSelecton(m_drive.Path("empty.rpr").c_str(), nullptr));
    EXPECT_TRUE(tree.LoadSelection(m_drive.Path("empty.rpr").c_str()));
    EXPECT_EQ(tree.GetCheckState(ItemOf(tree, u"Data")), kStateUnchecked);
}

TEST_F(RegularFileTreeTest, FoldersMadeRenamedAndRemovedOnDiskShowInTheOpenTree) {
    m_drive.MakeFolder("Data/existing");
    m_drive.MakeFolder("kovradata");
    CShellTreeCtrl& tree = NewTree(TRUE);
    HTREEITEM data = ItemOf(tree, u"Data");
    UserExpand(tree, data);
    tree.CheckBranch(data, kStateChecked);

    std::filesystem::create_directory(m_drive.Host("Data/made"));
    ASSERT_TRUE(PumpUntil([&] { return Child(tree, data, u"made") != nullptr; }));
    // A folder made under a checked folder is checked too.
    EXPECT_EQ(tree.GetCheckState(Child(tree, data, u"made")), kStateChecked);
    std::filesystem::rename(m_drive.Host("Data/made"), m_drive.Host("Data/renamed"));
    ASSERT_TRUE(PumpUntil([&] { return Child(tree, data, u"renamed") != nullptr; }));
    EXPECT_EQ(Child(tree, data, u"made"), nullptr);
    std::filesystem::remove(m_drive.Host("Data/renamed"));
    ASSERT_TRUE(PumpUntil([&] { return Child(tree, data, u"renamed") == nullptr; }));
    EXPECT_NE(Child(tree, data, u"existing"), nullptr);

    // A change inside the backup store alters nothing (its name in any case).
    HTREEITEM t = DriveT(tree);
    ASSERT_NE(Child(tree, t, u"kovradata"), nullptr);
    UserExpand(tree, Child(tree, t, u"kovradata"));
    std::filesystem::create_directory(m_drive.Host("kovradata/set"));
    std::filesystem::create_directory(m_drive.Host("Data/after"));
    ASSERT_TRUE(PumpUntil([&] { return Child(tree, data, u"after") != nullptr; }));
    EXPECT_EQ(Child(tree, Child(tree, t, u"kovradata"), u"set"), nullptr);

    // A drive that comes appears in letter order; one that goes leaves the tree.
    platform::fs::DriveInfo r;
    r.letter = u'R';
    r.hostRoot = m_machine.Scratch("r");
    ASSERT_TRUE(platform::fs::SetDrive(r));
    ASSERT_TRUE(PumpUntil([&] { return Child(tree, tree.GetRootItem(), u"Local Disk (R:)") != nullptr; }));
    EXPECT_EQ(tree.GetNextSiblingItem(Child(tree, tree.GetRootItem(), u"Local Disk (R:)")), t);
    ASSERT_TRUE(platform::fs::RemoveDrive(u'R'));
    ASSERT_TRUE(PumpUntil([&] { return Child(tree, tree.GetRootItem(), u"Local Disk (R:)") == nullptr; }));
}

TEST_F(RegularFileTreeTest, RightClicksOfferTheShellsMenuOrTheSelectionMenu) {
    m_drive.MakeFolder("Data/Sub");
    m_drive.Write("Data/note.txt", "n");
    CShellTreeCtrl& tree = NewTree();
    HTREEITEM data = ItemOf(tree, u"Data");
    UserExpand(tree, data);
    std::vector<std::u16string> shown;
    UINT choice = 0;
    platform::ui::SetMenuHook([&](HMENU, const platform::ui::MenuHookInfo& info) -> UINT {
        shown.clear();
        for (const auto& item : info.items)
            shown.push_back(item.text);
        return choice == 1 ? info.FindCommand(u"Properties") : choice == 2 ? info.FindCommand(u"Unselect All") : 0;
    });
    std::u16string properties;
    platform::ui::ScopedPromptHook prompts([&](const platform::ui::PromptInfo& info) {
        properties = info.text;
        return platform::ui::PromptReply(IDOK);
    });
    auto rightClick = [&](HTREEITEM h, bool rightOfLabel) {
        RECT text{};
        ASSERT_TRUE(tree.GetItemRect(h, &text, TRUE));
        const int x = rightOfLabel ? text.right + 20 : (text.left + text.right) / 2, y = (text.top + text.bottom) / 2;
        tree.SendMessage(WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(x, y));
        tree.SendMessage(WM_RBUTTONUP, 0, MAKELPARAM(x, y));
    };
    // On an expanded folder's label: Refresh first, then the shell's commands; Properties runs in the shell.
    choice = 1;
    rightClick(data, false);
    ASSERT_GE(shown.size(), 4u);
    EXPECT_EQ(shown[0], u"Refresh");
    EXPECT_NE(std::find(shown.begin(), shown.end(), u"&Open"), shown.end());
    EXPECT_NE(std::find(shown.begin(), shown.end(), u"Open &Containing Folder"), shown.end());
    // The command comes back to the tree as a message, as a picked menu command does.
    ASSERT_TRUE(PumpUntil([&] { return !properties.empty(); }));
    EXPECT_NE(properties.find(u"Name: Data"), std::u16string::npos);
    // A file has no Refresh.
    choice = 0;
    rightClick(Child(tree, data, u"note.txt"), false);
    EXPECT_EQ(std::find(shown.begin(), shown.end(), u"Refresh"), shown.end());
    // Right of a label: the selection menu, whose Unselect All clears every mark.
    tree.CheckBranch(data, kStateChecked);
    choice = 2;
    rightClick(data, true);
    EXPECT_EQ(shown, (std::vector<std::u16string>{u"Unselect All", u"", u"Import Selection", u"Export Selection"}));
    EXPECT_FALSE(tree.HasCheckedItems());
    platform::ui::SetMenuHook(nullptr);
}

TEST_F(RegularFileTreeTest, TheBackupStoreIsNeverSelectedIntoItself) {
    m_drive.MakeFolder("KovraData/user@pc");
    m_drive.MakeFolder("Data");
    CShellTreeCtrl& tree = NewTree();
    HTREEITEM t = DriveT(tree);
    // The whole drive, never expanded.
    tree.CheckBranch(t, kStateChecked);
    EXPECT_TRUE(tree.IsBackupStoreSelected(u"T:\\"));
    EXPECT_FALSE(tree.IsBackupStoreSelected(u"C:\\"));
    tree.CheckBranch(t, kStateUnchecked);
    tree.CheckBranch(ItemOf(tree, u"Data"), kStateChecked);
    EXPECT_FALSE(tree.IsBackupStoreSelected(u"T:"));
    tree.CheckBranch(ItemOf(tree, u"KovraData"), kStateChecked);
    EXPECT_TRUE(tree.IsBackupStoreSelected(u"t:\\"));
}

TEST_F(RegularFileTreeTest, CopyJobAnswersNodesPathsAndRecordsTheDrive) {
    m_drive.MakeFolder("Data/Sub");
    m_drive.MakeFolder("Data/Other");
    CShellTreeCtrl& tree = NewTree();
    HTREEITEM data = ItemOf(tree, u"Data");
    tree.CheckBranch(ItemOf(tree, u"Data/Sub"), kStateChecked);
    WCHAR path[2048] = {};
    EXPECT_EQ(m_agent.GetBackupNodeAnswer(&tree, data, path, 4096), kNodeDescend);
    EXPECT_EQ(std::u16string(path), u"\\\\?\\T:\\Data");
    EXPECT_EQ(m_agent.GetBackupNodeAnswer(&tree, ItemOf(tree, u"Data/Sub"), path, 4096), kNodeWhole);
    EXPECT_EQ(m_agent.GetBackupNodeAnswer(&tree, ItemOf(tree, u"Data/Sub"), path, 20), kNodeSkip);

    WCHAR source[2048] = u"\\\\?\\c:\\Data\\a.txt";
    WCHAR dest[2048] = u"F:\\";
    EXPECT_EQ(m_agent.MapBackupPath(&tree, data, u"user@pc", source, dest, 4096), kPathMapped);
    EXPECT_EQ(std::u16string(dest), u"\\\\?\\F:\\KovraData\\user@pc\\Disk C\\Data\\a.txt");
    WCHAR network[2048] = u"\\\\server\\share\\a.txt";
    EXPECT_EQ(m_agent.MapBackupPath(&tree, data, u"user@pc", network, dest, 4096), kPathSkip);

    // A copying job records the drive's name in the set's side file.
    const std::u16string set = m_drive.Path("store/KovraData/user@pc");
    int count1 = -1, count2 = -1;
    EXPECT_EQ(m_agent.PrepareBackup(&tree, DriveT(tree), set.c_str(), 0x21, &count1, &count2), 0);
    EXPECT_EQ(count1, 0);
    WCHAR value[2048] = {};
    GetPrivateProfileStringW(u"Fonts", u"Disk T", u"", value, 2048, (set + u"\\RegularFile.ini").c_str());
    EXPECT_EQ(std::u16string(value), u"Local Disk (T:)");

    // Backup data: a set with a "Disk " folder, even when a file of such a name comes first.
    m_drive.Write("KovraData/a@b/Disk A.txt", "f");
    EXPECT_EQ(m_agent.HasBackupData(u'T'), 0);
    m_drive.MakeFolder("KovraData/a@b/Disk C");
    EXPECT_EQ(m_agent.HasBackupData(u'T'), 1);
    EXPECT_EQ(m_manager.HasBackupData(u'T'), 1);
}

TEST_F(RegularFileTreeTest, RestoreTreeShowsTheSetsDriveFoldersUnderTheirRecordedNames) {
    const std::string set = "KovraData/Disk user@Disk pc/";
    m_drive.Write(set + "Disk C/Data/a.txt", "a");
    m_drive.MakeFolder(set + "Disk C/Data/empty");
    m_drive.Write(set + "Disk T/top.txt", "t");
    m_drive.MakeFolder(set + "Disk Q/gone");
    m_drive.MakeFolder(set + "Desktop");
    m_drive.Write(set + "fonts.ini", "");
    const std::u16string setPath = m_drive.Path("KovraData\\Disk user@Disk pc");
    // Disk C has its name recorded, Disk T an empty one; Disk Q none, and its drive is not there.
    ASSERT_TRUE(WritePrivateProfileStringW(u"Fonts", u"Disk C", u"Local Disk (C:)", (setPath + u"\\RegularFile.ini").c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(u"Fonts", u"Disk T", u"", (setPath + u"\\RegularFile.ini").c_str()));
    CShellTreeCtrl& tree = NewRestoreTree(setPath);
    HTREEITEM root = tree.GetRootItem();
    ASSERT_NE(root, nullptr);
    std::set<std::u16string> texts;
    for (HTREEITEM h = tree.GetChildItem(root); h; h = tree.GetNextSiblingItem(h))
        texts.insert(tree.GetItemText(h).GetString());
    // Only the drive folders are this agent's; the rest of the set belongs to the other agents.
    EXPECT_EQ(texts, (std::set<std::u16string>{u"Local Disk (C:)", u"Disk T", u"Disk Q"}));
    HTREEITEM c = Child(tree, root, u"Local Disk (C:)");
    CString name;
    TCHAR type = 0;
    EXPECT_EQ(m_agent.GetItemName(&tree, c, name, type), 1);
    EXPECT_EQ(name, CString(u"Disk C:"));
    EXPECT_EQ(type, _T('D'));
    UserExpand(tree, c);
    HTREEITEM data = Child(tree, c, u"Data");
    ASSERT_NE(data, nullptr);
    UserExpand(tree, data);
    EXPECT_NE(Child(tree, data, u"a.txt"), nullptr);
    EXPECT_NE(Child(tree, data, u"empty"), nullptr);
    EXPECT_EQ(m_agent.GetItemName(&tree, Child(tree, data, u"a.txt"), name, type), 1);
    EXPECT_EQ(name, CString(u"a.txt"));

    // A file that comes into the set shows in the open tree; one that goes leaves it; files beside the drive
    // folders are not this agent's.
    const CString setRoot(setPath.c_str());
    m_drive.Write(set + "Disk C/Data/b.txt", "b");
    CItemIDList made(m_drive.Path(set + "Disk C\\Data\\b.txt").c_str());
    ASSERT_TRUE(made.IsValid());
    m_manager.ProcessShellNotify(&tree, SHCNE_CREATE, setRoot, made, nullptr);
    ASSERT_NE(Child(tree, data, u"b.txt"), nullptr);
    HTREEITEM hFolder = nullptr, hFile = nullptr;
    UINT folderState = 0, fileState = 0;
    EXPECT_EQ(m_agent.FindTreeItemForPath(&tree, root, setRoot, m_drive.Path(set + "Disk C\\Data\\b.txt").c_str(),
                                          &hFolder, &folderState, &hFile, &fileState),
              kPathItemFound);
    EXPECT_EQ(hFolder, data);
    EXPECT_EQ(m_agent.FindTreeItemForPath(&tree, root, setRoot, m_drive.Path(set + "fonts.ini").c_str(), &hFolder,
                                          &folderState, &hFile, &fileState),
              kPathOutsideAgent);
    std::filesystem::remove(m_drive.Host(set + "Disk C/Data/b.txt"));
    m_manager.ProcessShellNotify(&tree, SHCNE_DELETE, setRoot, made, nullptr);
    EXPECT_EQ(Child(tree, data, u"b.txt"), nullptr);
    EXPECT_NE(Child(tree, data, u"a.txt"), nullptr);

    // A set without a side file (made by Auto-Backup alone) shows its folders under their own names.
    m_drive.Write("KovraData/a@b/Disk T/x.txt", "x");
    CShellTreeCtrl& bare = NewRestoreTree(m_drive.Path("KovraData\\a@b"));
    EXPECT_NE(Child(bare, bare.GetRootItem(), u"Disk T"), nullptr);
}

TEST_F(RegularFileTreeTest, RestorePathsLeadBackToTheDriveOrIntoTheChosenFolder) {
    m_drive.Write("KovraData/u@pc/Disk C/Data/a.txt", "a");
    const std::u16string set = u"\\\\?\\" + m_drive.Path("KovraData\\u@pc");
    const std::u16string odd = u"\\\\?\\T:\\KovraData\\Disk Q@Disk R";
    struct Case {
        int option;
        const char16_t* folder;
        std::u16string source;
        int answer;
        std::u16string expected;
    } cases[] = {
        {1, u"", set + u"\\Disk C\\Data\\a.txt", kPathMapped, u"\\\\?\\C:\\Data\\a.txt"},
        {1, u"", set + u"\\Disk C\\Data\\", kPathMapped, u"\\\\?\\C:\\Data"},
        {1, u"", set + u"\\Disk C", kPathMapped, u"\\\\?\\C:"},
        // A user or computer name with "Disk " in it does not mislead the way back.
        {1, u"", odd + u"\\Disk D\\x\\Disk Z.txt", kPathMapped, u"\\\\?\\D:\\x\\Disk Z.txt"},
        {3, u"D:\\Restore", odd + u"\\Disk D\\x.txt", kPathMapped, u"\\\\?\\D:\\Restore\\Disk D\\x.txt"},
        {2, u"D:\\Restore", set + u"\\Disk C\\Data\\a.txt", kPathMapped, u"\\\\?\\D:\\Restore\\a.txt"},
        {2, u"D:\\", set + u"\\Disk C\\Data\\a.txt", kPathMapped, u"\\\\?\\D:\\a.txt"},
        {2, u"D:\\Restore", set + u"\\Disk C\\Data", kPathMapped, u"\\\\?\\D:\\Restore"},
        {3, u"D:\\Restore\\", set + u"\\Disk C\\Data\\a.txt", kPathMapped,
         u"\\\\?\\D:\\Restore\\Disk C\\Data\\a.txt"},
        // Options 2 and 3 without a folder, and an unknown option, skip every node.
        {2, u"", set + u"\\Disk C\\Data\\a.txt", kPathSkip, u""},
        {3, u"", set + u"\\Disk C\\Data\\a.txt", kPathSkip, u""},
        {0, u"D:\\", set + u"\\Disk C\\Data\\a.txt", kPathSkip, u""},
        {4, u"D:\\", set + u"\\Disk C\\Data\\a.txt", kPathSkip, u""},
        // Something that is no drive folder of a set leads nowhere.
        {1, u"", set + u"\\Desktop\\a.txt", kPathSkip, u""},
    };
    for (const Case& c : cases) {
        WCHAR source[2048] = {};
        lstrcpynW(source, c.source.c_str(), 2048);
        WCHAR dest[2048] = {};
        EXPECT_EQ(m_agent.MapRestorePath(nullptr, nullptr, c.option, c.folder, source, dest, 4096), c.answer)
            << platform::Utf16ToUtf8(c.source);
        if (c.answer == kPathMapped) {
            EXPECT_EQ(std::u16string(dest), c.expected) << platform::Utf16ToUtf8(c.source);
        }
    }
    // A result that does not fit the job's buffer skips its node.
    WCHAR source[2048] = {};
    lstrcpynW(source, (set + u"\\Disk C\\Data\\a.txt").c_str(), 2048);
    WCHAR dest[2048] = {};
    EXPECT_EQ(m_agent.MapRestorePath(nullptr, nullptr, 3, std::u16string(2040, u'x').c_str(), source, dest, 4096),
              kPathSkip);
}

TEST_F(RegularFileTreeTest, ABackedUpFolderComesBackToItsDriveWhole) {
    m_drive.Write("Data/a.txt", "alpha");
    m_drive.Write("Data/Sub/b.txt", "beta");
    m_drive.MakeFolder("Data/Sub/empty");
    CShellTreeCtrl& tree = NewTree();
    tree.CheckBranch(ItemOf(tree, u"Data"), kStateChecked);
    // The backup as the job asks the agent: the node whole, mapped into the set of drive S:.
    platform::fs::DriveInfo s;
    s.letter = u'S';
    s.hostRoot = m_machine.Scratch("s");
    ASSERT_TRUE(platform::fs::SetDrive(s));
    std::filesystem::create_directories(s.hostRoot);
    WCHAR node[2048] = {};
    ASSERT_EQ(m_agent.GetBackupNodeAnswer(&tree, ItemOf(tree, u"Data"), node, 4096), kNodeWhole);
    WCHAR dest[2048] = u"S:\\";
    ASSERT_EQ(m_agent.MapBackupPath(&tree, nullptr, u"u@pc", node, dest, 4096), kPathMapped);
    ASSERT_EQ(static_cast<DWORD>(KovraCopyPath(node, dest)), 0u);
    int c1 = 0, c2 = 0;
    m_agent.PrepareBackup(&tree, DriveT(tree), u"S:\\KovraData\\u@pc", 0x21, &c1, &c2);
    std::filesystem::remove_all(m_drive.Host("Data"));

    // The restore tree of the set: the drive under its recorded name, checked whole, mapped back to T:.
    CShellTreeCtrl& restore = NewRestoreTree(u"S:\\KovraData\\u@pc");
    HTREEITEM disk = Child(restore, restore.GetRootItem(), u"Local Disk (T:)");
    ASSERT_NE(disk, nullptr);
    restore.CheckBranch(disk, kStateChecked);
    ASSERT_EQ(m_agent.GetRestoreNodeAnswer(&restore, disk, node, 4096), kNodeWhole);
    EXPECT_EQ(std::u16string(node), u"\\\\?\\S:\\KovraData\\u@pc\\Disk T");
    ASSERT_EQ(m_agent.MapRestorePath(&restore, disk, 1, u"", node, dest, 4096), kPathMapped);
    EXPECT_EQ(std::u16string(dest), u"\\\\?\\T:");
    WCHAR folder[2048] = {};
    lstrcpynW(folder, (std::u16string(node) + u"\\Data").c_str(), 2048);
    ASSERT_EQ(m_agent.MapRestorePath(&restore, disk, 1, u"", folder, dest, 4096), kPathMapped);
    ASSERT_EQ(static_cast<DWORD>(KovraCopyPath(folder, dest)), 0u);
    EXPECT_EQ(m_drive.Read("Data/a.txt"), "alpha");
    EXPECT_EQ(m_drive.Read("Data/Sub/b.txt"), "beta");
    EXPECT_TRUE(std::filesystem::is_directory(m_drive.Host("Data/Sub/empty")));
}

} // namespace
