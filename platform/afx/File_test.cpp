#include "platform/afx/File.h"
#include "platform/afx/FileFind.h"
#include "platform/afx/StdioFile.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/fs/files.h"
#include "platform/testing/scratch_drive.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace {

using FileTest = testsupport::ScratchDriveTest;

TEST_F(FileTest, OpenModesReadWriteSeekAndLength) {
    CFile file;
    ASSERT_TRUE(file.Open(u"T:\\data.bin", CFile::modeCreate | CFile::modeReadWrite));
    EXPECT_TRUE(file.GetFileName() == u"data.bin");
    EXPECT_TRUE(file.GetFileTitle() == u"data");
    EXPECT_TRUE(file.GetFilePath() == u"T:\\data.bin");
    file.Write("hello world", 11);
    EXPECT_EQ(file.GetLength(), 11u);
    EXPECT_EQ(file.Seek(6, CFile::begin), 6u);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 5u);
    EXPECT_STREQ(buffer, "world");
    EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 0u); // at the end: nothing, no exception
    file.SetLength(5);
    EXPECT_EQ(file.SeekToEnd(), 5u);
    file.Close();
    EXPECT_EQ(file.m_hFile, CFile::hFileNull);
    EXPECT_EQ(m_drive.Read("data.bin"), "hello");

    // modeNoTruncate keeps the content; modeCreate alone empties it.
    ASSERT_TRUE(file.Open(u"T:\\data.bin", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite));
    file.SeekToEnd();
    file.Write("!", 1);
    file.Close();
    EXPECT_EQ(m_drive.Read("data.bin"), "hello!");
    ASSERT_TRUE(file.Open(u"T:\\data.bin", CFile::modeCreate | CFile::modeWrite));
    file.Close();
    EXPECT_EQ(m_drive.Read("data.bin"), "");
}

TEST_F(FileTest, FailuresAreBooleansOrExceptionsWhereTheFrameworkThrows) {
    struct Case {
        const char16_t* path;
        UINT flags;
        int cause;
        DWORD osError;
    };
    const Case cases[] = {
        {u"T:\\missing.txt", CFile::modeRead, CFileException::fileNotFound, ERROR_FILE_NOT_FOUND},
        {u"T:\\no folder\\x.txt", CFile::modeRead, CFileException::badPath, ERROR_PATH_NOT_FOUND},
        {u"T:\\no folder\\x.txt", CFile::modeCreate | CFile::modeWrite, CFileException::badPath, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        CFile file;
        CFileException error;
        EXPECT_FALSE(file.Open(c.path, c.flags, &error));
        EXPECT_EQ(error.m_cause, c.cause);
        EXPECT_EQ(static_cast<DWORD>(error.m_lOsError), c.osError);
        EXPECT_TRUE(error.m_strFileName == c.path);
        EXPECT_FALSE(file.Open(c.path, c.flags)); // without a record: just FALSE
    }

    // The opening constructor throws a heap exception that the catcher deletes.
    bool caught = false;
    try {
        CFile file(u"T:\\missing.txt", CFile::modeRead);
    } catch (CFileException* e) {
        caught = true;
        EXPECT_EQ(e->m_cause, CFileException::fileNotFound);
        WCHAR text[128];
        EXPECT_TRUE(e->GetErrorMessage(text, 128));
        EXPECT_EQ(std::u16string(text), u"T:\\missing.txt was not found.");
        e->Delete();
    }
    EXPECT_TRUE(caught);

    // An exclusive open refuses a second one with a sharing violation.
    CFile first;
    ASSERT_TRUE(first.Open(u"T:\\locked.txt", CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive));
    CFile second;
    CFileException error;
    EXPECT_FALSE(second.Open(u"T:\\locked.txt", CFile::modeRead | CFile::shareDenyNone, &error));
    EXPECT_EQ(error.m_cause, CFileException::sharingViolation);

    // Writing to a file opened for reading throws.
    m_drive.Write("readonly.txt", "x");
    CFile reader;
    ASSERT_TRUE(reader.Open(u"T:\\readonly.txt", CFile::modeRead | CFile::shareDenyNone));
    caught = false;
    try {
        reader.Write("y", 1);
    } catch (CFileException* e) {
        caught = true;
        EXPECT_EQ(e->m_cause, CFileException::accessDenied);
        e->Delete();
    }
    EXPECT_TRUE(caught);

    caught = false;
    try {
        CFile::Remove(u"T:\\missing.txt");
    } catch (CFileException* e) {
        caught = true;
        e->Delete();
    }
    EXPECT_TRUE(caught);
    reader.Close(); // an open file without delete sharing cannot be renamed
    CFile::Rename(u"T:\\readonly.txt", u"T:\\renamed.txt");
    EXPECT_EQ(m_drive.Read("renamed.txt"), "x");
}

TEST_F(FileTest, StdioFileReadsAndWritesLines) {
    // Text mode: CR LF becomes a line feed, a lone CR stays, the last line needs no line feed.
    m_drive.Write("ansi.txt", "first\r\nsecond\n\ncaf\xc3\xa9\rx\r\nlast");
    CStdioFile text;
    ASSERT_TRUE(text.Open(u"T:\\ansi.txt", CFile::modeRead | CFile::typeText));
    CString line;
    std::u16string lines;
    while (text.ReadString(line))
        lines += std::u16string(static_cast<LPCTSTR>(line)) + u"|";
    EXPECT_EQ(lines, u"first|second||caf\u00e9\rx|last|");
    EXPECT_FALSE(text.ReadString(line));
    EXPECT_TRUE(line.IsEmpty());
    text.SeekToBegin();
    WCHAR buffer[5];
    ASSERT_NE(text.ReadString(buffer, 5), nullptr); // at most four characters, line feed kept when it fits
    EXPECT_EQ(std::u16string(buffer), u"firs");
    ASSERT_NE(text.ReadString(buffer, 5), nullptr);
    EXPECT_EQ(std::u16string(buffer), u"t\n");
    text.Close();

    CStdioFile out;
    ASSERT_TRUE(out.Open(u"T:\\out.txt", CFile::modeCreate | CFile::modeWrite | CFile::typeText));
    out.WriteString(u"a\nb\u00e9\n");
    out.Close();
    EXPECT_EQ(m_drive.Read("out.txt"), "a\r\nb\xc3\xa9\r\n");

    // Binary mode: UTF-16 code units without translation.
    CStdioFile wide;
    ASSERT_TRUE(wide.Open(u"T:\\wide.txt", CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary));
    wide.WriteString(u"\xFEFFone\r\ntwo\n");
    EXPECT_EQ(wide.GetLength(), 20u);
    wide.SeekToBegin();
    ASSERT_TRUE(wide.ReadString(line));
    EXPECT_EQ(std::u16string(static_cast<LPCTSTR>(line)), u"\xFEFFone\r");
    ASSERT_TRUE(wide.ReadString(line));
    EXPECT_TRUE(line == u"two");
    EXPECT_FALSE(wide.ReadString(line));
    wide.Close();
    EXPECT_EQ(m_drive.Read("wide.txt"), std::string("\xFF\xFEo\0n\0e\0\r\0\n\0t\0w\0o\0\n\0", 20));

    CFileException error;
    EXPECT_FALSE(out.Open(u"T:\\nowhere\\x.txt", CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::badPath);
}

TEST_F(FileTest, FileFindVisitsEveryEntry) {
    m_drive.Write("a.txt", "12345");
    m_drive.Write("b.log", "1");
    ASSERT_TRUE(CreateDirectoryW(u"T:\\sub", nullptr));
    CFileFind finder;
    BOOL more = finder.FindFile(u"T:\\*.*");
    ASSERT_TRUE(more);
    std::set<std::u16string> names;
    while (more) {
        more = finder.FindNextFile();
        if (finder.IsDots())
            continue;
        names.insert(std::u16string(static_cast<LPCTSTR>(finder.GetFileName())));
        if (finder.GetFileName() == u"a.txt") {
            EXPECT_EQ(finder.GetLength(), 5u);
            EXPECT_TRUE(finder.GetFilePath() == u"T:\\a.txt");
            EXPECT_TRUE(finder.GetFileTitle() == u"a");
            EXPECT_FALSE(finder.IsDirectory());
            CTime written;
            EXPECT_TRUE(finder.GetLastWriteTime(written));
            EXPECT_GT(written.GetYear(), 2000);
        }
        if (finder.GetFileName() == u"sub") {
            EXPECT_TRUE(finder.IsDirectory());
        }
    }
    EXPECT_EQ(names, (std::set<std::u16string>{u"a.txt", u"b.log", u"sub"}));
    EXPECT_TRUE(finder.GetRoot() == u"T:\\");

    EXPECT_TRUE(finder.FindFile(u"T:\\*.log"));
    EXPECT_FALSE(finder.FindNextFile()); // the only match is also the last
    EXPECT_TRUE(finder.GetFileName() == u"b.log");
    EXPECT_FALSE(finder.FindFile(u"T:\\*.none"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

} // namespace
