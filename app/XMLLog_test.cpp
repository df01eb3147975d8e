#include "app/XMLLog.h"

#include "app/AppTestSupport.h"

#include "platform/afx/ListCtrl.h"
#include "platform/afx/Wnd.h"
#include "platform/base/clock.h"
#include "platform/fs/files.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/paint.h"

#include <sys/stat.h>

#include <cstdlib>
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
        const std::string bytes = m_drive.Read(name);
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
    EXPECT_FALSE(m_drive.Exists("~KovraSystem.log"));
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
    EXPECT_FALSE(m_drive.Exists("Quiet.log"));
    EXPECT_FALSE(m_drive.Exists("~Quiet.log"));

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
    EXPECT_FALSE(m_drive.Exists("Quiet.log"));
}

TEST_F(XMLLogTest, OlderFilesAreCopiedItemByItem) {
    // An ANSI file as another writer left it: an item over two lines, one without Number tags, one cut off by the
    // end of the file, and text outside items.
    m_drive.Write("Old.log", "<LogFile>\r\n"
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
    const std::string before = m_drive.Read("Safe.log");

    // The temporary file cannot be made: a folder holds its name.
    ASSERT_EQ(mkdir((m_drive.Root() + "/~Safe.log").c_str(), 0755), 0);
    log.AddItem(u"pending", u"a.cpp", 2, 1);
    EXPECT_EQ(log.Save(FALSE), 0);
    EXPECT_EQ(m_drive.Read("Safe.log"), before);
    EXPECT_EQ(log.GetNewCount(), 1u);
    ASSERT_EQ(rmdir((m_drive.Root() + "/~Safe.log").c_str()), 0);

    // A temporary file left behind by an interrupted save is simply replaced.
    m_drive.Write("~Safe.log", "half a file");
    ASSERT_EQ(log.Save(FALSE), 1);
    EXPECT_FALSE(m_drive.Exists("~Safe.log"));
    auto items = FileItems("Safe.log");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].m_strEntry.Str(), u"kept");
    EXPECT_EQ(items[1].m_strEntry.Str(), u"pending");

    // The log cannot be read (a folder stands in its place): nothing moves and nothing is lost.
    CXMLLog blocked;
    ASSERT_EQ(mkdir((m_drive.Root() + "/Blocked.log").c_str(), 0755), 0);
    blocked.Init(u"T:\\Blocked.log", u"T:\\~Blocked.log", 4096, TRUE);
    blocked.AddItem(u"waiting", u"a.cpp", 1, 1);
    EXPECT_EQ(blocked.Save(FALSE), 0);
    EXPECT_EQ(blocked.GetNewCount(), 1u);
    EXPECT_FALSE(m_drive.Exists("~Blocked.log"));
    ASSERT_EQ(rmdir((m_drive.Root() + "/Blocked.log").c_str()), 0);
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
    EXPECT_EQ(m_drive.Read("Exported.log"), m_drive.Read("KovraSystem.log"));
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
    m_drive.Write("noversion.exe", "MZ nothing here");
    CXMLLog::GetApVersion(u"T:\\noversion.exe", version);
    EXPECT_TRUE(version == u"unchanged");
}

// ---- The list view ----

class XMLLogListTest : public XMLLogTest {
protected:
    void SetUp() override {
        XMLLogTest::SetUp();
        ASSERT_TRUE(
            m_hostWnd.CreateEx(0, nullptr, u"Log viewer", WS_OVERLAPPEDWINDOW, 0, 0, 420, 300, nullptr, nullptr));
        ASSERT_TRUE(m_list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, RECT{0, 0, 400, 260}, &m_hostWnd, 1000));
    }
    void TearDown() override {
        m_list.DestroyWindow();
        m_hostWnd.DestroyWindow();
        XMLLogTest::TearDown();
    }

    // The ids every caller passes: the titles 116 to 118, the icons of error, warning, information and debug (the
    // test resources lack the debug icon 538), and their type texts.
    int Attach(CXMLLog& log) {
        return log.AttachListCtrl(&m_list, 116, 117, 118, 539, 537, 540, 538, 5031, 5030, 5029, 5032);
    }

    struct Row {
        std::u16string type;
        std::u16string when;
        std::u16string entry;
        int image;
        LPARAM data;
        bool operator==(const Row&) const = default;
    };
    std::vector<Row> Rows() {
        std::vector<Row> rows;
        for (int i = 0; i < m_list.GetItemCount(); ++i) {
            LVITEMW item{};
            item.mask = LVIF_IMAGE | LVIF_PARAM;
            item.iItem = i;
            EXPECT_TRUE(m_list.GetItem(&item));
            rows.push_back(Row{m_list.GetItemText(i, 0).Str(), m_list.GetItemText(i, 1).Str(),
                               m_list.GetItemText(i, 2).Str(), item.iImage, item.lParam});
        }
        return rows;
    }
    std::vector<std::u16string> Entries() {
        std::vector<std::u16string> entries;
        for (int i = 0; i < m_list.GetItemCount(); ++i)
            entries.push_back(m_list.GetItemText(i, 2).Str());
        return entries;
    }

    CWnd m_hostWnd;
    CListCtrl m_list;
};

TEST_F(XMLLogListTest, AttachingShowsTheFileNewestFirstWithTypeIconsAndTexts) {
    {
        CXMLLog writer;
        writer.Init(u"T:\\KovraSystem.log", u"T:\\~KovraSystem.log", 4096, FALSE);
        writer.AddItem(u"Started", u"C:\\src\\BrannicApp.cpp", 1, CXMLLog::typeInformation);
        writer.AddItem(u"Low space", u"a.cpp", 2, CXMLLog::typeWarning);
        writer.AddItem(u"Copy failed", u"a.cpp", 3, CXMLLog::typeError);
        writer.AddItem(u"Trace line", u"a.cpp", 4, CXMLLog::typeDebug);
        writer.AddItem(u"Odd <type>", u"a.cpp", 5, 3);
        ASSERT_EQ(writer.Save(FALSE), 1);
    }
    CXMLLog log;
    log.Init(u"T:\\KovraSystem.log", u"T:\\~KovraSystem.log", 4096, TRUE);
    platform::clock::Advance(2'000);
    log.AddItem(u"Unsaved", u"b.cpp", 6, CXMLLog::typeInformation);
    ASSERT_EQ(Attach(log), 1);
    EXPECT_EQ(log.GetListCtrl(), &m_list);

    // Grid lines and full-row select, three left-aligned columns with their titles and widths.
    EXPECT_EQ(m_list.GetExtendedStyle(), 0x21u);
    ASSERT_NE(m_list.GetHeaderCtrl(), nullptr);
    EXPECT_EQ(m_list.GetHeaderCtrl()->GetItemCount(), 3);
    const std::u16string titles[3] = {u"Type", u"Date", u"Log"};
    const int widths[3] = {40, 120, 200};
    for (int column = 0; column < 3; ++column) {
        WCHAR text[32] = {};
        LVCOLUMNW info{};
        info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        info.pszText = text;
        info.cchTextMax = 32;
        ASSERT_TRUE(m_list.GetColumn(column, &info));
        EXPECT_EQ(std::u16string(text), titles[column]);
        EXPECT_EQ(info.cx, widths[column]);
        EXPECT_EQ(info.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
    }
    // The image list: 16 x 16, three icons loaded; the missing debug icon has no image.
    CImageList* images = m_list.GetImageList(LVSIL_SMALL);
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(images->GetImageCount(), 3);
    int cx = 0, cy = 0;
    ASSERT_TRUE(ImageList_GetIconSize(images->GetSafeHandle(), &cx, &cy));
    EXPECT_EQ(cx, 16);
    EXPECT_EQ(cy, 16);

    // The unsaved entry was saved first; the newest entry is the first row. The view mask 7 hides the debug entry,
    // and the unknown type shows (its letter reads back as 0x16) without an icon.
    EXPECT_EQ(log.GetNewCount(), 0u);
    const std::vector<Row> expected = {
        {u"Information", u"2008-3-9 08:05:03", u"Unsaved", 2, 1},
        {u"Unknown", u"2008-3-9 08:05:01", u"Odd <type>", I_IMAGENONE, 0x16},
        {u"Error", u"2008-3-9 08:05:01", u"Copy failed", 0, 4},
        {u"Warning", u"2008-3-9 08:05:01", u"Low space", 1, 2},
        {u"Information", u"2008-3-9 08:05:01", u"Started", 2, 1},
    };
    EXPECT_EQ(Rows(), expected);

    // Showing debug entries only: the debug row has no icon, as its icon did not load.
    log.SetTypeMask(CXMLLog::typeDebug, TRUE);
    EXPECT_EQ(log.GetTypeMask(), CXMLLog::typeDebug);
    EXPECT_EQ(Rows(), (std::vector<Row>{{u"Debug", u"2008-3-9 08:05:01", u"Trace line", I_IMAGENONE, 8}}));
    // Without reloading the rows stay as they are.
    log.SetTypeMask(CXMLLog::typeError, FALSE);
    EXPECT_EQ(m_list.GetItemCount(), 1);
    log.ReloadList();
    // The unknown type's mask 0x16 has the bits of warnings and errors, so it shows with either.
    EXPECT_EQ(Entries(), (std::vector<std::u16string>{u"Odd <type>", u"Copy failed"}));
    log.SetTypeMask(CXMLLog::typeWarning, TRUE);
    EXPECT_EQ(Entries(), (std::vector<std::u16string>{u"Odd <type>", u"Low space"}));

    log.DetachListCtrl();
    EXPECT_EQ(log.GetListCtrl(), nullptr);
    // The list no longer shows the log's image list, and new entries no longer reach it.
    EXPECT_EQ(m_list.GetImageList(LVSIL_SMALL), nullptr);
    log.AddItem(u"After", u"a.cpp", 7, CXMLLog::typeWarning);
    EXPECT_EQ(m_list.GetItemCount(), 2);
}

TEST_F(XMLLogListTest, NewEntriesGoOnTopAndTheListKeepsTheMaximum) {
    CXMLLog log;
    log.Init(u"T:\\CopyProgress.log", u"T:\\~CopyProgress.log", 3, FALSE);
    ASSERT_EQ(Attach(log), 1);
    EXPECT_EQ(m_list.GetItemCount(), 0);
    // An entry the view mask hides is kept but not shown.
    log.AddItem(u"hidden", u"a.cpp", 1, CXMLLog::typeDebug);
    EXPECT_EQ(m_list.GetItemCount(), 0);
    for (int i = 1; i <= 4; ++i)
        log.AddItem(platform::Utf8ToUtf16("entry " + std::to_string(i)).c_str(), u"a.cpp", i, CXMLLog::typeError);
    EXPECT_EQ(Entries(), (std::vector<std::u16string>{u"entry 4", u"entry 3", u"entry 2"}));
    EXPECT_EQ(log.GetNewCount(), 3u);

    // The file keeps the same three; reloading shows them again.
    log.ReloadList();
    EXPECT_EQ(Entries(), (std::vector<std::u16string>{u"entry 4", u"entry 3", u"entry 2"}));
    log.AddItem(u"entry 5", u"a.cpp", 5, CXMLLog::typeError);
    log.ReloadList();
    EXPECT_EQ(Entries(), (std::vector<std::u16string>{u"entry 5", u"entry 4", u"entry 3"}));

    // Clearing empties the file and the list.
    log.Clear();
    EXPECT_EQ(m_list.GetItemCount(), 0);
    log.ReloadList();
    EXPECT_EQ(m_list.GetItemCount(), 0);

    // A log that goes while its list is still attached takes its image list back from the list.
    {
        CXMLLog shortLived;
        shortLived.Init(u"T:\\Short.log", u"T:\\~Short.log", 10, FALSE);
        ASSERT_EQ(Attach(shortLived), 1);
        EXPECT_NE(m_list.GetImageList(LVSIL_SMALL), nullptr);
    }
    EXPECT_EQ(m_list.GetImageList(LVSIL_SMALL), nullptr);
}

TEST_F(XMLLogListTest, ItemsThatDoNotParseAreLeftOut) {
    const std::u16string file = std::u16string(u"<LogFile>\n") +
                                ItemLine(1, u'E', u"10:00:00", u"a.cpp", u"1", u"good one") + u"\n" +
                                u"\t<LogItem><Number>2</Number><Type>EW</Type><Date>2008-3-9</Date><Time>10:00:01"
                                u"</Time><Entry>two letters</Entry></LogItem>\n" +
                                u"\t<LogItem><Number>3</Number><Type>E</Type><Date>2008-3-9</Date><Time>10:00:02"
                                u"</Time><Entry></Entry></LogItem>\n" +
                                u"\t<LogItem><Number>4</Number><Type>W</Type><Date></Date><Time>10:00:03</Time>"
                                u"<Entry>no date</Entry></LogItem>\n" +
                                u"\t<LogItem><Number>5</Number><Type>W</Type><Date>2008-3-9</Date>\n" +
                                u"<Time>10:00:04</Time><Entry>two lines</Entry></LogItem>\n" +
                                u"\t<LogItem><Type>I</Type><Date>2008-3-9</Date><Time>10:00:05</Time><Entry>"
                                u"no number</Entry></LogItem>\n" +
                                u"\t<LogCount>6</LogCount>\n</LogFile>\n";
    m_drive.Write("Viewer.log", "\xFF\xFE" + Utf16(file));
    CXMLLog log;
    log.Init(u"T:\\Viewer.log", u"T:\\~Viewer.log", 4096, TRUE);
    ASSERT_EQ(Attach(log), 1);
    EXPECT_EQ(Entries(), (std::vector<std::u16string>{u"no number", u"good one"}));
    // Reading touched nothing.
    EXPECT_EQ(m_drive.Read("Viewer.log"), "\xFF\xFE" + Utf16(file));

    // A missing file leaves the list empty.
    CXMLLog missing;
    missing.Init(u"T:\\Missing.log", u"T:\\~Missing.log", 4096, TRUE);
    ASSERT_EQ(Attach(missing), 1);
    EXPECT_EQ(m_list.GetItemCount(), 0);
    EXPECT_EQ(log.AttachListCtrl(nullptr, 116, 117, 118, 539, 537, 540, 538, 5031, 5030, 5029, 5032), 0);
}

TEST_F(XMLLogListTest, TheListPaintsTheEntries) {
    CXMLLog log;
    log.Init(u"T:\\Paint.log", u"T:\\~Paint.log", 4096, FALSE);
    ASSERT_EQ(Attach(log), 1);
    log.AddItem(u"Backup finished", u"a.cpp", 1, CXMLLog::typeInformation);
    log.AddItem(u"Disk removed", u"a.cpp", 2, CXMLLog::typeError);
    m_hostWnd.ShowWindow(SW_SHOW);
    ASSERT_TRUE(platform::ui::SaveWindowPng(m_hostWnd.GetSafeHwnd(), u"T:\\log.png"));
    EXPECT_TRUE(m_drive.Exists("log.png"));
    if (const char* keep = std::getenv("APP_TEST_KEEP_PNG")) {
        EXPECT_EQ(std::system(("cp " + m_drive.Root() + "/log.png " + keep).c_str()), 0);
    }
    // The first row holds the newest entry with its icon: some pixels of the icon column are the icon's blue.
    HDC dc = ::GetDC(m_list.GetSafeHwnd());
    RECT row{};
    ASSERT_TRUE(m_list.GetItemRect(0, &row, LVIR_BOUNDS));
    int blue = 0;
    for (int x = row.left; x < row.left + 40; ++x)
        for (int y = row.top; y < row.bottom; ++y)
            blue += ::GetPixel(dc, x, y) == RGB(20, 80, 200);
    ::ReleaseDC(m_list.GetSafeHwnd(), dc);
    EXPECT_GT(blue, 20);
}

} // namespace
