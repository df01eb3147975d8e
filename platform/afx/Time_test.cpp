#include "platform/afx/Time.h"

#include "platform/base/clock.h"

#include <gtest/gtest.h>

namespace {

class TimeTest : public ::testing::Test {
protected:
    void SetUp() override { platform::clock::SetTimeZone("Europe/Berlin"); }
    void TearDown() override {
        platform::clock::UseRealClock();
        platform::clock::SetTimeZone("");
    }
};

TEST_F(TimeTest, LocalTimeBreakdownAndFormat) {
    // 2008-07-04 13:05:09 in Berlin is summer time (UTC+2).
    const CTime t(2008, 7, 4, 13, 5, 9);
    EXPECT_EQ(t.GetTime(), 1215169509);
    EXPECT_EQ(t.GetYear(), 2008);
    EXPECT_EQ(t.GetMonth(), 7);
    EXPECT_EQ(t.GetDay(), 4);
    EXPECT_EQ(t.GetHour(), 13);
    EXPECT_EQ(t.GetMinute(), 5);
    EXPECT_EQ(t.GetSecond(), 9);
    EXPECT_EQ(t.GetDayOfWeek(), 6); // Friday
    struct Case {
        const char16_t* format;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"%Y/%m/%d", u"2008/07/04"},        {u"%H:%M:%S", u"13:05:09"},
        {u"%y %I %p %j", u"08 01 PM 186"},   {u"%a %A %b %B", u"Fri Friday Jul July"},
        {u"%#d.%#m.%Y %#H", u"4.7.2008 13"}, {u"%x %X", u"07/04/08 13:05:09"},
        {u"100%% %z", u"100% +0200"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::u16string(static_cast<LPCTSTR>(t.Format(c.format))), c.expected);
    EXPECT_EQ(std::u16string(static_cast<LPCTSTR>(t.FormatGmt(u"%H:%M %Z"))), u"11:05 UTC");

    SYSTEMTIME st;
    ASSERT_TRUE(t.GetAsSystemTime(st));
    EXPECT_EQ(st.wHour, 13);
    EXPECT_EQ(st.wDayOfWeek, 5);
    EXPECT_EQ(CTime(st), t);

    // Winter time is UTC+1.
    EXPECT_EQ(CTime(2008, 1, 4, 13, 5, 9).FormatGmt(u"%H"), CString(u"12"));
    // Before 1970 works too.
    EXPECT_EQ(CTime(1969, 12, 31, 23, 0, 0).FormatGmt(u"%Y-%m-%d %H %w"), CString(u"1969-12-31 22 3"));
}

TEST_F(TimeTest, CurrentTimeComesFromTheLayerClock) {
    FILETIME ft{};
    SYSTEMTIME utc{2010, 3, 0, 15, 8, 30, 0, 0};
    ASSERT_TRUE(SystemTimeToFileTime(&utc, &ft));
    platform::clock::UseManualClock(platform::clock::FromFileTime(ft));
    CTime now = CTime::GetCurrentTime();
    EXPECT_EQ(now, CTime(ft));
    EXPECT_EQ(now.Format(u"%H:%M"), CString(u"09:30"));
    platform::clock::Advance(90 * 1000);
    EXPECT_EQ(CTime::GetCurrentTime() - now, CTimeSpan(0, 0, 1, 30));
}

TEST_F(TimeTest, SpansCountAndFormat) {
    const CTimeSpan span(2, 3, 4, 5);
    EXPECT_EQ(span.GetDays(), 2);
    EXPECT_EQ(span.GetHours(), 3);
    EXPECT_EQ(span.GetMinutes(), 4);
    EXPECT_EQ(span.GetSeconds(), 5);
    EXPECT_EQ(span.GetTotalHours(), 51);
    EXPECT_EQ(span.GetTotalSeconds(), 2 * 86400 + 3 * 3600 + 4 * 60 + 5);
    EXPECT_EQ(span.Format(u"%D days %H:%M:%S %%"), CString(u"2 days 03:04:05 %"));
    CTime t(2008, 2, 28, 23, 0, 0);
    t += CTimeSpan(1, 2, 0, 0);
    EXPECT_EQ(t.Format(u"%m-%d %H"), CString(u"03-01 01")); // a leap year
    EXPECT_TRUE(CTimeSpan(5) < CTimeSpan(6));
}

} // namespace
