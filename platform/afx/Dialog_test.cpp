#include "platform/afx/Dialog.h"

#include "platform/afx/Button.h"
#include "platform/afx/ComboBox.h"
#include "platform/afx/DataExchange.h"
#include "platform/afx/Edit.h"
#include "platform/afx/ModuleState.h"
#include "platform/afx/testdata/dialog_test_ids.h"
#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/fs/paths.h"
#include "platform/testing/eventually.h"
#include "platform/ui/input.h"
#include "platform/ui/prompt_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

using testsupport::Eventually;

class CPersonDlg : public CDialog {
public:
    CPersonDlg() : CDialog(IDD_PERSON) {}

    CString m_name = u"Bob";
    int m_age = 30;
    int m_member = 1;
    int m_size = 2;
    int m_colour = 1;
    CButton m_memberButton;
    CEdit m_nameEdit;
    CComboBox m_colourBox;

    int m_creates = 0;
    int m_asks = 0;
    int m_colourChanges = 0;
    int m_kicks = 0;
    int m_askAnswer = 0;

    BOOL OnInitDialog() override {
        // The controls exist before the members are put into them.
        for (const char16_t* s : {u"Red", u"Green", u"Blue"})
            SendDlgItemMessage(IDC_COLOUR, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
        return CDialog::OnInitDialog();
    }

    void DoDataExchange(CDataExchange* pDX) override {
        CDialog::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_MEMBER, m_memberButton);
        DDX_Control(pDX, IDC_NAME, m_nameEdit);
        DDX_Control(pDX, IDC_COLOUR, m_colourBox);
        DDX_Text(pDX, IDC_NAME, m_name);
        DDV_MaxChars(pDX, m_name, 8);
        DDX_Text(pDX, IDC_AGE, m_age);
        DDV_MinMaxInt(pDX, m_age, 0, 150);
        DDX_Check(pDX, IDC_MEMBER, m_member);
        DDX_Radio(pDX, IDC_SMALL, m_size);
        DDX_CBIndex(pDX, IDC_COLOUR, m_colour);
    }

    int OnCreate(LPCREATESTRUCTW cs) {
        ++m_creates;
        return CDialog::OnCreate(cs);
    }
    void OnAsk() {
        ++m_asks;
        m_askAnswer = AfxMessageBox(IDS_QUESTION, MB_YESNO);
    }
    void OnColourChange() { ++m_colourChanges; }
    LRESULT OnKickIdle(WPARAM, LPARAM) {
        ++m_kicks;
        return 0;
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CPersonDlg, CDialog)
ON_WM_CREATE()
ON_BN_CLICKED(IDC_ASK, OnAsk)
ON_CBN_SELCHANGE(IDC_COLOUR, OnColourChange)
ON_MESSAGE(WM_KICKIDLE, OnKickIdle)
END_MESSAGE_MAP()

class DialogTest : public ::testing::Test {
protected:
    DialogTest() {
        platform::ui::SetDeadlockTimeout(120000);
        platform::fs::DriveInfo drive;
        drive.letter = u'T';
        drive.hostRoot = AFX_TEST_DIALOG_DIR;
        EXPECT_TRUE(platform::fs::SetDrive(drive));
        m_pack = LoadLibraryW(u"T:\\dialog_test.dll");
        EXPECT_NE(m_pack, nullptr);
        m_previous = AfxGetResourceHandle();
        AfxSetResourceHandle(m_pack);
    }
    ~DialogTest() override {
        AfxSetResourceHandle(m_previous);
        if (m_pack)
            FreeLibrary(m_pack);
    }

    platform::machine::ScopedTestMachine m_machine;
    HMODULE m_pack = nullptr;
    HINSTANCE m_previous = nullptr;
};

std::u16string Text(HWND hwnd) {
    char16_t buffer[256] = {};
    GetWindowTextW(hwnd, buffer, 256);
    return buffer;
}

TEST_F(DialogTest, DoModalExchangesDataBothWaysAndEndsWithOk) {
    CPersonDlg dlg;
    dlg.m_name = u"Bob";
    std::thread user([] {
        HWND hwnd = nullptr;
        ASSERT_TRUE(Eventually([&] {
            hwnd = FindWindowW(u"#32770", u"Person");
            return hwnd && IsWindowVisible(hwnd);
        }));
        // The members went into the controls.
        EXPECT_EQ(Text(GetDlgItem(hwnd, IDC_NAME)), u"Bob");
        EXPECT_EQ(Text(GetDlgItem(hwnd, IDC_AGE)), u"30");
        EXPECT_EQ(SendMessageW(GetDlgItem(hwnd, IDC_MEMBER), BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_EQ(SendMessageW(GetDlgItem(hwnd, IDC_LARGE), BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_EQ(SendMessageW(GetDlgItem(hwnd, IDC_COLOUR), CB_GETCURSEL, 0, 0), 1);
        // The user changes them: the name (selected as a whole on entry) is typed over.
        platform::ui::TypeText(hwnd, u"Carol");
        platform::ui::Click(GetDlgItem(hwnd, IDC_MEMBER));
        platform::ui::Click(GetDlgItem(hwnd, IDC_SMALL));
        platform::ui::ChooseComboItem(GetDlgItem(hwnd, IDC_COLOUR), 2);
        platform::ui::PressKey(hwnd, VK_RETURN);
    });
    const INT_PTR result = dlg.DoModal();
    user.join();
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_creates, 1); // WM_CREATE reached the message map
    EXPECT_TRUE(dlg.m_name == u"Carol");
    EXPECT_EQ(dlg.m_member, 0);
    EXPECT_EQ(dlg.m_size, 0);
    EXPECT_EQ(dlg.m_colour, 2);
    EXPECT_EQ(dlg.m_colourChanges, 1);
    EXPECT_GT(dlg.m_kicks, 0); // idle processing ran
    EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);
    EXPECT_EQ(dlg.m_memberButton.GetSafeHwnd(), nullptr); // the controls went with the dialog
}

TEST_F(DialogTest, InvalidDataKeepsTheDialogOpenWithAMessage) {
    uitest::PromptScript script;
    script.Expect(platform::ui::PromptKind::MessageBox, u"no more than 8", IDOK)
        .Expect(platform::ui::PromptKind::MessageBox, u"between 0 and 150", IDOK)
        .Expect(platform::ui::PromptKind::MessageBox, u"Save the person?", IDYES);
    CPersonDlg dlg;
    std::atomic<int> step{0};
    std::thread user([&] {
        HWND hwnd = nullptr;
        ASSERT_TRUE(Eventually([&] {
            hwnd = FindWindowW(u"#32770", u"Person");
            return hwnd && IsWindowVisible(hwnd);
        }));
        HWND name = GetDlgItem(hwnd, IDC_NAME);
        // The limit stops typing at 8 characters; a program can still put in more.
        EXPECT_EQ(SendMessageW(name, EM_GETLIMITTEXT, 0, 0), 8);
        SetWindowTextW(name, u"Maximilian");
        platform::ui::PressKey(hwnd, VK_RETURN);
        ASSERT_TRUE(Eventually([&] { return script.Seen().size() == 1; }));
        SetWindowTextW(name, u"Max");
        SetWindowTextW(GetDlgItem(hwnd, IDC_AGE), u"200");
        platform::ui::PressKey(hwnd, VK_RETURN);
        ASSERT_TRUE(Eventually([&] { return script.Seen().size() == 2; }));
        platform::ui::Click(GetDlgItem(hwnd, IDC_ASK));
        ASSERT_TRUE(Eventually([&] { return script.Seen().size() == 3; }));
        step = 1;
        platform::ui::PressKey(hwnd, VK_ESCAPE);
    });
    const INT_PTR result = dlg.DoModal();
    user.join();
    EXPECT_EQ(step.load(), 1);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(dlg.m_asks, 1);
    EXPECT_EQ(dlg.m_askAnswer, IDYES);
    // Members read before a failure keep their new values; the ones after it do not change.
    EXPECT_TRUE(dlg.m_name == u"Max");
    EXPECT_EQ(dlg.m_age, 200);
    EXPECT_EQ(dlg.m_member, 1);
    const auto seen = script.Seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(seen[2].style & MB_ICONMASK, MB_ICONQUESTION);
}

TEST_F(DialogTest, ModelessDialogAndControlClasses) {
    CPersonDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_PERSON));
    HWND hwnd = dlg.GetSafeHwnd();
    ASSERT_TRUE(hwnd);
    EXPECT_EQ(CWnd::FromHandlePermanent(hwnd), &dlg);
    EXPECT_EQ(dlg.m_creates, 1);
    EXPECT_EQ(dlg.m_memberButton.GetCheck(), BST_CHECKED);
    EXPECT_EQ(dlg.m_colourBox.GetCount(), 3);
    CString colour;
    dlg.m_colourBox.GetLBText(dlg.m_colourBox.GetCurSel(), colour);
    EXPECT_TRUE(colour == u"Green");
    EXPECT_EQ(dlg.m_colourBox.FindStringExact(-1, u"blue"), 2);
    EXPECT_EQ(dlg.m_nameEdit.GetLimitText(), 8u);

    dlg.m_memberButton.SetCheck(BST_UNCHECKED);
    dlg.CheckRadioButton(IDC_SMALL, IDC_LARGE, IDC_MEDIUM);
    EXPECT_EQ(dlg.GetCheckedRadioButton(IDC_SMALL, IDC_LARGE), IDC_MEDIUM);
    dlg.SetDlgItemInt(IDC_AGE, 41);
    ASSERT_TRUE(dlg.UpdateData(TRUE));
    EXPECT_EQ(dlg.m_member, 0);
    EXPECT_EQ(dlg.m_size, 1);
    EXPECT_EQ(dlg.m_age, 41);

    dlg.m_name = u"Dora";
    dlg.m_colour = -1;
    ASSERT_TRUE(dlg.UpdateData(FALSE));
    EXPECT_EQ(Text(dlg.m_nameEdit.GetSafeHwnd()), u"Dora");
    EXPECT_EQ(dlg.m_colourBox.GetCurSel(), CB_ERR);

    // Navigation members.
    dlg.GotoDlgCtrl(&dlg.m_nameEdit);
    EXPECT_EQ(GetFocus(), dlg.m_nameEdit.GetSafeHwnd());
    dlg.NextDlgCtrl();
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_AGE);
    dlg.PrevDlgCtrl();
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_NAME);
    EXPECT_EQ(dlg.GetDefID(), static_cast<DWORD>(MAKELONG(IDOK, DC_HASDEFID)));

    // OK on a modeless dialog hides it and keeps the result.
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDOK)));
    INT_PTR ended = 0;
    EXPECT_TRUE(platform::ui::DialogEnded(hwnd, &ended));
    EXPECT_EQ(ended, IDOK);
    EXPECT_TRUE(dlg.DestroyWindow());
    EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);

    // A template that is not there.
    CDialog missing(4242);
    EXPECT_EQ(missing.DoModal(), -1);
}

} // namespace
