#include "platform/base/clock.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

extern char** environ;

using namespace platform::clock;

namespace {

SYSTEMTIME Date(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
    SYSTEMTIME st{};
    st.wYear = y;
    st.wMonth = mo;
    st.wDay = d;
    st.wHour = h;
    st.wMinute = mi;
    st.wSecond = s;
    st.wMilliseconds = ms;
    return st;
}

Ticks TicksOf(const SYSTEMTIME& st) {
    FILETIME ft{};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return FromFileTime(ft);
}

SYSTEMTIME SystemTimeOf(Ticks t) {
    SYSTEMTIME st{};
    const FILETIME ft = ToFileTime(t);
    EXPECT_TRUE(FileTimeToSystemTime(&ft, &st));
    return st;
}

std::string Text(const SYSTEMTIME& st) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u.%03u (%u)", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, st.wDayOfWeek);
    return buffer;
}

// Every clock test ends on the real clock in the host's zone, whatever it did.
class ClockTest : public ::testing::Test {
protected:
    void TearDown() override {
        UseRealClock();
        SetTimeZone("");
    }
};

// Runs ClockChild.DISABLED_ReportsTheMachinesTime in a new process of this program; its exit status.
int RunChild(const std::string& report) {
    std::string self(4096, '\0');
    const ssize_t len = readlink("/proc/self/exe", self.data(), self.size() - 1);
    self.resize(len > 0 ? static_cast<size_t>(len) : 0);
    std::string filter = "--gtest_filter=ClockChild.DISABLED_ReportsTheMachinesTime";
    std::string alsoDisabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {self.data(), filter.data(), alsoDisabled.data(), nullptr};
    setenv("CLOCK_TEST_REPORT", report.c_str(), 1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    unsetenv("CLOCK_TEST_REPORT");
    if (spawned != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveZone(const char* name) {
    return std::filesystem::exists(std::string("/usr/share/zoneinfo/") + name);
}

} // namespace

TEST_F(ClockTest, FileTimesConvertToKnownDates) {
    const struct {
        Ticks ticks;
        const char* text;
    } cases[] = {
        {0, "1601-01-01 00:00:00.000 (1)"},
        {kUnixEpoch, "1970-01-01 00:00:00.000 (4)"},
        {kUnixEpoch + 951'827'696'789LL * kTicksPerMs, "2000-02-29 12:34:56.789 (2)"},
        {kUnixEpoch + 4'102'444'799LL * kTicksPerSecond, "2099-12-31 23:59:59.000 (4)"},
    };
    for (const auto& c : cases) {
        const SYSTEMTIME st = SystemTimeOf(c.ticks);
        EXPECT_EQ(Text(st), c.text);
        EXPECT_EQ(TicksOf(st), c.ticks);
    }

    FILETIME ft{};
    SYSTEMTIME bad = Date(2023, 2, 29);
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    bad = Date(2024, 13, 1);
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
    bad = Date(2024, 1, 1, 24);
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
    const FILETIME negative{0, 0x80000000u};
    SYSTEMTIME st{};
    EXPECT_FALSE(FileTimeToSystemTime(&negative, &st));

    const FILETIME a = ToFileTime(1), b = ToFileTime(2);
    EXPECT_EQ(CompareFileTime(&a, &b), -1);
    EXPECT_EQ(CompareFileTime(&b, &a), 1);
    EXPECT_EQ(CompareFileTime(&a, &a), 0);
}

TEST_F(ClockTest, CalendarArithmeticOnDayNumbers) {
    const struct {
        int64_t year;
        unsigned month, day;
        int64_t days;
        unsigned weekday;
        unsigned monthLength;
    } cases[] = {
        {1970, 1, 1, 0, 4, 31},        {1969, 12, 31, -1, 3, 31},        {1601, 1, 1, -134'774, 1, 31},
        {1900, 2, 28, -25'509, 3, 28}, {2000, 2, 29, 11'016, 2, 29},     {2024, 2, 1, 19'754, 4, 29},
        {2100, 2, 1, 47'513, 1, 28},   {9999, 12, 31, 2'932'896, 5, 31},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.year * 10000 + c.month * 100 + c.day);
        EXPECT_EQ(DaysFromCivil(c.year, c.month, c.day), c.days);
        int64_t y = 0;
        unsigned m = 0, d = 0;
        CivilFromDays(c.days, y, m, d);
        EXPECT_EQ(y, c.year);
        EXPECT_EQ(m, c.month);
        EXPECT_EQ(d, c.day);
        EXPECT_EQ(DayOfWeek(c.days), c.weekday);
        EXPECT_EQ(DaysInMonth(c.year, c.month), c.monthLength);
    }
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_TRUE(IsLeapYear(2024));
    EXPECT_FALSE(IsLeapYear(2023));
}

TEST_F(ClockTest, LocalTimeFollowsDaylightSavingAcrossTheChange) {
    ASSERT_TRUE(HaveZone("Europe/Berlin")) << "time-zone data (tzdata, installed by scripts/setup) is missing";
    SetTimeZone("Europe/Berlin");
    const struct {
        SYSTEMTIME utc;
        SYSTEMTIME local;
    } cases[] = {
        {Date(2024, 1, 15, 12), Date(2024, 1, 15, 13)},
        {Date(2024, 7, 15, 12), Date(2024, 7, 15, 14)},
        {Date(2024, 3, 31, 0, 59, 59), Date(2024, 3, 31, 1, 59, 59)},
        {Date(2024, 3, 31, 1, 0, 0), Date(2024, 3, 31, 3, 0, 0)},
        {Date(2024, 10, 27, 0, 59, 59), Date(2024, 10, 27, 2, 59, 59)},
        {Date(2024, 10, 27, 1, 0, 0), Date(2024, 10, 27, 2, 0, 0)},
    };
    for (const auto& c : cases) {
        FILETIME utc = ToFileTime(TicksOf(c.utc)), local{};
        ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
        EXPECT_EQ(FromFileTime(local), TicksOf(c.local)) << Text(c.utc);
    }
    // The repeated hour in autumn reads as its first (summer) instant; the skipped hour in spring as standard time.
    FILETIME local = ToFileTime(TicksOf(Date(2024, 10, 27, 2, 30))), utc{};
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    EXPECT_EQ(FromFileTime(utc), TicksOf(Date(2024, 10, 27, 0, 30)));
    local = ToFileTime(TicksOf(Date(2024, 3, 31, 2, 30)));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    EXPECT_EQ(FromFileTime(utc), TicksOf(Date(2024, 3, 31, 1, 30)));
    local = ToFileTime(TicksOf(Date(2024, 7, 1, 12)));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    EXPECT_EQ(FromFileTime(utc), TicksOf(Date(2024, 7, 1, 10)));

    // The zone's rules as Windows describes them, and conversions through that description.
    UseManualClock(TicksOf(Date(2024, 6, 1)));
    TIME_ZONE_INFORMATION tz{};
    EXPECT_EQ(GetTimeZoneInformation(&tz), TIME_ZONE_ID_DAYLIGHT);
    EXPECT_EQ(tz.Bias, -60);
    EXPECT_EQ(tz.DaylightBias, -60);
    EXPECT_EQ(tz.StandardBias, 0);
    EXPECT_EQ(tz.DaylightDate.wMonth, 3);
    EXPECT_EQ(tz.DaylightDate.wDay, 5);
    EXPECT_EQ(tz.DaylightDate.wDayOfWeek, 0);
    EXPECT_EQ(tz.DaylightDate.wHour, 2);
    EXPECT_EQ(tz.StandardDate.wMonth, 10);
    EXPECT_EQ(tz.StandardDate.wDay, 5);
    EXPECT_EQ(tz.StandardDate.wHour, 3);
    for (const auto& c : cases) {
        SYSTEMTIME out{};
        ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(&tz, &c.utc, &out));
        EXPECT_EQ(TicksOf(out), TicksOf(c.local)) << Text(c.utc);
    }
    const SYSTEMTIME summer = Date(2025, 8, 1, 9);
    SYSTEMTIME back{};
    ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(&tz, &summer, &back));
    EXPECT_EQ(Text(back), Text(SystemTimeOf(TicksOf(Date(2025, 8, 1, 7)))));

    SetTimeZone("UTC");
    EXPECT_EQ(GetTimeZoneInformation(&tz), TIME_ZONE_ID_UNKNOWN);
    EXPECT_EQ(tz.Bias, 0);
}

TEST_F(ClockTest, ManualClockStandsStillUntilMoved) {
    const Ticks start = TicksOf(Date(2024, 5, 6, 7, 8, 9));
    UseManualClock(start);
    EXPECT_TRUE(IsManual());
    SYSTEMTIME st{};
    GetSystemTime(&st);
    EXPECT_EQ(Text(st), "2024-05-06 07:08:09.000 (1)");
    const DWORD ticks = GetTickCount();
    EXPECT_EQ(GetTickCount(), ticks);

    Sleep(1500);
    EXPECT_EQ(GetTickCount(), ticks + 1500);
    EXPECT_EQ(Now(), start + 1500 * kTicksPerMs);

    Advance(60'000);
    GetSystemTime(&st);
    EXPECT_EQ(st.wMinute, 9);
    EXPECT_EQ(st.wSecond, 10);
    EXPECT_EQ(st.wMilliseconds, 500);

    // Setting the date moves the wall clock but not the tick count.
    Set(start - 86'400 * kTicksPerSecond);
    EXPECT_EQ(GetTickCount(), ticks + 61'500);
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    EXPECT_EQ(FromFileTime(ft), start - 86'400 * kTicksPerSecond);

    LARGE_INTEGER before{}, after{}, frequency{};
    QueryPerformanceCounter(&before);
    Advance(250);
    QueryPerformanceCounter(&after);
    QueryPerformanceFrequency(&frequency);
    EXPECT_EQ((after.QuadPart - before.QuadPart) * 1000 / frequency.QuadPart, 250);

    // Back on the real clock the tick count does not run backwards.
    const ULONGLONG manualTicks = GetTickCount64();
    UseRealClock();
    EXPECT_GE(GetTickCount64(), manualTicks);
    EXPECT_FALSE(IsManual());
}

TEST_F(ClockTest, ListenersHearEveryMove) {
    int calls = 0;
    const int id = AddClockListener([](void* context) { ++*static_cast<int*>(context); }, &calls);
    UseManualClock(TicksOf(Date(2024, 1, 1)));
    const int afterSwitch = calls;
    Advance(10);
    Set(TicksOf(Date(2024, 2, 1)));
    Sleep(5);
    EXPECT_EQ(calls, afterSwitch + 3);
    RemoveClockListener(id);
    Advance(10);
    EXPECT_EQ(calls, afterSwitch + 3);
}

TEST_F(ClockTest, LocalTimeSetOnTheManualClockMovesOnlyIt) {
    ASSERT_TRUE(HaveZone("Europe/Berlin")) << "time-zone data (tzdata, installed by scripts/setup) is missing";
    platform::machine::ScopedTestMachine machine;
    SetTimeZone("Europe/Berlin");
    UseManualClock(0);
    const SYSTEMTIME local = Date(2024, 12, 24, 18);
    ASSERT_TRUE(SetLocalTime(&local));
    SYSTEMTIME st{};
    GetLocalTime(&st);
    EXPECT_EQ(st.wHour, 18);
    GetSystemTime(&st);
    EXPECT_EQ(st.wHour, 17);
    EXPECT_EQ(MachineOffsetMs(), 0);
    EXPECT_FALSE(std::filesystem::exists(machine.Folder() + "/clock"));
}

// The machine's clock: set in one process, read by another started after it; the tick count does not jump.
TEST_F(ClockTest, LocalTimeSetOnTheRealClockIsTheMachinesForEveryProcess) {
    ASSERT_TRUE(HaveZone("Europe/Berlin")) << "time-zone data (tzdata, installed by scripts/setup) is missing";
    platform::machine::ScopedTestMachine machine;
    SetTimeZone("Europe/Berlin");
    EXPECT_EQ(MachineOffsetMs(), 0);
    const uint64_t ticksBefore = GetTickCount64();
    const SYSTEMTIME local = Date(2031, 3, 30, 1, 59, 30);
    ASSERT_TRUE(SetLocalTime(&local));
    SYSTEMTIME st{};
    GetLocalTime(&st);
    EXPECT_EQ(Text(st).substr(0, 16), "2031-03-30 01:59") << Text(st);
    EXPECT_LT(GetTickCount64() - ticksBefore, 60'000u);

    const std::string report = machine.Scratch("child") + "/report";
    const Ticks before = Now();
    EXPECT_EQ(RunChild(report), 0);
    const Ticks after = Now();
    std::ifstream in(report);
    long long child = 0;
    ASSERT_TRUE(in >> child);
    EXPECT_LE(before, child);
    EXPECT_GE(after, child);

    // Another machine folder has a clock of its own; coming back finds the offset again.
    const int64_t offset = MachineOffsetMs();
    {
        platform::machine::ScopedTestMachine other;
        EXPECT_EQ(MachineOffsetMs(), 0);
    }
    EXPECT_EQ(MachineOffsetMs(), offset);
    // A clock file that is not a number means no offset.
    std::ofstream(machine.Folder() + "/clock") << "soon\n";
    platform::machine::SetFolder(machine.Folder());
    EXPECT_EQ(MachineOffsetMs(), 0);
}

// Run by the test above in a process of its own: writes the machine's time there.
TEST(ClockChild, DISABLED_ReportsTheMachinesTime) {
    const char* report = std::getenv("CLOCK_TEST_REPORT");
    ASSERT_NE(report, nullptr);
    std::ofstream(report) << Now() << "\n";
}
