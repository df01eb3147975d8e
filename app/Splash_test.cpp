#include "app/Splash.h"

#include "app/AppTestSupport.h"

namespace {

using SplashTest = apptest::MachineTest;

TEST_F(SplashTest, VersionText) {
    // The test program carries file version 1.7.1.0 with the special build text 1115.
    EXPECT_EQ(CSplash::GetVersionLine().Str(), u"Version : 1.7.1.0 Build 1115");

    CString version = u"unchanged";
    CSplash::GetApVersion(u"B:\\plain\\plain.dll", version);
    EXPECT_EQ(version.Str(), u"2.0.3.14");
    version = u"unchanged";
    CSplash::GetApVersion(u"T:\\missing.exe", version);
    EXPECT_EQ(version.Str(), u"unchanged");
}

} // namespace
