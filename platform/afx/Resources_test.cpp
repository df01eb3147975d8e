#include "platform/afx/ModuleState.h"
#include "platform/afx/String.h"

#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/fs/paths.h"
#include "platform/res/resources.h"

#include <gtest/gtest.h>

namespace {

TEST(ResourcesTest, StringsComeFromTheCurrentResourceModule) {
    platform::machine::ScopedTestMachine machine;
    platform::fs::DriveInfo lang;
    lang.letter = u'L';
    lang.hostRoot = AFX_TEST_LANG_DIR;
    ASSERT_TRUE(platform::fs::SetDrive(lang));

    EXPECT_EQ(AfxGetResourceHandle(), AfxGetInstanceHandle());
    CString text;
    ASSERT_TRUE(text.LoadString(5024));
    EXPECT_TRUE(text == u"Start successfully.");
    EXPECT_TRUE(CString(MAKEINTRESOURCE(5024)) == u"Start successfully.");
    text.Format(5025u, u"Backup", 12);
    EXPECT_TRUE(text == u"Backup copied 12 files");
    EXPECT_FALSE(text.LoadString(9999));
    EXPECT_TRUE(text.IsEmpty());

    HMODULE pack = LoadLibraryW(u"L:\\0x0411.dll");
    ASSERT_NE(pack, nullptr);
    AfxSetResourceHandle(pack);
    ASSERT_TRUE(text.LoadString(5024));
    EXPECT_TRUE(text == u"\u958b\u59cb\u3057\u307e\u3057\u305f\u3002");
    EXPECT_FALSE(text.LoadString(5025)); // the library's tables only
    AfxSetResourceHandle(AfxGetInstanceHandle());
    ASSERT_TRUE(text.LoadString(5024));
    EXPECT_TRUE(text == u"Start successfully.");
    FreeLibrary(pack);
}

} // namespace
