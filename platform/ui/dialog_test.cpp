#include "platform/ui/dialog.h"

#include "platform/base/module.h"
#include "platform/fs/paths.h"

#include "platform/gdi/wingdi.h"
#include "platform/ui/input.h"
#include "platform/ui/menu.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/paint.h"
#include "platform/ui/prompt_test_support.h"
#include "platform/ui/testdata/dialog_test_ids.h"
#include "platform/ui/ui_test_support.h"

#include <gtest/gtest-spi.h>

#include <sys/stat.h>

#include <map>
#include <thread>
#include <vector>

namespace {

using uitest::Eventually;

// What a test dialog procedure saw.
struct Recorder {
    std::vector<std::pair<int, int>> commands; // (id, code)
    LPARAM initParam = 0;
    HWND initFocus = nullptr;
    std::function<bool(HWND, int, int)> onCommand; // returns true when it handled the command
};

INT_PTR CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        auto* r = reinterpret_cast<Recorder*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        r->initParam = lParam;
        r->initFocus = reinterpret_cast<HWND>(wParam);
        return TRUE;
    }
    auto* r = reinterpret_cast<Recorder*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!r)
        return FALSE;
    if (msg == WM_COMMAND) {
        const int id = LOWORD(wParam), code = HIWORD(wParam);
        r->commands.emplace_back(id, code);
        if (r->onCommand && r->onCommand(hwnd, id, code))
            return TRUE;
        return TRUE;
    }
    return FALSE;
}

int Count(const Recorder& r, int id, int code) {
    int n = 0;
    for (auto [i, c] : r.commands)
        n += (i == id && c == code) ? 1 : 0;
    return n;
}

std::u16string Text(HWND hwnd) {
    char16_t buffer[512] = {};
    GetWindowTextW(hwnd, buffer, 512);
    return buffer;
}

// The test dialogs live in a resource library of their own.
HINSTANCE g_dialogs = nullptr;

class DialogTest : public uitest::UiTest {
protected:
    DialogTest() {
        platform::fs::DriveInfo drive;
        drive.letter = u'T';
        drive.hostRoot = UI_TEST_DIALOG_DIR;
        EXPECT_TRUE(platform::fs::SetDrive(drive));
        m_library = LoadLibraryW(u"T:\\dialog_test.dll");
        EXPECT_NE(m_library, nullptr);
        g_dialogs = m_library;
    }
    ~DialogTest() override {
        g_dialogs = nullptr;
        if (m_library)
            FreeLibrary(m_library);
    }
    HMODULE m_library = nullptr;

    HWND Open(Recorder& r) {
        HWND dlg = CreateDialogParamW(g_dialogs, MAKEINTRESOURCEW(IDD_CONTROLS), nullptr, RecordingProc,
                                      reinterpret_cast<LPARAM>(&r));
        EXPECT_NE(dlg, nullptr);
        return dlg;
    }
    HWND Item(HWND dlg, int id) { return GetDlgItem(dlg, id); }
};

TEST_F(DialogTest, BuildsTheTemplateWithItsControlsInTabOrder) {
    Recorder r;
    HWND dlg = Open(r);
    ASSERT_TRUE(dlg);
    EXPECT_EQ(r.initParam, reinterpret_cast<LPARAM>(&r));
    EXPECT_EQ(r.initFocus, Item(dlg, IDC_NAME)); // the first tab stop
    EXPECT_EQ(GetFocus(), Item(dlg, IDC_NAME));
    EXPECT_EQ(Text(dlg), u"Controls");
    EXPECT_FALSE(IsWindowVisible(dlg)); // the template is not WS_VISIBLE

    const std::map<int, std::u16string> classes = {
        {IDC_NAME, u"Edit"},    {IDC_TWOSTATE, u"Button"}, {IDC_CHOICE, u"ComboBox"},
        {IDC_LIST, u"ListBox"}, {IDC_FRAME, u"Static"},    {IDOK, u"Button"},
    };
    for (auto [id, cls] : classes) {
        char16_t name[32] = {};
        GetClassNameW(Item(dlg, id), name, 32);
        EXPECT_EQ(std::u16string(name), cls) << id;
    }
    char16_t dialogClass[32] = {};
    GetClassNameW(dlg, dialogClass, 32);
    EXPECT_EQ(std::u16string(dialogClass), u"#32770");
    EXPECT_EQ(SendMessageW(dlg, DM_GETDEFID, 0, 0), MAKELONG(IDOK, DC_HASDEFID));

    // Dialog units map to pixels by the dialog font's base units.
    RECT r1{4, 8, 8, 16};
    ASSERT_TRUE(MapDialogRect(dlg, &r1));
    EXPECT_EQ(r1.left, LOWORD(GetDialogBaseUnits()));
    EXPECT_EQ(r1.top, HIWORD(GetDialogBaseUnits()));
    RECT item;
    GetWindowRect(Item(dlg, IDC_NAME), &item);
    EXPECT_EQ(item.right - item.left, 120 * LOWORD(GetDialogBaseUnits()) / 4);
    DestroyWindow(dlg);

    // A template that is not there.
    SetLastError(0);
    EXPECT_EQ(CreateDialogParamW(g_dialogs, MAKEINTRESOURCEW(999), nullptr, RecordingProc, 0), nullptr);
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_EQ(DialogBoxParamW(g_dialogs, MAKEINTRESOURCEW(999), nullptr, RecordingProc, 0), -1);
}

TEST_F(DialogTest, TabAndShiftTabWalkTheTabStopsAndWrap) {
    Recorder r;
    HWND dlg = Open(r);
    ASSERT_TRUE(dlg);
    ShowWindow(dlg, SW_SHOW);
    const std::vector<int> order = {IDC_PASSWORD, IDC_TWOSTATE, IDC_THREESTATE, IDC_FIRST, IDC_CHOICE, IDC_LIST,
                                    IDC_NOTES,    IDC_ASK,      IDOK,           IDCANCEL,  IDC_NAME};
    for (int id : order) {
        platform::ui::PressKey(dlg, VK_TAB);
        platform::ui::DrainMessages(dlg);
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), id);
    }
    platform::ui::PressKey(dlg, VK_TAB, platform::ui::kShift);
    platform::ui::DrainMessages(dlg);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDCANCEL);
    EXPECT_GE(GetKeyState(VK_SHIFT), 0); // released again

    // A disabled control is skipped.
    EnableWindow(Item(dlg, IDC_PASSWORD), FALSE);
    SetFocus(Item(dlg, IDC_NAME));
    platform::ui::PressKey(dlg, VK_TAB);
    platform::ui::DrainMessages(dlg);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_TWOSTATE);

    // Arrow keys move inside the radio group and click the automatic radio buttons they reach.
    SetFocus(Item(dlg, IDC_FIRST));
    platform::ui::PressKey(dlg, VK_DOWN);
    platform::ui::DrainMessages(dlg);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_SECOND);
    EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_SECOND), BST_CHECKED);
    platform::ui::PressKey(dlg, VK_UP);
    platform::ui::DrainMessages(dlg);
    platform::ui::PressKey(dlg, VK_UP); // wraps to the last of the group
    platform::ui::DrainMessages(dlg);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_THIRD);
    EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_THIRD), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_SECOND), BST_UNCHECKED);
    // The checked radio button is now the group's tab stop.
    EXPECT_TRUE(GetWindowLongW(Item(dlg, IDC_THIRD), GWL_STYLE) & WS_TABSTOP);
    EXPECT_FALSE(GetWindowLongW(Item(dlg, IDC_FIRST), GWL_STYLE) & WS_TABSTOP);
    DestroyWindow(dlg);
}

TEST_F(DialogTest, MnemonicsClickButtonsAndLeadFromLabelsToTheirControls) {
    Recorder r;
    HWND dlg = CreateDialogParamW(g_dialogs, MAKEINTRESOURCEW(IDD_MNEMONICS), nullptr, RecordingProc,
                                  reinterpret_cast<LPARAM>(&r));
    ASSERT_NE(dlg, nullptr);
    ShowWindow(dlg, SW_SHOW);
    using platform::ui::kAlt;
    auto press = [&](int key, UINT modifiers) {
        platform::ui::PressKey(dlg, key, modifiers);
        platform::ui::DrainMessages(dlg);
    };
    SetFocus(Item(dlg, IDC_NAME));
    // Alt and a letter clicks the button that has it, whatever has the focus.
    press('A', kAlt);
    EXPECT_EQ(Count(r, IDC_ASK, BN_CLICKED), 1);
    EXPECT_EQ(GetFocus(), Item(dlg, IDC_ASK));
    // A plain letter does the same where the focused control takes no characters; "&&" is no mnemonic.
    press('K', 0);
    EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_TWOSTATE), BST_CHECKED);
    press('C', 0);
    EXPECT_EQ(Count(r, IDC_CHIPS, BN_CLICKED), 1);
    // A label hands the focus to the control after it; in an edit control, letters are typed.
    press('N', kAlt);
    EXPECT_EQ(GetFocus(), Item(dlg, IDC_NAME));
    press('A', 0);
    EXPECT_EQ(Text(Item(dlg, IDC_NAME)), u"a");
    EXPECT_EQ(Count(r, IDC_ASK, BN_CLICKED), 1);
    // A label without prefixes has no mnemonic; two buttons of one mnemonic take the focus in turn, unclicked.
    press('P', kAlt);
    EXPECT_EQ(GetFocus(), Item(dlg, IDC_NAME));
    press('G', kAlt);
    EXPECT_EQ(GetFocus(), Item(dlg, IDC_GO));
    press('G', kAlt);
    EXPECT_EQ(GetFocus(), Item(dlg, IDC_GET));
    EXPECT_EQ(Count(r, IDC_GO, BN_CLICKED) + Count(r, IDC_GET, BN_CLICKED), 0);
    DestroyWindow(dlg);
}

TEST_F(DialogTest, EnterAndEscapeGoToTheDefaultButtonAndCancel) {
    Recorder r;
    HWND dlg = Open(r);
    ASSERT_TRUE(dlg);
    ShowWindow(dlg, SW_SHOW);

    // In an edit: Enter is the default button, Escape is Cancel; their characters are not typed.
    platform::ui::PressKey(dlg, VK_RETURN);
    platform::ui::PressKey(dlg, VK_ESCAPE);
    platform::ui::DrainMessages(dlg);
    EXPECT_EQ(Count(r, IDOK, BN_CLICKED), 1);
    EXPECT_EQ(Count(r, IDCANCEL, BN_CLICKED), 1);
    EXPECT_EQ(Text(Item(dlg, IDC_NAME)), u"");

    // A push button with the focus is what Enter clicks, and it shows as the default meanwhile.
    SendMessageW(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(dlg, IDC_ASK)), TRUE);
    EXPECT_EQ(GetWindowLongW(Item(dlg, IDC_ASK), GWL_STYLE) & BS_TYPEMASK, static_cast<LONG>(BS_DEFPUSHBUTTON));
    EXPECT_EQ(GetWindowLongW(Item(dlg, IDOK), GWL_STYLE) & BS_TYPEMASK, static_cast<LONG>(BS_PUSHBUTTON));
    platform::ui::PressKey(dlg, VK_RETURN);
    platform::ui::DrainMessages(dlg);
    EXPECT_EQ(Count(r, IDC_ASK, BN_CLICKED), 1);
    EXPECT_EQ(Count(r, IDOK, BN_CLICKED), 1);
    // Leaving it gives the default look back to the dialog's default button.
    SendMessageW(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(dlg, IDC_NAME)), TRUE);
    EXPECT_EQ(GetWindowLongW(Item(dlg, IDOK), GWL_STYLE) & BS_TYPEMASK, static_cast<LONG>(BS_DEFPUSHBUTTON));

    // DM_SETDEFID moves the default; a disabled default button makes Enter do nothing.
    SendMessageW(dlg, DM_SETDEFID, IDCANCEL, 0);
    EXPECT_EQ(SendMessageW(dlg, DM_GETDEFID, 0, 0), MAKELONG(IDCANCEL, DC_HASDEFID));
    EXPECT_EQ(GetWindowLongW(Item(dlg, IDCANCEL), GWL_STYLE) & BS_TYPEMASK, static_cast<LONG>(BS_DEFPUSHBUTTON));
    EXPECT_EQ(GetWindowLongW(Item(dlg, IDOK), GWL_STYLE) & BS_TYPEMASK, static_cast<LONG>(BS_PUSHBUTTON));
    platform::ui::PressKey(dlg, VK_RETURN);
    platform::ui::DrainMessages(dlg);
    EXPECT_EQ(Count(r, IDCANCEL, BN_CLICKED), 2);
    EnableWindow(Item(dlg, IDCANCEL), FALSE);
    platform::ui::PressKey(dlg, VK_RETURN);
    platform::ui::PressKey(dlg, VK_ESCAPE);
    platform::ui::DrainMessages(dlg);
    EXPECT_EQ(Count(r, IDCANCEL, BN_CLICKED), 2);

    // A multi-line edit that wants Enter gets a new line instead.
    SetFocus(Item(dlg, IDC_NOTES));
    platform::ui::TypeText(dlg, u"a");
    platform::ui::PressKey(dlg, VK_RETURN);
    platform::ui::DrainMessages(dlg);
    platform::ui::TypeText(dlg, u"b");
    platform::ui::DrainMessages(dlg);
    EXPECT_EQ(Text(Item(dlg, IDC_NOTES)), u"a\r\nb");
    EXPECT_EQ(SendDlgItemMessageW(dlg, IDC_NOTES, EM_GETLINECOUNT, 0, 0), 2);
    EXPECT_EQ(Count(r, IDCANCEL, BN_CLICKED) + Count(r, IDOK, BN_CLICKED), 3);

    // WM_CLOSE asks for Cancel only while the Cancel button can be pressed.
    const size_t before = r.commands.size();
    SendMessageW(dlg, WM_CLOSE, 0, 0);
    platform::ui::DrainMessages(dlg);
    EXPECT_EQ(r.commands.size(), before);
    EnableWindow(Item(dlg, IDCANCEL), TRUE);
    SendMessageW(dlg, WM_CLOSE, 0, 0);
    platform::ui::DrainMessages(dlg);
    EXPECT_EQ(Count(r, IDCANCEL, BN_CLICKED), 3);
    DestroyWindow(dlg);
}

// The test thread runs the dialog modally; a driver thread acts as the user.
TEST_F(DialogTest, ModalDialogDrivenByInputEndsWithItsResult) {
    Recorder r;
    std::u16string name;
    UINT twoState = 0, threeState = 0;
    int choice = -1;
    r.onCommand = [&](HWND dlg, int id, int code) {
        if (id == IDC_CHOICE && code == CBN_SELCHANGE)
            choice = static_cast<int>(SendDlgItemMessageW(dlg, IDC_CHOICE, CB_GETCURSEL, 0, 0));
        if (id == IDOK && code == BN_CLICKED) {
            name = Text(GetDlgItem(dlg, IDC_NAME));
            twoState = IsDlgButtonChecked(dlg, IDC_TWOSTATE);
            threeState = IsDlgButtonChecked(dlg, IDC_THREESTATE);
            EndDialog(dlg, 42);
        }
        return true;
    };
    uitest::Handler ownerHandler;
    HWND owner = uitest::MakeWindow(&ownerHandler);
    ASSERT_TRUE(owner);

    std::atomic<HWND> seen{nullptr};
    std::thread user([&] {
        HWND dlg = nullptr;
        ASSERT_TRUE(Eventually([&] {
            dlg = FindWindowW(u"#32770", u"Controls");
            return dlg && IsWindowVisible(dlg);
        }));
        seen = dlg;
        EXPECT_FALSE(IsWindowEnabled(owner)); // the owner is disabled while the dialog runs
        platform::ui::TypeText(dlg, u"Alice");
        platform::ui::Click(GetDlgItem(dlg, IDC_TWOSTATE));
        platform::ui::Click(GetDlgItem(dlg, IDC_THREESTATE));
        platform::ui::Click(GetDlgItem(dlg, IDC_THREESTATE));
        platform::ui::ChooseComboItem(GetDlgItem(dlg, IDC_CHOICE), 1);
        platform::ui::PressKey(dlg, VK_RETURN); // the combo box has the focus now: the default button
    });
    r.onCommand = [&, inner = r.onCommand](HWND dlg, int id, int code) {
        if (id == 0 && code == 0)
            return true;
        return inner(dlg, id, code);
    };
    // Fill the combo box as the dialog starts.
    struct Init {
        static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
            if (msg == WM_INITDIALOG) {
                for (const char16_t* s : {u"zero", u"one", u"two"})
                    SendDlgItemMessageW(hwnd, IDC_CHOICE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
            }
            return RecordingProc(hwnd, msg, wParam, lParam);
        }
    };
    const INT_PTR result =
        DialogBoxParamW(g_dialogs, MAKEINTRESOURCEW(IDD_CONTROLS), owner, Init::Proc, reinterpret_cast<LPARAM>(&r));
    user.join();
    EXPECT_EQ(result, 42);
    EXPECT_EQ(name, u"Alice");
    EXPECT_EQ(twoState, BST_CHECKED);
    EXPECT_EQ(threeState, BST_INDETERMINATE);
    EXPECT_EQ(choice, 1);
    EXPECT_FALSE(IsWindow(seen.load())); // destroyed after the loop
    EXPECT_TRUE(IsWindowEnabled(owner));
    DestroyWindow(owner);
}

TEST_F(DialogTest, EndDialogDuringInitialisationSkipsTheLoopAndModelessEndOnlyHides) {
    struct Early {
        static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM, LPARAM) {
            if (msg == WM_INITDIALOG) {
                EndDialog(hwnd, 7);
                return TRUE;
            }
            return FALSE;
        }
    };
    EXPECT_EQ(DialogBoxParamW(g_dialogs, MAKEINTRESOURCEW(IDD_CONTROLS), nullptr, Early::Proc, 0), 7);

    Recorder r;
    HWND dlg = Open(r);
    ShowWindow(dlg, SW_SHOW);
    ASSERT_TRUE(EndDialog(dlg, 5));
    EXPECT_TRUE(IsWindow(dlg));
    EXPECT_FALSE(IsWindowVisible(dlg));
    INT_PTR result = 0;
    EXPECT_TRUE(platform::ui::DialogEnded(dlg, &result));
    EXPECT_EQ(result, 5);
    DestroyWindow(dlg);
    EXPECT_FALSE(EndDialog(dlg, 1));
}

TEST_F(DialogTest, DialogItemHelpers) {
    Recorder r;
    HWND dlg = Open(r);
    ASSERT_TRUE(dlg);
    struct Case {
        std::u16string text;
        BOOL isSigned;
        BOOL ok;
        UINT value;
    };
    const Case cases[] = {
        {u"42", FALSE, TRUE, 42},
        {u"  17  ", FALSE, TRUE, 17},
        {u"-5", TRUE, TRUE, static_cast<UINT>(-5)},
        {u"-5", FALSE, FALSE, 0},
        {u"12a", FALSE, FALSE, 0},
        {u"", FALSE, FALSE, 0},
        {u"4294967295", FALSE, TRUE, 4294967295u},
        {u"4294967296", FALSE, FALSE, 0},
        {u"2147483648", TRUE, FALSE, 0},
        {u"-2147483648", TRUE, TRUE, 0x80000000u},
    };
    for (const auto& c : cases) {
        SetDlgItemTextW(dlg, IDC_NAME, c.text.c_str());
        BOOL ok = 2;
        const UINT v = GetDlgItemInt(dlg, IDC_NAME, &ok, c.isSigned);
        EXPECT_EQ(ok, c.ok) << platform::Utf16ToUtf8(c.text);
        if (c.ok) {
            EXPECT_EQ(v, c.value) << platform::Utf16ToUtf8(c.text);
        }
    }
    SetDlgItemInt(dlg, IDC_NAME, static_cast<UINT>(-12), TRUE);
    EXPECT_EQ(Text(GetDlgItem(dlg, IDC_NAME)), u"-12");
    char16_t buffer[8];
    EXPECT_EQ(GetDlgItemTextW(dlg, IDC_NAME, buffer, 8), 3u);
    EXPECT_EQ(GetDlgItemTextW(dlg, 4242, buffer, 8), 0u);
    EXPECT_EQ(buffer[0], 0);

    EXPECT_TRUE(CheckRadioButton(dlg, IDC_FIRST, IDC_THIRD, IDC_SECOND));
    EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_FIRST), BST_UNCHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_SECOND), BST_CHECKED);
    EXPECT_TRUE(CheckDlgButton(dlg, IDC_TWOSTATE, BST_CHECKED));
    EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_TWOSTATE), BST_CHECKED);
    EXPECT_FALSE(CheckDlgButton(dlg, 4242, BST_CHECKED));
    // Set by the program: the buttons do not notify (the edit does, for its text).
    EXPECT_EQ(Count(r, IDC_FIRST, BN_CLICKED) + Count(r, IDC_SECOND, BN_CLICKED) + Count(r, IDC_TWOSTATE, BN_CLICKED),
              0);
    EXPECT_GT(Count(r, IDC_NAME, EN_CHANGE), 0);
    DestroyWindow(dlg);
}

TEST_F(DialogTest, MessageBoxIsAnsweredByTheHookOrTakesItsDefault) {
    {
        uitest::PromptScript script;
        script.Expect(platform::ui::PromptKind::MessageBox, u"Delete", IDNO);
        EXPECT_EQ(MessageBoxW(nullptr, u"Delete the file?", u"Title", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2),
                  IDNO);
        const auto seen = script.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].caption, u"Title");
        EXPECT_EQ(seen[0].buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_EQ(seen[0].defaultButton, IDNO);
        EXPECT_EQ(seen[0].style & MB_ICONMASK, MB_ICONQUESTION);
        EXPECT_FALSE(IsWindow(seen[0].window)); // gone once answered
    }
    // Without a hook the default button is taken.
    EXPECT_EQ(MessageBoxW(nullptr, u"Retry?", nullptr, MB_ABORTRETRYIGNORE | MB_DEFBUTTON3), IDIGNORE);
    EXPECT_EQ(MessageBoxW(nullptr, u"Done", nullptr, MB_OK), IDOK);
    {
        // An answer that is not one of the buttons is not taken.
        platform::ui::ScopedPromptHook hook([](const platform::ui::PromptInfo&) { return IDRETRY; });
        EXPECT_EQ(MessageBoxW(nullptr, u"x", u"y", MB_YESNOCANCEL), IDYES);
    }
    // The box can also run as a real dialog: here a click on its No button ends it.
    {
        platform::ui::ScopedPromptHook hook([](const platform::ui::PromptInfo& info) {
            EXPECT_TRUE(platform::ui::Click(GetDlgItem(info.window, IDNO)));
            return platform::ui::PromptReply(platform::ui::PromptReply::kRunModal);
        });
        EXPECT_EQ(MessageBoxW(nullptr, u"Question", u"Box", MB_YESNOCANCEL), IDNO);
    }
    // WM_CLOSE ends a box with Cancel as Cancel, one with only OK as OK.
    for (auto [type, expected] : {std::pair{MB_OKCANCEL, IDCANCEL}, std::pair{MB_OK, IDOK}}) {
        platform::ui::ScopedPromptHook hook([](const platform::ui::PromptInfo& info) {
            PostMessageW(info.window, WM_CLOSE, 0, 0);
            return platform::ui::PromptReply(platform::ui::PromptReply::kRunModal);
        });
        EXPECT_EQ(MessageBoxW(nullptr, u"Close me", u"Box", type), expected);
    }
}

TEST_F(DialogTest, SavesAPictureWhereTheControlsShow) {
    Recorder r;
    HWND dlg = Open(r);
    ASSERT_TRUE(dlg);
    SetDlgItemTextW(dlg, IDC_NAME, u"Alice");
    SetDlgItemTextW(dlg, IDC_PASSWORD, u"secret");
    CheckDlgButton(dlg, IDC_TWOSTATE, BST_CHECKED);
    CheckDlgButton(dlg, IDC_THREESTATE, BST_INDETERMINATE);
    CheckRadioButton(dlg, IDC_FIRST, IDC_THIRD, IDC_SECOND);
    for (const char16_t* s : {u"zero", u"one"})
        SendDlgItemMessageW(dlg, IDC_CHOICE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    SendDlgItemMessageW(dlg, IDC_CHOICE, CB_SETCURSEL, 1, 0);
    for (const char16_t* s : {u"delta", u"alpha", u"charlie"})
        SendDlgItemMessageW(dlg, IDC_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    SendDlgItemMessageW(dlg, IDC_LIST, LB_SETCURSEL, 1, 0);
    SetDlgItemTextW(dlg, IDC_NOTES, u"First line\r\nSecond line");
    ShowWindow(dlg, SW_SHOW);

    const testsupport::ScratchDrive pictures(m_machine, u'P', "pictures");
    const std::string host = pictures.Root();
    ASSERT_TRUE(platform::ui::SaveWindowPng(dlg, u"P:\\controls.png"));
    struct stat st {};
    ASSERT_EQ(::stat((host + "/controls.png").c_str(), &st), 0);
    EXPECT_GT(st.st_size, 1000);
    if (const char* keep = std::getenv("UI_TEST_KEEP_PNG"))
        ::system((std::string("cp ") + host + "/controls.png " + keep).c_str());

    // The text of the edit and of the label are drawn: their areas are not all background.
    for (int id : {IDC_NAME, IDC_LABEL, IDOK}) {
        HWND item = GetDlgItem(dlg, id);
        HDC dc = GetDC(item);
        RECT rc;
        GetClientRect(item, &rc);
        const COLORREF background = GetPixel(dc, rc.right - 2, rc.bottom / 2);
        int differing = 0;
        for (int x = 0; x < rc.right; ++x)
            for (int y = 0; y < rc.bottom; ++y)
                differing += GetPixel(dc, x, y) != background ? 1 : 0;
        ReleaseDC(item, dc);
        EXPECT_GT(differing, 20) << id;
    }
    DestroyWindow(dlg);
    EXPECT_FALSE(platform::ui::SaveWindowPng(dlg, u"P:\\gone.png"));
}

TEST_F(DialogTest, AnUnexpectedPromptFailsTheTest) {
    EXPECT_NONFATAL_FAILURE(
        {
            uitest::PromptScript script;
            MessageBoxW(nullptr, u"Surprise", u"Box", MB_OK);
        },
        "unexpected prompt");
    EXPECT_NONFATAL_FAILURE(
        {
            uitest::PromptScript script;
            script.Expect(platform::ui::PromptKind::MessageBox, u"never", IDOK);
        },
        "did not appear");
}

// The pixel of a window's own painting, in client coordinates.
COLORREF ClientPixel(HWND hwnd, int x, int y) {
    HDC dc = GetDC(hwnd);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(hwnd, dc);
    return c;
}

TEST_F(DialogTest, ImageStaticsAndTheMenuComeFromTheTemplatesModule) {
    // Neither the images nor the menus are in the test program; only the dialogs' library holds them.
    EXPECT_EQ(LoadImageW(nullptr, u"#503", IMAGE_ICON, 0, 0, 0), nullptr);
    EXPECT_EQ(LoadMenuW(nullptr, MAKEINTRESOURCEW(IDR_IMAGES_MENU)), nullptr);

    Recorder r;
    HWND dlg = CreateDialogParamW(g_dialogs, MAKEINTRESOURCEW(IDD_IMAGES), nullptr, RecordingProc,
                                  reinterpret_cast<LPARAM>(&r));
    ASSERT_NE(dlg, nullptr);
    UpdateWindow(dlg);
    struct Case {
        int id;
        UINT kind; // IMAGE_ICON or IMAGE_BITMAP; the other kind must answer null
        bool loaded;
        int width, height; // the control's size afterwards (0: as the template gave it)
    };
    const Case cases[] = {
        {IDC_ICON_NUMBER, IMAGE_ICON, true, 32, 32},  {IDC_ICON_NAME, IMAGE_ICON, true, 32, 32},
        {IDC_ICON_ORDINAL, IMAGE_ICON, true, 32, 32}, {IDC_BITMAP_NUMBER, IMAGE_BITMAP, true, 3, 2},
        {IDC_BITMAP_NAME, IMAGE_BITMAP, true, 0, 0},  {IDC_BITMAP_CENTERED, IMAGE_BITMAP, true, 0, 0},
        {IDC_ICON_MISSING, IMAGE_ICON, false, 0, 0},  {IDC_BITMAP_MISSING, IMAGE_BITMAP, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        HWND item = GetDlgItem(dlg, c.id);
        ASSERT_NE(item, nullptr);
        const auto image = reinterpret_cast<HANDLE>(SendMessageW(item, STM_GETIMAGE, c.kind, 0));
        EXPECT_EQ(image != nullptr, c.loaded);
        EXPECT_EQ(SendMessageW(item, STM_GETIMAGE, c.kind == IMAGE_ICON ? IMAGE_BITMAP : IMAGE_ICON, 0), 0);
        RECT rc{};
        GetClientRect(item, &rc);
        if (c.width) {
            EXPECT_EQ(rc.right, c.width);
            EXPECT_EQ(rc.bottom, c.height);
        } else {
            EXPECT_GT(rc.right, 10); // the template's size is kept
        }
        if (c.kind == IMAGE_BITMAP && image) {
            BITMAP bm{};
            ASSERT_TRUE(GetObjectW(image, sizeof bm, &bm));
            EXPECT_EQ(bm.bmWidth, 3);
        }
    }
    // Icons are shared: the same name in the same module is one icon.
    EXPECT_EQ(SendMessageW(GetDlgItem(dlg, IDC_ICON_NUMBER), STM_GETICON, 0, 0),
              SendMessageW(GetDlgItem(dlg, IDC_ICON_ORDINAL), STM_GETICON, 0, 0));

    // Names compare without regard to case: the control's icon is the library's shared "SQUARE".
    EXPECT_EQ(
        SendMessageW(GetDlgItem(dlg, IDC_ICON_NAME), STM_GETICON, 0, 0),
        reinterpret_cast<LRESULT>(LoadImageW(g_dialogs, u"Square", IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE)));

    // The pictures: the icon's red square (16 of its 32 pixels at the default size), the bitmap at the corner,
    // stretched over the control, or centred in it.
    constexpr COLORREF kRed = RGB(255, 0, 0), kBlue = RGB(0, 0, 255);
    HWND icon = GetDlgItem(dlg, IDC_ICON_NUMBER);
    EXPECT_EQ(ClientPixel(icon, 16, 16), kRed);
    EXPECT_NE(ClientPixel(icon, 2, 2), kRed);
    HWND bitmap = GetDlgItem(dlg, IDC_BITMAP_NUMBER);
    EXPECT_EQ(ClientPixel(bitmap, 0, 0), kRed);
    EXPECT_EQ(ClientPixel(bitmap, 2, 0), kBlue);
    HWND stretched = GetDlgItem(dlg, IDC_BITMAP_NAME);
    RECT sr{};
    GetClientRect(stretched, &sr);
    EXPECT_EQ(ClientPixel(stretched, 0, 0), kRed);
    EXPECT_EQ(ClientPixel(stretched, sr.right - 1, 0), kBlue);
    HWND centred = GetDlgItem(dlg, IDC_BITMAP_CENTERED);
    RECT cr{};
    GetClientRect(centred, &cr);
    EXPECT_NE(ClientPixel(centred, 0, 0), kRed);
    EXPECT_EQ(ClientPixel(centred, (cr.right - 3) / 2, (cr.bottom - 2) / 2), kRed);

    // The template's menu is the dialog's, loaded from the same library, and the client area keeps the template's
    // size below the menu bar.
    HMENU menu = GetMenu(dlg);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(GetMenuItemCount(menu), 1);
    HMENU file = GetSubMenu(menu, 0);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(GetMenuItemID(file, 1), static_cast<UINT>(ID_IMAGES_EXIT));
    RECT client{}, mapped{0, 0, 200, 100};
    GetClientRect(dlg, &client);
    MapDialogRect(dlg, &mapped);
    EXPECT_EQ(client.bottom, mapped.bottom);
    DestroyWindow(dlg);
    // The menu went with the dialog.
    EXPECT_FALSE(IsMenu(menu));

    // A menu named by a name, and one that is missing: then there is no dialog.
    HWND named = CreateDialogParamW(g_dialogs, MAKEINTRESOURCEW(IDD_NAMED_MENU), nullptr, RecordingProc,
                                    reinterpret_cast<LPARAM>(&r));
    ASSERT_NE(named, nullptr);
    ASSERT_NE(GetMenu(named), nullptr);
    EXPECT_EQ(GetMenuItemID(GetMenu(named), 0), static_cast<UINT>(ID_IMAGES_EXIT));
    DestroyWindow(named);
    SetLastError(0);
    EXPECT_EQ(CreateDialogParamW(g_dialogs, MAKEINTRESOURCEW(IDD_MISSING_MENU), nullptr, RecordingProc,
                                 reinterpret_cast<LPARAM>(&r)),
              nullptr);
    EXPECT_NE(GetLastError(), 0u);
}

} // namespace
