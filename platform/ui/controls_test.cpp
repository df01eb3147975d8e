#include "platform/ui/controls.h"

#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/ui/commdlg.h"
#include "platform/ui/dialog.h"
#include "platform/ui/input.h"
#include "platform/ui/prompt_test_support.h"
#include "platform/ui/tray.h"
#include "platform/ui/ui_test_support.h"

#include <sys/stat.h>

#include <vector>

namespace {

// A parent window that records the WM_COMMAND notifications of its controls.
class StandardControlsTest : public uitest::UiTest {
protected:
    StandardControlsTest() {
        m_handler = [this](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (msg == WM_COMMAND)
                m_notes.push_back(HIWORD(wParam));
            if (msg == kTray)
                m_tray.push_back(static_cast<UINT>(lParam));
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        };
        m_parent = uitest::MakeWindow(&m_handler, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    }
    ~StandardControlsTest() override { DestroyWindow(m_parent); }

    HWND Make(LPCWSTR cls, DWORD style, LPCWSTR text = u"", int id = 10) {
        return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 120, 80, m_parent,
                               reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
    }
    int Notes(WORD code) const {
        int n = 0;
        for (WORD c : m_notes)
            n += c == code ? 1 : 0;
        return n;
    }
    static std::u16string Text(HWND hwnd) {
        char16_t buffer[256] = {};
        GetWindowTextW(hwnd, buffer, 256);
        return buffer;
    }

    static constexpr UINT kTray = WM_APP + 11;
    uitest::Handler m_handler;
    HWND m_parent = nullptr;
    std::vector<WORD> m_notes;
    std::vector<UINT> m_tray;
};

TEST_F(StandardControlsTest, CheckBoxesCycleTheirStatesOnClicks) {
    struct Case {
        DWORD style;
        std::vector<LRESULT> states; // after each click
    };
    const Case cases[] = {
        {BS_AUTOCHECKBOX, {BST_CHECKED, BST_UNCHECKED, BST_CHECKED}},
        {BS_AUTO3STATE, {BST_CHECKED, BST_INDETERMINATE, BST_UNCHECKED}},
        {BS_CHECKBOX, {BST_UNCHECKED, BST_UNCHECKED}}, // the program sets a plain check box itself
    };
    for (const auto& c : cases) {
        HWND box = Make(WC_BUTTONW, c.style, u"Box");
        m_notes.clear();
        for (LRESULT expected : c.states) {
            ASSERT_TRUE(platform::ui::Click(box));
            platform::ui::DrainMessages();
            EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), expected) << c.style;
        }
        EXPECT_EQ(Notes(BN_CLICKED), static_cast<int>(c.states.size()));
        // Set by the program: no notification; indeterminate only for three-state boxes.
        SendMessageW(box, BM_SETCHECK, BST_INDETERMINATE, 0);
        EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0),
                  c.style == BS_AUTO3STATE ? BST_INDETERMINATE : static_cast<LRESULT>(BST_CHECKED));
        EXPECT_EQ(Notes(BN_CLICKED), static_cast<int>(c.states.size()));
        DestroyWindow(box);
    }
    // A disabled button cannot be clicked.
    HWND push = Make(WC_BUTTONW, BS_PUSHBUTTON, u"Push");
    EnableWindow(push, FALSE);
    m_notes.clear();
    EXPECT_FALSE(platform::ui::Click(push));
    SendMessageW(push, BM_CLICK, 0, 0);
    EXPECT_EQ(Notes(BN_CLICKED), 0);
    EnableWindow(push, TRUE);
    SendMessageW(push, BM_CLICK, 0, 0);
    EXPECT_EQ(Notes(BN_CLICKED), 1);
    // Space presses a focused button.
    SetFocus(push);
    platform::ui::PressKey(push, VK_SPACE);
    platform::ui::DrainMessages();
    EXPECT_EQ(Notes(BN_CLICKED), 2);
}

TEST_F(StandardControlsTest, EditLimitPasswordSelectionAndReadOnly) {
    HWND edit = Make(WC_EDITW, ES_AUTOHSCROLL);
    SetFocus(edit);
    SendMessageW(edit, EM_LIMITTEXT, 5, 0);
    m_notes.clear();
    platform::ui::TypeText(edit, u"abcdefg");
    platform::ui::DrainMessages();
    EXPECT_EQ(Text(edit), u"abcde");
    EXPECT_EQ(Notes(EN_CHANGE), 5);
    EXPECT_EQ(Notes(EN_UPDATE), 5);
    EXPECT_EQ(Notes(EN_MAXTEXT), 2);
    EXPECT_TRUE(SendMessageW(edit, EM_GETMODIFY, 0, 0));

    DWORD start = 9, end = 9;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 5u);
    EXPECT_EQ(end, 5u);
    SendMessageW(edit, EM_SETSEL, 1, 3);
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(u"XYZW"));
    EXPECT_EQ(Text(edit), u"aXYde"); // the insertion is cut to the limit
    EXPECT_TRUE(SendMessageW(edit, EM_UNDO, 0, 0));
    EXPECT_EQ(Text(edit), u"abcde");
    SendMessageW(edit, EM_SETSEL, 0, -1);
    EXPECT_EQ(SendMessageW(edit, EM_GETSEL, 0, 0), MAKELONG(0, 5));
    platform::ui::PressKey(edit, VK_BACK);
    platform::ui::DrainMessages();
    EXPECT_EQ(Text(edit), u"");

    // The limit does not apply to a program's own text, and WM_SETTEXT notifies.
    m_notes.clear();
    SetWindowTextW(edit, u"longer than five");
    EXPECT_EQ(Text(edit), u"longer than five");
    EXPECT_EQ(Notes(EN_CHANGE), 1);

    SendMessageW(edit, EM_SETREADONLY, TRUE, 0);
    EXPECT_TRUE(GetWindowLongW(edit, GWL_STYLE) & ES_READONLY);
    platform::ui::TypeText(edit, u"x");
    platform::ui::DrainMessages();
    EXPECT_EQ(Text(edit), u"longer than five");

    HWND password = Make(WC_EDITW, ES_PASSWORD, u"secret", 11);
    EXPECT_EQ(SendMessageW(password, EM_GETPASSWORDCHAR, 0, 0), u'*');
    EXPECT_EQ(Text(password), u"secret"); // the program reads the real text
    HWND number = Make(WC_EDITW, ES_NUMBER, u"", 12);
    SetFocus(number);
    platform::ui::TypeText(number, u"1a2");
    platform::ui::DrainMessages();
    EXPECT_EQ(Text(number), u"12");
}

TEST_F(StandardControlsTest, ComboBoxItemsSelectionAndNotifications) {
    HWND combo = Make(WC_COMBOBOXW, CBS_DROPDOWNLIST);
    for (const char16_t* s : {u"Red", u"Green", u"Blue"})
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    EXPECT_EQ(SendMessageW(combo, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(u"Black")), 0);
    EXPECT_EQ(SendMessageW(combo, CB_INSERTSTRING, 9, reinterpret_cast<LPARAM>(u"x")), CB_ERR);
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(SendMessageW(combo, CB_SETITEMDATA, 2, 77), CB_OKAY);
    EXPECT_EQ(SendMessageW(combo, CB_GETITEMDATA, 2, 0), 77);
    EXPECT_EQ(SendMessageW(combo, CB_GETITEMDATA, 9, 0), CB_ERR);
    EXPECT_EQ(SendMessageW(combo, CB_FINDSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"bl")), 0);
    EXPECT_EQ(SendMessageW(combo, CB_FINDSTRING, 0, reinterpret_cast<LPARAM>(u"bl")), 3);
    EXPECT_EQ(SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"GREEN")), 2);
    EXPECT_EQ(SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"Gre")),
              CB_ERR);

    m_notes.clear();
    EXPECT_EQ(SendMessageW(combo, CB_SETCURSEL, 2, 0), 2);
    EXPECT_EQ(Text(combo), u"Green");
    EXPECT_EQ(SendMessageW(combo, CB_GETLBTEXTLEN, 2, 0), 5);
    char16_t buffer[16];
    EXPECT_EQ(SendMessageW(combo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(buffer)), 3);
    EXPECT_EQ(std::u16string(buffer), u"Red");
    EXPECT_TRUE(m_notes.empty()); // set by the program

    // The user picks from the drop-down list.
    ASSERT_TRUE(platform::ui::ChooseComboItem(combo, 3));
    platform::ui::DrainMessages();
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 3);
    EXPECT_EQ(Notes(CBN_SELCHANGE), 1);
    EXPECT_EQ(Notes(CBN_DROPDOWN), 1);
    EXPECT_EQ(Notes(CBN_CLOSEUP), 1);
    EXPECT_EQ(Notes(CBN_SELENDOK), 1);
    EXPECT_FALSE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
    // Arrow keys move the selection; the last item stays the last.
    SetFocus(combo);
    platform::ui::PressKey(combo, VK_DOWN);
    platform::ui::DrainMessages();
    EXPECT_EQ(Notes(CBN_SELCHANGE), 1);
    platform::ui::PressKey(combo, VK_UP);
    platform::ui::DrainMessages();
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(Notes(CBN_SELCHANGE), 2);

    // Deleting moves the selection with its item, or clears it.
    EXPECT_EQ(SendMessageW(combo, CB_DELETESTRING, 0, 0), 3);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(SendMessageW(combo, CB_DELETESTRING, 1, 0), 2);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(SendMessageW(combo, CB_DELETESTRING, 5, 0), CB_ERR);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(Text(combo), u"");

    HWND sorted = Make(WC_COMBOBOXW, CBS_DROPDOWNLIST | CBS_SORT, u"", 11);
    for (const char16_t* s : {u"pear", u"Apple", u"fig"})
        SendMessageW(sorted, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    EXPECT_EQ(SendMessageW(sorted, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(buffer)), 5);
    EXPECT_EQ(std::u16string(buffer), u"Apple");
    SendMessageW(sorted, CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(buffer));
    EXPECT_EQ(std::u16string(buffer), u"pear");
}

TEST_F(StandardControlsTest, ListBoxSortingClicksAndMultipleSelection) {
    HWND list = Make(WC_LISTBOXW, LBS_NOTIFY | LBS_SORT);
    for (const char16_t* s : {u"delta", u"alpha", u"charlie", u"bravo"})
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    char16_t buffer[16];
    SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(buffer));
    EXPECT_EQ(std::u16string(buffer), u"alpha");
    EXPECT_EQ(SendMessageW(list, LB_GETSELCOUNT, 0, 0), LB_ERR); // single selection
    const LRESULT height = SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
    m_notes.clear();
    ASSERT_TRUE(platform::ui::ClickAt(list, 5, static_cast<int>(height * 2 + 1)));
    platform::ui::DrainMessages();
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(Notes(LBN_SELCHANGE), 1);
    EXPECT_EQ(SendMessageW(list, LB_SETCURSEL, 7, 0), LB_ERR);
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_EQ(SendMessageW(list, LB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"BR")), 1);
    EXPECT_EQ(Notes(LBN_SELCHANGE), 1);

    HWND multi = Make(WC_LISTBOXW, LBS_NOTIFY | LBS_MULTIPLESEL, u"", 11);
    for (const char16_t* s : {u"one", u"two", u"three"})
        SendMessageW(multi, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    EXPECT_EQ(SendMessageW(multi, LB_SETCURSEL, 0, 0), LB_ERR);
    SendMessageW(multi, LB_SETSEL, TRUE, 0);
    ASSERT_TRUE(platform::ui::ClickAt(multi, 5, static_cast<int>(height * 2 + 1)));
    platform::ui::DrainMessages();
    EXPECT_EQ(SendMessageW(multi, LB_GETSELCOUNT, 0, 0), 2);
    int items[4] = {};
    EXPECT_EQ(SendMessageW(multi, LB_GETSELITEMS, 4, reinterpret_cast<LPARAM>(items)), 2);
    EXPECT_EQ(items[0], 0);
    EXPECT_EQ(items[1], 2);
    ASSERT_TRUE(platform::ui::ClickAt(multi, 5, 1)); // clicking a selected item unselects it
    platform::ui::DrainMessages();
    EXPECT_EQ(SendMessageW(multi, LB_GETSEL, 0, 0), 0);
    EXPECT_EQ(SendMessageW(multi, LB_GETSEL, 9, 0), LB_ERR);
}

TEST_F(StandardControlsTest, TrayIconsKeepTheirDataAndCallBackTheirWindow) {
    NOTIFYICONDATAW nid{};
    nid.cbSize = NOTIFYICONDATAW_V2_SIZE;
    nid.hWnd = m_parent;
    nid.uID = 1;
    nid.uFlags = NIF_MESSAGE | NIF_TIP;
    nid.uCallbackMessage = kTray;
    std::u16string(u"Backup").copy(nid.szTip, 6);
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &nid));
    EXPECT_FALSE(Shell_NotifyIconW(NIM_ADD, &nid)); // already there
    nid.uFlags = NIF_ICON;
    nid.hIcon = reinterpret_cast<HICON>(static_cast<intptr_t>(0x1234));
    ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &nid));
    platform::ui::TrayIcon icon;
    ASSERT_TRUE(platform::ui::FindTrayIcon(m_parent, 1, &icon));
    EXPECT_EQ(icon.tip, u"Backup");
    EXPECT_EQ(icon.icon, nid.hIcon);
    EXPECT_EQ(icon.callbackMessage, kTray);

    for (UINT mouse : {WM_LBUTTONDBLCLK, WM_RBUTTONDOWN})
        EXPECT_TRUE(platform::ui::SendTrayMessage(m_parent, 1, mouse));
    EXPECT_EQ(m_tray, (std::vector<UINT>{WM_LBUTTONDBLCLK, WM_RBUTTONDOWN}));
    EXPECT_FALSE(platform::ui::SendTrayMessage(m_parent, 2, WM_LBUTTONDOWN));

    // A restarted shell has lost the icon: modifying fails until it is added again.
    platform::ui::ResetTray();
    EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &nid));
    EXPECT_TRUE(Shell_NotifyIconW(NIM_ADD, &nid));
    EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &nid));
    EXPECT_FALSE(Shell_NotifyIconW(NIM_DELETE, &nid));
    EXPECT_TRUE(platform::ui::TrayIcons().empty());

    // The old record size keeps 64 characters of the tip.
    nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
    nid.uFlags = NIF_TIP;
    std::u16string(100, u'x').copy(nid.szTip, 100);
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &nid));
    ASSERT_TRUE(platform::ui::FindTrayIcon(m_parent, 1, &icon));
    EXPECT_EQ(icon.tip.size(), 63u);
}

TEST_F(StandardControlsTest, FileDialogsAndTheFolderBrowserTakeTheHooksChoice) {
    const testsupport::ScratchDrive drive(m_machine);
    const std::u16string dir = u"T:\\dlgtest";
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    HANDLE h = CreateFileW((dir + u"\\old.log").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);

    char16_t file[260] = u"*.log";
    char16_t title[64] = {};
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_parent;
    ofn.lpstrFilter = u"Log Files(*.log)\0*.log\0All\0*.*\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = 260;
    ofn.lpstrFileTitle = title;
    ofn.nMaxFileTitle = 64;
    ofn.lpstrDefExt = u"log";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    {
        uitest::PromptScript script;
        script.Expect(platform::ui::PromptKind::SaveFile, u"Save As", platform::ui::PromptReply::Path(dir + u"\\old"))
            .Expect(platform::ui::PromptKind::MessageBox, u"already exists", IDNO)
            .Expect(platform::ui::PromptKind::SaveFile, u"already exists",
                    platform::ui::PromptReply::Path(dir + u"\\new"));
        ASSERT_TRUE(GetSaveFileNameW(&ofn));
        EXPECT_EQ(std::u16string(file), dir + u"\\new.log");
        EXPECT_EQ(std::u16string(title), u"new.log");
        EXPECT_EQ(ofn.nFileOffset, dir.size() + 1);
        EXPECT_EQ(std::u16string(file + ofn.nFileExtension), u"log");
        const auto seen = script.Seen();
        EXPECT_EQ(seen[0].filters.size(), 2u);
        EXPECT_EQ(seen[0].fileName, u"*.log");
    }
    {
        uitest::PromptScript script;
        ofn.Flags = OFN_FILEMUSTEXIST;
        script.Expect(platform::ui::PromptKind::OpenFile, u"Open", platform::ui::PromptReply::Path(dir + u"\\none.log"))
            .Expect(platform::ui::PromptKind::OpenFile, u"File not found", IDCANCEL);
        EXPECT_FALSE(GetOpenFileNameW(&ofn));
        EXPECT_EQ(CommDlgExtendedError(), 0u);
    }
    {
        // Without a hook a file dialog is cancelled; a small buffer fails with its own error.
        EXPECT_FALSE(GetOpenFileNameW(&ofn));
        platform::ui::ScopedPromptHook hook(
            [&](const platform::ui::PromptInfo&) { return platform::ui::PromptReply::Path(dir + u"\\old.log"); });
        ofn.nMaxFile = 5;
        EXPECT_FALSE(GetOpenFileNameW(&ofn));
        EXPECT_EQ(CommDlgExtendedError(), FNERR_BUFFERTOOSMALL);
    }

    // The folder browser: the callback sees the start and every selection, and sets the status text.
    std::vector<UINT> events;
    std::vector<std::u16string> selections;
    platform::ui::FolderBrowserRequest request;
    request.owner = m_parent;
    request.title = u"Current folder is:";
    request.flags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    request.callback = [&](HWND hwnd, UINT msg, const std::u16string& path) {
        events.push_back(msg);
        if (msg == BFFM_INITIALIZED)
            SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(u"T:\\"));
        if (msg == BFFM_SELCHANGED) {
            selections.push_back(path);
            SendMessageW(hwnd, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path.c_str()));
        }
    };
    uitest::PromptScript script;
    script.Expect(platform::ui::PromptKind::BrowseFolder, u"Current folder", platform::ui::PromptReply::Path(dir));
    EXPECT_EQ(platform::ui::RunFolderBrowser(request), dir);
    EXPECT_EQ(events, (std::vector<UINT>{BFFM_INITIALIZED, BFFM_SELCHANGED, BFFM_SELCHANGED}));
    EXPECT_EQ(selections, (std::vector<std::u16string>{u"T:\\", dir}));
    EXPECT_EQ(script.Seen()[0].status, u"T:\\"); // the hook saw the browser as the callback left it
}

} // namespace
