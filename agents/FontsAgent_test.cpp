// The fonts agent on the user's real font folder: two font files listed under their display names from the
// system's font table, backed up with "fonts.ini", removed, restored, and seen by fontconfig again; the paths of
// the three restore choices; what the font table and the set list and leave out.
#include "agents/AgentTestSupport.h"
#include "agents/FontsAgent.h"

#include "platform/registry/ini.h"
#include "platform/gdi/wingdi.h"
#include "platform/registry/registry.h"
#include "platform/ui/winuser_constants.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>

using namespace agenttest;

namespace {

constexpr const char* kDejaVu = "/usr/share/fonts/truetype/dejavu/";
constexpr const char16_t* kTable = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

// What fontconfig lists: every font file it knows, one a line.
std::string FcList() {
    std::string out;
    if (FILE* pipe = popen("fc-list --format '%{file}\\n' 2>/dev/null", "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

// A top-level window that counts the font-change notices it hears.
class CFontChangeListener : public CWnd {
public:
    CFontChangeListener() { CreateEx(0, nullptr, u"fonts listener", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr); }
    ~CFontChangeListener() override { DestroyWindow(); }
    int changes = 0;

protected:
    LRESULT OnFontChange(WPARAM, LPARAM) {
        ++changes;
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CFontChangeListener, CWnd)
ON_MESSAGE(WM_FONTCHANGE, OnFontChange)
END_MESSAGE_MAP()

class FontsAgentTest : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        m_fonts = m_home + "/.local/share/fonts";
        std::filesystem::create_directories(m_fonts);
        ASSERT_EQ(m_manager.AddAgent(&m_agent), 1);
    }
    void Install(const std::string& file) {
        std::filesystem::copy_file(kDejaVu + file, m_fonts + "/" + file,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    HTREEITEM Root(CShellTreeCtrl& tree) { return Child(tree, tree.GetRootItem(), u"Fonts"); }

    std::string m_fonts;
    CFontsAgent m_agent;
};

TEST_F(FontsAgentTest, RealFontsAreBackedUpRemovedRestoredAndSeenAgain) {
    Install("DejaVuSansMono.ttf");
    Install("DejaVuSerif-Bold.ttf");
    // A value naming a file by its full path is not a font of the Fonts folder.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_LOCAL_MACHINE, kTable, &key), ERROR_SUCCESS);
    const std::u16string elsewhere = u"C:\\Other\\Elsewhere.ttf";
    RegSetValueExW(key, u"Elsewhere (TrueType)", 0, REG_SZ, reinterpret_cast<const BYTE*>(elsewhere.c_str()),
                   static_cast<DWORD>((elsewhere.size() + 1) * 2));
    RegCloseKey(key);

    CShellTreeCtrl& source = NewTree(kTreeBackup);
    HTREEITEM root = Root(source);
    ASSERT_NE(root, nullptr);
    UserExpand(source, root);
    EXPECT_EQ(Texts(source, root),
              (std::vector<CString>{u"DejaVu Sans Mono (TrueType)", u"DejaVu Serif Bold (TrueType)"}));
    CString label;
    EXPECT_EQ(m_agent.GetItemLabel(&source, root, label), 1);
    EXPECT_EQ(label, CString(u"Fonts:"));

    source.CheckBranch(root, kStateChecked);
    JobRunner job(source, m_manager);
    job.Backup(CString(m_drive.Path()));
    EXPECT_EQ(job.copied.size(), 2u);
    for (const char* file : {"DejaVuSansMono.ttf", "DejaVuSerif-Bold.ttf"})
        EXPECT_EQ(ReadHost(SetHost(std::string("Fonts/") + file)), ReadHost(kDejaVu + std::string(file))) << file;
    const CString ini = SetPath() + u"\\Fonts\\fonts.ini";
    WCHAR display[260] = {};
    GetPrivateProfileStringW(u"Fonts", u"DejaVuSerif-Bold.ttf", u"", display, 260, ini);
    EXPECT_EQ(CString(display), CString(u"DejaVu Serif Bold (TrueType)"));
    EXPECT_EQ(m_agent.HasBackupData(m_drive.Letter()), 1);

    // The fonts go, and with them their lines of the font table.
    std::filesystem::remove(m_fonts + "/DejaVuSansMono.ttf");
    std::filesystem::remove(m_fonts + "/DejaVuSerif-Bold.ttf");
    CShellTreeCtrl& after = NewTree(kTreeBackup);
    UserExpand(after, Root(after));
    EXPECT_TRUE(Texts(after, Root(after)).empty());

    CShellTreeCtrl& restore = NewTree(kTreeRestore);
    HTREEITEM set = Root(restore);
    ASSERT_NE(set, nullptr);
    UserExpand(restore, set);
    EXPECT_EQ(Texts(restore, set),
              (std::vector<CString>{u"DejaVu Sans Mono (TrueType)", u"DejaVu Serif Bold (TrueType)"}));
    restore.CheckBranch(set, kStateChecked);
    const CString mono = m_agent.GetFontsFolder() + u"\\DejaVuSansMono.ttf";
    const CString serif = m_agent.GetFontsFolder() + u"\\DejaVuSerif-Bold.ttf";
    EXPECT_FALSE(RemoveFontResourceW(mono)) << "no font of the folder is the program's own before the restore";
    CFontChangeListener listener;
    JobRunner back(restore, m_manager);
    back.Restore(1, CString());
    for (const char* file : {"DejaVuSansMono.ttf", "DejaVuSerif-Bold.ttf"})
        EXPECT_EQ(ReadHost(m_fonts + "/" + file), ReadHost(kDejaVu + std::string(file))) << file;
    // The restored fonts are the program's own (each added once), and its windows heard of the change.
    EXPECT_EQ(listener.changes, 1);
    for (const CString& font : {mono, serif}) {
        EXPECT_TRUE(RemoveFontResourceW(font));
        EXPECT_FALSE(RemoveFontResourceW(font));
    }
    // The restore refreshed fontconfig's cache: the desktop lists both files of the user's folder again.
    const std::string listed = FcList();
    EXPECT_NE(listed.find(m_fonts + "/DejaVuSansMono.ttf"), std::string::npos) << listed;
    EXPECT_NE(listed.find(m_fonts + "/DejaVuSerif-Bold.ttf"), std::string::npos) << listed;
    CShellTreeCtrl& again = NewTree(kTreeBackup);
    UserExpand(again, Root(again));
    EXPECT_EQ(Texts(again, Root(again)).size(), 2u);
}

TEST_F(FontsAgentTest, RestorePathsOfTheThreeChoices) {
    ASSERT_EQ(m_agent.Init(), 1);
    const CString folder = m_agent.GetFontsFolder();
    struct Case {
        int option;
        const char16_t* destination;
        const char16_t* source;
        int answer;
        CString expected;
    };
    // A computer whose name holds "Fonts" keeps its place: the set's own "Fonts" folder is the one that counts.
    const char16_t* file = u"\\\\?\\T:\\KovraData\\Ann@MyFontsPC\\Fonts\\DejaVuSans.ttf";
    const Case cases[] = {
        {1, u"", file, kPathMapped, u"\\\\?\\" + folder + u"\\DejaVuSans.ttf"},
        {2, u"D:\\R", u"\\\\?\\T:\\KovraData\\Ann@PC\\Fonts\\none.ttf", kPathMapped, u"\\\\?\\D:\\R"},
        {3, u"D:\\R", file, kPathMapped, u"\\\\?\\D:\\R\\Fonts\\DejaVuSans.ttf"},
        {3, u"D:\\R\\", u"\\\\?\\T:\\KovraData\\Fonts@PC\\Fonts\\a.ttf", kPathMapped, u"\\\\?\\D:\\R\\Fonts\\a.ttf"},
        {2, u"", file, kPathSkip, u""},
        {4, u"D:\\R", file, kPathSkip, u""},
    };
    for (const Case& c : cases) {
        WCHAR source[2048] = {};
        lstrcpynW(source, c.source, 2048);
        WCHAR dest[2048] = {};
        EXPECT_EQ(m_agent.MapRestorePath(nullptr, nullptr, c.option, c.destination, source, dest, sizeof dest),
                  c.answer)
            << c.option;
        if (c.answer == kPathMapped) {
            EXPECT_EQ(CString(dest), c.expected) << c.option;
        }
    }
    // Option 2 names a real file of the set by its own name.
    m_drive.Write("KovraData/Ann@PC/Fonts/real.ttf", "x");
    WCHAR source[2048] = u"\\\\?\\T:\\KovraData\\Ann@PC\\Fonts\\real.ttf";
    WCHAR dest[2048] = {};
    EXPECT_EQ(m_agent.MapRestorePath(nullptr, nullptr, 2, u"D:\\R", source, dest, sizeof dest), kPathMapped);
    EXPECT_EQ(CString(dest), CString(u"\\\\?\\D:\\R\\real.ttf"));
    // A path too long for the buffer is skipped.
    WCHAR small[16] = {};
    lstrcpynW(source, file, 2048);
    EXPECT_EQ(m_agent.MapRestorePath(nullptr, nullptr, 1, u"", source, small, sizeof small), kPathSkip);
}

TEST_F(FontsAgentTest, OnlyWhatFontsIniNamesIsOfferedAndCounts) {
    m_drive.Write("KovraData/Ann@PC/Fonts/stray.ttf", "x");
    EXPECT_EQ(m_agent.HasBackupData(m_drive.Letter()), 0) << "a file fonts.ini does not name is no backup";
    m_drive.Write("KovraData/Ann@PC/Fonts/kept.ttf", "y");
    ASSERT_TRUE(WritePrivateProfileStringW(u"Fonts", u"kept.ttf", u"Kept (TrueType)",
                                           m_drive.Path("KovraData/Ann@PC/Fonts/fonts.ini").c_str()));
    EXPECT_EQ(m_agent.HasBackupData(m_drive.Letter()), 1);
}

TEST_F(FontsAgentTest, ANeverOpenedCheckedRootStillNamesItsFontsInTheSet) {
    Install("DejaVuSansMono.ttf");
    CShellTreeCtrl& source = NewTree(kTreeBackup);
    HTREEITEM root = Root(source);
    ASSERT_NE(root, nullptr);
    source.SetCheckState(root, kStateChecked);
    JobRunner job(source, m_manager);
    job.Backup(CString(m_drive.Path()));
    EXPECT_EQ(job.copied.size(), 1u);
    WCHAR display[260] = {};
    GetPrivateProfileStringW(u"Fonts", u"DejaVuSansMono.ttf", u"", display, 260, SetPath() + u"\\Fonts\\fonts.ini");
    EXPECT_EQ(CString(display), CString(u"DejaVu Sans Mono (TrueType)"));
}

} // namespace
