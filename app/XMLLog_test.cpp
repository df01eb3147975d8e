#include "app/XMLLog.h"

#include "app/AppTestSupport.h"

#include "platform/base/clock.h"
#include "platform/fs/files.h"

#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

class XMLLogTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        platform::clock::SetTimeZone("UTC");
        SYSTEMTIME start = {2008, 3, 0, 9, 8, 5, 1, 0};
        FILETIME ft;
        ASSERT_TRUE(SystemTimeToFileTime(&start, &ft));
        platform::clock::UseManualClock(platform::clock::FromFileTime(ft));
    }
    void TearDown() override {
        platform::clock::UseRealClock();
        platform::clock::SetTimeZone("");
    }

    // The file's text without its byte-order mark, split into lines at each line feed.
    std::vector<std::u16string> FileLines(const std::string& name) const {
        const std::string bytes = HostBytes(name);
        EXPECT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
        const std::u16string text = FromUtf16(bytes.substr(2));
        EXPECT_TRUE(text.empty() || text.back() == u'\n');
        EXPECT_EQ(text.find(u'\r'), std::u16string::npos);
        std::vector<std::u16string> lines;
        size_t start = 0;
        for (size_t end; (end = text.find(u'\n', start)) != std::u16string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }

    // The entries of the file, parsed.
    std::vector<CXMLLogItem> FileItems(const std::string& name) const {
        std::vector<CXMLLogItem> items;
        for (const std::u16string& line : FileLines(name)) {
            const size_t begin = line.find(u"<LogItem>");
            const size_t end = line.find(u"</LogItem>");
            if (begin == std::u16string::npos || end == std::u16string::npos)
                continue;
            CXMLLogItem item;
            EXPECT_TRUE(
                CXMLLog::ParseItem(CString(std::u16string_view(line).substr(begin + 9, end - begin - 9)), item));
            items.push_back(item);
        }
        return items;
    }

    static std::u16string ItemLine(int number, char16_t type, const char16_t* time, const char16_t* file,
                                   const char16_t* line, const char16_t* entry) {
        return u"\t<LogItem><Number>" + platform::Utf8ToUtf16(std::to_string(number)) + u"</Number><Type>" + type +
               u"</Type><Date>2008-3-9</Date><Time>" + time + u"</Time><Filename>" + file + u"</Filename><Line>" +
               line + u"</Line><Entry>" + entry + u"</Entry></LogItem>";
    }
};

TEST_F(XMLLogTest, FileFormatIsExact) {
    CXMLLog log;
    log.Init(u"T:\\KovraSystem.log", u"T:\\~KovraSystem.log", 4096, TRUE);
    EXPECT_EQ(log.AddItem(u"Start Kovra successfully.", u"C:\\src\\app\\BrannicApp.cpp", 120, 1), 1);
    platform::clock::Advance(61'000);
    EXPECT_EQ(log.AddItem(u"Odd type", u"/home/dev/src/engine/BackManager.cpp", 7, 3), 1);
    EXPECT_EQ(log.AddItem(u"Disk full", u"relative/Agent.cpp", -1, 4), 1);
    EXPECT_EQ(log.AddItem(u"Trace", u"Plain.cpp", 0, 8), 1);
    EXPECT_EQ(log.AddItem(u"Careful", nullptr, 2, 2), 1);
    platform::clock::Advance(3'600'000);
    ASSERT_EQ(log.Save(FALSE), 1);

    const std::vector<std::u16string> expected = {
        u"<LogFile>",
        ItemLine(1, u'I', u"08:05:01", u"BrannicApp.cpp", u"120", u"Start Kovra successfully."),
        ItemLine(2, u'U', u"08:06:02", u"BackManager.cpp", u"7", u"Odd type"),
        ItemLine(3, u'E', u"08:06:02", u"Agent.cpp", u"-1", u"Disk full"),
        ItemLine(4, u'D', u"08:06:02", u"Plain.cpp", u"0", u"Trace"),
        ItemLine(5, u'W', u"08:06:02", u"", u"2", u"Careful"),
        u"\t<LogCount>5</LogCount>",
        u"\t<AppName>" + apptest::ExeName() + u"</AppName>",
        u"\t<AppVersion>1.7.1.0 Build 1115</AppVersion>",
        u"\t<Date>2008-3-9</Date>",
        u"\t<Time>9:6:2</Time>",
        u"</LogFile>",
    };
    EXPECT_EQ(FileLines("KovraSystem.log"), expected);
    EXPECT_FALSE(HostExists("~KovraSystem.log"));
    EXPECT_EQ(log.GetStoredCount(), 5);
    EXPECT_EQ(log.GetNewCount(), 0u);

    // A second log object keeps the file and reads its count.
    CXMLLog again;
    again.Init(u"T:\\KovraSystem.log", u"T:\\~KovraSystem.log", 4096, TRUE);
    EXPECT_EQ(again.GetStoredCount(), 5);
    EXPECT_TRUE(again.GetLogPath() == u"T:\\KovraSystem.log");
}

TEST_F(XMLLogTest, TextsReadBackExactly) {
    const std::vector<std::u16string> texts = {
        u"a < b > c & d",
        u"two\nlines",
        u"windows\r\nbreak",
        u"cut </Entry> here <Entry>",
        u"already &amp; escaped &lt; &#10;",
        u"\t\u00e9\U0001F600 & more",
    };
    {
        CXMLLog log;
        log.Init(u"T:\\Copy.log", u"T:\\~Copy.log", 4096, FALSE);
        for (const auto& text : texts)
            log.AddItem(text.c_str(), u"C:\\x\\y<&>.cpp", 1, 1);
    } // the destructor saves
    const auto lines = FileLines("Copy.log");
    ASSERT_EQ(lines.size(), texts.size() + 7);
    const auto items = FileItems("Copy.log");
    ASSERT_EQ(items.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(items[i].m_strEntry.Str(), texts[i]);
        EXPECT_EQ(items[i].m_strFilename.Str(), u"y<&>.cpp");
        EXPECT_EQ(items[i].m_strNumber.Str(), platform::Utf8ToUtf16(std::to_string(i + 1)));
        EXPECT_EQ(items[i].m_chType, u'I');
    }
}

TEST_F(XMLLogTest, ParseItemRules) {
    struct Case {
        const char16_t* item;
        bool parses;
        const char16_t* entry;
    };
    const Case cases[] = {
        {u"<Type>I</Type><Date>d</Date><Time>t</Time><Entry>e</Entry>", true, u"e"},
        {u"<Number>9</Number><Type>X</Type><Date>d</Date><Time>t</Time><Filename>f</Filename><Line>1</Line>"
         u"<Entry>e</Entry>",
         true, u"e"},
        {u"<Type>IW</Type><Date>d</Date><Time>t</Time><Entry>e</Entry>", false, u""},
        {u"<Type></Type><Date>d</Date><Time>t</Time><Entry>e</Entry>", false, u""},
        {u"<Type>I</Type><Time>t</Time><Entry>e</Entry>", false, u""},
        {u"<Type>I</Type><Date>d</Date><Entry>e</Entry>", false, u""},
        {u"<Type>I</Type><Date>d</Date><Time>t</Time><Entry></Entry>", false, u""},
        {u"<Type>I</Type><Date>d</Date><Time>t</Time><Entry>open", false, u""},
        // Older files hold texts unescaped; a lone ampersand stays as it is.
        {u"<Type>E</Type><Date>d</Date><Time>t</Time><Entry>Tom & Jerry &x;</Entry>", true, u"Tom & Jerry &x;"},
    };
    for (const Case& c : cases) {
        CXMLLogItem item;
        EXPECT_EQ(CXMLLog::ParseItem(CString(c.item), item) != FALSE, c.parses) << platform::Utf16ToUtf8(c.item);
        if (c.parses) {
            EXPECT_EQ(item.m_strEntry.Str(), c.entry);
        }
    }
    EXPECT_EQ(CXMLLog::LetterToType(u'U'), 0x16);
    EXPECT_EQ(CXMLLog::LetterToType(u'W'), 2);
    EXPECT_EQ(CXMLLog::TypeToLetter(16), u'U');
}

TEST_F(XMLLogTest, EntryLimitDropsTheOldestStoredEntries) {
    CXMLLog log;
    log.Init(u"T:\\Big.log", u"T:\\~Big.log", 4096, TRUE);
    for (int i = 1; i <= 4090; ++i)
        log.AddItem(platform::Utf8ToUtf16("old " + std::to_string(i)).c_str(), u"a.cpp", i, 1);
    ASSERT_EQ(log.Save(FALSE), 1);
    for (int i = 1; i <= 10; ++i)
        log.AddItem(platform::Utf8ToUtf16("new " + std::to_string(i)).c_str(), u"a.cpp", i, 2);
    ASSERT_EQ(log.Save(FALSE), 1);

    const auto items = FileItems("Big.log");
    ASSERT_EQ(items.size(), 4096u);
    EXPECT_EQ(items.front().m_strEntry.Str(), u"old 5");
    EXPECT_EQ(items[4085].m_strEntry.Str(), u"old 4090");
    EXPECT_EQ(items.back().m_strEntry.Str(), u"new 10");
    for (size_t i = 0; i < items.size(); ++i)
        ASSERT_EQ(items[i].m_strNumber.Str(), platform::Utf8ToUtf16(std::to_string(i + 1)));
    const auto lines = FileLines("Big.log");
    EXPECT_EQ(lines[4097], u"\t<LogCount>4096</LogCount>");
    EXPECT_EQ(log.GetStoredCount(), 4096);
}

TEST_F(XMLLogTest, MemoryKeepsOnlyTheNewestEntries) {
    CXMLLog log;
    log.Init(u"T:\\Mem.log", u"T:\\~Mem.log", 4096, TRUE);
    for (int i = 0; i < 4097; ++i)
        log.AddItem(platform::Utf8ToUtf16(std::to_string(i)).c_str(), u"a.cpp", i, 1);
    EXPECT_EQ(log.GetNewCount(), 4096u);
    ASSERT_EQ(log.Save(FALSE), 1);
    const auto items = FileItems("Mem.log");
    ASSERT_EQ(items.size(), 4096u);
    EXPECT_EQ(items.front().m_strEntry.Str(), u"1");
    EXPECT_EQ(items.back().m_strEntry.Str(), u"4096");
}

TEST_F(XMLLogTest, UnlimitedLogKeepsItsEntries) {
    CXMLLog log;
    log.Init(u"T:\\ExpertMonitor.log", u"T:\\~ExpertMonitor.log", 0xFFFFFFFFu, FALSE);
    for (int save = 0; save < 3; ++save) {
        for (int i = 0; i < 5; ++i)
            log.AddItem(platform::Utf8ToUtf16(std::to_string(save * 5 + i)).c_str(), u"m.cpp", i, 1);
        ASSERT_EQ(log.Save(FALSE), 1);
    }
    const auto items = FileItems("ExpertMonitor.log");
    ASSERT_EQ(items.size(), 15u);
    EXPECT_EQ(items.front().m_strEntry.Str(), u"0");
    EXPECT_EQ(items.back().m_strNumber.Str(), u"15");
}

TEST_F(XMLLogTest, SaveWithoutNewEntriesAndClear) {
    CXMLLog log;
    log.Init(u"T:\\Quiet.log", u"T:\\~Quiet.log", 4096, TRUE);
    EXPECT_EQ(log.Save(FALSE), 1);
    EXPECT_FALSE(HostExists("Quiet.log"));
    EXPECT_FALSE(HostExists("~Quiet.log"));

    log.AddItem(u"one", u"a.cpp", 1, 1);
    log.AddItem(u"two", u"a.cpp", 2, 1);
    ASSERT_EQ(log.Save(FALSE), 1);
    log.AddItem(u"three", u"a.cpp", 3, 1);
    log.Clear();
    EXPECT_EQ(log.GetNewCount(), 0u);
    EXPECT_EQ(log.GetStoredCount(), 0);
    const auto lines = FileLines("Quiet.log");
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], u"<LogFile>");
    EXPECT_EQ(lines[1], u"\t<LogCount>0</LogCount>");
    EXPECT_EQ(lines[6], u"</LogFile>");

    // Init without keep deletes the file.
    CXMLLog fresh;
    fresh.Init(u"T:\\Quiet.log", u"T:\\~Quiet.log", 4096, FALSE);
    EXPECT_FALSE(HostExists("Quiet.log"));
}

TEST_F(XMLLogTest, OlderFilesAreCopiedItemByItem) {
    // An ANSI file as another writer left it: an item over two lines, one without Number tags, one cut off by the
    // end of the file, and text outside items.
    WriteHost("Old.log", "<LogFile>\r\n"
                         "\t<LogItem><Number>7</Number><Type>I</Type><Date>2008-1-1</Date><Time>01:00:00</Time>"
                         "<Filename>a.cpp</Filename><Line>1</Line><Entry>first</Entry></LogItem>\r\n"
                         "\t<LogItem><Number>8</Number><Type>W</Type><Date>2008-1-1</Date>\r\n"
                         "<Time>01:00:01</Time><Entry>joined</Entry></LogItem>\r\n"
                         "\t<LogItem><Type>E</Type><Date>2008-1-1</Date><Time>01:00:02</Time><Entry>no number"
                         "</Entry></LogItem>\r\n"
                         "\t<LogCount>4</LogCount>\r\n"
                         "\t<LogItem><Number>9</Number><Type>E</Type><Entry>cut off\r\n");
    CXMLLog log;
    log.Init(u"T:\\Old.log", u"T:\\~Old.log", 4096, TRUE);
    EXPECT_EQ(log.GetStoredCount(), 4);
    log.AddItem(u"new", u"b.cpp", 2, 1);
    ASSERT_EQ(log.Save(FALSE), 1);
    const auto lines = FileLines("Old.log");
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[1], u"\t<LogItem><Number>1</Number><Type>I</Type><Date>2008-1-1</Date><Time>01:00:00</Time>"
                        u"<Filename>a.cpp</Filename><Line>1</Line><Entry>first</Entry></LogItem>");
    EXPECT_EQ(lines[2], u"\t<LogItem><Number>2</Number><Type>W</Type><Date>2008-1-1</Date><Time>01:00:01</Time>"
                        u"<Entry>joined</Entry></LogItem>");
    EXPECT_EQ(lines[3], ItemLine(3, u'I', u"08:05:01", u"b.cpp", u"2", u"new"));
    EXPECT_EQ(lines[4], u"\t<LogCount>3</LogCount>");
}

TEST_F(XMLLogTest, FailedSaveKeepsTheLogAndTheEntries) {
    CXMLLog log;
    log.Init(u"T:\\Safe.log", u"T:\\~Safe.log", 4096, TRUE);
    log.AddItem(u"kept", u"a.cpp", 1, 1);
    ASSERT_EQ(log.Save(FALSE), 1);
    const std::string before = HostBytes("Safe.log");

    // The temporary file cannot be made: a folder holds its name.
    ASSERT_EQ(mkdir((m_host + "/~Safe.log").c_str(), 0755), 0);
    log.AddItem(u"pending", u"a.cpp", 2, 1);
    EXPECT_EQ(log.Save(FALSE), 0);
    EXPECT_EQ(HostBytes("Safe.log"), before);
    EXPECT_EQ(log.GetNewCount(), 1u);
    ASSERT_EQ(rmdir((m_host + "/~Safe.log").c_str()), 0);

    // A temporary file left behind by an interrupted save is simply replaced.
    WriteHost("~Safe.log", "half a file");
    ASSERT_EQ(log.Save(FALSE), 1);
    EXPECT_FALSE(HostExists("~Safe.log"));
    auto items = FileItems("Safe.log");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].m_strEntry.Str(), u"kept");
    EXPECT_EQ(items[1].m_strEntry.Str(), u"pending");

    // The log cannot be read (a folder stands in its place): nothing moves and nothing is lost.
    CXMLLog blocked;
    ASSERT_EQ(mkdir((m_host + "/Blocked.log").c_str(), 0755), 0);
    blocked.Init(u"T:\\Blocked.log", u"T:\\~Blocked.log", 4096, TRUE);
    blocked.AddItem(u"waiting", u"a.cpp", 1, 1);
    EXPECT_EQ(blocked.Save(FALSE), 0);
    EXPECT_EQ(blocked.GetNewCount(), 1u);
    EXPECT_FALSE(HostExists("~Blocked.log"));
    ASSERT_EQ(rmdir((m_host + "/Blocked.log").c_str()), 0);
    EXPECT_EQ(blocked.Save(FALSE), 1);
    EXPECT_EQ(FileItems("Blocked.log").size(), 1u);

    // A folder that does not exist is an error value too.
    CXMLLog nowhere;
    nowhere.Init(u"T:\\missing\\N.log", u"T:\\missing\\~N.log", 4096, TRUE);
    nowhere.AddItem(u"x", u"a.cpp", 1, 1);
    EXPECT_EQ(nowhere.Save(FALSE), 0);
    EXPECT_EQ(nowhere.Export(u"T:\\copy.log"), FALSE);
    nowhere.Clear();
}

TEST_F(XMLLogTest, ExportAndStringTableEntries) {
    CXMLLog log;
    log.Init(u"T:\\KovraSystem.log", u"T:\\~KovraSystem.log", 4096, TRUE);
    EXPECT_EQ(log.AddItemId(5024, u"C:\\src\\BrannicApp.cpp", 10, 1), 1);
    EXPECT_TRUE(log.Export(u"T:\\Exported.log"));
    EXPECT_EQ(HostBytes("Exported.log"), HostBytes("KovraSystem.log"));
    const auto items = FileItems("Exported.log");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].m_strEntry.Str(), u"Start Kovra successfully.");
    EXPECT_EQ(log.GetTypeMask(), 7);
    log.SetTypeMask(15, FALSE);
    EXPECT_EQ(log.GetTypeMask(), 15);
}

TEST_F(XMLLogTest, VersionText) {
    CString version = u"unchanged";
    CXMLLog::GetApVersion((u"B:\\" + apptest::ExeName()).c_str(), version);
    EXPECT_TRUE(version == u"1.7.1.0 Build 1115");
    CXMLLog::GetApVersion(u"B:\\plain\\plain.dll", version);
    EXPECT_TRUE(version == u"2.0.3.14");
    version = u"unchanged";
    CXMLLog::GetApVersion(u"T:\\no such file.exe", version);
    EXPECT_TRUE(version == u"unchanged");
    WriteHost("noversion.exe", "MZ nothing here");
    CXMLLog::GetApVersion(u"T:\\noversion.exe", version);
    EXPECT_TRUE(version == u"unchanged");
}

} // namespace
