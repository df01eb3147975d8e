#include "platform/afx/FileDialog.h"

#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/testing/scratch_drive.h"
#include "platform/ui/prompt_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using platform::ui::PromptKind;
using platform::ui::PromptReply;

class FileDialogTest : public testsupport::ScratchDriveTest {
protected:
    FileDialogTest() {
        platform::ui::SetDeadlockTimeout(120000);
        m_drive.MakeFolder("sub.dir");
        m_drive.Write("app.log", "");
    }
};

TEST_F(FileDialogTest, OpenDialogOffersItsSettingsAndReadsTheChoice) {
    CFileDialog dlg(TRUE, u"log", u"*.log", OFN_FILEMUSTEXIST | OFN_HIDEREADONLY,
                    u"Log files (*.log)|*.log|All files (*.*)|*.*||");
    EXPECT_EQ(dlg.m_ofn.Flags & (OFN_FILEMUSTEXIST | OFN_HIDEREADONLY), OFN_FILEMUSTEXIST | OFN_HIDEREADONLY);
    uitest::PromptScript script;
    script.Expect(PromptKind::OpenFile, u"", PromptReply::Path(u"T:\\app.log"));
    ASSERT_EQ(dlg.DoModal(), IDOK);
    const auto seen = script.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].fileName, u"*.log");
    EXPECT_EQ(seen[0].defaultExt, u"log");
    ASSERT_EQ(seen[0].filters.size(), 2u);
    EXPECT_EQ(seen[0].filters[0].first, u"Log files (*.log)");
    EXPECT_EQ(seen[0].filters[0].second, u"*.log");
    EXPECT_EQ(seen[0].filters[1].second, u"*.*");
    EXPECT_TRUE(dlg.GetPathName() == u"T:\\app.log");
    EXPECT_TRUE(dlg.GetFileName() == u"app.log");
    EXPECT_TRUE(dlg.GetFileExt() == u"log");
    EXPECT_TRUE(dlg.GetFileTitle() == u"app");
    EXPECT_TRUE(dlg.GetFolderPath() == u"T:");
}

TEST_F(FileDialogTest, SaveDialogAddsTheDefaultExtensionAndCancelReturnsCancel) {
    {
        CFileDialog dlg(FALSE, u"rpr", u"", OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOREADONLYRETURN,
                        u"Selection files (*.rpr)|*.rpr||");
        uitest::PromptScript script;
        script.Expect(PromptKind::SaveFile, u"", PromptReply::Path(u"T:\\sub.dir\\mine"));
        ASSERT_EQ(dlg.DoModal(), IDOK);
        EXPECT_TRUE(dlg.GetPathName() == u"T:\\sub.dir\\mine.rpr");
        EXPECT_TRUE(dlg.GetFileExt() == u"rpr");
        EXPECT_TRUE(dlg.GetFolderPath() == u"T:\\sub.dir");
    }
    {
        CFileDialog dlg(FALSE, u"log");
        uitest::PromptScript script;
        script.Expect(PromptKind::SaveFile, u"", IDCANCEL);
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_EQ(CommDlgExtendedError(), 0u);
        EXPECT_TRUE(dlg.GetPathName().IsEmpty());
    }
}

TEST_F(FileDialogTest, NameAccessorsSplitThePath) {
    struct Case {
        const char16_t* path;
        const char16_t* name;
        const char16_t* ext;
        const char16_t* title;
    };
    const Case cases[] = {
        {u"C:\\Logs\\app.log", u"app.log", u"log", u"app"},
        {u"C:\\Logs.d\\readme", u"readme", u"", u"readme"},
        {u"C:\\a\\archive.tar.gz", u"archive.tar.gz", u"gz", u"archive.tar"},
        {u"plain.txt", u"plain.txt", u"txt", u"plain"},
    };
    for (const Case& c : cases) {
        CFileDialog dlg(TRUE, nullptr, c.path);
        EXPECT_TRUE(dlg.GetFileName() == c.name) << platform::Utf16ToUtf8(c.path);
        EXPECT_TRUE(dlg.GetFileExt() == c.ext) << platform::Utf16ToUtf8(c.path);
        EXPECT_TRUE(dlg.GetFileTitle() == c.title) << platform::Utf16ToUtf8(c.path);
    }
}

} // namespace
