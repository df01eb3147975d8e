#include "app/WizardDialog.h"
#include "app/WizardPage.h"

#include "platform/base/machine.h"
#include "platform/ui/input.h"
#include "platform/ui/message.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT IDD_HOST = 9100;
constexpr UINT IDD_PAGE1 = 9101;
constexpr UINT IDD_PAGE2 = 9102;
constexpr UINT IDD_PAGE3 = 9103;
constexpr int IDC_PAGE1_EDIT = 9110;

// A page that records every hook call ("name:hook") and answers as the test says.
class CRecordingPage : public CWizardPage {
public:
    CRecordingPage(UINT nID, std::string name, std::vector<std::string>& calls)
        : CWizardPage(nID), m_name(std::move(name)), m_calls(calls) {}

    BOOL OnCreatePage() override { return Note("create", m_create); }
    void OnDestroyPage() override { Note("destroy"); }
    BOOL OnKillActive() override { return Note("kill", m_killActive); }
    void OnSetActive() override { Note("set"); }
    BOOL OnQueryCancel() override { return Note("cancel", m_queryCancel); }
    LRESULT OnWizardBack() override { return Note("back", m_back); }
    LRESULT OnWizardNext() override { return Note("next", m_next); }
    BOOL OnWizardFinish() override { return Note("finish", m_finish); }

    BOOL m_create = TRUE;
    BOOL m_killActive = TRUE;
    BOOL m_queryCancel = TRUE;
    LRESULT m_back = 0;
    LRESULT m_next = 0;
    BOOL m_finish = TRUE;

private:
    template <class T = int> T Note(const char* hook, T answer = T{}) {
        m_calls.push_back(m_name + ":" + hook);
        return answer;
    }

    std::string m_name;
    std::vector<std::string>& m_calls;
};

// The state of the three buttons: "B" enabled Back, "N"/"F" enabled and shown, lower case when disabled, "-" when
// hidden.
std::string Buttons(HWND host) {
    auto state = [host](int id, char letter) {
        HWND button = GetDlgItem(host, id);
        if (!(GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE))
            return std::string("-");
        return std::string(1, IsWindowEnabled(button) ? letter : static_cast<char>(letter + 32));
    };
    return state(ID_WIZBACK, 'B') + state(ID_WIZNEXT, 'N') + state(ID_WIZFINISH, 'F');
}

class WizardTest : public ::testing::Test {
protected:
    WizardTest()
        : m_page1(IDD_PAGE1, "1", m_calls), m_page2(IDD_PAGE2, "2", m_calls), m_page3(IDD_PAGE3, "3", m_calls) {
        platform::ui::SetDeadlockTimeout(120000);
    }
    ~WizardTest() override {
        if (m_host.GetSafeHwnd())
            m_host.DestroyWindow();
    }

    // Runs the host modeless on the test thread, with the placeholder set as every wizard sets it.
    class CTestHost : public CWizardDialog {
    public:
        CTestHost() : CWizardDialog(IDD_HOST) {}
        BOOL OnInitDialog() override {
            SetPlaceholder(140);
            return CWizardDialog::OnInitDialog();
        }
    };

    void Start(std::initializer_list<CRecordingPage*> pages) {
        for (CRecordingPage* page : pages)
            m_host.AddPage(page, page->GetDialogId());
        ASSERT_TRUE(m_host.Create(IDD_HOST));
        m_host.ShowWindow(SW_SHOW);
        m_calls.clear();
    }
    void Press(int id) {
        ASSERT_TRUE(platform::ui::Click(m_host.GetDlgItem(id)->GetSafeHwnd()));
        platform::ui::DrainMessages(m_host.GetSafeHwnd());
    }
    // The button's command, as the host's own code or a derived host sends it whatever the button's state.
    void Command(int id) {
        SendMessageW(m_host, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        platform::ui::DrainMessages(m_host.GetSafeHwnd());
    }
    std::string Calls() {
        std::string all;
        for (const auto& call : m_calls)
            all += (all.empty() ? "" : " ") + call;
        m_calls.clear();
        return all;
    }

    platform::machine::ScopedTestMachine m_machine;
    std::vector<std::string> m_calls;
    CRecordingPage m_page1;
    CRecordingPage m_page2;
    CRecordingPage m_page3;
    CTestHost m_host;
};

TEST_F(WizardTest, ButtonsFollowTheTableThroughNextAndBack) {
    Start({&m_page1, &m_page2, &m_page3});
    EXPECT_EQ(Buttons(m_host), "bN-");
    EXPECT_EQ(m_host.GetActivePage(), &m_page1);

    Press(ID_WIZNEXT);
    EXPECT_EQ(m_host.GetActivePage(), &m_page2);
    EXPECT_EQ(Buttons(m_host), "BN-");
    EXPECT_EQ(Calls(), "1:next 2:create 1:kill 2:set");

    Press(ID_WIZNEXT);
    EXPECT_EQ(Buttons(m_host), "B-F");
    EXPECT_EQ(Calls(), "2:next 3:create 2:kill 3:set");

    // Back from the last page to a middle one leaves Finish shown beside Next.
    Press(ID_WIZBACK);
    EXPECT_EQ(m_host.GetActivePage(), &m_page2);
    EXPECT_EQ(Buttons(m_host), "BNF");
    EXPECT_EQ(Calls(), "3:back 3:kill 2:set");

    // Pages once created are only shown again.
    Press(ID_WIZBACK);
    EXPECT_EQ(m_host.GetActivePage(), &m_page1);
    EXPECT_EQ(Buttons(m_host), "bN-");
    EXPECT_EQ(Calls(), "2:back 2:kill 1:set");
}

TEST_F(WizardTest, OnePageStartsWithFinishOnly) {
    Start({&m_page1});
    EXPECT_EQ(Buttons(m_host), "b-F");
}

TEST_F(WizardTest, HooksChooseTheTargetOrKeepThePage) {
    Start({&m_page1, &m_page2, &m_page3});
    Press(ID_WIZNEXT);
    Press(ID_WIZNEXT);
    Calls();

    // Next on the last page has nowhere to go.
    Command(ID_WIZNEXT);
    EXPECT_EQ(m_host.GetActivePage(), &m_page3);
    EXPECT_EQ(Buttons(m_host), "B-F");

    // A jump back by id from Next: Back enabled, Next and Finish keep their states.
    m_page3.m_next = IDD_PAGE1;
    Command(ID_WIZNEXT);
    EXPECT_EQ(m_host.GetActivePage(), &m_page1);
    EXPECT_EQ(Buttons(m_host), "B-F");

    // -1 stays; an id no page carries stays; a page that refuses to be left stays.
    Calls();
    m_page1.m_next = -1;
    Command(ID_WIZNEXT);
    m_page1.m_back = 4242;
    Press(ID_WIZBACK);
    m_page1.m_next = 0;
    m_page1.m_killActive = FALSE;
    Command(ID_WIZNEXT);
    EXPECT_EQ(m_host.GetActivePage(), &m_page1);
    EXPECT_EQ(Calls(), "1:next 1:back 1:next 1:kill");
}

TEST_F(WizardTest, JumpsByIdReachTheFirstPageOfThatId) {
    CRecordingPage twin(IDD_PAGE2, "twin", m_calls);
    Start({&m_page1, &m_page2, &twin});
    EXPECT_EQ(m_host.GetPageById(IDD_PAGE2), &m_page2);
    m_page1.m_next = IDD_PAGE2;
    Press(ID_WIZNEXT);
    EXPECT_EQ(m_host.GetActivePage(), &m_page2);
    EXPECT_EQ(m_host.GetActiveIndex(), 1);
    EXPECT_EQ(m_host.GetPageIndex(&twin), 2);
    EXPECT_EQ(m_host.GetPage(3), nullptr);
    // The host asks its pages as it goes, so it goes before the page of this test.
    m_host.DestroyWindow();
}

TEST_F(WizardTest, APageThatDeclinesItsCreationIsShownLaterWithoutBeingAskedAgain) {
    m_page2.m_create = FALSE;
    Start({&m_page1, &m_page2});
    Press(ID_WIZNEXT);
    EXPECT_EQ(m_host.GetActivePage(), &m_page1);
    EXPECT_TRUE(m_page2.IsCreated());
    EXPECT_FALSE(IsWindowVisible(m_page2));
    EXPECT_EQ(Calls(), "1:next 2:create");

    Press(ID_WIZNEXT);
    EXPECT_EQ(m_host.GetActivePage(), &m_page2);
    EXPECT_EQ(Calls(), "1:next 1:kill 2:set");
}

TEST_F(WizardTest, FinishAsksTheActivePageToLeaveAndEveryVisitedPageToFinish) {
    Start({&m_page1, &m_page2, &m_page3});
    Press(ID_WIZNEXT);
    Press(ID_WIZNEXT);
    Press(ID_WIZBACK);
    Calls();
    // Finish is shown beside Next on the middle page now.
    m_page2.m_finish = FALSE;
    Press(ID_WIZFINISH);
    EXPECT_EQ(Calls(), "2:kill 1:finish 2:finish");
    EXPECT_NE(m_host.GetSafeHwnd(), nullptr);

    m_page2.m_finish = TRUE;
    Press(ID_WIZFINISH);
    EXPECT_EQ(Calls(), "2:kill 1:finish 2:finish 3:finish");
    EXPECT_EQ(m_host.m_nModalResult, static_cast<int>(ID_WIZFINISH));
}

TEST_F(WizardTest, CancelAsksOnlyCreatedPagesAndStopsAtTheFirstRefusal) {
    Start({&m_page1, &m_page2, &m_page3});
    Press(ID_WIZNEXT);
    Calls();
    m_page1.m_queryCancel = FALSE;
    Press(IDCANCEL);
    EXPECT_EQ(Calls(), "1:cancel");
    EXPECT_NE(m_host.m_nModalResult, IDCANCEL);

    m_page1.m_queryCancel = TRUE;
    Press(IDCANCEL);
    EXPECT_EQ(Calls(), "1:cancel 2:cancel");
    EXPECT_EQ(m_host.m_nModalResult, IDCANCEL);
}

TEST_F(WizardTest, EnterAndEscapeInAPageDoNothingWhileEscapeOnTheHostCancels) {
    // The wizard runs modally, so that keys pass the framework's pre-translation as the user's keys do. Finish is
    // the host's default button: an Enter that reached the host would finish the wizard.
    m_host.AddPage(&m_page1, IDD_PAGE1);
    m_page1.m_queryCancel = FALSE;
    std::thread user([] {
        HWND host = nullptr;
        ASSERT_TRUE(uitest::Eventually([&] {
            host = FindWindowW(nullptr, u"Test Wizard");
            return host && IsWindowVisible(host);
        }));
        HWND edit = nullptr;
        for (HWND child = GetWindow(host, GW_CHILD); child && !edit; child = GetWindow(child, GW_HWNDNEXT))
            edit = GetDlgItem(child, IDC_PAGE1_EDIT);
        ASSERT_NE(edit, nullptr);
        // The focus moves as FocusControl moves it, but before the keys are pressed.
        SendMessageW(GetParent(edit), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
        ASSERT_TRUE(platform::ui::PressKey(edit, VK_RETURN));
        ASSERT_TRUE(platform::ui::PressKey(edit, VK_ESCAPE));
        // Escape on a host button asks the page, which keeps the wizard open; then Finish ends it.
        SendMessageW(host, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(host, IDCANCEL)), TRUE);
        ASSERT_TRUE(platform::ui::PressKey(host, VK_ESCAPE));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(host, ID_WIZFINISH)));
    });
    EXPECT_EQ(m_host.DoModal(), static_cast<INT_PTR>(ID_WIZFINISH));
    user.join();
    EXPECT_EQ(Calls(), "1:create 1:set 1:cancel 1:kill 1:finish 1:kill 1:destroy");
}

TEST_F(WizardTest, DestroyingTheHostDestroysEveryCreatedPageAndForgetsThem) {
    Start({&m_page1, &m_page2, &m_page3});
    Press(ID_WIZNEXT);
    Calls();
    // A page that refuses to go loses its window with the host all the same, and knows it.
    m_page1.m_killActive = FALSE;
    m_host.DestroyWindow();
    EXPECT_EQ(Calls(), "1:kill 2:kill 2:destroy");
    for (CRecordingPage* page : {&m_page1, &m_page2, &m_page3}) {
        EXPECT_FALSE(page->IsCreated());
        EXPECT_EQ(page->GetSafeHwnd(), nullptr);
    }

    // The pages serve a new host.
    Start({&m_page1, &m_page2});
    EXPECT_TRUE(m_page1.IsCreated());
    EXPECT_EQ(Buttons(m_host), "bN-");
}

TEST_F(WizardTest, AHostWithoutPagesRefusesToStart) {
    ASSERT_TRUE(m_host.Create(IDD_HOST));
    EXPECT_EQ(m_host.m_nModalResult, IDCANCEL);
    EXPECT_EQ(m_host.GetActivePage(), nullptr);
}

} // namespace
