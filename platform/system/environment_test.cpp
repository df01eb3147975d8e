#include "platform/system/environment.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class EnvironmentTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SetEnvironmentVariableW(u"XTEST_Folder", u"C:\\Data"));
        ASSERT_TRUE(SetEnvironmentVariableW(u"XTEST_EMPTY", u""));
    }
    void TearDown() override {
        SetEnvironmentVariableW(u"XTEST_Folder", nullptr);
        SetEnvironmentVariableW(u"XTEST_EMPTY", nullptr);
    }
};

TEST_F(EnvironmentTest, ExpandsReferencesAsWindowsDoes) {
    const struct {
        std::u16string source;
        std::u16string expanded;
    } cases[] = {
        {u"%XTEST_Folder%\\Mail", u"C:\\Data\\Mail"},
        {u"%xtest_folder%", u"C:\\Data"},
        {u"a%XTEST_FOLDER%b%XTEST_Folder%c", u"aC:\\Datab"
                                             u"C:\\Datac"},
        {u"%XTEST_EMPTY%x", u"x"},
        {u"%XTEST_NOT_SET%\\x", u"%XTEST_NOT_SET%\\x"},
        {u"%XTEST_NOT_SET%XTEST_Folder%", u"%XTEST_NOT_SET%XTEST_Folder%"},
        {u"%%", u"%%"},
        {u"100%", u"100%"},
        {u"50% of %XTEST_Folder%", u"50% of %XTEST_Folder%"},
        {u"", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::Utf16ToUtf8(c.source));
        WCHAR buffer[128];
        EXPECT_EQ(c.expanded.size() + 1, ExpandEnvironmentStringsW(c.source.c_str(), buffer, 128));
        EXPECT_EQ(c.expanded, std::u16string(buffer));
    }
    // Too small a buffer: the size needed, nothing written.
    WCHAR small[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(8u, ExpandEnvironmentStringsW(u"%XTEST_Folder%", small, 4));
    EXPECT_EQ(u'#', small[0]);
    EXPECT_EQ(8u, ExpandEnvironmentStringsW(u"%XTEST_Folder%", nullptr, 0));
}

TEST_F(EnvironmentTest, VariablesIgnoreCase) {
    WCHAR buffer[64];
    EXPECT_EQ(7u, GetEnvironmentVariableW(u"xtest_FOLDER", buffer, 64));
    EXPECT_EQ(u"C:\\Data", std::u16string(buffer));
    EXPECT_EQ(8u, GetEnvironmentVariableW(u"XTEST_Folder", buffer, 7));
    SetLastError(1);
    EXPECT_EQ(0u, GetEnvironmentVariableW(u"XTEST_EMPTY", buffer, 64));
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());

    // Setting another spelling replaces the variable rather than adding a second one.
    ASSERT_TRUE(SetEnvironmentVariableW(u"XTEST_FOLDER", u"D:\\"));
    EXPECT_EQ(3u, GetEnvironmentVariableW(u"XTEST_Folder", buffer, 64));
    EXPECT_EQ(u"D:\\", std::u16string(buffer));
    ASSERT_TRUE(SetEnvironmentVariableW(u"xtest_folder", nullptr));
    EXPECT_EQ(0u, GetEnvironmentVariableW(u"XTEST_Folder", buffer, 64));
    EXPECT_EQ(ERROR_ENVVAR_NOT_FOUND, GetLastError());

    EXPECT_FALSE(SetEnvironmentVariableW(u"A=B", u"x"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_FALSE(SetEnvironmentVariableW(u"", u"x"));
}

} // namespace
