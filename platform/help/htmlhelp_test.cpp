#include "platform/help/htmlhelp.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/testing/scratch_drive.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

TEST(HtmlHelpTest, RequestsAreRecordedAndMissingFilesFail) {
    platform::machine::ScopedTestMachine machine;
    const testsupport::ScratchDrive drive(machine, u'H', "help");
    drive.Write("Guide.chm", "help");
    platform::help::ClearRequests();

    EXPECT_EQ(HtmlHelpW(nullptr, u"H:\\Guide.chm::/Ch4-1.html", HH_DISPLAY_TOPIC, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(HtmlHelpW(nullptr, u"H:\\Guide.chm", HH_DISPLAY_TOPIC, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(HtmlHelpW(nullptr, u"H:\\Missing.chm::/a.html", HH_DISPLAY_TOPIC, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(HtmlHelpW(nullptr, u"H:\\Guide.chm", 0x000F, 7), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);

    const auto requests = platform::help::Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].file, u"H:\\Guide.chm::/Ch4-1.html");
    EXPECT_EQ(requests[0].command, HH_DISPLAY_TOPIC);
    EXPECT_EQ(requests[2].file, u"H:\\Missing.chm::/a.html");
    EXPECT_EQ(requests[3].command, 0x000Fu);
    EXPECT_EQ(requests[3].data, 7u);
    platform::help::ClearRequests();
    EXPECT_TRUE(platform::help::Requests().empty());
}

} // namespace
