#include "workflows/Schedule.h"

#include "platform/base/clock.h"
#include "platform/base/machine.h"
#include "platform/testing/eventually.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using platform::clock::kTicksPerSecond;

class ScheduleTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::clock::SetTimeZone("Europe/Berlin");
        // Probe for tzdata: in summer Berlin is two hours ahead of UTC.
        const LONGLONG july = platform::clock::kUnixEpoch + 1'720'000'000LL * kTicksPerSecond;
        ASSERT_EQ(platform::clock::UtcToLocal(july) - july, 2 * 3600 * kTicksPerSecond)
            << "time-zone data (tzdata, installed by scripts/setup) is missing";
    }
    void TearDown() override {
        platform::clock::UseRealClock();
        platform::clock::SetTimeZone("");
    }
    // Sets the manual clock to a local time in Berlin.
    static void Now(int y, int mo, int d, int h, int mi, int s) {
        platform::clock::UseManualClock(0);
        const CTime t(y, mo, d, h, mi, s);
        platform::clock::Set(Utc(t));
    }
    static LONGLONG Utc(const CTime& local) {
        return platform::clock::kUnixEpoch + static_cast<LONGLONG>(local.GetTime()) * kTicksPerSecond;
    }
    platform::machine::ScopedTestMachine m_machine;
};

bool Same(const CTime& t, int y, int mo, int d, int h, int mi) {
    return t.GetYear() == y && t.GetMonth() == mo && t.GetDay() == d && t.GetHour() == h && t.GetMinute() == mi;
}

} // namespace

TEST_F(ScheduleTest, NextRunForEachRepeatType) {
    struct Case {
        const char* name;
        int type;
        DWORD mask;
        CTime start;
        int y, mo, d, h, mi; // expected next run, local
    };
    // Now: Wednesday 2024-04-10 10:00 local.
    const Case cases[] = {
        {"once ahead", -1, 0, CTime(2024, 4, 10, 11, 0, 0), 2024, 4, 10, 11, 0},
        {"daily, today's time ahead", 0, 0, CTime(2024, 1, 1, 12, 30, 0), 2024, 4, 10, 12, 30},
        {"daily, today's time passed", 0, 0, CTime(2024, 1, 1, 9, 0, 0), 2024, 4, 11, 9, 0},
        {"weekly, only today, passed", 1, 1u << 3, CTime(2024, 1, 1, 9, 0, 0), 2024, 4, 17, 9, 0},
        {"weekly, only today, ahead", 1, 1u << 3, CTime(2024, 1, 1, 11, 0, 0), 2024, 4, 10, 11, 0},
        {"weekly, Sunday and Friday", 1, 1u | 1u << 5, CTime(2024, 1, 1, 9, 0, 0), 2024, 4, 12, 9, 0},
        {"weekly, start ahead off the mask", 1, 1u, CTime(2024, 5, 1, 8, 0, 0), 2024, 5, 5, 8, 0},
        {"monthly, 31st in a 30-day month", 2, 1u << 30, CTime(2024, 1, 1, 9, 0, 0), 2024, 5, 31, 9, 0},
        {"monthly, start ahead", 2, 1u << 14, CTime(2024, 6, 1, 9, 0, 0), 2024, 6, 15, 9, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Now(2024, 4, 10, 10, 0, 0);
        CSchedule schedule;
        schedule.SetSchedule(c.start, c.type, c.mask);
        const CTime next = schedule.GetNextTime();
        EXPECT_TRUE(Same(next, c.y, c.mo, c.d, c.h, c.mi))
            << next.GetYear() << "-" << next.GetMonth() << "-" << next.GetDay() << " " << next.GetHour() << ":"
            << next.GetMinute();
    }
}

TEST_F(ScheduleTest, MonthDaysFollowTheRightYearsFebruary) {
    const DWORD day29 = 1u << 28;
    EXPECT_EQ(CSchedule::DaysToNextMonthDay(day29, 2024, 1, 31), 29);
    EXPECT_EQ(CSchedule::DaysToNextMonthDay(day29, 2023, 1, 31), 28 + 29);
    EXPECT_EQ(CSchedule::DaysToNextMonthDay(day29, 2000, 1, 31), 29);
    EXPECT_EQ(CSchedule::DaysToNextMonthDay(day29, 2100, 1, 31), 28 + 29);
    // From December, the months ahead belong to the next year.
    EXPECT_EQ(CSchedule::DaysToNextMonthDay(1u << 30, 2023, 12, 31), 31);
    EXPECT_EQ(CSchedule::DaysToNextWeekday(1u << 3, 4), 7);
    EXPECT_EQ(CSchedule::DaysToNextWeekday(0, 4), 1);
}

TEST_F(ScheduleTest, DueTimeUsesTheBiasOfItsSideOfTheDaylightSavingChange) {
    // Daily at 12:00; the clocks go forward on 2024-03-31 at 02:00.
    Now(2024, 3, 30, 11, 0, 0);
    CSchedule schedule;
    schedule.SetSchedule(CTime(2024, 3, 1, 12, 0, 0), 0, 0);
    const LONGLONG winter = platform::clock::kUnixEpoch + 1'711'796'400LL * kTicksPerSecond; // 2024-03-30 11:00 UTC
    EXPECT_EQ(schedule.GetNextDueTime(), winter);
    Now(2024, 3, 30, 13, 0, 0);
    const LONGLONG summer = platform::clock::kUnixEpoch + 1'711'879'200LL * kTicksPerSecond; // 2024-03-31 10:00 UTC
    EXPECT_EQ(schedule.GetNextDueTime(), summer);
    EXPECT_TRUE(Same(schedule.GetNextTime(), 2024, 3, 31, 12, 0)) << "a day later keeps the wall-clock hour";
}

TEST_F(ScheduleTest, TheHourThatComesTwiceHoldsItsRunOnce) {
    // The clocks go back on 2024-10-27 at 03:00 summer time to 02:00, so 02:30 comes twice. A daily run at 02:30 is
    // due at the first; during the second hour that slot is behind, and the next is the day after, not one at once.
    auto at = [](LONGLONG unixSeconds) { return platform::clock::kUnixEpoch + unixSeconds * kTicksPerSecond; };
    platform::clock::UseManualClock(at(1'729'988'400)); // 00:20 UTC, 02:20 summer time
    CSchedule schedule;
    schedule.SetSchedule(CTime(2024, 10, 1, 2, 30, 0), 0, 0);
    EXPECT_TRUE(Same(schedule.GetNextTime(), 2024, 10, 27, 2, 30));
    EXPECT_EQ(schedule.GetNextDueTime(), at(1'729'989'000)); // 00:30 UTC
    platform::clock::Set(at(1'729'991'400)); // 01:10 UTC, 02:10 winter time
    EXPECT_TRUE(Same(schedule.GetNextTime(), 2024, 10, 28, 2, 30));
    EXPECT_EQ(schedule.GetNextDueTime(), at(1'730'079'000)); // 28th, 01:30 UTC
    // Weekly on Sundays and monthly on the 27th alike: the next is a week, a month later.
    schedule.SetSchedule(CTime(2024, 10, 1, 2, 30, 0), 1, 1u << 0);
    EXPECT_TRUE(Same(schedule.GetNextTime(), 2024, 11, 3, 2, 30));
    schedule.SetSchedule(CTime(2024, 10, 1, 2, 30, 0), 2, 1u << 26);
    EXPECT_TRUE(Same(schedule.GetNextTime(), 2024, 11, 27, 2, 30));
    // A one-time run at that 02:30 has gone by.
    schedule.SetSchedule(CTime(2024, 10, 27, 2, 30, 0), -1, 0);
    EXPECT_EQ(schedule.GetNextTime().GetTime(), 0);
}

TEST_F(ScheduleTest, StartRefusalsAndOnceInThePast) {
    Now(2024, 4, 10, 10, 0, 0);
    CSchedule schedule;
    schedule.SetSchedule(CTime(2024, 4, 10, 9, 0, 0), -1, 0);
    EXPECT_EQ(schedule.StartSchedule(), 5);
    schedule.SetSchedule(CTime(2024, 4, 10, 9, 0, 0), 1, 0);
    EXPECT_EQ(schedule.StartSchedule(), 9);
    schedule.SetSchedule(CTime(2024, 4, 10, 9, 0, 0), 2, 0);
    EXPECT_EQ(schedule.StartSchedule(), 8);
    EXPECT_EQ(schedule.StopSchedule(), 0);
}

TEST_F(ScheduleTest, FiresOncePerSlotPostsAndReArmsAcrossTheChange) {
    Now(2024, 3, 30, 11, 59, 0);
    HWND hwnd = CreateWindowExW(0, u"Static", u"page", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    if (!hwnd) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.lpszClassName = u"SchedulePage";
        RegisterClassW(&wc);
        hwnd = CreateWindowExW(0, u"SchedulePage", u"page", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    }
    ASSERT_NE(hwnd, nullptr);
    CSchedule schedule;
    schedule.SetSchedule(CTime(2024, 3, 1, 12, 0, 0), 0, 0);
    schedule.AttachMessage(hwnd, WM_USER + 1001, 0, 0);
    ASSERT_EQ(schedule.StartSchedule(), 0);
    ASSERT_EQ(schedule.StartSchedule(), 6);
    const LONGLONG saturday = platform::clock::kUnixEpoch + 1'711'796'400LL * kTicksPerSecond; // 2024-03-30 11:00 UTC
    ASSERT_TRUE(testsupport::Eventually([&] { return schedule.GetArmedDueTime() == saturday; }));

    // The posts that arrived so far. A post too many, early or late, shows at the latest once the worker has been
    // stopped and joined, when nothing can post any more.
    int runs = 0;
    auto collect = [&] {
        MSG msg;
        while (PeekMessageW(&msg, hwnd, WM_USER + 1001, WM_USER + 1001, PM_REMOVE))
            ++runs;
        return runs;
    };
    auto runsReach = [&](int expected) { return testsupport::Eventually([&] { return collect() >= expected; }); };
    platform::clock::Advance(30'000);
    EXPECT_EQ(collect(), 0);
    platform::clock::Advance(30'000); // 12:00 on Saturday
    ASSERT_TRUE(runsReach(1));
    // Across the change to summer time the next run is at 12:00 local on Sunday, 23 real hours later. The worker
    // arms it after the run's post; the clock moves on only once it has, or the slot would already be behind it.
    const LONGLONG sunday = platform::clock::kUnixEpoch + 1'711'879'200LL * kTicksPerSecond; // 2024-03-31 10:00 UTC
    ASSERT_TRUE(testsupport::Eventually([&] { return schedule.GetArmedDueTime() == sunday; }));
    platform::clock::Advance(22LL * 3600 * 1000);
    EXPECT_EQ(collect(), 1);
    platform::clock::Advance(3600LL * 1000);
    ASSERT_TRUE(runsReach(2));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(schedule.StopSchedule(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    EXPECT_EQ(collect(), 2) << "one post per slot";
    DestroyWindow(hwnd);
}
