#include "platform/afx/OleDateTime.h"
#include "platform/afx/Time.h"

#include "platform/base/clock.h"
#include "platform/base/strings.h"

#include <array>

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

namespace {

TEST(OleDateTimeTest, DateScaleRoundTripsIncludingDaysBeforeTheZeroDate) {
    EXPECT_EQ(static_cast<DATE>(COleDateTime(1899, 12, 30, 0, 0, 0)), 0.0);
    EXPECT_EQ(static_cast<DATE>(COleDateTime(1900, 1, 1, 18, 0, 0)), 2.75);
    // The day before the zero date at 6 in the morning is -1.25: the day counts back, the time forward.
    EXPECT_EQ(static_cast<DATE>(COleDateTime(1899, 12, 29, 6, 0, 0)), -1.25);
    const COleDateTime early(-1.25);
    EXPECT_EQ(early.GetDay(), 29);
    EXPECT_EQ(early.GetHour(), 6);
    EXPECT_LT(COleDateTime(1899, 12, 29, 6, 0, 0), COleDateTime(1899, 12, 29, 18, 0, 0));
    EXPECT_LT(COleDateTime(1899, 12, 29, 18, 0, 0), COleDateTime(1899, 12, 30, 0, 0, 0));

    const COleDateTime leap(2024, 2, 29, 23, 59, 58);
    SYSTEMTIME st{};
    ASSERT_TRUE(leap.GetAsSystemTime(st));
    EXPECT_EQ(st.wYear, 2024);
    EXPECT_EQ(st.wMonth, 2);
    EXPECT_EQ(st.wDay, 29);
    EXPECT_EQ(st.wSecond, 58);
    EXPECT_EQ(st.wDayOfWeek, 4); // Thursday
    EXPECT_EQ(leap.GetDayOfWeek(), 5);
    EXPECT_EQ(leap.GetDayOfYear(), 60);
    EXPECT_TRUE(COleDateTime(st) == leap);

    COleDateTime bad(2023, 2, 29, 0, 0, 0);
    EXPECT_EQ(bad.GetStatus(), COleDateTime::invalid);
    EXPECT_EQ(bad.GetYear(), -1);
    EXPECT_EQ(bad.SetDateTime(2023, 3, 1, 24, 0, 0), 1);
}

TEST(OleDateTimeTest, ParseDateTimeReadsTheUserLocalesFormsAndRefusesTheRest) {
    platform::clock::UseManualClock(platform::clock::LocalToUtc(platform::clock::kUnixEpoch +
                                                                 1'700'000'000LL * platform::clock::kTicksPerSecond));
    const int thisYear = COleDateTime::GetCurrentTime().GetYear();
    struct Case {
        const char16_t* text;
        int year, month, day, hour, minute, second;
    };
    const Case good[] = {
        {u"1/31/2024", 2024, 1, 31, 0, 0, 0},
        {u"12-25-99", 1999, 12, 25, 0, 0, 0},
        {u"3.4.05", 2005, 3, 4, 0, 0, 0},
        {u"2024-01-31", 2024, 1, 31, 0, 0, 0},
        {u"1.2.3", 2003, 1, 2, 0, 0, 0},
        {u"  7/4  ", thisYear, 7, 4, 0, 0, 0},
        {u"January 5, 2024", 2024, 1, 5, 0, 0, 0},
        {u"5 Jan 2024", 2024, 1, 5, 0, 0, 0},
        {u"Friday, March 1, 2024 10:30 PM", 2024, 3, 1, 22, 30, 0},
        {u"10:30", 1899, 12, 30, 10, 30, 0},
        {u"12:00:05 AM", 1899, 12, 30, 0, 0, 5},
        {u"7 pm", 1899, 12, 30, 19, 0, 0},
        {u"2/29/2024 23:59:59", 2024, 2, 29, 23, 59, 59},
    };
    for (const auto& c : good) {
        COleDateTime t;
        ASSERT_TRUE(t.ParseDateTime(c.text)) << platform::Utf16ToUtf8(c.text);
        EXPECT_EQ(t.GetStatus(), COleDateTime::valid);
        EXPECT_EQ((std::array{t.GetYear(), t.GetMonth(), t.GetDay(), t.GetHour(), t.GetMinute(), t.GetSecond()}),
                  (std::array{c.year, c.month, c.day, c.hour, c.minute, c.second}))
            << platform::Utf16ToUtf8(c.text);
    }
    const char16_t* bad[] = {u"12",      u"1.5e3", u"Sunday",  u"column1", u"2/30/2024", u"25:00",
                             u"1+2",     u"abc 1/2/2024",      u"13/1/2024", u"1:2:3:4",  u"10:30 11:00"};
    for (const char16_t* text : bad) {
        COleDateTime t(2000, 1, 1, 0, 0, 0);
        EXPECT_FALSE(t.ParseDateTime(text)) << platform::Utf16ToUtf8(text);
        EXPECT_EQ(t.GetStatus(), COleDateTime::invalid);
    }
    COleDateTime t;
    ASSERT_TRUE(t.ParseDateTime(u"1/31/2024 10:30", VAR_DATEVALUEONLY));
    EXPECT_EQ(t.GetHour(), 0);
    ASSERT_TRUE(t.ParseDateTime(u"1/31/2024 10:30", VAR_TIMEVALUEONLY));
    EXPECT_EQ(t.GetYear(), 1899);
    EXPECT_EQ(t.GetHour(), 10);
    EXPECT_EQ(std::u16string(COleDateTime(2024, 1, 31, 0, 0, 0).Format()), u"1/31/2024");
    EXPECT_EQ(std::u16string(COleDateTime(2024, 1, 31, 13, 5, 0).Format()), u"1/31/2024 1:05:00 PM");
    EXPECT_EQ(std::u16string(COleDateTime(1899, 12, 30, 0, 7, 0).Format()), u"12:07:00 AM");
    platform::clock::UseRealClock();
}

} // namespace
