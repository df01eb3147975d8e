// The directory walk and its handlers: patterns, names ending in '.', hidden entries, links, long paths and the
// whole-directory nodes of tree jobs.

#include "copylib/Job.h"
#include "copylib/TestSupport.h"
#include "copylib/Walk.h"
#include "platform/base/errors.h"
#include "platform/fs/files.h"

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <unistd.h>

using namespace copylib_test;

namespace {

class WalkTest : public CopyTest {};

struct Step {
    int type;
    std::u16string path;
};

std::vector<Step>* g_steps = nullptr;

int recording_handler(int type, KOVRA_JOB*, void* data) {
    g_steps->push_back({type, static_cast<WALK_RECORD*>(data)->szPath});
    return 0;
}

std::vector<Step> walk(const std::u16string& directory) {
    std::vector<Step> steps;
    g_steps = &steps;
    BOOL cancel = FALSE;
    start_dir_walk(directory.c_str(), recording_handler, nullptr, &cancel);
    g_steps = nullptr;
    return steps;
}

TEST_F(WalkTest, TrailingBackslashOrNotFindsTheSameEntries) {
    WriteFile("src/a.txt", "a");
    WriteFile("src/d/b.txt", "b");
    for (const std::u16string& root : {Win(u"src"), Win(u"src\\")}) {
        SCOPED_TRACE(std::string(root.begin(), root.end()));
        std::vector<Step> steps = walk(root);
        ASSERT_EQ(steps.size(), 6u);
        EXPECT_EQ(steps[0].type, WALK_ENTER_DIR);
        EXPECT_EQ(steps[1].type, WALK_MEET_FILE);
        EXPECT_EQ(steps[1].path, Win(u"src\\a.txt"));
        EXPECT_EQ(steps[2].type, WALK_ENTER_DIR);
        EXPECT_EQ(steps[2].path, Win(u"src\\d"));
        EXPECT_EQ(steps[3].path, Win(u"src\\d\\b.txt"));
        EXPECT_EQ(steps[4].type, WALK_LEAVE_DIR);
        EXPECT_EQ(steps[5].type, WALK_LEAVE_DIR);
        EXPECT_EQ(steps[5].path, root);
    }
}

TEST_F(WalkTest, DirectoryNamedWithTrailingDotIsWalked) {
    WriteFile("src/x./inside.txt", "kept");
    JobRun run;
    ASSERT_EQ(RunJob(run, 0x32, Win(u"src"), Win(u"dst")), 0);
    EXPECT_EQ(ReadFile("dst/x./inside.txt"), "kept");
    EXPECT_EQ(run.progress.dwTotalDirs, 1u);
    EXPECT_EQ(run.progress.dwTotalFilesCopied, 1u);
}

TEST_F(WalkTest, SkipHiddenLeavesHiddenFilesAndDirectoriesOut) {
    WriteFile("src/shown.txt", "s");
    WriteFile("src/hidden.txt", "h");
    WriteFile("src/.dotted", "d");
    WriteFile("src/secret/inner.txt", "i");
    ASSERT_TRUE(SetFileAttributesW(Win(u"src\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW(Win(u"src\\secret").c_str(), FILE_ATTRIBUTE_HIDDEN));

    JobRun run;
    ASSERT_EQ(RunJob(run, 0x1032, Win(u"src"), Win(u"dst")), 0);
    EXPECT_TRUE(Exists("dst/shown.txt"));
    EXPECT_FALSE(Exists("dst/hidden.txt"));
    EXPECT_FALSE(Exists("dst/.dotted"));
    EXPECT_FALSE(Exists("dst/secret"));
    // Left out silently: no event names them.
    for (const Event& e : run.Of(KOVRA_CALC_FILE_BEGIN))
        EXPECT_EQ(e.source, Win(u"src\\shown.txt"));
    EXPECT_EQ(run.progress.dwTotalFiles, 1u);
    EXPECT_EQ(run.progress.dwTotalDirs, 0u);

    // Without the flag everything goes.
    JobRun all;
    ASSERT_EQ(RunJob(all, 0x32, Win(u"src"), Win(u"all")), 0);
    EXPECT_TRUE(Exists("all/hidden.txt"));
    EXPECT_TRUE(Exists("all/.dotted"));
    EXPECT_TRUE(Exists("all/secret/inner.txt"));
}

TEST_F(WalkTest, LinksToDirectoriesAreNotFollowed) {
    WriteFile("outside/precious.txt", "p");
    WriteFile("src/a.txt", "a");
    MakeDir("src/sub");
    std::filesystem::create_directory_symlink(Host("outside"), Host("src/out_link"));
    std::filesystem::create_directory_symlink(Host("src"), Host("src/sub/loop"));

    std::vector<Step> steps = walk(Win(u"src"));
    int enters = 0;
    for (const Step& s : steps) {
        EXPECT_EQ(s.path.find(u"precious"), std::u16string::npos);
        EXPECT_EQ(s.path.find(u"loop\\"), std::u16string::npos);
        enters += s.type == WALK_ENTER_DIR;
    }
    EXPECT_EQ(enters, 2); // src and src\sub only
    // The links themselves are met as entries.
    bool metLink = false;
    for (const Step& s : steps)
        metLink |= s.type == WALK_MEET_FILE && s.path == Win(u"src\\out_link");
    EXPECT_TRUE(metLink);

    // A job copies nothing from behind the links and reports the link it could not copy as a file's error.
    JobRun run;
    ASSERT_EQ(RunJob(run, 0x32, Win(u"src"), Win(u"dst")), 0);
    EXPECT_TRUE(Exists("dst/a.txt"));
    EXPECT_FALSE(Exists("dst/out_link/precious.txt"));
    EXPECT_FALSE(Exists("dst/sub/loop"));
    bool linkReported = false;
    for (const Event& e : run.Of(KOVRA_FILE_COPY_COMPLETE))
        linkReported |= e.source == Win(u"src\\out_link") && e.code != 0;
    EXPECT_TRUE(linkReported);
}

TEST_F(WalkTest, TooLongChildPathIsReportedNotCut) {
    // Nest directories until a file's full path passes 2047 characters.
    std::string relative = "src";
    std::u16string windows = u"src";
    const std::string name(200, 'n');
    while (windows.size() + 3 < 1900) {
        relative += "/" + name;
        windows += u"\\" + std::u16string(name.begin(), name.end());
    }
    const std::string fileName(200, 'f');
    WriteFile(relative + "/" + fileName, "deep");
    WriteFile("src/short.txt", "short");

    JobRun run;
    ASSERT_EQ(RunJob(run, 0x32, Win(u"src"), Win(u"dst")), 0);
    bool reported = false;
    for (const Event& e : run.Of(KOVRA_FILE_COPY_COMPLETE)) {
        EXPECT_LT(e.source.size(), 2048u);
        if (e.code == ERROR_FILENAME_EXCED_RANGE) {
            reported = true;
            EXPECT_EQ(e.source, Win(windows)); // the directory that holds it
        }
    }
    EXPECT_TRUE(reported);
    bool measured = false;
    for (const Event& e : run.Of(KOVRA_CALC_FILE_END))
        measured |= e.code == ERROR_FILENAME_EXCED_RANGE;
    EXPECT_TRUE(measured);
    EXPECT_TRUE(Exists("dst/short.txt"));
    EXPECT_GE(run.progress.dwFailedFiles, 1u);
    // Nothing was written under a shortened name.
    for (auto& entry : std::filesystem::recursive_directory_iterator(Host("dst")))
        EXPECT_NE(entry.path().filename().string().substr(0, 5), std::string(5, 'f'));
}

TEST_F(WalkTest, CopyEnterAnsweredSkipStillCreatesTheDirectory) {
    WriteFile("src/a.txt", "a");
    WriteFile("src/sub/b.txt", "b");
    JobRun run;
    run.answer = [](JobRun&, const Event& e) {
        return (e.event == KOVRA_COPY_ENTER_DIR && e.source.ends_with(u"sub")) ? 1 : 0;
    };
    ASSERT_EQ(RunJob(run, 0x22, Win(u"src"), Win(u"dst")), 0);
    EXPECT_TRUE(Exists("dst/a.txt"));
    EXPECT_TRUE(std::filesystem::is_directory(Host("dst/sub")));
    EXPECT_TRUE(std::filesystem::is_empty(Host("dst/sub")));
}

TEST_F(WalkTest, CancelFlagStopsTheWalk) {
    WriteFile("src/a.txt", "a");
    BOOL cancel = TRUE;
    std::vector<Step> steps;
    g_steps = &steps;
    EXPECT_EQ(start_dir_walk(Win(u"src").c_str(), recording_handler, nullptr, &cancel), 2);
    g_steps = nullptr;
    EXPECT_TRUE(steps.empty());
}

// Open descriptors of this process on a host folder.
int descriptors_on(const std::string& folder) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == std::filesystem::path(folder))
            ++count;
    }
    return count;
}

// An exception that unwinds through the walk (memory running out in a handler, for one) closes the listing it
// leaves.
TEST_F(WalkTest, ListingIsClosedWhenAnExceptionUnwindsThroughTheWalk) {
    WriteFile("src/a.txt", "a");
    WriteFile("src/b.txt", "b");
    BOOL cancel = FALSE;
    auto throwing = [](int type, KOVRA_JOB*, void*) -> int {
        if (type == WALK_MEET_FILE)
            throw std::bad_alloc();
        return 0;
    };
    EXPECT_THROW(start_dir_walk(Win(u"src").c_str(), throwing, nullptr, &cancel), std::bad_alloc);
    EXPECT_EQ(descriptors_on(Host("src")), 0);
}

// Whole-directory nodes of tree jobs, driven through the node handlers as the tree walk will call them.
TEST_F(WalkTest, WholeDirectoryNodesCountFromTheSecondOn) {
    WriteFile("one/a.txt", "a");
    WriteFile("two/b.txt", "b");
    WriteFile("three/c.txt", "c");
    JobRun run;
    auto job = std::make_unique<KOVRA_JOB>();
    job->hJob = reinterpret_cast<HANDLE>(job.get());
    job->nCalcFirstDir = -1;
    job->nCopyFirstDir = -1;
    job->dwFlags = 0x31;
    job->pfnCallback = RecordingCallback;
    job->pUserData = &run;
    copy_path(job->szDestRoot, Win(u"dst").c_str());

    copy_path(job->szSourceRoot, Win(u"one").c_str());
    EXPECT_EQ(calc_tree_progress_callback(WALK_MEET_NODE, job.get(), nullptr), 0);
    ASSERT_EQ(run.Of(KOVRA_CALC_NODE).size(), 1u);
    EXPECT_EQ(run.Of(KOVRA_CALC_NODE)[0].destination, Win(u"dst"));
    EXPECT_EQ(calc_tree_progress_callback(WALK_ENTER_DIR, job.get(), nullptr), 0);
    EXPECT_EQ(job->Progress.dwTotalDirs, 0u); // a single whole directory is not counted
    EXPECT_EQ(job->Progress.dwTotalFiles, 1u);

    copy_path(job->szSourceRoot, Win(u"two").c_str());
    EXPECT_EQ(calc_tree_progress_callback(WALK_ENTER_DIR, job.get(), nullptr), 0);
    EXPECT_EQ(job->Progress.dwTotalDirs, 2u); // both counted once a second one follows
    EXPECT_EQ(job->Progress.dwEstimatedDirs, 2u);

    copy_path(job->szSourceRoot, Win(u"three").c_str());
    EXPECT_EQ(calc_tree_progress_callback(WALK_ENTER_DIR, job.get(), nullptr), 0);
    EXPECT_EQ(job->Progress.dwTotalDirs, 3u);

    // A whole file node is copied to the destination the callback gave it.
    copy_path(job->szSourceRoot, Win(u"one\\a.txt").c_str());
    copy_path(job->szFileDest, Win(u"dst\\file.txt").c_str());
    EXPECT_EQ(copy_tree_progress_callback(WALK_MEET_FILE, job.get(), nullptr), 0);
    EXPECT_EQ(ReadFile("dst/file.txt"), "a");
}

} // namespace
