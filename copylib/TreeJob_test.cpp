// Tree jobs against a real tree view that lives on a thread of its own and keeps serving messages while the job's
// worker reads it.

#include "copylib/Brannic.h"
#include "copylib/TestSupport.h"
#include "platform/base/strings.h"
#include "platform/base/thread.h"
#include "platform/ui/treeview.h"

#include <dlfcn.h>

#include <future>
#include <thread>

using namespace copylib_test;

namespace {

// One node of the tree: a path below the source folder and its check state (1 unchecked, 2 checked, 3 partly).
struct Node {
    std::u16string path;
    int state = 1;
    std::vector<Node> children;
};

// A thread that owns a window with a check-box tree view filled from nodes, and runs a message loop. The items'
// parameters point at the nodes, which must outlive the thread.
class TreeThread {
public:
    explicit TreeThread(const std::vector<Node>& roots) {
        std::promise<HWND> made;
        auto future = made.get_future();
        m_thread = std::thread([&] {
            m_threadId = GetCurrentThreadId();
            InitCommonControls();
            HWND parent = CreateWindowExW(0, u"STATIC", u"host", WS_OVERLAPPED, 0, 0, 300, 300, nullptr, nullptr,
                                          nullptr, nullptr);
            HWND tree = CreateWindowExW(0, WC_TREEVIEWW, u"", WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, 0, 0, 200, 200,
                                        parent, reinterpret_cast<HMENU>(1), nullptr, nullptr);
            for (const Node& root : roots)
                Insert(tree, TVI_ROOT, root);
            made.set_value(tree);
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0)
                DispatchMessageW(&msg);
            DestroyWindow(parent);
        });
        m_tree = future.get();
    }
    ~TreeThread() {
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    HWND tree() const { return m_tree; }

private:
    static void Insert(HWND tree, HTREEITEM parent, const Node& node) {
        TVINSERTSTRUCTW ins{};
        ins.hParent = parent;
        ins.hInsertAfter = TVI_LAST;
        ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE;
        ins.item.pszText = const_cast<LPWSTR>(node.path.c_str());
        ins.item.lParam = reinterpret_cast<LPARAM>(&node);
        ins.item.stateMask = TVIS_STATEIMAGEMASK;
        ins.item.state = INDEXTOSTATEIMAGEMASK(node.state);
        HTREEITEM item = TreeView_InsertItem(tree, &ins);
        for (const Node& child : node.children)
            Insert(tree, item, child);
    }

    std::thread m_thread;
    std::atomic<DWORD> m_threadId{0};
    HWND m_tree = nullptr;
};

// The job's callback as the backup engine answers it: a checked node is taken whole, a partly checked one is
// walked, an unchecked one is left out; every node goes to the same place below the destination.
struct TreeRun {
    JobRun run; // first: RecordingCallback takes the record as its user data
    HWND tree = nullptr;
    std::u16string source;
    std::u16string destination;
    std::vector<std::u16string> nodes[2]; // visited in the calculation and the copy pass
};

int CALLBACK TreeCallback(HANDLE job, LPVOID userData, DWORD event, DWORD code, HWND tree, TVITEMW* item, LPWSTR source,
                          LPWSTR destination, KOVRA_PROGRESS* progress) {
    auto& ctx = *static_cast<TreeRun*>(userData);
    if (event != KOVRA_CALC_NODE && event != KOVRA_COPY_NODE)
        return RecordingCallback(job, &ctx.run, event, code, tree, item, source, destination, progress);
    EXPECT_EQ(tree, ctx.tree);
    EXPECT_NE(GetWindowThreadProcessId(tree, nullptr), GetCurrentThreadId());
    EXPECT_TRUE(item);
    if (!item)
        return KOVRA_PROGRESS_ABORT;
    EXPECT_EQ(item->mask, 0x5Fu);
    EXPECT_EQ(item->pszText, nullptr);
    const Node& node = *reinterpret_cast<const Node*>(item->lParam);
    ctx.nodes[event == KOVRA_COPY_NODE].push_back(node.path);
    lstrcpynW(source, (ctx.source + u"\\" + node.path).c_str(), 2048);
    lstrcpynW(destination, (ctx.destination + u"\\" + node.path).c_str(), 2048);
    RecordingCallback(job, &ctx.run, event, code, tree, item, source, destination, progress);
    switch (item->state >> 12) {
    case 2:
        return KOVRA_PROGRESS_SKIP_CHILD;
    case 3:
        return KOVRA_PROGRESS_CONTINUE;
    default:
        return KOVRA_PROGRESS_SKIP;
    }
}

class TreeJobTest : public CopyTest {
protected:
    void Run(TreeRun& ctx, HWND tree, DWORD flags = 0x31) {
        ctx.tree = tree;
        ctx.source = Win(u"src");
        ctx.destination = Win(u"dst");
        ctx.run.sourceRoot = ctx.source;
        ctx.run.destinationRoot = ctx.destination;
        ASSERT_EQ(
            KovraCreateJob(&ctx.run.handle, u"tree", tree, nullptr, ctx.destination.c_str(), flags, TreeCallback, &ctx),
            0);
        std::unique_lock lock(ctx.run.mutex);
        if (!ctx.run.changed.wait_for(lock, std::chrono::seconds(60), [&] { return ctx.run.ended; })) {
            ADD_FAILURE() << "the tree job did not end in time";
            std::abort();
        }
    }
};

TEST_F(TreeJobTest, CopiesExactlyTheCheckedSelection) {
    WriteFile("src/dirA/a1.txt", "a1");
    WriteFile("src/dirA/a2.txt", "a2a2");
    WriteFile("src/dirA/sub/a3.txt", "a3");
    WriteFile("src/dirB/b.txt", "b");
    WriteFile("src/f1.txt", "file one");
    WriteFile("src/partial/p1.txt", "p1");
    WriteFile("src/partial/p2.txt", "p2");
    WriteFile("src/partial/p3.txt", "p3");
    WriteFile("src/partial/deeper/d1.txt", "d1");
    WriteFile("src/partial/deeper/d2.txt", "d2");
    WriteFile("src/unchecked/u.txt", "u");
    WriteFile("src/other.txt", "other");

    const std::vector<Node> roots = {
        {u"",
         3,
         {
             {u"dirA", 2, {}},
             {u"f1.txt", 2, {}},
             {u"partial",
              3,
              {{u"partial\\p1.txt", 2, {}},
               {u"partial\\p2.txt", 1, {}},
               {u"partial\\p3.txt", 2, {}},
               {u"partial\\deeper", 3, {{u"partial\\deeper\\d1.txt", 2, {}}, {u"partial\\deeper\\d2.txt", 1, {}}}}}},
             {u"unchecked", 1, {{u"unchecked\\u.txt", 2, {}}}},
             {u"dirB", 2, {}},
         }},
        {u"other.txt", 2, {}}, // a second root item is never visited
    };
    TreeThread gui(roots);
    TreeRun ctx;
    Run(ctx, gui.tree());

    const std::vector<std::u16string> visited = {u"dirA",
                                                 u"f1.txt",
                                                 u"partial",
                                                 u"partial\\p1.txt",
                                                 u"partial\\p2.txt",
                                                 u"partial\\p3.txt",
                                                 u"partial\\deeper",
                                                 u"partial\\deeper\\d1.txt",
                                                 u"partial\\deeper\\d2.txt",
                                                 u"unchecked",
                                                 u"dirB"};
    EXPECT_EQ(ctx.nodes[0], visited);
    EXPECT_EQ(ctx.nodes[1], visited);

    EXPECT_EQ(ReadFile("dst/dirA/a1.txt"), "a1");
    EXPECT_EQ(ReadFile("dst/dirA/a2.txt"), "a2a2");
    EXPECT_EQ(ReadFile("dst/dirA/sub/a3.txt"), "a3");
    EXPECT_EQ(ReadFile("dst/dirB/b.txt"), "b");
    EXPECT_EQ(ReadFile("dst/f1.txt"), "file one");
    EXPECT_EQ(ReadFile("dst/partial/p1.txt"), "p1");
    EXPECT_EQ(ReadFile("dst/partial/p3.txt"), "p3");
    EXPECT_EQ(ReadFile("dst/partial/deeper/d1.txt"), "d1");
    EXPECT_FALSE(Exists("dst/partial/p2.txt"));
    EXPECT_FALSE(Exists("dst/partial/deeper/d2.txt"));
    EXPECT_FALSE(Exists("dst/unchecked"));
    EXPECT_FALSE(Exists("dst/other.txt"));

    const KOVRA_PROGRESS& p = ctx.run.progress;
    EXPECT_EQ(p.dwTotalFiles, 8u);
    EXPECT_EQ(p.dwEstimatedFiles, 8u);
    EXPECT_EQ(p.llTotalFileSize, 2 + 4 + 2 + 1 + 8 + 2 + 2 + 2);
    EXPECT_EQ(p.dwTotalFilesCopied, 8u);
    EXPECT_EQ(p.dwFailedFiles, 0u);
    // dirA/sub, and both whole directory nodes once a second one has come.
    EXPECT_EQ(p.dwTotalDirs, 3u);
    EXPECT_EQ(p.dwTotalDirsCopied, 3u);
    EXPECT_EQ(ctx.run.result, 0);
}

TEST_F(TreeJobTest, ASingleWholeDirectoryNodeIsNotCountedAndAnAbortedNodeEndsThePass) {
    WriteFile("src/only/x.txt", "x");
    WriteFile("src/z.txt", "z");
    const std::vector<Node> roots = {{u"", 3, {{u"only", 2, {}}, {u"z.txt", 2, {}}}}};
    TreeThread gui(roots);
    TreeRun ctx;
    Run(ctx, gui.tree(), 0x11);
    EXPECT_EQ(ctx.run.progress.dwTotalDirs, 0u);
    EXPECT_EQ(ctx.run.progress.dwTotalFiles, 2u);

    // Answer 2 at the first node of the calculation pass ends it, and the copy pass does not run.
    TreeRun aborted;
    struct Abort {
        static int CALLBACK At(HANDLE job, LPVOID userData, DWORD event, DWORD code, HWND tree, TVITEMW* item,
                               LPWSTR source, LPWSTR destination, KOVRA_PROGRESS* progress) {
            int answer = TreeCallback(job, userData, event, code, tree, item, source, destination, progress);
            return event == KOVRA_CALC_NODE ? KOVRA_PROGRESS_ABORT : answer;
        }
    };
    aborted.tree = gui.tree();
    aborted.source = Win(u"src");
    aborted.destination = Win(u"dst2");
    ASSERT_EQ(KovraCreateJob(&aborted.run.handle, u"tree", gui.tree(), nullptr, aborted.destination.c_str(), 0x31,
                             Abort::At, &aborted),
              0);
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard lock(aborted.run.mutex);
        return aborted.run.ended;
    }));
    EXPECT_EQ(aborted.nodes[0], (std::vector<std::u16string>{u"only"}));
    EXPECT_TRUE(aborted.nodes[1].empty());
    EXPECT_FALSE(aborted.run.Has(KOVRA_COPY_BEGIN));
    EXPECT_FALSE(Exists("dst2"));
}

TEST_F(TreeJobTest, CancellingStopsTheWalkAtTheNextNode) {
    std::vector<Node> files;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        WriteFile("src/" + name, name);
        files.push_back({platform::Utf8ToUtf16(name), 2, {}});
    }
    const std::vector<Node> roots = {{u"", 3, files}}; // the tree's items point into these nodes
    TreeThread gui(roots);
    TreeRun ctx;
    int completed = 0;
    ctx.run.answer = [&](JobRun& run, const Event& e) {
        if (e.event == KOVRA_FILE_COPY_COMPLETE && ++completed == 3)
            KovraCancelJob(run.handle);
        return 0;
    };
    Run(ctx, gui.tree());
    EXPECT_EQ(ctx.nodes[1].size(), 3u);
    EXPECT_EQ(ctx.run.Of(KOVRA_FILE_COPY_BEGIN).size(), 3u);
    EXPECT_EQ(ctx.run.progress.dwTotalFilesCopied, 3u);
    EXPECT_EQ(ctx.run.progress.dwFailedFiles, 0u);
    EXPECT_EQ(ctx.run.progress.dwSkippedFiles, 0u);
    EXPECT_EQ(ctx.run.progress.dwCancel, 1u);
    EXPECT_TRUE(Exists("dst/f2.txt"));
    EXPECT_FALSE(Exists("dst/f3.txt"));
    std::vector<DWORD> numbers = ctx.run.Numbers();
    ASSERT_GE(numbers.size(), 2u);
    EXPECT_EQ(numbers[numbers.size() - 2], KOVRA_COPY_END);
    EXPECT_EQ(numbers.back(), KOVRA_JOB_END);
}

// The library as the program loads it: its tree walk reaches the program's own tree view, because the library and
// the program share one window system.
TEST_F(TreeJobTest, TheSharedLibraryReadsTheProgramsTreeView) {
    WriteFile("src/whole/w.txt", "w");
    WriteFile("src/single.txt", "s");
    const std::vector<Node> roots = {{u"", 3, {{u"whole", 2, {}}, {u"single.txt", 2, {}}, {u"skipped", 1, {}}}}};
    TreeThread gui(roots);
    // The library stays mapped after dlclose, as it stays loaded for the life of the program that links it.
    void* library = dlopen(BRANNIC_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(library, nullptr) << dlerror();
    using Create = int (*)(HANDLE*, LPCWSTR, HWND, LPCWSTR, LPCWSTR, DWORD, KOVRA_PROGRESS_ROUTINE, LPVOID);
    auto create = reinterpret_cast<Create>(dlsym(library, "KovraCreateJob"));
    ASSERT_NE(create, nullptr);
    TreeRun ctx;
    ctx.tree = gui.tree();
    ctx.source = Win(u"src");
    ctx.destination = Win(u"dst");
    ctx.run.sourceRoot = ctx.source;
    ctx.run.destinationRoot = ctx.destination;
    ASSERT_EQ(create(&ctx.run.handle, u"tree", gui.tree(), nullptr, ctx.destination.c_str(), 0x31, TreeCallback, &ctx),
              0);
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard lock(ctx.run.mutex);
        return ctx.run.ended;
    }));
    EXPECT_EQ(ctx.nodes[1], (std::vector<std::u16string>{u"whole", u"single.txt", u"skipped"}));
    EXPECT_EQ(ReadFile("dst/whole/w.txt"), "w");
    EXPECT_EQ(ReadFile("dst/single.txt"), "s");
    EXPECT_FALSE(Exists("dst/skipped"));
    dlclose(library);
}

} // namespace
