// What the tests of the agents of particular programs share: a home folder on C: (the user's special folders and
// font folder), a backup manager with the agent under test, selection trees of the three kinds, and a job runner
// that asks the agents what the copy job asks them and copies as it would.
#pragma once

#include "engine/BackAgent.h"
#include "engine/BackManager.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/Wnd.h"
#include "platform/fs/copy.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/fs/paths.h"
#include "platform/registry/registry.h"
#include "platform/testing/scratch_drive.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace agenttest {

class CHostWnd : public CWnd {};

// The registry as the tests compare it: every key of a subtree with its values in order.
using Values = std::vector<std::tuple<std::u16string, DWORD, std::vector<BYTE>>>;
using Tree = std::map<std::u16string, Values>;

// Every key of a subtree with its values, by the path below the subtree's key.
inline void Dump(HKEY root, const std::u16string& path, const std::u16string& below, Tree& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    Values& values = out[below];
    for (DWORD i = 0;; ++i) {
        WCHAR name[512];
        BYTE data[8192];
        DWORD nameSize = 512, dataSize = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        values.emplace_back(name, type, std::vector<BYTE>(data, data + dataSize));
    }
    std::vector<std::u16string> subkeys;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD size = 256;
        if (RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.emplace_back(name);
    }
    RegCloseKey(key);
    for (const auto& sub : subkeys)
        Dump(root, path + u"\\" + sub, below + u"\\" + sub, out);
}

inline void DeleteTree(HKEY root, const std::u16string& path) {
    Tree keys;
    Dump(root, path, u"", keys);
    for (auto it = keys.rbegin(); it != keys.rend(); ++it)
        RegDeleteKeyW(root, (path + it->first).c_str());
}

inline CString WithoutPrefix(const CString& path) {
    return path.Left(4) == u"\\\\?\\" ? path.Mid(4) : path;
}

// The copy job as the agents see it: for every root of the tree that is not unchecked its agent prepares, every
// node is answered and mapped by its agent, checked files and folders are copied whole, and the agents finish.
class JobRunner {
public:
    JobRunner(CShellTreeCtrl& tree, CBackManager& manager) : m_tree(tree), m_manager(manager) {}

    // A backup into the set folder of the drive root ("T:\").
    void Backup(const CString& driveRoot, bool cancel = false) {
        m_restore = false;
        m_destination = driveRoot;
        const CString set = driveRoot + u"KovraData\\" + m_manager.GetSetName();
        Run(set, cancel);
    }
    void Restore(int option, const CString& folder, bool cancel = false) {
        m_restore = true;
        m_option = option;
        m_folder = folder;
        Run(CString(), cancel);
    }
    // Files the job copied (destination paths without the prefix) and the counts the agents added.
    std::vector<CString> copied;
    int count = 0;
    int size = 0;

private:
    void Run(const CString& set, bool cancel) {
        copied.clear();
        count = size = 0;
        HTREEITEM top = m_tree.GetRootItem();
        std::vector<std::pair<CBackAgent*, HTREEITEM>> roots;
        for (HTREEITEM h = m_tree.GetChildItem(top); h; h = m_tree.GetNextSiblingItem(h)) {
            auto* data = reinterpret_cast<CShellItemData*>(m_tree.GetItemData(h));
            if (!data || !data->m_pAgent || m_tree.GetCheckState(h) == kStateUnchecked)
                continue;
            roots.emplace_back(data->m_pAgent, h);
            int c1 = 0, c2 = 0;
            if (m_restore)
                data->m_pAgent->PrepareRestore(&m_tree, h, 0x21, &c1, &c2);
            else
                data->m_pAgent->PrepareBackup(&m_tree, h, set, 0x21, &c1, &c2);
            count += c1;
            size += c2;
        }
        if (!cancel)
            for (auto& [agent, root] : roots)
                Walk(agent, root);
        for (auto& [agent, root] : roots) {
            if (m_restore)
                agent->AfterRestore(cancel ? 1 : 0, &m_tree, root);
            else
                agent->AfterBackup(cancel ? 1 : 0, &m_tree, root);
        }
    }
    void Walk(CBackAgent* agent, HTREEITEM item) {
        WCHAR source[2048] = {};
        const int answer = m_restore ? agent->GetRestoreNodeAnswer(&m_tree, item, source, sizeof source)
                                     : agent->GetBackupNodeAnswer(&m_tree, item, source, sizeof source);
        if (answer == kNodeSkip)
            return;
        if (answer == kNodeWhole) {
            CopyWhole(agent, item, CString(source));
            return;
        }
        for (HTREEITEM child = m_tree.GetChildItem(item); child; child = m_tree.GetNextSiblingItem(child))
            Walk(agent, child);
    }
    bool Map(CBackAgent* agent, HTREEITEM item, const CString& source, CString& destination) {
        WCHAR src[2048] = {};
        lstrcpynW(src, source, 2048);
        WCHAR dest[2048] = {};
        int result;
        if (m_restore) {
            result = agent->MapRestorePath(&m_tree, item, m_option, m_folder, src, dest, sizeof dest);
        } else {
            lstrcpynW(dest, m_destination, 2048);
            result = agent->MapBackupPath(&m_tree, item, m_manager.GetSetName(), src, dest, sizeof dest);
        }
        destination = dest;
        return result == kPathMapped && !destination.IsEmpty();
    }
    // As the copy library does: a file node goes where the agent maps it; a folder node's every folder is mapped
    // (the folder's source to its destination) and its files go into that destination under their own names.
    void CopyWhole(CBackAgent* agent, HTREEITEM item, const CString& source) {
        const CString plain = WithoutPrefix(source);
        const DWORD attributes = GetFileAttributesW(plain);
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << platform::Utf16ToUtf8(plain.GetString());
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            CString destination;
            if (Map(agent, item, source, destination))
                CopyOne(source, destination);
            return;
        }
        CString folderDest;
        if (!Map(agent, item, source, folderDest))
            return;
        CBackAgent::MakeDirectoryPath(WithoutPrefix(folderDest));
        WIN32_FIND_DATAW data{};
        HANDLE find = FindFirstFileW(plain + u"\\*", &data);
        if (find == INVALID_HANDLE_VALUE)
            return;
        std::vector<std::pair<CString, bool>> entries;
        do {
            const CString name(data.cFileName);
            if (name != u"." && name != u"..")
                entries.emplace_back(name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
        } while (FindNextFileW(find, &data));
        FindClose(find);
        for (const auto& [name, folder] : entries) {
            if (folder)
                CopyWhole(agent, item, source + u"\\" + name);
            else
                CopyOne(source + u"\\" + name, WithoutPrefix(folderDest) + u"\\" + name);
        }
    }
    void CopyOne(const CString& source, const CString& destination) {
        const CString plain = WithoutPrefix(destination);
        CBackAgent::MakeDirectoryPath(plain.Left(plain.ReverseFind(u'\\')));
        EXPECT_TRUE(CopyFileW(WithoutPrefix(source), plain, FALSE)) << platform::Utf16ToUtf8(plain.GetString());
        copied.push_back(plain);
    }

    CShellTreeCtrl& m_tree;
    CBackManager& m_manager;
    bool m_restore = false;
    CString m_destination;
    int m_option = 1;
    CString m_folder;
};

// A machine of the test's own with T: as the backup drive and C: as the user's home.
class AgentTest : public testsupport::ScratchDriveTest {
protected:
    void SetUp() override {
        m_home = m_machine.Scratch("home");
        std::filesystem::create_directories(m_home);
        platform::fs::DriveInfo c;
        c.letter = u'C';
        c.hostRoot = m_home;
        ASSERT_TRUE(platform::fs::SetDrive(c));
        for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
            const char* value = std::getenv(name);
            m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
        setenv("HOME", m_home.c_str(), 1);
        ASSERT_TRUE(m_manager.Create());
        ASSERT_TRUE(m_host.CreateEx(0, nullptr, u"Host", WS_OVERLAPPEDWINDOW, 0, 0, 500, 700, nullptr, nullptr));
    }
    void TearDown() override {
        for (auto& tree : m_trees)
            tree->DestroyWindow();
        m_host.DestroyWindow();
        m_manager.RemoveAllAgents();
        for (auto& [name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

    CShellTreeCtrl& NewTree(int type) {
        m_trees.push_back(std::make_unique<CShellTreeCtrl>());
        CShellTreeCtrl& tree = *m_trees.back();
        RECT rc{0, 0, 480, 680};
        EXPECT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, rc, &m_host, 3202));
        EXPECT_TRUE(tree.InitTree(603, 130, 700, 3200, type, FALSE));
        if (type == kTreeRestore)
            EXPECT_EQ(m_manager.FillRestoreTree(&tree, SetPath()), 1);
        else
            m_manager.FillSourceTree(&tree);
        tree.SendMessage(WM_TREE_EXPAND_ROOT);
        return tree;
    }
    CString SetPath() const { return CString(m_drive.Path()) + u"KovraData\\" + m_manager.GetSetName(); }
    std::string SetHost(const std::string& relative) const {
        return m_drive.Host("KovraData/" + platform::Utf16ToUtf8(m_manager.GetSetName().GetString()) + "/" + relative);
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
    static std::vector<CString> Texts(CShellTreeCtrl& tree, HTREEITEM hParent) {
        std::vector<CString> texts;
        for (HTREEITEM h = tree.GetChildItem(hParent); h; h = tree.GetNextSiblingItem(h))
            texts.push_back(tree.GetItemText(h));
        return texts;
    }
    static std::string ReadHost(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    std::string m_home;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
    CBackManager m_manager;
    CHostWnd m_host;
    std::vector<std::unique_ptr<CShellTreeCtrl>> m_trees;
};

} // namespace agenttest
