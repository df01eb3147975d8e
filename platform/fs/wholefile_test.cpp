#include "platform/fs/wholefile.h"

#include "platform/base/errors.h"
#include "platform/base/unique_handle.h"
#include "platform/fs/files.h"
#include "platform/testing/child_test.h"
#include "platform/testing/eventually.h"
#include "platform/testing/scratch_drive.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <sys/stat.h>
#include <sys/wait.h>

using platform::fs::WholeFile;
using platform::fs::WriteWholeFile;
using Names = std::vector<std::string>;

namespace {

// Every case runs twice: with unnamed files, and with the named temporaries of file systems that lack them.
class WholeFileTest : public testsupport::ScratchDriveTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { platform::fs::detail::ForceNamedTemporariesForTests(GetParam()); }
    void TearDown() override { platform::fs::detail::ForceNamedTemporariesForTests(false); }
    bool Named() const { return GetParam(); }
};

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

} // namespace

TEST_P(WholeFileTest, ReplacesTheTargetWholeOrLeavesItAsItWas) {
    // A new file.
    ASSERT_EQ(WriteWholeFile(m_drive.Host("new.txt"), "fresh"), ERROR_SUCCESS);
    EXPECT_EQ(m_drive.Read("new.txt"), "fresh");

    // A replacement keeps the old content visible until it is committed, and the old file's mode after.
    m_drive.Write("old.txt", "old content");
    ASSERT_EQ(chmod(m_drive.Host("old.txt").c_str(), 0640), 0);
    {
        WholeFile file;
        ASSERT_EQ(file.Begin(m_drive.Host("old.txt")), ERROR_SUCCESS);
        ASSERT_EQ(file.Write("new "), ERROR_SUCCESS);
        ASSERT_EQ(file.Write("content"), ERROR_SUCCESS);
        EXPECT_EQ(m_drive.Read("old.txt"), "old content");
        EXPECT_EQ(m_drive.Names().size(), Named() ? 3u : 2u);
        ASSERT_EQ(file.Commit(), ERROR_SUCCESS);
        EXPECT_EQ(file.Descriptor(), -1);
    }
    EXPECT_EQ(m_drive.Read("old.txt"), "new content");
    EXPECT_EQ(ModeOf(m_drive.Host("old.txt")), 0640u);

    // Content dropped before Commit changes nothing.
    {
        WholeFile file;
        ASSERT_EQ(file.Begin(m_drive.Host("old.txt")), ERROR_SUCCESS);
        ASSERT_EQ(file.Write("never seen"), ERROR_SUCCESS);
    }
    EXPECT_EQ(m_drive.Read("old.txt"), "new content");

    // An existing file kept on request; the same content may then replace it after all.
    {
        WholeFile file;
        ASSERT_EQ(file.Begin(m_drive.Host("old.txt")), ERROR_SUCCESS);
        ASSERT_EQ(file.Write("second"), ERROR_SUCCESS);
        EXPECT_EQ(file.Commit(WholeFile::kKeepExisting), static_cast<DWORD>(ERROR_FILE_EXISTS));
        EXPECT_EQ(m_drive.Read("old.txt"), "new content");
        ASSERT_EQ(file.Commit(0), ERROR_SUCCESS);
    }
    EXPECT_EQ(m_drive.Read("old.txt"), "second");
    EXPECT_EQ(m_drive.Names(), (Names{"new.txt", "old.txt"}));

    // What cannot be replaced is refused before anything is written.
    const struct {
        const char* name;
        DWORD error;
    } refused[] = {{"readonly.txt", ERROR_ACCESS_DENIED},
                   {"folder", ERROR_ACCESS_DENIED},
                   {"missing/file.txt", ERROR_PATH_NOT_FOUND}};
    m_drive.Write("readonly.txt", "kept");
    ASSERT_EQ(chmod(m_drive.Host("readonly.txt").c_str(), 0444), 0);
    m_drive.MakeFolder("folder");
    for (const auto& c : refused) {
        WholeFile file;
        EXPECT_EQ(file.Begin(m_drive.Host(c.name)), c.error) << c.name;
        EXPECT_EQ(file.Write("x"), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    EXPECT_EQ(m_drive.Read("readonly.txt"), "kept");
    EXPECT_EQ(m_drive.Names(), (Names{"folder", "new.txt", "old.txt", "readonly.txt"}));
}

TEST_P(WholeFileTest, ACallerNamedTemporaryTakesTheContentJustBeforeItMoves) {
    // A companion left by an interrupted writer is replaced, and neither it nor the new one stays.
    m_drive.Write("app.log", "old log");
    m_drive.Write("~app.log", "half a log");
    {
        WholeFile file;
        ASSERT_EQ(file.Begin(m_drive.Path("app.log").c_str(), m_drive.Path("~app.log").c_str()), ERROR_SUCCESS);
        ASSERT_EQ(file.Write("new log"), ERROR_SUCCESS);
        ASSERT_EQ(file.Commit(), ERROR_SUCCESS);
    }
    EXPECT_EQ(m_drive.Read("app.log"), "new log");
    EXPECT_EQ(m_drive.Names(), (Names{"app.log"}));

    // A folder in the companion's place stops the write, and the log stays.
    m_drive.MakeFolder("~app.log");
    {
        WholeFile file;
        DWORD error = file.Begin(m_drive.Path("app.log").c_str(), m_drive.Path("~app.log").c_str());
        if (error == ERROR_SUCCESS && (error = file.Write("lost")) == ERROR_SUCCESS)
            error = file.Commit();
        EXPECT_NE(error, static_cast<DWORD>(ERROR_SUCCESS));
    }
    EXPECT_EQ(m_drive.Read("app.log"), "new log");
    EXPECT_EQ(m_drive.Names(), (Names{"app.log", "~app.log"}));
}

TEST_P(WholeFileTest, AnOpenTargetIsReplacedOnlyWhenItsOpenersAllowIt) {
    m_drive.Write("shared.txt", "old");
    WholeFile file;
    ASSERT_EQ(file.Begin(m_drive.Path("shared.txt").c_str()), ERROR_SUCCESS);
    ASSERT_EQ(file.Write("new"), ERROR_SUCCESS);
    {
        // Opened without sharing deletion: no replacement, and the content waits for another try.
        platform::OwnedHandle reader(CreateFileW(m_drive.Path("shared.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                 nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader);
        EXPECT_EQ(file.Commit(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    {
        // Shared for everything: a rename may take the name, a writer that counts as opening it may not.
        platform::OwnedHandle reader(CreateFileW(m_drive.Path("shared.txt").c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader);
        EXPECT_EQ(file.Commit(WholeFile::kExclusive), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(m_drive.Read("shared.txt"), "old");
        EXPECT_EQ(file.Commit(), ERROR_SUCCESS);
    }
    EXPECT_EQ(m_drive.Read("shared.txt"), "new");
    EXPECT_EQ(m_drive.Names(), (Names{"shared.txt"}));
}

// Runs only as the child of the next test: starts new content for the target, writes part of it, says so, and
// waits to be killed.
TEST(WholeFileChild, DISABLED_WritesUntilKilled) {
    const char* target = std::getenv("WHOLEFILE_CHILD_TARGET");
    if (!target)
        FAIL() << "runs only as the child of AWriterKilledMidwayLeavesNothingBehind";
    platform::fs::detail::ForceNamedTemporariesForTests(std::getenv("WHOLEFILE_CHILD_NAMED") != nullptr);
    WholeFile file;
    ASSERT_EQ(file.Begin(target), ERROR_SUCCESS);
    ASSERT_EQ(file.Write(std::string(1 << 20, 'x')), ERROR_SUCCESS);
    testsupport::ReportToParent("writing");
    testsupport::WaitForParent();
}

TEST_P(WholeFileTest, AWriterKilledMidwayLeavesNothingBehind) {
    m_drive.Write("target.txt", "old");
    testsupport::ChildTest::Environment environment{{"WHOLEFILE_CHILD_TARGET", m_drive.Host("target.txt")}};
    if (Named())
        environment.push_back({"WHOLEFILE_CHILD_NAMED", "1"});
    testsupport::ChildTest child("WholeFileChild.DISABLED_WritesUntilKilled", environment);
    ASSERT_EQ(child.ReadLine(), "writing");
    const int status = child.Kill();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(m_drive.Read("target.txt"), "old");

    if (Named()) {
        // The dead writer's temporary is there until the next writer in the folder clears it.
        EXPECT_EQ(m_drive.Names().size(), 2u);
        ASSERT_EQ(WriteWholeFile(m_drive.Host("other.txt"), "other"), ERROR_SUCCESS);
        EXPECT_EQ(m_drive.Names(), (Names{"other.txt", "target.txt"}));
    } else {
        EXPECT_EQ(m_drive.Names(), (Names{"target.txt"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Temporaries, WholeFileTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

namespace {

using platform::fs::UnnamedFileSupply;

size_t OpenDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// Takes a file made ahead in `folder`, waiting (bounded) for the supply's thread to make it.
int TakeMade(UnnamedFileSupply& supply, const std::string& folder) {
    int fd = -1;
    testsupport::Eventually([&] { return (fd = supply.Take(folder)) >= 0; });
    return fd;
}

using UnnamedFileSupplyTest = testsupport::ScratchDriveTest;

} // namespace

// Files made ahead go only to writers in the folder they were made for, no more of them than asked for, and
// those nobody took leave neither a name nor an open descriptor behind.
TEST_F(UnnamedFileSupplyTest, FilesMadeAheadServeTheirFolderOnlyAndLeaveNothingUntaken) {
    m_drive.MakeFolder("a");
    m_drive.MakeFolder("b");
    const std::string a = m_drive.Host("a");
    const std::string b = m_drive.Host("b");
    const size_t descriptorsBefore = OpenDescriptors();
    {
        UnnamedFileSupply supply;
        supply.Stock(a, 2);
        EXPECT_EQ(supply.Take(b), -1);
        const int first = TakeMade(supply, a);
        const int second = TakeMade(supply, a);
        ASSERT_GE(first, 0);
        ASSERT_GE(second, 0);
        EXPECT_EQ(supply.Take(a), -1) << "more files than asked for";
        struct stat st {};
        ASSERT_EQ(fstat(first, &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_nlink, 0u) << "a file made ahead has no name";
        struct stat folder {};
        ASSERT_EQ(stat(a.c_str(), &folder), 0);
        EXPECT_EQ(st.st_dev, folder.st_dev);
        const mode_t mask = umask(0);
        umask(mask);
        EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
        close(first);
        close(second);

        // A new folder: what was made for the last one and not taken is no longer handed out.
        supply.Stock(a, 40);
        ASSERT_TRUE(testsupport::Eventually([&] {
            return OpenDescriptors() >= descriptorsBefore + 5;
        }));
        supply.Stock(b, 40);
        EXPECT_EQ(supply.Take(a), -1);
        const int inB = TakeMade(supply, b);
        EXPECT_GE(inB, 0);
        close(inB);
        // A folder that is not there gets nothing, nor does a path that names no folder.
        supply.Stock(m_drive.Host("missing"), 3);
        supply.Stock(std::string(), 3);
        supply.Stock(b, 30);
    }
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
    EXPECT_EQ(m_drive.Names("a"), Names{});
    EXPECT_EQ(m_drive.Names("b"), Names{});
}

// A writer of a new file given a supply takes its content file from there, names it on commit like any other,
// and meets the same errors as without one.
TEST_F(UnnamedFileSupplyTest, WritersTakeTheirContentFromTheSupplyAndFailAsWithout) {
    m_drive.MakeFolder("out");
    const size_t descriptorsBefore = OpenDescriptors();
    UnnamedFileSupply supply;
    supply.Stock(m_drive.Host("out"), 3);
    // All three are made before anyone takes one, so that the supply has nothing left to make once the writers
    // below have taken the last two (the third makes its own).
    ASSERT_TRUE(testsupport::Eventually([&] { return OpenDescriptors() >= descriptorsBefore + 3; }));
    const int first = supply.Take(m_drive.Host("out"));
    ASSERT_GE(first, 0);
    close(first);
    for (const char* name : {"one.txt", "two.txt", "three.txt"}) {
        WholeFile file;
        ASSERT_EQ(file.Begin(m_drive.Host(std::string("out/") + name), {}, true, &supply), ERROR_SUCCESS);
        ASSERT_EQ(file.Write(name), ERROR_SUCCESS);
        ASSERT_EQ(file.Commit(WholeFile::kKeepExisting), ERROR_SUCCESS);
        EXPECT_EQ(m_drive.Read(std::string("out/") + name), name);
    }
    EXPECT_EQ(supply.Take(m_drive.Host("out")), -1) << "the writers took what was made";
    EXPECT_EQ(m_drive.Names("out"), (Names{"one.txt", "three.txt", "two.txt"}));

    // An existing target keeps the error of a writer that was told it is missing, with or without a supply.
    supply.Stock(m_drive.Host("out"), 2);
    WholeFile taken;
    ASSERT_EQ(taken.Begin(m_drive.Host("out/one.txt"), {}, true, &supply), ERROR_SUCCESS);
    ASSERT_EQ(taken.Write("again"), ERROR_SUCCESS);
    EXPECT_EQ(taken.Commit(WholeFile::kKeepExisting), ERROR_FILE_EXISTS);
    taken.Abandon();
    EXPECT_EQ(m_drive.Read("out/one.txt"), "one.txt");
    WholeFile missing;
    EXPECT_EQ(missing.Begin(m_drive.Host("nowhere/x.txt"), {}, true, &supply), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(m_drive.Names("out"), (Names{"one.txt", "three.txt", "two.txt"}));
}
