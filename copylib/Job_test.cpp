// Copy jobs: the event protocol, answers, results, counters, cancellation and the worker's life.

#include "copylib/Brannic.h"
#include "copylib/TestSupport.h"
#include "platform/base/errors.h"
#include "platform/fs/files.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <cstdio>
#include <pthread.h>
#include <thread>
#include <unistd.h>

using namespace copylib_test;

namespace {

class JobTest : public CopyTest {
protected:
    // src: a.txt, b.txt, sub\c.txt
    void MakeSource() {
        WriteFile("src/a.txt", "aaaaaaaaaa");
        WriteFile("src/b.txt", "bbbbbbbbbbbbbbbbbbbb");
        WriteFile("src/sub/c.txt", "cccccccccccccccccccccccccccccc");
    }
};

bool contains(const std::vector<DWORD>& v, DWORD x) {
    return std::find(v.begin(), v.end(), x) != v.end();
}

struct SequenceCase {
    const char* name;
    DWORD flags;
    DWORD answerEvent; // event whose answer is `answer`; other events answer 0
    int answer;
    std::vector<DWORD> head; // expected first events
    std::vector<DWORD> tail; // expected last events
    std::vector<DWORD> absent;
    int result;
};

TEST_F(JobTest, EventSequencesFollowFlagsAndAnswers) {
    const SequenceCase cases[] = {
        {"begin answered 1", 0x32, KOVRA_JOB_BEGIN, 1, {0, 1}, {0, 1}, {16, 32}, 0},
        {"copy pass only", 0x22, 99, 0, {0, 32}, {33, 1}, {16, 17, 19, 20, 21}, 0},
        {"calculation pass only", 0x12, 99, 0, {0, 16}, {17, 1}, {32, 33, 35, 36, 38}, 0},
        {"abort during calculation", 0x32, KOVRA_CALC_FILE_BEGIN, 2, {0, 16}, {17, 1}, {32, 33}, 0},
        {"abort at calculation enter", 0x32, KOVRA_CALC_ENTER_DIR, 2, {0, 16, 19}, {17, 1}, {20, 32}, 0},
        {"no job kind", 0x30, 99, 0, {0, 1}, {0, 1}, {16, 32}, 0},
        // A tree job without a tree view finds no nodes: both passes run over nothing.
        {"tree job without a tree", 0x31, 99, 0, {0, 16, 17, 32, 33, 1}, {33, 1}, {18, 34}, 0},
        {"file job", 0x34, 99, 0, {0, 16, 20, 21, 17, 32, 36}, {38, 33, 1}, {19, 35}, 0},
    };
    for (const SequenceCase& c : cases) {
        SCOPED_TRACE(c.name);
        MakeSource();
        std::filesystem::remove_all(Host("dst"));
        JobRun run;
        run.answer = [&](JobRun&, const Event& e) { return e.event == c.answerEvent ? c.answer : 0; };
        std::u16string source = (c.flags & KOVRA_JOB_FILE) ? Win(u"src\\a.txt") : Win(u"src");
        std::u16string destination = (c.flags & KOVRA_JOB_FILE) ? Win(u"dst\\a.txt") : Win(u"dst");
        ASSERT_EQ(RunJob(run, c.flags, source, destination), 0);
        std::vector<DWORD> numbers = run.Numbers();
        ASSERT_GE(numbers.size(), c.head.size());
        EXPECT_EQ(std::vector<DWORD>(numbers.begin(), numbers.begin() + c.head.size()), c.head);
        EXPECT_EQ(std::vector<DWORD>(numbers.end() - c.tail.size(), numbers.end()), c.tail);
        for (DWORD absent : c.absent)
            EXPECT_FALSE(contains(numbers, absent)) << "event " << absent;
        EXPECT_EQ(run.result, c.result);
    }
}

TEST_F(JobTest, DirectoryJobCopiesTreeAndCountsProgress) {
    MakeSource();
    JobRun run;
    ASSERT_EQ(RunJob(run, 0x32, Win(u"src"), Win(u"dst")), 0);
    EXPECT_EQ(ReadFile("dst/a.txt"), "aaaaaaaaaa");
    EXPECT_EQ(ReadFile("dst/sub/c.txt"), std::string(30, 'c'));
    const KOVRA_PROGRESS& p = run.progress;
    EXPECT_EQ(p.dwEstimatedDirs, 1u);
    EXPECT_EQ(p.dwTotalDirs, 1u);
    EXPECT_EQ(p.dwTotalDirsCopied, 1u);
    EXPECT_EQ(p.dwTotalFiles, 3u);
    EXPECT_EQ(p.dwEstimatedFiles, 3u);
    EXPECT_EQ(p.llTotalFileSize, 60);
    EXPECT_EQ(p.llEstimatedSize, 60);
    EXPECT_EQ(p.dwTotalFilesCopied, 3u);
    EXPECT_EQ(p.llTotalBytesTransferred, 60);
    EXPECT_EQ(p.dwSkippedFiles, 0u);
    EXPECT_EQ(p.dwFailedFiles, 0u);
    EXPECT_EQ(p.dwReserved, 0u);
    EXPECT_EQ(p.dwCancel, 0u);
    // Files of a directory come before its subdirectories.
    std::vector<Event> copies = run.Of(KOVRA_FILE_COPY_COMPLETE);
    ASSERT_EQ(copies.size(), 3u);
    EXPECT_EQ(copies[2].source, Win(u"src\\sub\\c.txt"));
    EXPECT_EQ(copies[2].destination, Win(u"dst\\sub\\c.txt"));

    // Again onto the same destination: everything is the same and left out, but still counted as done.
    JobRun again;
    ASSERT_EQ(RunJob(again, 0x32, Win(u"src"), Win(u"dst")), 0);
    const KOVRA_PROGRESS& q = again.progress;
    EXPECT_EQ(q.dwTotalFiles, 3u);
    EXPECT_EQ(q.dwEstimatedFiles, 0u);
    EXPECT_EQ(q.llEstimatedSize, 0);
    EXPECT_EQ(q.dwSkippedFiles, 3u);
    EXPECT_EQ(q.dwTotalFilesCopied, 0u);
    EXPECT_EQ(q.llTotalBytesTransferred, 60);
    for (const Event& e : again.Of(KOVRA_FILE_COPY_COMPLETE))
        EXPECT_EQ(e.code, KOVRA_ERROR_SKIPPED);
    EXPECT_EQ(again.result, static_cast<int>(KOVRA_ERROR_SKIPPED));
}

// Folders of many files, some of them left out by the callback: each copy is its source's, and nothing else
// appears in the destination folders, nor stays open once the job has ended.
TEST_F(JobTest, ManyFilesCopyExactlyWithSomeLeftOut) {
    for (int folder = 0; folder < 3; ++folder)
        for (int file = 0; file < 90; ++file)
            WriteFile("src/f" + std::to_string(folder) + "/n" + std::to_string(file),
                      std::string(static_cast<size_t>(file * 37 + folder), static_cast<char>('a' + file % 26)));
    const auto descriptors = [] {
        size_t n = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
            ++n;
        return n;
    };
    // A first job opens what the library keeps for the process (its drive table's watch, ...).
    JobRun first;
    ASSERT_EQ(RunJob(first, 0x32, Win(u"src\\f0"), Win(u"first")), 0);
    const size_t descriptorsBefore = descriptors();
    JobRun run;
    run.answer = [](JobRun&, const Event& e) {
        // Every seventh file of f0 and f2 is left out.
        if (e.event == KOVRA_FILE_COPY_BEGIN && e.source.find(u"\\f1\\") == std::u16string::npos) {
            const int number = std::stoi(std::string(e.source.begin() + e.source.rfind(u'n') + 1, e.source.end()));
            return number % 7 == 3 ? KOVRA_PROGRESS_SKIP : KOVRA_PROGRESS_CONTINUE;
        }
        return KOVRA_PROGRESS_CONTINUE;
    };
    ASSERT_EQ(RunJob(run, 0x32, Win(u"src"), Win(u"dst")), 0);
    EXPECT_EQ(run.progress.dwTotalFiles, 270u);
    EXPECT_EQ(run.progress.dwTotalFilesCopied, 270u - 2 * 13);
    EXPECT_EQ(descriptors(), descriptorsBefore);
    for (int folder = 0; folder < 3; ++folder) {
        const std::string from = "src/f" + std::to_string(folder) + "/";
        const std::string to = "dst/f" + std::to_string(folder) + "/";
        std::vector<std::string> expected;
        for (int file = 0; file < 90; ++file) {
            const std::string name = "n" + std::to_string(file);
            if (folder != 1 && file % 7 == 3) {
                EXPECT_FALSE(Exists(to + name)) << to + name;
                continue;
            }
            expected.push_back(name);
            EXPECT_EQ(ReadFile(to + name), ReadFile(from + name)) << to + name;
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(m_drive.Names(to.substr(0, to.size() - 1)), expected);
    }
}

// What a calculation pass reports of a folder, built from the host's own listing of it: each file (begin and
// end) in the listing's order, then each subfolder in the listing's order, after the folder's own entry.
struct Counted {
    std::vector<std::pair<DWORD, std::u16string>> events;
    DWORD files = 0;
    DWORD folders = 0;
    LONGLONG bytes = 0;
};

void ReferenceCount(const std::string& host, const std::u16string& windows, Counted& counted) {
    counted.events.push_back({KOVRA_CALC_ENTER_DIR, windows});
    std::vector<std::string> subfolders;
    for (const auto& entry : std::filesystem::directory_iterator(host)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory()) {
            subfolders.push_back(name);
            continue;
        }
        const std::u16string path = windows + u"\\" + std::u16string(name.begin(), name.end());
        counted.events.push_back({KOVRA_CALC_FILE_BEGIN, path});
        counted.events.push_back({KOVRA_CALC_FILE_END, path});
        ++counted.files;
        counted.bytes += static_cast<LONGLONG>(entry.file_size());
    }
    for (const std::string& name : subfolders) {
        ++counted.folders;
        ReferenceCount(host + "/" + name, windows + u"\\" + std::u16string(name.begin(), name.end()), counted);
    }
}

std::vector<std::pair<DWORD, std::u16string>> CountingEvents(JobRun& run) {
    std::vector<std::pair<DWORD, std::u16string>> events;
    std::lock_guard lock(run.mutex);
    for (const Event& e : run.events)
        if (e.event == KOVRA_CALC_ENTER_DIR || e.event == KOVRA_CALC_FILE_BEGIN || e.event == KOVRA_CALC_FILE_END)
            events.push_back({e.event, e.source});
    return events;
}

// A wide and deep tree is counted entry for entry as a walk of the host's listings counts it, in the same order,
// whether or not the job goes on to copy.
TEST_F(JobTest, CountingReportsWhatAWalkOfTheHostListingsFinds) {
    for (int top = 0; top < 30; ++top) {
        const std::string folder = "src/t" + std::to_string(top);
        MakeDir(folder + "/empty" + std::to_string(top % 3));
        for (int file = 0; file < 4; ++file)
            WriteFile(folder + "/f" + std::to_string(file), std::string(static_cast<size_t>(top * 5 + file), 'x'));
        WriteFile(folder + "/.hidden", "h");
        for (int sub = 0; sub < 3; ++sub)
            for (int file = 0; file < 12; ++file)
                WriteFile(folder + "/s" + std::to_string(sub) + "/g" + std::to_string(file),
                          std::string(static_cast<size_t>(sub * 100 + file), 'y'));
    }
    Counted expected;
    ReferenceCount(Host("src"), Win(u"src"), expected);
    for (DWORD flags : {0x12u, 0x32u}) {
        SCOPED_TRACE(flags);
        JobRun run;
        ASSERT_EQ(RunJob(run, flags, Win(u"src"), Win(flags == 0x12u ? u"none" : u"dst")), 0);
        EXPECT_TRUE(CountingEvents(run) == expected.events) << "the counting pass reported other entries or order";
        EXPECT_EQ(run.progress.dwTotalFiles, expected.files);
        EXPECT_EQ(run.progress.dwEstimatedFiles, expected.files);
        EXPECT_EQ(run.progress.llTotalFileSize, expected.bytes);
        EXPECT_EQ(run.progress.dwTotalDirs, expected.folders);
    }
    EXPECT_EQ(ReadFile("dst/t7/s2/g11"), std::string(211, 'y'));
}

// Folders that go, change or stop being folders while the counting pass is under way are counted as they are when
// the pass comes to them, however far ahead they were read.
TEST_F(JobTest, CountingSeesFoldersAsTheyAreWhenItComesToThem) {
    for (int file = 0; file < 50; ++file)
        WriteFile("src/x/f" + std::to_string(file), "12345");
    for (const char* folder : {"gone", "moved", "grows", "swapped", "k0", "k1", "k2", "k3"})
        for (int file = 0; file < 5; ++file)
            WriteFile(std::string("src/x/") + folder + "/g" + std::to_string(file), "abc");
    JobRun run;
    int seen = 0;
    run.answer = [&](JobRun&, const Event& e) {
        // Once the walk has read x and reported its files, and before it comes to x's folders.
        if (e.event == KOVRA_CALC_FILE_END && ++seen == 50) {
            std::filesystem::remove_all(Host("src/x/gone"));
            std::filesystem::rename(Host("src/x/moved"), Host("src/moved"));
            WriteFile("src/x/grows/new", "0123456789");
            std::filesystem::remove_all(Host("src/x/swapped"));
            WriteFile("src/x/swapped", "now a file");
        }
        return 0;
    };
    ASSERT_EQ(RunJob(run, 0x12, Win(u"src"), Win(u"none")), 0);
    EXPECT_EQ(seen, 50 + 5 + 1 + 4 * 5);
    std::vector<std::u16string> entered;
    for (const Event& e : run.Of(KOVRA_CALC_ENTER_DIR))
        entered.push_back(e.source);
    std::sort(entered.begin(), entered.end());
    EXPECT_EQ(entered, (std::vector<std::u16string>{Win(u"src"), Win(u"src\\x"), Win(u"src\\x\\grows"),
                                                    Win(u"src\\x\\k0"), Win(u"src\\x\\k1"), Win(u"src\\x\\k2"),
                                                    Win(u"src\\x\\k3"), Win(u"src\\x\\swapped")}));
    std::vector<Event> ends = run.Of(KOVRA_CALC_FILE_END);
    EXPECT_TRUE(std::any_of(ends.begin(), ends.end(), [&](const Event& e) {
        return e.source == Win(u"src\\x\\grows\\new") && e.code == 0;
    }));
    for (const Event& e : ends) {
        EXPECT_EQ(e.source.find(u"\\swapped\\"), std::u16string::npos);
        EXPECT_EQ(e.source.find(u"\\gone\\"), std::u16string::npos);
        EXPECT_EQ(e.source.find(u"\\moved\\"), std::u16string::npos);
    }
    EXPECT_EQ(run.progress.dwTotalFiles, 50u + 5 + 1 + 4 * 5);
    EXPECT_EQ(run.progress.llTotalFileSize, 50 * 5 + 5 * 3 + 10 + 4 * 5 * 3);
}

TEST_F(JobTest, ChangesBetweenTheTwoPassesReachTheCopy) {
    // Folders are walked twice; what happens to the source between the passes must show in the copy as it
    // would had the copy pass been the only one.
    WriteFile("src/a.txt", "old");
    WriteFile("src/d/b.txt", "b");
    WriteFile("src/d/c.txt", "c");
    WriteFile("src/e/f.txt", "f");
    JobRun run;
    run.answer = [this](JobRun&, const Event& e) {
        if (e.event == KOVRA_COPY_BEGIN) {
            WriteFile("src/a.txt", "rewritten in place"); // its folder's entries stay as they were
            SetModified("src/a.txt", 1'600'000'000);
            WriteFile("src/d/new.txt", "new");
            EXPECT_EQ(unlink(Host("src/d/c.txt").c_str()), 0);
            EXPECT_EQ(rename(Host("src/e/f.txt").c_str(), Host("src/e/g.txt").c_str()), 0);
        }
        return 0;
    };
    ASSERT_EQ(RunJob(run, 0x32, Win(u"src"), Win(u"dst")), 0);
    EXPECT_EQ(ReadFile("dst/a.txt"), "rewritten in place");
    EXPECT_EQ(Modified("dst/a.txt"), 1'600'000'000);
    EXPECT_EQ(ReadFile("dst/d/b.txt"), "b");
    EXPECT_EQ(ReadFile("dst/d/new.txt"), "new");
    EXPECT_FALSE(Exists("dst/d/c.txt"));
    EXPECT_FALSE(Exists("dst/e/f.txt"));
    EXPECT_EQ(ReadFile("dst/e/g.txt"), "f");
    EXPECT_EQ(run.progress.dwTotalFilesCopied, 4u);
    EXPECT_EQ(run.progress.dwFailedFiles, 0u);
    EXPECT_EQ(run.progress.llTotalBytesTransferred, 18 + 1 + 3 + 1);
    for (const Event& e : run.Of(KOVRA_FILE_COPY_COMPLETE))
        EXPECT_EQ(e.code, 0u) << std::string(e.source.begin(), e.source.end());

    // Onto the copy just made, a file rewritten between the passes with its old size and time kept is not
    // taken for unchanged by what the first pass saw of it.
    SetModified("src/a.txt", 1'600'000'000);
    JobRun again;
    again.answer = [this](JobRun&, const Event& e) {
        if (e.event == KOVRA_COPY_BEGIN) {
            WriteFile("src/a.txt", "REWRITTEN IN PLACE");
            SetModified("src/a.txt", 1'600'000'100);
        }
        return 0;
    };
    ASSERT_EQ(RunJob(again, 0x32, Win(u"src"), Win(u"dst")), 0);
    EXPECT_EQ(ReadFile("dst/a.txt"), "REWRITTEN IN PLACE");

    // A file hidden between the passes, in a folder whose entries stay as they were, is left out of the copy of
    // a job that leaves hidden files out.
    WriteFile("src/h/shown.txt", "s");
    WriteFile("src/h/later.txt", "l");
    JobRun hiding;
    hiding.answer = [this](JobRun&, const Event& e) {
        if (e.event == KOVRA_COPY_BEGIN) {
            EXPECT_TRUE(SetFileAttributesW(Win(u"src\\h\\later.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
        }
        return 0;
    };
    ASSERT_EQ(RunJob(hiding, 0x1032, Win(u"src"), Win(u"hidden")), 0);
    EXPECT_EQ(ReadFile("hidden/h/shown.txt"), "s");
    EXPECT_FALSE(Exists("hidden/h/later.txt"));
}

// A job whose files failed never ends reporting success, whatever its last step was.
TEST_F(JobTest, ResultTellsAFailedFileEvenWhenLaterStepsWentWell) {
    // The only file fails: a directory stands where its copy should go.
    WriteFile("src/f.txt", "data");
    MakeDir("dst/f.txt");
    JobRun failed;
    ASSERT_EQ(RunJob(failed, 0x22, Win(u"src"), Win(u"dst")), 0);
    std::vector<Event> copies = failed.Of(KOVRA_FILE_COPY_COMPLETE);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_NE(copies[0].code, 0u);
    EXPECT_EQ(failed.result, static_cast<int>(copies[0].code));
    EXPECT_EQ(failed.progress.dwFailedFiles, 1u);
    EXPECT_EQ(failed.progress.dwSkippedFiles, 1u);

    // The same failure followed by an empty directory: entering it went well, yet the job tells the failure.
    MakeDir("src/zempty");
    JobRun emptyLast;
    ASSERT_EQ(RunJob(emptyLast, 0x22, Win(u"src"), Win(u"dst")), 0);
    EXPECT_EQ(emptyLast.Numbers().end()[-3], KOVRA_COPY_ENTER_DIR);
    EXPECT_EQ(emptyLast.result, static_cast<int>(copies[0].code));
    EXPECT_TRUE(Exists("dst/zempty"));
    // So does the single-path copy of the same tree.
    EXPECT_EQ(KovraCopyPath(Win(u"src").c_str(), Win(u"dst2").c_str()), 0);
    MakeDir("dst3/f.txt");
    EXPECT_EQ(KovraCopyPath(Win(u"src").c_str(), Win(u"dst3").c_str()), static_cast<int>(copies[0].code));
    EXPECT_TRUE(Exists("dst3/zempty"));
}

size_t thread_count() {
    size_t count = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

TEST_F(JobTest, NullCallbackRunsTheJob) {
    WriteFile("src/a.txt", "payload");
    SetModified("src/a.txt", 1'600'000'000);
    const size_t threadsBefore = thread_count();
    HANDLE job = nullptr;
    ASSERT_EQ(KovraCreateJob(&job, nullptr, nullptr, Win(u"src\\a.txt").c_str(), Win(u"out\\a.txt").c_str(), 0x34,
                             nullptr, nullptr),
              0);
    EXPECT_NE(job, nullptr);
    // Nothing reports the end of a job without a callback: its worker thread going away does. (Should the layer
    // start a thread of its own meanwhile, the count stays higher; the copy's result still decides.)
    // Its last step copies the source's creation time onto the copy; once that is there only closing remains.
    auto creation = [](const std::u16string& path) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
        return (static_cast<uint64_t>(data.ftCreationTime.dwHighDateTime) << 32) | data.ftCreationTime.dwLowDateTime;
    };
    ASSERT_TRUE(Eventually(
        [&] { return Exists("out/a.txt") && creation(Win(u"out\\a.txt")) == creation(Win(u"src\\a.txt")); }));
    Eventually([&] { return thread_count() <= threadsBefore; }, std::chrono::seconds(5));
    EXPECT_EQ(ReadFile("out/a.txt"), "payload");
    EXPECT_EQ(Modified("out/a.txt"), 1'600'000'000);
}

TEST_F(JobTest, ManyShortJobsEachEndOnce) {
    // Jobs that end at once race their creator if the record could be freed before the creator is done with it.
    constexpr int kJobs = 64;
    std::vector<std::unique_ptr<JobRun>> runs;
    for (int i = 0; i < kJobs; ++i) {
        runs.push_back(std::make_unique<JobRun>());
        JobRun& run = *runs.back();
        ASSERT_EQ(KovraCreateJob(&run.handle, u"", nullptr, u"", u"", 0, RecordingCallback, &run), 0);
        EXPECT_NE(run.handle, nullptr);
    }
    for (auto& run : runs) {
        ASSERT_TRUE(Eventually([&] {
            std::lock_guard lock(run->mutex);
            return run->ended;
        }));
        EXPECT_EQ(run->Numbers(), (std::vector<DWORD>{0, 1}));
        EXPECT_EQ(run->result, 0);
    }
}

TEST_F(JobTest, ThreadStartFailureReturnsErrorAndNullHandle) {
    // Make every thread without its own stack size ask for more stack than the address space has.
    pthread_attr_t saved, huge;
    ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
    pthread_attr_init(&huge);
    ASSERT_EQ(pthread_attr_setstacksize(&huge, size_t(1) << 50), 0);
    ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
    JobRun run;
    HANDLE job = reinterpret_cast<HANDLE>(1);
    const size_t threadsBefore = thread_count();
    int created = KovraCreateJob(&job, u"x", nullptr, u"", u"", 0, RecordingCallback, &run);
    pthread_setattr_default_np(&saved);
    pthread_attr_destroy(&huge);
    pthread_attr_destroy(&saved);
    if (created == 0) {
        Eventually([&] {
            std::lock_guard lock(run.mutex);
            return run.ended;
        });
        FAIL() << "could not provoke a thread-start failure: the thread layer no longer uses the default attributes";
    }
    EXPECT_NE(created, 0);
    EXPECT_EQ(job, nullptr);
    // No worker exists that could still call back, and none called back before it went.
    EXPECT_EQ(thread_count(), threadsBefore);
    EXPECT_TRUE(run.Numbers().empty());
}

TEST_F(JobTest, CancelDuringCopyStopsTheJob) {
    // A file large enough for several chunks, then a second file that must never be reached.
    {
        std::filesystem::create_directories(Host("src"));
        std::ofstream(Host("src/a_big.bin"));
        std::filesystem::resize_file(Host("src/a_big.bin"), 256u << 20);
        WriteFile("src/sub/later.txt", "later");
    }
    std::atomic<bool> inCopy{false}, cancelled{false};
    JobRun run;
    run.answer = [&](JobRun&, const Event& e) {
        if (e.event == KOVRA_FILE_COPY_PROGRESS && !inCopy.exchange(true))
            Eventually([&] { return cancelled.load(); }, std::chrono::seconds(30));
        return 0;
    };
    run.sourceRoot = Win(u"src");
    run.destinationRoot = Win(u"dst");
    ASSERT_EQ(KovraCreateJob(&run.handle, u"cancel", nullptr, run.sourceRoot.c_str(), run.destinationRoot.c_str(), 0x22,
                             RecordingCallback, &run),
              0);
    ASSERT_TRUE(Eventually([&] { return inCopy.load(); }));
    EXPECT_EQ(KovraCancelJob(run.handle), 0);
    cancelled = true;
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard lock(run.mutex);
        return run.ended;
    }));
    std::vector<Event> done = run.Of(KOVRA_FILE_COPY_COMPLETE);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].code, ERROR_REQUEST_ABORTED);
    EXPECT_EQ(run.result, static_cast<int>(ERROR_REQUEST_ABORTED));
    EXPECT_EQ(run.progress.dwCancel, 1u);
    EXPECT_FALSE(Exists("dst/a_big.bin"));
    EXPECT_FALSE(Exists("dst/sub"));
    EXPECT_EQ(run.Numbers().back(), KOVRA_JOB_END);
}

TEST_F(JobTest, AbortAnswerToProgressCancelsTheCopy) {
    {
        std::filesystem::create_directories(Host("src"));
        std::ofstream(Host("src/big.bin"));
        std::filesystem::resize_file(Host("src/big.bin"), 64u << 20);
    }
    JobRun run;
    run.answer = [](JobRun&, const Event& e) { return e.event == KOVRA_FILE_COPY_PROGRESS ? 2 : 0; };
    ASSERT_EQ(RunJob(run, 0x24, Win(u"src\\big.bin"), Win(u"dst\\big.bin")), 0);
    std::vector<Event> done = run.Of(KOVRA_FILE_COPY_COMPLETE);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].code, ERROR_REQUEST_ABORTED);
    EXPECT_EQ(run.Of(KOVRA_FILE_COPY_PROGRESS).size(), 1u);
    EXPECT_FALSE(Exists("dst/big.bin"));
}

TEST_F(JobTest, RefusesPathsLongerThanTheBuffers) {
    std::u16string longPath = u"T:\\" + std::u16string(2045, u'a'); // 2048 characters
    HANDLE job = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(KovraCreateJob(&job, u"", nullptr, longPath.c_str(), u"T:\\dst", 0x22, nullptr, nullptr),
              static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(job, nullptr);
    EXPECT_EQ(KovraCreateJob(&job, u"", nullptr, u"T:\\src", longPath.c_str(), 0x22, nullptr, nullptr),
              static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(KovraCopyPath(longPath.c_str(), u"T:\\dst"), static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
}

TEST(JobHandles, NullHandlesAreRefused) {
    EXPECT_EQ(KovraQueryJob(nullptr), 6);
    EXPECT_EQ(KovraCancelJob(nullptr), 6);
    EXPECT_EQ(KovraGetCompleteResult(nullptr), 6);
    EXPECT_EQ(KovraTest(), 0);
    EXPECT_EQ(KovraCreateJob(nullptr, u"", nullptr, u"", u"", 0, nullptr, nullptr), 87);
}

} // namespace

// A handle whose job has ended names nothing: the calls on it give 6 instead of reaching the freed record, and
// it never comes to name a later job, wherever that job's record lies.
TEST_F(JobTest, HandlesOfEndedJobsAreRefused) {
    HANDLE first = nullptr;
    ASSERT_EQ(KovraCreateJob(&first, u"", nullptr, u"", u"", 0, nullptr, nullptr), 0); // events 0 and 1 only
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(Eventually([&] { return KovraGetCompleteResult(first) == 6; }, std::chrono::seconds(10)));
    EXPECT_EQ(KovraCancelJob(first), 6);
    EXPECT_EQ(KovraQueryJob(first), 6);

    std::atomic<bool> release{false};
    JobRun run;
    run.answer = [&](JobRun&, const Event& e) {
        if (e.event == KOVRA_JOB_BEGIN)
            Eventually([&] { return release.load(); });
        return 0;
    };
    ASSERT_EQ(KovraCreateJob(&run.handle, u"", nullptr, u"", u"", 0, RecordingCallback, &run), 0);
    EXPECT_NE(run.handle, first);
    EXPECT_EQ(KovraQueryJob(run.handle), 0);
    EXPECT_EQ(KovraCancelJob(first), 6);
    release = true;
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard lock(run.mutex);
        return run.ended;
    }));
    EXPECT_EQ(run.progress.dwCancel, 0u) << "the later job was cancelled through the ended job's handle";
    EXPECT_EQ(run.result, 0);
}
