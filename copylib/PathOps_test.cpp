// The single-path operations on real files.

#include "copylib/Brannic.h"
#include "copylib/TestSupport.h"
#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/fs/files.h"

#include <filesystem>

using namespace copylib_test;

namespace {

class PathOpsTest : public CopyTest {};

constexpr time_t kBase = 1'600'000'000;

// Closes a handle on scope exit.
struct Held {
    HANDLE handle;
    ~Held() {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

// Runs the layer on a manual clock for the scope and returns to the real one afterwards.
struct ManualClock {
    ManualClock() { platform::clock::UseManualClock(platform::clock::kUnixEpoch + 1'700'000'000LL * 10'000'000); }
    ~ManualClock() { platform::clock::UseRealClock(); }
};

TEST_F(PathOpsTest, CopyFileOntoIdenticalDestinationIsSkipped) {
    WriteFile("src/f.txt", "same");
    WriteFile("dst/f.txt", "SAME");
    SetModified("src/f.txt", kBase);
    SetModified("dst/f.txt", kBase + 1);
    EXPECT_EQ(KovraCopyFile(Win(u"src\\f.txt").c_str(), Win(u"dst\\f.txt").c_str()),
              static_cast<int>(KOVRA_ERROR_SKIPPED));
    EXPECT_EQ(ReadFile("dst/f.txt"), "SAME");
    EXPECT_EQ(Modified("dst/f.txt"), kBase + 1);
}

TEST_F(PathOpsTest, CopyFileCopiesDataAndTimesIntoNewFolders) {
    WriteFile("src/f.txt", "content");
    SetModified("src/f.txt", kBase);
    EXPECT_EQ(KovraCopyFile(Win(u"src\\f.txt").c_str(), Win(u"new\\deeper\\f.txt").c_str()), 0);
    EXPECT_EQ(ReadFile("new/deeper/f.txt"), "content");
    EXPECT_EQ(Modified("new/deeper/f.txt"), kBase);
    EXPECT_EQ(KovraCopyFile(Win(u"src\\missing.txt").c_str(), Win(u"new\\m.txt").c_str()),
              static_cast<int>(ERROR_FILE_NOT_FOUND));
}

TEST_F(PathOpsTest, CopyFileRetriesSharingViolationFiveTimes) {
    WriteFile("src/locked.txt", "locked");
    Held holder{CreateFileW(Win(u"src\\locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
    ASSERT_NE(holder.handle, INVALID_HANDLE_VALUE);
    ManualClock clock;
    uint64_t before = platform::clock::MonotonicMs();
    EXPECT_EQ(KovraCopyFile(Win(u"src\\locked.txt").c_str(), Win(u"dst\\locked.txt").c_str()),
              static_cast<int>(ERROR_SHARING_VIOLATION));
    // Five attempts, each followed by a wait of one second.
    EXPECT_EQ(platform::clock::MonotonicMs() - before, 5000u);
    EXPECT_FALSE(Exists("dst/locked.txt"));
}

TEST_F(PathOpsTest, CopyPathIntoExistingTreeCopiesOnlyWhatDiffers) {
    WriteFile("src/same.txt", "same");
    WriteFile("src/sub/changed.txt", "new version");
    WriteFile("src/sub/added.txt", "added");
    SetModified("src/same.txt", kBase);
    WriteFile("dst/same.txt", "SAME");
    SetModified("dst/same.txt", kBase);
    WriteFile("dst/sub/changed.txt", "old");
    WriteFile("dst/extra.txt", "stays");

    int result = KovraCopyPath(Win(u"src").c_str(), Win(u"dst").c_str());
    EXPECT_TRUE(result == 0 || result == static_cast<int>(KOVRA_ERROR_SKIPPED)) << result;
    EXPECT_EQ(ReadFile("dst/same.txt"), "SAME");
    EXPECT_EQ(ReadFile("dst/sub/changed.txt"), "new version");
    EXPECT_EQ(ReadFile("dst/sub/added.txt"), "added");
    EXPECT_EQ(ReadFile("dst/extra.txt"), "stays");
}

TEST_F(PathOpsTest, CopyPathJoinsRootsWithOneBackslash) {
    WriteFile("src/sub/f.txt", "f");
    struct Case {
        std::u16string source, destination;
        const char* expected;
    } cases[] = {
        {u"src\\", u"d1", "d1/sub/f.txt"},
        {u"src", u"d2\\", "d2/sub/f.txt"},
        {u"src\\", u"d3\\", "d3/sub/f.txt"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KovraCopyPath(Win(c.source).c_str(), Win(c.destination).c_str()), 0);
        EXPECT_EQ(ReadFile(c.expected), "f") << c.expected;
    }
    EXPECT_FALSE(Exists("d1sub"));
}

TEST_F(PathOpsTest, CopyPathOfOneFile) {
    WriteFile("src/one.txt", "1");
    EXPECT_EQ(KovraCopyPath(Win(u"src\\one.txt").c_str(), Win(u"out\\one.txt").c_str()), 0);
    EXPECT_EQ(ReadFile("out/one.txt"), "1");
    EXPECT_EQ(KovraCopyPath(Win(u"src\\one.txt").c_str(), Win(u"out\\one.txt").c_str()),
              static_cast<int>(KOVRA_ERROR_SKIPPED));
}

TEST_F(PathOpsTest, UpdateDirCreatesOrRefreshesTheDestination) {
    MakeDir("src");
    SetModified("src", kBase);
    EXPECT_EQ(KovraUpdateDir(Win(u"src").c_str(), Win(u"made\\here").c_str()), 1);
    EXPECT_TRUE(std::filesystem::is_directory(Host("made/here")));
    EXPECT_EQ(Modified("made/here"), kBase);

    MakeDir("existing");
    EXPECT_EQ(KovraUpdateDir(Win(u"src").c_str(), Win(u"existing").c_str()), 1);
    EXPECT_EQ(Modified("existing"), kBase);

    WriteFile("afile", "x");
    EXPECT_EQ(KovraUpdateDir(Win(u"src").c_str(), Win(u"afile").c_str()), 0);
    EXPECT_EQ(KovraUpdateDir(Win(u"src").c_str(), u"Q:\\nowhere\\x"), 0);
}

TEST_F(PathOpsTest, RemovePathRemovesReadOnlyAndHiddenButNotWhatLinksPointAt) {
    WriteFile("victim/ro.txt", "r");
    WriteFile("victim/hidden/inner.txt", "i");
    WriteFile("victim/deep/er/file.txt", "f");
    WriteFile("outside/keep.txt", "keep");
    WriteFile("outside/nested/keep2.txt", "keep");
    ASSERT_TRUE(SetFileAttributesW(Win(u"victim\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesW(Win(u"victim\\hidden").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW(Win(u"outside\\keep.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    std::filesystem::create_directory_symlink(Host("outside"), Host("victim/deep/link"));
    std::filesystem::create_symlink(Host("outside/keep.txt"), Host("victim/filelink"));

    EXPECT_EQ(KovraRemovePath(Win(u"victim").c_str()), 0);
    EXPECT_FALSE(Exists("victim"));
    EXPECT_EQ(ReadFile("outside/keep.txt"), "keep");
    EXPECT_EQ(ReadFile("outside/nested/keep2.txt"), "keep");
    // The link target's attributes were not touched either.
    EXPECT_NE(GetFileAttributesW(Win(u"outside\\keep.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(PathOpsTest, RemovePathOfALinkRemovesOnlyTheLink) {
    WriteFile("outside/keep.txt", "keep");
    std::filesystem::create_directory_symlink(Host("outside"), Host("link"));
    EXPECT_EQ(KovraRemovePath(Win(u"link").c_str()), 0);
    EXPECT_FALSE(Exists("link"));
    EXPECT_EQ(ReadFile("outside/keep.txt"), "keep");

    // Named with a trailing backslash, the link is still the link and not the folder behind it.
    std::filesystem::create_directory_symlink(Host("outside"), Host("link2"));
    EXPECT_EQ(KovraRemovePath(Win(u"link2\\").c_str()), 0);
    EXPECT_FALSE(Exists("link2"));
    EXPECT_EQ(ReadFile("outside/keep.txt"), "keep");
}

TEST_F(PathOpsTest, RemovePathOfFiles) {
    WriteFile("ro.txt", "r");
    ASSERT_TRUE(SetFileAttributesW(Win(u"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(KovraRemovePath(Win(u"ro.txt").c_str()), 0);
    EXPECT_FALSE(Exists("ro.txt"));
    EXPECT_EQ(KovraRemovePath(Win(u"ro.txt").c_str()), static_cast<int>(ERROR_FILE_NOT_FOUND));
}

TEST_F(PathOpsTest, RenameIsDirectoryAndAreFilesEqual) {
    WriteFile("a.txt", "abc");
    MakeDir("dir");
    EXPECT_EQ(KovraRenamePath(Win(u"a.txt").c_str(), Win(u"b.txt").c_str()), 0);
    EXPECT_EQ(ReadFile("b.txt"), "abc");
    EXPECT_EQ(KovraRenamePath(Win(u"a.txt").c_str(), Win(u"c.txt").c_str()), static_cast<int>(ERROR_FILE_NOT_FOUND));

    EXPECT_EQ(KovraIsDirectory(Win(u"dir").c_str()), 1);
    EXPECT_EQ(KovraIsDirectory(Win(u"b.txt").c_str()), 0);
    EXPECT_EQ(KovraIsDirectory(Win(u"missing").c_str()), 0);

    WriteFile("c.txt", "xyz");
    SetModified("b.txt", kBase);
    SetModified("c.txt", kBase + 1);
    EXPECT_EQ(KovraAreFilesEqual(Win(u"b.txt").c_str(), Win(u"c.txt").c_str()), 1);
    SetModified("c.txt", kBase + 2);
    EXPECT_EQ(KovraAreFilesEqual(Win(u"b.txt").c_str(), Win(u"c.txt").c_str()), 0);
    EXPECT_EQ(KovraAreFilesEqual(Win(u"b.txt").c_str(), Win(u"missing").c_str()), 0);
}

} // namespace
