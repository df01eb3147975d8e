// Copy jobs through the backup manager: a real source tree of the plain-file agent over a scratch drive, the
// copy library's worker thread, the manager's window answering on this thread, and an owner window that records
// every event and answers error questions as a user would.
#include "agents/RegularFileAgent.h"
#include "engine/BackJob.h"
#include "engine/BackManager.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/Wnd.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/testing/scratch_drive.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

// The window that owns the jobs: it keeps what every event carried and answers error questions.
class COwnerWnd : public CWnd {
public:
    struct Seen {
        DWORD dwEvent;
        int nAnswer;
        int nCode;
        DWORD dwTotalFiles;
        DWORD dwTotalFilesCopied;
        LONGLONG llTotalFileSize;
        std::u16string source;
    };
    LRESULT OnJobEvent(WPARAM wParam, LPARAM lParam) {
        const auto* pStatus = reinterpret_cast<const JOB_STATUS*>(lParam);
        m_seen.push_back({static_cast<DWORD>(wParam), pStatus->nAnswer, pStatus->nCode, pStatus->dwTotalFiles,
                          pStatus->dwTotalFilesCopied, pStatus->llTotalFileSize, pStatus->tszSrcPath});
        if (wParam == KOVRA_JOB_END) {
            m_bEnded = true;
            m_bJobAliveAtEnd = CBackManager::Get()->IsJobRunning(reinterpret_cast<CBackJob*>(m_pExpectedJob));
        }
        return 0;
    }
    LRESULT OnJobError(WPARAM wParam, LPARAM) {
        m_asked.push_back(static_cast<DWORD>(wParam));
        return m_nErrorAnswer;
    }
    std::vector<Seen> m_seen;
    std::vector<DWORD> m_asked;
    int m_nErrorAnswer = KOVRA_PROGRESS_SKIP;
    bool m_bEnded = false;
    bool m_bJobAliveAtEnd = false;
    void* m_pExpectedJob = nullptr;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(COwnerWnd, CWnd)
ON_MESSAGE(WM_JOB_EVENT, OnJobEvent)
ON_MESSAGE(WM_JOB_ERROR, OnJobError)
END_MESSAGE_MAP()

class BackJobTest : public testsupport::ScratchDriveTest {
protected:
    void SetUp() override {
        // The user's own drive C: is a scratch folder too, so that nothing of the real home is listed.
        m_home = m_machine.Scratch("home");
        platform::fs::DriveInfo c;
        c.letter = u'C';
        c.hostRoot = m_home;
        ASSERT_TRUE(platform::fs::SetDrive(c));
        m_oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
        setenv("HOME", m_home.c_str(), 1);
        ASSERT_TRUE(m_manager.Create());
        ASSERT_EQ(m_manager.AddAgent(&m_agent), 1);
        ASSERT_TRUE(m_owner.CreateEx(0, nullptr, u"Owner", WS_OVERLAPPEDWINDOW, 0, 0, 500, 700, nullptr, nullptr));
        RECT rc{0, 0, 480, 680};
        ASSERT_TRUE(m_tree.Create(WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, rc, &m_owner, 3202));
        ASSERT_TRUE(m_tree.InitTree(603, 130, 700, 3200, kTreeBackup, FALSE));
        ASSERT_EQ(m_manager.FillSourceTree(&m_tree), 1);
        m_tree.SendMessage(WM_TREE_EXPAND_ROOT);
    }
    void TearDown() override {
        EXPECT_TRUE(m_manager.CancelAllJobs(20000));
        m_tree.DestroyWindow();
        m_owner.DestroyWindow();
        m_manager.RemoveAllAgents();
        setenv("HOME", m_oldHome.c_str(), 1);
    }

    static HTREEITEM Child(CShellTreeCtrl& tree, HTREEITEM hParent, const CString& text) {
        for (HTREEITEM h = tree.GetChildItem(hParent); h; h = tree.GetNextSiblingItem(h))
            if (tree.GetItemText(h) == text)
                return h;
        return nullptr;
    }
    // The item of a path below T: ("a/b"), expanding on the way.
    HTREEITEM ItemOf(const std::u16string& relative) {
        HTREEITEM h = Child(m_tree, m_tree.GetRootItem(), u"Local Disk (T:)");
        size_t start = 0;
        while (h && start < relative.size()) {
            size_t slash = relative.find(u'/', start);
            if (slash == std::u16string::npos)
                slash = relative.size();
            if (!(m_tree.GetItemState(h, TVIS_EXPANDED) & TVIS_EXPANDED)) {
                m_tree.SelectItem(h);
                m_tree.SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
            }
            h = Child(m_tree, h, CString(relative.substr(start, slash - start)));
            start = slash + 1;
        }
        return h;
    }
    // Serves messages until the condition holds; false when it did not in time.
    static bool PumpUntil(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
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
    CBackJob* Run(DWORD dwFlags, int nErrorMode, const JOB_ESTIMATES* pEstimates = nullptr) {
        CBackJob* pJob = nullptr;
        const std::u16string dest = m_dest.Path();
        EXPECT_TRUE(
            m_manager.CreateJob(&pJob, m_owner.GetSafeHwnd(), dwFlags, nErrorMode, pEstimates, &m_tree, dest.c_str()));
        EXPECT_NE(pJob, nullptr);
        m_owner.m_pExpectedJob = pJob;
        EXPECT_TRUE(PumpUntil([&] { return m_owner.m_bEnded; }));
        EXPECT_TRUE(PumpUntil([&] { return m_manager.GetJobCount() == 0; }));
        return pJob;
    }
    std::string SetFolder() const {
        return "KovraData/" + platform::Utf16ToUtf8(m_manager.GetSetName().GetString()) + "/Disk T/";
    }
    std::vector<DWORD> Events() const {
        std::vector<DWORD> events;
        for (const auto& seen : m_owner.m_seen)
            events.push_back(seen.dwEvent);
        return events;
    }

    testsupport::ScratchDrive m_dest{m_machine, u'U', "u"};
    std::string m_home, m_oldHome;
    CBackManager m_manager;
    CRegularFileAgent m_agent;
    COwnerWnd m_owner;
    CShellTreeCtrl m_tree;
};

TEST_F(BackJobTest, ABackupCopiesTheSelectionIntoTheSetAndEndsWithTheOwnerTold) {
    m_drive.Write("Data/a.txt", "alpha");
    m_drive.Write("Data/Sub/b.txt", "beta");
    m_drive.Write("Data/Other/c.txt", "gamma");
    m_drive.Write("RECYCLER/gone.txt", "x");
    m_drive.Write("RECYCLER-old/kept.txt", "kept");
    // A link out of the drive is neither followed nor copied, and nobody is asked about it.
    const std::string outside = m_machine.Scratch("outside");
    std::filesystem::create_directories(outside);
    std::ofstream(outside + "/secret.txt") << "secret";
    std::filesystem::create_directory_symlink(outside, m_drive.Host("Data/link out"));
    // The whole drive, with a folder left out, taken whole and below a partly checked one.
    HTREEITEM hDrive = ItemOf(u"");
    ASSERT_NE(hDrive, nullptr);
    m_tree.CheckBranch(hDrive, kStateChecked);
    m_tree.CheckBranch(ItemOf(u"Data/Other"), kStateUnchecked);

    Run(0x31, 1);
    const std::string set = SetFolder();
    EXPECT_EQ(m_dest.Read(set + "Data/a.txt"), "alpha");
    EXPECT_EQ(m_dest.Read(set + "Data/Sub/b.txt"), "beta");
    EXPECT_FALSE(m_dest.Exists(set + "Data/Other"));
    EXPECT_FALSE(m_dest.Exists(set + "RECYCLER"));
    EXPECT_EQ(m_dest.Read(set + "RECYCLER-old/kept.txt"), "kept");
    EXPECT_FALSE(m_dest.Exists(set + "Data/link out"));

    // Every event reached the owner, the end last, while the job still existed; then the manager let it go.
    const std::vector<DWORD> events = Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), KOVRA_JOB_BEGIN);
    EXPECT_EQ(events.back(), KOVRA_JOB_END);
    EXPECT_TRUE(m_owner.m_bJobAliveAtEnd);
    EXPECT_EQ(m_manager.GetJobCount(), 0);
    EXPECT_EQ(m_owner.m_seen.back().dwTotalFiles, 3u);
    EXPECT_EQ(m_owner.m_seen.back().dwTotalFilesCopied, 3u);
    EXPECT_TRUE(m_owner.m_asked.empty());
}

TEST_F(BackJobTest, GivenEstimatesTravelUnchangedWhileTheCopiedCountersGrow) {
    m_drive.Write("Data/a.txt", "alpha");
    m_drive.Write("Data/b.txt", "beta");
    m_tree.CheckBranch(ItemOf(u"Data"), kStateChecked);
    const JOB_ESTIMATES estimates{7, 7, 40, 41, 1000, 1001};
    Run(0x21, 1, &estimates);
    ASSERT_FALSE(m_owner.m_seen.empty());
    for (const auto& seen : m_owner.m_seen) {
        EXPECT_EQ(seen.dwTotalFiles, 41u);
        EXPECT_EQ(seen.llTotalFileSize, 1001);
    }
    EXPECT_EQ(m_owner.m_seen.back().dwTotalFilesCopied, 2u);
}

// A file another program holds open without read sharing fails with a sharing violation; the error mode decides
// who answers.
TEST_F(BackJobTest, ErrorModesDecideWhetherTheOwnerIsAsked) {
    m_drive.Write("Data/held.txt", "held");
    m_drive.Write("Data/free.txt", "free");
    m_tree.CheckBranch(ItemOf(u"Data"), kStateChecked);
    const std::u16string held = m_drive.Path("Data/held.txt");
    HANDLE hHeld = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);

    struct Case {
        int nMode;
        int nOwnerAnswer;
        bool bAsked;
        int nAnswer; // the answer the library got for the held file
    };
    const Case cases[] = {
        {0, KOVRA_PROGRESS_SKIP, true, KOVRA_PROGRESS_SKIP},
        {0, KOVRA_PROGRESS_ABORT, true, KOVRA_PROGRESS_ABORT},
        {1, KOVRA_PROGRESS_ABORT, false, KOVRA_PROGRESS_SKIP},
        {2, KOVRA_PROGRESS_SKIP, false, KOVRA_PROGRESS_ABORT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nMode);
        m_owner.m_seen.clear();
        m_owner.m_asked.clear();
        m_owner.m_bEnded = false;
        m_owner.m_nErrorAnswer = c.nOwnerAnswer;
        Run(0x31, c.nMode);
        EXPECT_EQ(m_owner.m_asked, c.bAsked ? std::vector<DWORD>{ERROR_SHARING_VIOLATION} : std::vector<DWORD>{});
        bool found = false;
        for (const auto& seen : m_owner.m_seen)
            if (seen.dwEvent == KOVRA_FILE_COPY_COMPLETE && seen.nCode == ERROR_SHARING_VIOLATION) {
                EXPECT_EQ(seen.nAnswer, c.nAnswer);
                found = true;
            }
        EXPECT_TRUE(found);
    }
    CloseHandle(hHeld);
}

TEST_F(BackJobTest, ACountingJobNeverAsksTheOwner) {
    m_drive.Write("Data/held.txt", "held");
    m_tree.CheckBranch(ItemOf(u"Data"), kStateChecked);
    Run(0x11, 0);
    EXPECT_TRUE(m_owner.m_asked.empty());
    EXPECT_EQ(m_owner.m_seen.back().dwTotalFiles, 1u);
    EXPECT_FALSE(m_dest.Exists("KovraData"));
}

TEST_F(BackJobTest, AJobTheLibraryRefusesLeavesNothingBehind) {
    m_drive.Write("Data/a.txt", "alpha");
    m_tree.CheckBranch(ItemOf(u"Data"), kStateChecked);
    CBackJob* pJob = reinterpret_cast<CBackJob*>(1);
    const std::u16string tooLong(2100, u'x');
    EXPECT_FALSE(m_manager.CreateJob(&pJob, m_owner.GetSafeHwnd(), 0x31, 0, &m_tree, tooLong.c_str()));
    EXPECT_EQ(pJob, nullptr);
    EXPECT_EQ(m_manager.GetJobCount(), 0);
    EXPECT_FALSE(m_manager.CancelJob(pJob));
    EXPECT_EQ(m_manager.SetJobErrorMode(pJob, 2), 0);
}

// A cancelled job ends at once: the files still to come are neither asked about nor copied, and the agents hear
// of the cancel.
TEST_F(BackJobTest, ACancelledJobEndsWithoutAStreamOfQuestions) {
    for (int i = 0; i < 40; ++i)
        m_drive.Write("Data/f" + std::to_string(i) + ".txt", std::string(1000, 'x'));
    m_tree.CheckBranch(ItemOf(u"Data"), kStateChecked);
    CBackJob* pJob = nullptr;
    const std::u16string dest = m_dest.Path();
    ASSERT_TRUE(m_manager.CreateJob(&pJob, m_owner.GetSafeHwnd(), 0x31, 0, &m_tree, dest.c_str()));
    EXPECT_TRUE(m_manager.CancelJob(pJob));
    EXPECT_TRUE(PumpUntil([&] { return m_owner.m_bEnded && m_manager.GetJobCount() == 0; }));
    EXPECT_TRUE(m_owner.m_asked.empty());
    EXPECT_LT(m_dest.Names(SetFolder() + "Data").size(), 40u);
}

TEST_F(BackJobTest, CancelAllJobsWaitsForEveryJobToEnd) {
    for (int i = 0; i < 20; ++i)
        m_drive.Write("Data/f" + std::to_string(i) + ".txt", "x");
    m_tree.CheckBranch(ItemOf(u"Data"), kStateChecked);
    const std::u16string dest = m_dest.Path();
    CBackJob* pFirst = nullptr;
    CBackJob* pSecond = nullptr;
    ASSERT_TRUE(m_manager.CreateJob(&pFirst, m_owner.GetSafeHwnd(), 0x31, 1, &m_tree, dest.c_str()));
    ASSERT_TRUE(m_manager.CreateJob(&pSecond, m_owner.GetSafeHwnd(), 0x11, 1, &m_tree, dest.c_str()));
    EXPECT_EQ(m_manager.GetJobCount(), 2);
    EXPECT_TRUE(m_manager.CancelAllJobs(20000));
    EXPECT_EQ(m_manager.GetJobCount(), 0);
}

TEST(BackJobStatusTest, AnOwnerThatIsGoneIsToldNothingAndCancelIsHarmlessTwice) {
    CBackJob job;
    EXPECT_EQ(job.Notify(KOVRA_JOB_END, 2, 5), 0);
    EXPECT_EQ(job.GetStatus().nAnswer, 2);
    EXPECT_EQ(job.GetStatus().nCode, 5);
    EXPECT_TRUE(job.Cancel());
    EXPECT_TRUE(job.Cancel());

    KOVRA_PROGRESS progress{};
    progress.dwTotalFiles = 9;
    progress.dwTotalFilesCopied = 3;
    job.FixEstimates({1, 1, 4, 5, 100, 200});
    job.UpdateStatus(&progress, nullptr, u"src", nullptr);
    EXPECT_EQ(job.GetStatus().dwTotalFiles, 5u);
    EXPECT_EQ(job.GetStatus().dwTotalFilesCopied, 3u);
    EXPECT_EQ(std::u16string(job.GetStatus().tszSrcPath), u"src");
    EXPECT_EQ(job.GetStatus().tszDestPath[0], 0);
}

} // namespace
