// The desktop, Favorites, documents and Vista profile agents in real source and restore trees over a home folder on
// drive C:, on the layer's default Windows (Vista) and on Windows XP.
#include "agents/DesktopAgent.h"
#include "agents/FavoritesAgent.h"
#include "agents/MyDocumentsAgent.h"
#include "agents/VistaProfileAgent.h"
#include "engine/BackManager.h"
#include "engine/CheckTreeCtrl.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/Wnd.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/testing/scratch_drive.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::string& text = "data") {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

class FolderAgentsTest : public testsupport::ScratchDriveTest {
protected:
    void SetUp() override {
        m_home = m_machine.Scratch("home");
        platform::fs::DriveInfo c;
        c.letter = u'C';
        c.hostRoot = m_home;
        ASSERT_TRUE(platform::fs::SetDrive(c));
        m_oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
        m_oldUser = std::getenv("USER") ? std::getenv("USER") : "";
        setenv("HOME", m_home.c_str(), 1);
        setenv("USER", "ann", 1);
        unsetenv("XDG_CONFIG_HOME");
        for (const char* folder : {"Desktop", "Documents", "Favorites", "Music"})
            fs::create_directories(m_home + "/" + folder);
        WriteFile(m_home + "/Desktop/Notes/a.txt");
        WriteFile(m_home + "/Favorites/Links/desktop.ini");
        WriteFile(m_home + "/Favorites/Links/site.url");
        WriteFile(m_home + "/Favorites/DESKTOP.INI");
        WriteFile(m_home + "/Documents/desktop.ini");
        WriteFile(m_home + "/Documents/letter.doc");
        ASSERT_TRUE(m_manager.Create());
        // Registration order of the program: Favorites second, the desktop third, documents fourth, the profile
        // eighth (the agents between them are not part of this test).
        for (CBackAgent* agent : std::initializer_list<CBackAgent*>{&m_favorites, &m_desktop, &m_documents, &m_profile})
            ASSERT_EQ(m_manager.AddAgent(agent), 1);
        ASSERT_TRUE(m_host.CreateEx(0, nullptr, u"Host", WS_OVERLAPPEDWINDOW, 0, 0, 500, 700, nullptr, nullptr));
    }
    void TearDown() override {
        for (auto& tree : m_trees)
            tree->DestroyWindow();
        m_host.DestroyWindow();
        m_manager.RemoveAllAgents();
        setenv("HOME", m_oldHome.c_str(), 1);
        setenv("USER", m_oldUser.c_str(), 1);
    }

    void UseWindowsXP() {
        std::ofstream(platform::machine::PathOf("version")) << "platform=2\nmajor=5\nminor=1\nbuild=2600\n";
    }

    CShellTreeCtrl& NewTree(int type, LPCTSTR setPath = nullptr) {
        m_trees.push_back(std::make_unique<CShellTreeCtrl>());
        CShellTreeCtrl& tree = *m_trees.back();
        RECT rc{0, 0, 480, 680};
        EXPECT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, rc, &m_host, 3202));
        EXPECT_TRUE(tree.InitTree(603, 130, 700, 3200, type, FALSE));
        if (type == kTreeRestore)
            EXPECT_EQ(m_manager.FillRestoreTree(&tree, setPath), 1);
        else if (type == kTreeMonitor)
            EXPECT_EQ(m_manager.FillMonitorTree(&tree), 1);
        else
            EXPECT_EQ(m_manager.FillSourceTree(&tree), 1);
        tree.SendMessage(WM_TREE_EXPAND_ROOT);
        return tree;
    }
    static void Expand(CShellTreeCtrl& tree, HTREEITEM hItem) {
        if (tree.GetItemState(hItem, TVIS_EXPANDED) & TVIS_EXPANDED)
            return;
        tree.SelectItem(hItem);
        tree.SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
    }
    static std::vector<std::u16string> Texts(CShellTreeCtrl& tree, HTREEITEM hParent) {
        std::vector<std::u16string> texts;
        for (HTREEITEM h = tree.GetChildItem(hParent); h; h = tree.GetNextSiblingItem(h))
            texts.emplace_back(tree.GetItemText(h).GetString());
        return texts;
    }
    static HTREEITEM Child(CShellTreeCtrl& tree, HTREEITEM hParent, const std::u16string& text) {
        for (HTREEITEM h = tree.GetChildItem(hParent); h; h = tree.GetNextSiblingItem(h))
            if (std::u16string(tree.GetItemText(h).GetString()) == text)
                return h;
        return nullptr;
    }
    static CBackAgent* OwnerOf(CShellTreeCtrl& tree, HTREEITEM hItem) {
        auto* data = reinterpret_cast<CShellItemData*>(tree.GetItemData(hItem));
        return data ? data->m_pAgent : nullptr;
    }
    HTREEITEM ItemOf(CShellTreeCtrl& tree, CBackAgent* agent) {
        for (HTREEITEM h = tree.GetChildItem(tree.GetRootItem()); h; h = tree.GetNextSiblingItem(h))
            if (OwnerOf(tree, h) == agent)
                return h;
        return nullptr;
    }
    // A set made by ann on PC with the given folders of agents.
    std::u16string MakeSet(const std::string& driveFolder) {
        const std::string set = driveFolder + "/KovraData/ann@PC";
        WriteFile(set + "/Desktop/Notes/a.txt");
        WriteFile(set + "/DesktopOld/b.txt");
        WriteFile(set + "/Favorites/desktop.ini");
        WriteFile(set + "/MyDocuments/letter.doc");
        WriteFile(set + "/VistaProfileData/Documents/letter.doc");
        WriteFile(set + "/VistaProfileData/Videos/film.avi");
        WriteFile(set + "/VistaProfileData/ntuser.dat");
        return m_drive.Path("KovraData\\ann@PC");
    }

    std::string m_home, m_oldHome, m_oldUser;
    CBackManager m_manager;
    CFavoritesAgent m_favorites;
    CDesktopAgent m_desktop;
    CMyDocumentsAgent m_documents;
    CVistaProfileAgent m_profile;
    CWnd m_host;
    std::vector<std::unique_ptr<CShellTreeCtrl>> m_trees;
};

TEST_F(FolderAgentsTest, OnVistaTheProfileItemStandsForTheUsersHomeAndTheSingleFolderAgentsAddNothing) {
    for (int type : {kTreeBackup, kTreeMonitor}) {
        CShellTreeCtrl& tree = NewTree(type);
        EXPECT_EQ(ItemOf(tree, &m_desktop), nullptr);
        EXPECT_EQ(ItemOf(tree, &m_favorites), nullptr);
        EXPECT_EQ(ItemOf(tree, &m_documents), nullptr);
        HTREEITEM hProfile = ItemOf(tree, &m_profile);
        ASSERT_NE(hProfile, nullptr);
        EXPECT_EQ(std::u16string(tree.GetItemText(hProfile).GetString()), u"ann");
        EXPECT_EQ(std::u16string(m_profile.GetRootPath().GetString()), u"C:");
        CString label;
        ASSERT_EQ(m_profile.GetItemLabel(&tree, hProfile, label), 1);
        EXPECT_EQ(std::u16string(label.GetString()), u"VistaProfileData:");
        // Every folder of the profile is offered; no list is fixed.
        Expand(tree, hProfile);
        const auto children = Texts(tree, hProfile);
        for (const char16_t* folder : {u"Desktop", u"Favorites", u"Music"})
            EXPECT_NE(std::find(children.begin(), children.end(), folder), children.end())
                << platform::Utf16ToUtf8(folder);
    }
}

TEST_F(FolderAgentsTest, OnWindowsXPTheThreeFolderItemsShowAndFavoritesNeverOffersDesktopIni) {
    UseWindowsXP();
    CShellTreeCtrl& tree = NewTree(kTreeBackup);
    EXPECT_EQ(ItemOf(tree, &m_profile), nullptr);
    HTREEITEM hDesktop = ItemOf(tree, &m_desktop);
    HTREEITEM hFavorites = ItemOf(tree, &m_favorites);
    HTREEITEM hDocuments = ItemOf(tree, &m_documents);
    ASSERT_TRUE(hDesktop && hFavorites && hDocuments);
    EXPECT_EQ(std::u16string(tree.GetItemText(hDesktop).GetString()), u"Desktop");

    CString name;
    TCHAR type = 0;
    ASSERT_EQ(m_desktop.GetItemName(&tree, hDesktop, name, type), 1);
    EXPECT_EQ(std::u16string(name.GetString()), u"Desktop:");
    EXPECT_EQ(type, u'D');

    Expand(tree, hDesktop);
    HTREEITEM hNotes = Child(tree, hDesktop, u"Notes");
    ASSERT_NE(hNotes, nullptr);
    ASSERT_EQ(m_desktop.GetItemName(&tree, hNotes, name, type), 1);
    EXPECT_EQ(std::u16string(name.GetString()), u"Notes");
    EXPECT_EQ(type, u'D');

    Expand(tree, hFavorites);
    EXPECT_EQ(Texts(tree, hFavorites), (std::vector<std::u16string>{u"Links"}));
    HTREEITEM hLinks = Child(tree, hFavorites, u"Links");
    Expand(tree, hLinks);
    EXPECT_EQ(Texts(tree, hLinks), (std::vector<std::u16string>{u"site.url"}));

    Expand(tree, hDocuments);
    const auto documents = Texts(tree, hDocuments);
    EXPECT_NE(std::find(documents.begin(), documents.end(), u"desktop.ini"), documents.end());
    EXPECT_NE(std::find(documents.begin(), documents.end(), u"letter.doc"), documents.end());
}

TEST_F(FolderAgentsTest, BackupAndRestorePathsOfTheFolderAgents) {
    UseWindowsXP();
    NewTree(kTreeBackup); // reads the folders
    TCHAR buffer[2048];
    auto backup = [&](CBackAgent& agent, const std::u16string& source, int cb = 4096) {
        lstrcpynW(buffer, u"X:\\", 2048);
        std::u16string src = source;
        const int r = agent.MapBackupPath(nullptr, nullptr, u"ann@PC", src.data(), buffer, cb);
        return r == kPathMapped ? std::u16string(buffer) : u"skip";
    };
    EXPECT_EQ(backup(m_desktop, u"\\\\?\\C:\\Desktop\\Notes\\a.txt"),
              u"\\\\?\\X:\\KovraData\\ann@PC\\Desktop\\Notes\\a.txt");
    EXPECT_EQ(backup(m_desktop, u"C:\\desktop\\Notes"), u"\\\\?\\X:\\KovraData\\ann@PC\\Desktop\\Notes");
    // A path outside the folder (as the monitor may pass) is skipped, not mapped to a wrong place.
    EXPECT_EQ(backup(m_desktop, u"C:\\Desktop2\\x.txt"), u"skip");
    EXPECT_EQ(backup(m_desktop, u"D:\\other\\x.txt"), u"skip");
    EXPECT_EQ(backup(m_favorites, u"C:\\Favorites\\Links\\site.url"),
              u"\\\\?\\X:\\KovraData\\ann@PC\\Favorites\\Links\\site.url");
    EXPECT_EQ(backup(m_favorites, u"\\\\server\\share\\Favorites\\x"), u"skip");
    EXPECT_EQ(backup(m_documents, u"C:\\Documents\\letter.doc"),
              u"\\\\?\\X:\\KovraData\\ann@PC\\MyDocuments\\letter.doc");
    // A result longer than the buffer skips the node.
    EXPECT_EQ(backup(m_desktop, u"C:\\Desktop\\" + std::u16string(60, u'n'), 100), u"skip");

    auto restore = [&](CBackAgent& agent, int option, LPCTSTR dest, const std::u16string& source) {
        std::u16string src = source;
        const int r = agent.MapRestorePath(nullptr, nullptr, option, dest, src.data(), buffer, 4096);
        return r == kPathMapped ? std::u16string(buffer) : u"skip";
    };
    const std::u16string inSet = u"\\\\?\\T:\\KovraData\\bob@OTHER\\Desktop\\Notes\\a.txt";
    WriteFile(m_drive.Host("KovraData/bob@OTHER/Desktop/Notes/a.txt"));
    EXPECT_EQ(restore(m_desktop, 1, nullptr, inSet), u"\\\\?\\C:\\Desktop\\Notes\\a.txt");
    EXPECT_EQ(restore(m_desktop, 2, u"E:\\Restored\\", inSet), u"\\\\?\\E:\\Restored\\a.txt");
    EXPECT_EQ(restore(m_desktop, 2, u"E:\\Restored", u"\\\\?\\T:\\KovraData\\bob@OTHER\\Desktop\\Notes"),
              u"\\\\?\\E:\\Restored");
    EXPECT_EQ(restore(m_desktop, 3, u"E:\\Restored", inSet), u"\\\\?\\E:\\Restored\\Desktop\\Notes\\a.txt");
    EXPECT_EQ(restore(m_desktop, 2, u"", inSet), u"skip");
    EXPECT_EQ(restore(m_desktop, 4, u"E:\\", inSet), u"skip");
    EXPECT_EQ(restore(m_favorites, 1, nullptr, u"\\\\?\\T:\\KovraData\\bob@OTHER\\Favorites\\Links\\site.url"),
              u"\\\\?\\C:\\Favorites\\Links\\site.url");
}

TEST_F(FolderAgentsTest, RestoreTreesShowTheSetsFoldersOnEitherSystem) {
    const std::u16string set = MakeSet(m_drive.Host(""));
    {
        // Vista: the profile folder shows under the set's user; only sub-folders the current profile has show,
        // under its names, beside the files.
        CShellTreeCtrl& tree = NewTree(kTreeRestore, set.c_str());
        HTREEITEM hRoot = tree.GetRootItem();
        HTREEITEM hProfile = ItemOf(tree, &m_profile);
        ASSERT_NE(hProfile, nullptr);
        EXPECT_EQ(std::u16string(tree.GetItemText(hProfile).GetString()), u"ann");
        EXPECT_NE(tree.GetCheckState(hProfile), kStateFixed);
        // The desktop agent shows the first folder whose name holds "Desktop" (the shell lists "Desktop" first).
        HTREEITEM hDesktop = ItemOf(tree, &m_desktop);
        ASSERT_NE(hDesktop, nullptr);
        Expand(tree, hProfile);
        const auto children = Texts(tree, hProfile);
        EXPECT_NE(std::find(children.begin(), children.end(), u"My Documents"), children.end());
        EXPECT_NE(std::find(children.begin(), children.end(), u"ntuser.dat"), children.end());
        EXPECT_EQ(std::find(children.begin(), children.end(), u"Videos"), children.end());
        (void)hRoot;
    }
    UseWindowsXP();
    {
        CShellTreeCtrl& tree = NewTree(kTreeRestore, set.c_str());
        HTREEITEM hProfile = ItemOf(tree, &m_profile);
        ASSERT_NE(hProfile, nullptr);
        EXPECT_EQ(std::u16string(tree.GetItemText(hProfile).GetString()), u"VistaProfileData");
        EXPECT_EQ(tree.GetItemState(hProfile, TVIS_STATEIMAGEMASK) & TVIS_STATEIMAGEMASK, kStateFixed);
        ASSERT_NE(ItemOf(tree, &m_favorites), nullptr);
        ASSERT_NE(ItemOf(tree, &m_documents), nullptr);
        HTREEITEM hFavorites = ItemOf(tree, &m_favorites);
        Expand(tree, hFavorites);
        EXPECT_EQ(Texts(tree, hFavorites), (std::vector<std::u16string>{u"desktop.ini"}));
    }
}

} // namespace
