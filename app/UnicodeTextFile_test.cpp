#include "app/UnicodeTextFile.h"

#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/testing/scratch_drive.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

class UnicodeTextFileTest : public testsupport::ScratchDriveTest {
protected:
    std::vector<std::u16string> ReadLines(LPCTSTR path, UINT flags = CFile::modeRead | CFile::typeText) {
        std::vector<std::u16string> lines;
        CUnicodeTextFile file;
        EXPECT_TRUE(file.Open(path, flags));
        CString line;
        while (file.ReadString(line))
            lines.push_back(line.Str());
        file.Close();
        return lines;
    }
};

TEST_F(UnicodeTextFileTest, WritesUtf16WithByteOrderMarkAndBareLineFeeds) {
    CUnicodeTextFile file;
    ASSERT_TRUE(file.Open(u"T:\\out.txt", CFile::modeCreate | CFile::modeWrite | CUnicodeTextFile::modeWriteUnicode));
    file.WriteString(u"a\n");
    file.WriteString(u"b\n");
    file.Close();
    EXPECT_EQ(m_drive.Read("out.txt"), std::string("\xFF\xFE"
                                                   "a\0\n\0b\0\n\0",
                                                   10));

    // Characters outside ASCII go out as their UTF-16 code units, surrogate pairs included.
    ASSERT_TRUE(file.Open(u"T:\\wide.txt", CFile::modeCreate | CFile::modeWrite | CUnicodeTextFile::modeWriteUnicode));
    file.WriteString(u"\u00e9\U0001F600");
    file.Close();
    EXPECT_EQ(m_drive.Read("wide.txt"), std::string("\xFF\xFE\xE9\x00\x3D\xD8\x00\xDE", 8));
}

TEST_F(UnicodeTextFileTest, WritesAnsiWithoutTranslatingLineEnds) {
    CUnicodeTextFile file;
    ASSERT_TRUE(file.Open(u"T:\\ansi.txt", CFile::modeCreate | CFile::modeWrite | CFile::typeText));
    file.WriteString(u"one\ntwo\r\n");
    file.WriteString(u"");
    file.WriteString(u"caf\u00e9");
    file.Close();
    EXPECT_EQ(m_drive.Read("ansi.txt"), "one\ntwo\r\ncaf\xC3\xA9");
}

TEST_F(UnicodeTextFileTest, ReadsUtf16LinesWithoutMarkOrLineEnds) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::u16string> lines;
    };
    const Case cases[] = {
        {"lf.txt",
         std::string("\xFF\xFE"
                     "a\0\n\0b\0\n\0",
                     10),
         {u"a", u"b"}},
        {"crlf.txt",
         std::string("\xFF\xFE"
                     "a\0\r\0\n\0\xE9\0\r\0\n\0",
                     14),
         {u"a", u"\u00e9"}},
        {"noend.txt",
         std::string("\xFF\xFE"
                     "x\0\n\0\n\0y\0",
                     10),
         {u"x", u"", u"y"}},
        {"markonly.txt", std::string("\xFF\xFE", 2), {}},
    };
    for (const Case& c : cases) {
        m_drive.Write(c.name, c.bytes);
        std::u16string path = u"T:\\" + platform::Utf8ToUtf16(c.name);
        EXPECT_TRUE(CUnicodeTextFile::IsUnicodeFile(path.c_str())) << c.name;
        EXPECT_EQ(ReadLines(path.c_str()), c.lines) << c.name;
    }
}

TEST_F(UnicodeTextFileTest, ReadsAnsiLinesInPiecesOf4095Bytes) {
    m_drive.Write("ansi.txt", "first\r\n\nlast line\r\ncaf\xC3\xA9");
    EXPECT_FALSE(CUnicodeTextFile::IsUnicodeFile(u"T:\\ansi.txt"));
    EXPECT_EQ(ReadLines(u"T:\\ansi.txt"), (std::vector<std::u16string>{u"first", u"", u"last line", u"caf\u00e9"}));

    m_drive.Write("long.txt", std::string(5000, 'x') + "\nend\n");
    const auto lines = ReadLines(u"T:\\long.txt");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], std::u16string(4095, u'x'));
    EXPECT_EQ(lines[1], std::u16string(905, u'x'));
    EXPECT_EQ(lines[2], u"end");

    // A piece never splits a character of the host's code page.
    m_drive.Write("split.txt", std::string(4094, 'y') + "\xC3\xA9z\n");
    const auto split = ReadLines(u"T:\\split.txt");
    ASSERT_EQ(split.size(), 2u);
    EXPECT_EQ(split[0], std::u16string(4094, u'y'));
    EXPECT_EQ(split[1], u"\u00e9z");

    // A mark other than FF FE is read as ANSI text.
    m_drive.Write("be.txt", std::string("\xFE\xFF\0a", 4));
    EXPECT_FALSE(CUnicodeTextFile::IsUnicodeFile(u"T:\\be.txt"));
}

TEST_F(UnicodeTextFileTest, OpeningForWritingDoesNotTestTheMark) {
    m_drive.Write("log.txt", std::string("\xFF\xFE"
                                         "a\0\n\0",
                                         6));
    // Opened for writing without truncation and read back through the binary flag it was given.
    CUnicodeTextFile file;
    ASSERT_TRUE(
        file.Open(u"T:\\log.txt", CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate | CFile::typeText));
    CString line;
    ASSERT_TRUE(file.ReadString(line));
    // Not tested for the mark: the bytes arrive as ANSI text, mark included.
    EXPECT_NE(line.Str(), u"a");
    file.Close();
}

TEST_F(UnicodeTextFileTest, MissingFileIsAnErrorValue) {
    CUnicodeTextFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(u"T:\\missing.txt", CFile::modeRead | CFile::typeText, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_FALSE(CUnicodeTextFile::IsUnicodeFile(u"T:\\missing.txt"));
}

} // namespace
