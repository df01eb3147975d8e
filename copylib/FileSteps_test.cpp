// The file steps: pre-checks, the copy with its retries, times and attributes, and the shared helpers.

#include "copylib/FileSteps.h"
#include "copylib/TestSupport.h"
#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/fs/files.h"

#include <filesystem>

using namespace copylib_test;

namespace {

class FileStepsTest : public CopyTest {};

constexpr time_t kBase = 1'600'000'000;

struct SameFileCase {
    const char* name;
    const char* destinationContent;
    time_t destinationOffset; // seconds after the source's last write
    DWORD flags;
    DWORD expectedCode; // of event 38
};

TEST_F(FileStepsTest, SameLookingFilesAreLeftOut) {
    const SameFileCase cases[] = {
        {"same size, same second", "12345", 0, 0x24, KOVRA_ERROR_SKIPPED},
        {"same size, 1 s apart", "12345", 1, 0x24, KOVRA_ERROR_SKIPPED},
        {"same size, 1 s earlier", "12345", -1, 0x24, KOVRA_ERROR_SKIPPED},
        {"same size, 1 s apart, always copy", "12345", 1, 0x824, 0},
        {"same size, 2 s apart", "12345", 2, 0x24, 0},
        {"other size, same time", "123456", 0, 0x24, 0},
    };
    for (const SameFileCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile("src/f.txt", "abcde");
        SetModified("src/f.txt", kBase);
        WriteFile("dst/f.txt", c.destinationContent);
        SetModified("dst/f.txt", kBase + c.destinationOffset);
        JobRun run;
        ASSERT_EQ(RunJob(run, c.flags, Win(u"src\\f.txt"), Win(u"dst\\f.txt")), 0);
        std::vector<Event> done = run.Of(KOVRA_FILE_COPY_COMPLETE);
        ASSERT_EQ(done.size(), 1u);
        EXPECT_EQ(done[0].code, c.expectedCode);
        EXPECT_EQ(ReadFile("dst/f.txt"), c.expectedCode == 0 ? "abcde" : c.destinationContent);
        EXPECT_EQ(run.Has(KOVRA_FILE_COPY_PROGRESS), c.expectedCode == 0);
    }
}

TEST_F(FileStepsTest, FailIfExistsReportsFileExistsAndRetryOverwrites) {
    struct Case {
        int answer;
        const char* expected;
        DWORD skipped;
        size_t completions;
    } cases[] = {{KOVRA_PROGRESS_RETRY, "new", 0, 2}, {KOVRA_PROGRESS_CONTINUE, "old!", 1, 1}, {5, "old!", 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        WriteFile("src/f.txt", "new");
        WriteFile("dst/f.txt", "old!");
        JobRun run;
        run.answer = [&](JobRun&, const Event& e) {
            return (e.event == KOVRA_FILE_COPY_COMPLETE && e.code == ERROR_FILE_EXISTS) ? c.answer : 0;
        };
        ASSERT_EQ(RunJob(run, 0x224, Win(u"src\\f.txt"), Win(u"dst\\f.txt")), 0);
        std::vector<Event> done = run.Of(KOVRA_FILE_COPY_COMPLETE);
        ASSERT_EQ(done.size(), c.completions);
        EXPECT_EQ(done[0].code, ERROR_FILE_EXISTS);
        EXPECT_EQ(ReadFile("dst/f.txt"), c.expected);
        EXPECT_EQ(run.progress.dwFailedFiles, 1u);
        EXPECT_EQ(run.progress.dwSkippedFiles, c.skipped);
        EXPECT_EQ(run.progress.dwTotalFilesCopied, c.skipped ? 0u : 1u);
    }
}

TEST_F(FileStepsTest, CopyClearsSourceArchiveBitAndCopiesTimes) {
    WriteFile("src/f.txt", "data");
    ASSERT_TRUE(SetFileAttributesW(Win(u"src\\f.txt").c_str(), FILE_ATTRIBUTE_ARCHIVE));
    SetModified("src/f.txt", kBase);
    JobRun run;
    ASSERT_EQ(RunJob(run, 0x24, Win(u"src\\f.txt"), Win(u"dst\\deep\\f.txt")), 0);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(ReadFile("dst/deep/f.txt"), "data");
    EXPECT_EQ(GetFileAttributesW(Win(u"src\\f.txt").c_str()) & FILE_ATTRIBUTE_ARCHIVE, 0u);
    WIN32_FILE_ATTRIBUTE_DATA a{}, b{};
    ASSERT_TRUE(GetFileAttributesExW(Win(u"src\\f.txt").c_str(), GetFileExInfoStandard, &a));
    ASSERT_TRUE(GetFileAttributesExW(Win(u"dst\\deep\\f.txt").c_str(), GetFileExInfoStandard, &b));
    EXPECT_EQ(CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime), 0);
    EXPECT_EQ(CompareFileTime(&a.ftCreationTime, &b.ftCreationTime), 0);
}

TEST_F(FileStepsTest, ReadOnlyDestinationIsReplaced) {
    WriteFile("src/f.txt", "fresh");
    WriteFile("dst/f.txt", "stale content");
    ASSERT_TRUE(SetFileAttributesW(Win(u"dst\\f.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    // Also with flags that read the source's attributes: the destination's own read-only bit must go.
    for (DWORD flags : {0x24u, 0x1024u}) {
        SCOPED_TRACE(flags);
        WriteFile("src/f.txt", flags == 0x24u ? "fresh" : "fresher");
        JobRun run;
        ASSERT_EQ(RunJob(run, flags, Win(u"src\\f.txt"), Win(u"dst\\f.txt")), 0);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(ReadFile("dst/f.txt"), flags == 0x24u ? "fresh" : "fresher");
        ASSERT_TRUE(SetFileAttributesW(Win(u"dst\\f.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    }
}

TEST_F(FileStepsTest, NoOverwriteLeavesExistingDestinations) {
    WriteFile("src/f.txt", "new");
    WriteFile("dst/f.txt", "old!");
    JobRun run;
    ASSERT_EQ(RunJob(run, 0x134, Win(u"src\\f.txt"), Win(u"dst\\f.txt")), 0);
    EXPECT_EQ(ReadFile("dst/f.txt"), "old!");
    EXPECT_EQ(run.Of(KOVRA_FILE_COPY_COMPLETE)[0].code, KOVRA_ERROR_SKIPPED);
    EXPECT_EQ(run.progress.dwTotalFiles, 1u);
    EXPECT_EQ(run.progress.dwEstimatedFiles, 0u);
    EXPECT_EQ(run.progress.llTotalFileSize, 3);
    EXPECT_EQ(run.progress.llTotalBytesTransferred, 3);
}

TEST_F(FileStepsTest, CalculationReportsAMissingSource) {
    JobRun run;
    ASSERT_EQ(RunJob(run, 0x14, Win(u"src\\none.txt"), Win(u"dst\\none.txt")), 0);
    std::vector<Event> end = run.Of(KOVRA_CALC_FILE_END);
    ASSERT_EQ(end.size(), 1u);
    EXPECT_TRUE(end[0].code == ERROR_FILE_NOT_FOUND || end[0].code == ERROR_PATH_NOT_FOUND) << end[0].code;
    EXPECT_EQ(run.progress.dwTotalFiles, 0u);
    // A drive that does not exist is the pre-check's own error.
    JobRun noDrive;
    ASSERT_EQ(RunJob(noDrive, 0x14, Win(u"src\\none.txt"), u"Q:\\x.txt"), 0);
    EXPECT_NE(noDrive.Of(KOVRA_CALC_FILE_END)[0].code, 0u);
    // The same for every file of a directory job.
    WriteFile("src/a.txt", "a");
    WriteFile("src/sub/b.txt", "b");
    JobRun directory;
    ASSERT_EQ(RunJob(directory, 0x12, Win(u"src"), u"Q:\\dst"), 0);
    ASSERT_EQ(directory.Of(KOVRA_CALC_FILE_END).size(), 2u);
    for (const Event& e : directory.Of(KOVRA_CALC_FILE_END))
        EXPECT_NE(e.code, 0u);
    EXPECT_EQ(directory.progress.dwTotalFiles, 0u);
}

TEST_F(FileStepsTest, BuildDirectoryMakesParentsAndReportsExisting) {
    EXPECT_EQ(build_directory(Win(u"a\\b\\c\\").c_str()), 0u);
    EXPECT_TRUE(std::filesystem::is_directory(Host("a/b/c")));
    EXPECT_EQ(build_directory(Win(u"a\\b\\c").c_str()), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(build_directory(u"noslash"), 0u);
    EXPECT_EQ(build_directory(nullptr), 0u);
}

TEST_F(FileStepsTest, HelpersAnswerAsDocumented) {
    WriteFile("f.txt", "x");
    MakeDir("d");
    EXPECT_TRUE(drive_exists(u"T:\\anything"));
    EXPECT_TRUE(drive_exists(u"\\\\?\\T:\\anything"));
    EXPECT_TRUE(drive_exists(u"\\\\server\\share"));
    EXPECT_FALSE(drive_exists(u"Q:\\x"));
    EXPECT_FALSE(skip_directory(0, u"T:\\"));
    EXPECT_FALSE(skip_directory(0x1000, Win(u"d").c_str()));
    EXPECT_TRUE(skip_directory(0, Win(u"missing").c_str()));
    ASSERT_TRUE(SetFileAttributesW(Win(u"d").c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(skip_directory(0x1000, Win(u"d").c_str()));
    EXPECT_FALSE(skip_directory(0, Win(u"d").c_str()));
    LONGLONG size = -1;
    EXPECT_FALSE(are_same_file(Win(u"missing").c_str(), Win(u"f.txt").c_str(), &size));
    EXPECT_EQ(size, 0);
    EXPECT_TRUE(are_same_file(Win(u"f.txt").c_str(), Win(u"f.txt").c_str(), &size));
    EXPECT_EQ(size, 1);
}

TEST_F(FileStepsTest, SyncFileTimeKeepsReadOnlyDestination) {
    WriteFile("a.txt", "a");
    WriteFile("b.txt", "b");
    SetModified("a.txt", kBase);
    ASSERT_TRUE(SetFileAttributesW(Win(u"b.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(sync_file_time(Win(u"a.txt").c_str(), Win(u"b.txt").c_str()));
    EXPECT_EQ(Modified("b.txt"), kBase);
    EXPECT_NE(GetFileAttributesW(Win(u"b.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_FALSE(sync_file_time(Win(u"missing").c_str(), Win(u"b.txt").c_str()));
}

} // namespace
