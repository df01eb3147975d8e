// The desktop's applications: file types, default and other applications, ShellExecuteExW and the context menu.
#include "platform/shell/browse.h"
#include "platform/shell/contextmenu.h"
#include "platform/shell/shell_internal.h"
#include "platform/shell/shell_test_support.h"
#include "platform/shell/shellexecute.h"
#include "platform/shell/shellfolder.h"

#include "platform/base/clock.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/ui/menu.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/winuser_constants.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

class DesktopTest : public shelltest::ShellTest {
protected:
    DesktopTest() {
        const std::string share = m_machine.Scratch("share");
        std::filesystem::create_directories(share + "/mime");
        std::ofstream(share + "/mime/globs2") << "# globs2\n50:text/plain:*.txt\n50:image/png:*.png\n"
                                                 "60:text/x-readme:README*:cs\n";
        std::filesystem::create_directories(share + "/applications");
        // Two viewers for text, each writing what it was given to its own file on T:.
        for (const char* name : {"viewer", "editor"}) {
            const std::string script = m_drive.Host(std::string("bin/") + name);
            m_drive.Write(std::string("bin/") + name,
                          std::string("#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/") + name + ".out\"\n");
            chmod(script.c_str(), 0755);
            std::ofstream(share + "/applications/" + name + ".desktop")
                << "[Desktop Entry]\nType=Application\nName=Text " << name << "\nExec=" << script
                << " --file %f\nMimeType=text/plain;inode/directory;\n";
        }
        std::filesystem::create_directories(m_home + "/.config");
        std::ofstream(m_home + "/.config/mimeapps.list") << "[Default Applications]\ntext/plain=editor.desktop\n";
        m_drive.Write("docs/note.txt", "n");
        m_drive.Write("docs/picture.png", "p");
    }

    // Runs until the application left its output; its text.
    std::string OutputOf(const char* name) {
        // The program makes its file before it writes its line: the line is whole once it ends.
        const std::string out = std::string("bin/") + name + ".out";
        std::string text;
        for (int i = 0; i < 2000; ++i) {
            if (m_drive.Exists(out) && !(text = m_drive.Read(out)).empty() && text.back() == '\n')
                break;
            Sleep(10);
        }
        return text;
    }
};

TEST_F(DesktopTest, TypesAndApplicationsFollowTheMimeDatabaseAndMimeappsList) {
    using platform::shell::MimeTypeOf;
    EXPECT_EQ(MimeTypeOf(u"a.TXT", false), "text/plain");
    EXPECT_EQ(MimeTypeOf(u"README.md", false), "text/x-readme");
    EXPECT_EQ(MimeTypeOf(u"readme.md", false), "application/octet-stream"); // case-sensitive glob
    EXPECT_EQ(MimeTypeOf(u"x", true), "inode/directory");
    const auto apps = platform::shell::AppsForMimeType("text/plain");
    ASSERT_EQ(apps.size(), 2u);
    EXPECT_EQ(apps[0].id, "editor.desktop"); // the default of mimeapps.list comes first
    EXPECT_EQ(apps[1].id, "viewer.desktop");
    EXPECT_TRUE(platform::shell::AppsForMimeType("image/png").empty());
}

TEST_F(DesktopTest, ShellExecuteOpensWithTheDefaultApplicationAndGivesItsProcess) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    const std::u16string note = m_drive.Path("docs/note.txt");
    info.lpFile = note.c_str();
    info.nShow = SW_SHOWDEFAULT;
    ASSERT_TRUE(ShellExecuteExW(&info));
    ASSERT_NE(info.hProcess, nullptr);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0);
    CloseHandle(info.hProcess);
    EXPECT_EQ(m_drive.Read("bin/editor.out"), "--file " + m_drive.Host("docs/note.txt") + "\n");

    // No application for PNG pictures; nothing at all for a missing file.
    const std::u16string picture = m_drive.Path("docs/picture.png");
    EXPECT_EQ(reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, nullptr, picture.c_str(), nullptr, nullptr, SW_SHOW)),
              SE_ERR_NOASSOC);
    EXPECT_EQ(GetLastError(), ERROR_NO_ASSOCIATION);
    EXPECT_EQ(reinterpret_cast<INT_PTR>(
                  ShellExecuteW(nullptr, u"open", m_drive.Path("docs/gone.txt").c_str(), nullptr, nullptr, SW_SHOW)),
              SE_ERR_FNF);
}

TEST_F(DesktopTest, ShellExecuteStartsProgramsWithTheirParameters) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    const std::u16string program = m_drive.Path("bin/viewer");
    info.lpFile = program.c_str();
    info.lpVerb = u"open";
    info.lpParameters = u"/configdisk";
    ASSERT_TRUE(ShellExecuteExW(&info));
    ASSERT_NE(info.hProcess, nullptr);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0);
    CloseHandle(info.hProcess);
    EXPECT_EQ(m_drive.Read("bin/viewer.out"), "/configdisk\n");
}

TEST_F(DesktopTest, ShellExecuteOpensUrlsWithTheHandlerOfTheirScheme) {
    const std::string share = m_machine.Scratch("share");
    const std::string script = m_drive.Host("bin/browser");
    m_drive.Write("bin/browser", "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/browser.out\"\n");
    chmod(script.c_str(), 0755);
    std::ofstream(share + "/applications/browser.desktop")
        << "[Desktop Entry]\nType=Application\nName=Browser\nExec=" << script
        << " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n";
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = u"open";
    info.lpFile = u"HTTPS://www.example.org/support?a=1&b=2";
    info.nShow = SW_SHOWMAXIMIZED;
    ASSERT_TRUE(ShellExecuteExW(&info));
    ASSERT_NE(info.hProcess, nullptr);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0);
    CloseHandle(info.hProcess);
    EXPECT_EQ(m_drive.Read("bin/browser.out"), "HTTPS://www.example.org/support?a=1&b=2\n");

    // A scheme without a handler, and a verb a URL does not have; a drive letter is no scheme.
    info.lpFile = u"ftp://files.example.org/";
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(reinterpret_cast<INT_PTR>(info.hInstApp), SE_ERR_NOASSOC);
    info.lpFile = u"http://www.example.org/";
    info.lpVerb = u"print";
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(GetLastError(), ERROR_NO_ASSOCIATION);
    info.lpVerb = nullptr;
    const std::u16string note = m_drive.Path("docs/note.txt");
    info.lpFile = note.c_str();
    ASSERT_TRUE(ShellExecuteExW(&info));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0);
    CloseHandle(info.hProcess);
    EXPECT_EQ(m_drive.Read("bin/editor.out"), "--file " + m_drive.Host("docs/note.txt") + "\n");
}

TEST_F(DesktopTest, ContextMenuOffersOpenOpenWithContainingFolderAndProperties) {
    IShellFolder* desktop = nullptr;
    SHGetDesktopFolder(&desktop);
    PIDLIST_RELATIVE docs = nullptr;
    std::u16string path = m_drive.Path("docs");
    ASSERT_EQ(desktop->ParseDisplayName(nullptr, nullptr, path.data(), nullptr, &docs, nullptr), S_OK);
    IShellFolder* folder = nullptr;
    ASSERT_EQ(desktop->BindToObject(docs, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder)), S_OK);
    PIDLIST_RELATIVE note = nullptr;
    std::u16string name = u"note.txt";
    ASSERT_EQ(folder->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &note, nullptr), S_OK);
    IContextMenu* menu = nullptr;
    PCUITEMID_CHILD items[] = {note};
    ASSERT_EQ(folder->GetUIObjectOf(nullptr, 1, items, IID_IContextMenu, nullptr, reinterpret_cast<void**>(&menu)),
              S_OK);

    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, 19999, u"Refresh");
    const HRESULT hr = menu->QueryContextMenu(popup, 0, 20000, 21000, CMF_EXPLORE | CMF_NODEFAULT);
    ASSERT_TRUE(SUCCEEDED(hr));
    // Open, the second viewer under Open With, Open Containing Folder and Properties.
    EXPECT_EQ(HRESULT_CODE(hr), 4);
    EXPECT_EQ(GetMenuDefaultItem(popup, FALSE, 0), static_cast<UINT>(-1));
    WCHAR text[64] = {};
    GetMenuStringW(popup, 0, text, 64, MF_BYPOSITION);
    EXPECT_EQ(std::u16string(text), u"&Open");
    HMENU openWith = GetSubMenu(popup, 1);
    ASSERT_NE(openWith, nullptr);
    EXPECT_EQ(GetMenuItemID(openWith, 0), 20001u);
    GetMenuStringW(popup, 2, text, 64, MF_BYPOSITION);
    EXPECT_EQ(std::u16string(text), u"Open &Containing Folder");
    EXPECT_EQ(GetMenuItemID(popup, static_cast<int>(GetMenuItemCount(popup)) - 1), 19999u); // the owner's stays last

    WCHAR help[2048] = {};
    EXPECT_EQ(menu->GetCommandString(1, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(help), 2048), S_OK);
    EXPECT_EQ(std::u16string(help), u"Opens the selected item with Text viewer.");
    char verb[32] = {};
    EXPECT_EQ(menu->GetCommandString(3, GCS_VERBA, nullptr, verb, 32), S_OK);
    EXPECT_STREQ(verb, "properties");
    EXPECT_EQ(menu->GetCommandString(4, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(help), 2048), E_INVALIDARG);

    // Open With runs the other application.
    CMINVOKECOMMANDINFOEX invoke{};
    invoke.cbSize = sizeof invoke;
    invoke.fMask = CMIC_MASK_UNICODE;
    invoke.lpVerb = reinterpret_cast<LPCSTR>(1);
    invoke.lpVerbW = reinterpret_cast<LPCWSTR>(1);
    invoke.nShow = SW_SHOWNORMAL;
    EXPECT_EQ(menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&invoke)), S_OK);
    EXPECT_EQ(OutputOf("viewer"), "--file " + m_drive.Host("docs/note.txt") + "\n");

    // Properties shows a box with the item's name and type; the menu draws nothing of its own.
    std::u16string shown;
    platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
        shown = info.text;
        return platform::ui::PromptReply(IDOK);
    });
    invoke.lpVerbW = u"properties";
    invoke.lpVerb = "properties";
    EXPECT_EQ(menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&invoke)), S_OK);
    EXPECT_NE(shown.find(u"Name: note.txt"), std::u16string::npos);
    EXPECT_NE(shown.find(u"Type: text/plain"), std::u16string::npos);
    EXPECT_NE(shown.find(u"Size: 1 bytes"), std::u16string::npos);
    IContextMenu2* menu2 = nullptr;
    ASSERT_EQ(menu->QueryInterface(IID_IContextMenu2, reinterpret_cast<void**>(&menu2)), S_OK);
    EXPECT_EQ(menu2->HandleMenuMsg(WM_DRAWITEM, 0, 0), E_FAIL);
    EXPECT_EQ(menu2->HandleMenuMsg(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(openWith), 1), S_OK);
    menu2->Release();

    DestroyMenu(popup);
    menu->Release();
    ILFree(note);
    folder->Release();
    ILFree(docs);
    desktop->Release();
}

TEST_F(DesktopTest, FolderBrowserSpeaksInItemIdLists) {
    m_drive.MakeFolder("Backup");
    PIDLIST_ABSOLUTE root = SHSimpleIDListFromPath(m_drive.Path().c_str());
    std::vector<std::u16string> selections;
    BROWSEINFOW bi{};
    WCHAR name[MAX_PATH] = {};
    bi.pidlRoot = root;
    bi.pszDisplayName = name;
    bi.lpszTitle = u"Choose";
    bi.lParam = reinterpret_cast<LPARAM>(&selections);
    bi.lpfn = [](HWND, UINT msg, LPARAM lParam, LPARAM data) -> int {
        WCHAR path[2048] = {};
        if (msg == BFFM_SELCHANGED && SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), path))
            reinterpret_cast<std::vector<std::u16string>*>(data)->push_back(path);
        return 0;
    };
    platform::ui::ScopedPromptHook hook(
        [&](const platform::ui::PromptInfo&) { return platform::ui::PromptReply::Path(m_drive.Path("Backup")); });
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&bi);
    ASSERT_NE(chosen, nullptr);
    WCHAR path[2048] = {};
    EXPECT_TRUE(SHGetPathFromIDListW(chosen, path));
    EXPECT_EQ(std::u16string(path), m_drive.Path("Backup"));
    EXPECT_EQ(std::u16string(name), u"Backup");
    EXPECT_EQ(selections, (std::vector<std::u16string>{m_drive.Path(), m_drive.Path("Backup")}));
    ILFree(chosen);
    ILFree(root);
}

} // namespace
