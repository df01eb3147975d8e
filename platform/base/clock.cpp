#include "platform/base/clock.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"

#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace platform::clock {

// Civil dates from day numbers (days since 1970-01-01) and back, valid far beyond the FILETIME range.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

bool IsLeapYear(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(int64_t y, unsigned m) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

unsigned DayOfWeek(int64_t days) {
    // 1970-01-01 was a Thursday.
    const int64_t r = (days + 4) % 7;
    return static_cast<unsigned>(r < 0 ? r + 7 : r);
}

namespace {

constexpr Ticks kTicksPerDay = 86'400 * kTicksPerSecond;
// Days between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDays = 134'774;

struct ClockState {
    std::mutex mutex;
    bool manual = false;
    Ticks manualNow = 0;
    uint64_t manualMs = 0;
    // Added to the host's monotonic milliseconds so that the tick count continues where a manual clock left it.
    int64_t realOffsetMs = 0;
    // The machine clock's offset from the host's, read from the machine folder on first use.
    bool machineOffsetLoaded = false;
    int64_t machineOffsetMs = 0;
};

struct ListenerState {
    // Held while listeners run, so that a listener is never called after RemoveClockListener has returned.
    // Recursive so that a listener may remove itself.
    std::recursive_mutex dispatch;
    std::mutex mutex;
    std::map<int, std::pair<void (*)(void*), void*>> listeners;
    int nextId = 1;
};

// Both are never destroyed: threads may read the clock while the process exits.
ClockState& State() {
    static auto* state = new ClockState;
    return *state;
}

ListenerState& Listeners() {
    static auto* state = new ListenerState;
    return *state;
}

uint64_t HostMonotonicMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

Ticks HostNow() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return kUnixEpoch + std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

constexpr const char* kMachineClockFile = "clock";

// The offset the machine folder's "clock" file holds; 0 when there is none or it cannot be read.
int64_t ReadMachineOffset() {
    std::ifstream in(machine::PathOf(kMachineClockFile));
    std::string line;
    if (!in || !std::getline(in, line))
        return 0;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    if (line.empty())
        return 0;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(line.c_str(), &end, 10);
    if (errno != 0 || *end != '\0')
        return 0;
    return value;
}

void ForgetMachineOffset() {
    std::lock_guard lock(State().mutex);
    State().machineOffsetLoaded = false;
}

int64_t LoadedMachineOffset() {
    ClockState& state = State();
    {
        std::lock_guard lock(state.mutex);
        if (state.machineOffsetLoaded)
            return state.machineOffsetMs;
    }
    // Read again when the process is pointed at another machine folder.
    static std::once_flag once;
    std::call_once(once, [] { machine::AddResetListener(&ForgetMachineOffset); });
    const int64_t offset = ReadMachineOffset();
    std::lock_guard lock(state.mutex);
    state.machineOffsetMs = offset;
    state.machineOffsetLoaded = true;
    return offset;
}

void NotifyListeners() {
    ListenerState& state = Listeners();
    std::lock_guard dispatch(state.dispatch);
    std::map<int, std::pair<void (*)(void*), void*>> listeners;
    {
        std::lock_guard lock(state.mutex);
        listeners = state.listeners;
    }
    for (const auto& [id, listener] : listeners) {
        {
            // Skip listeners that an earlier listener removed.
            std::lock_guard lock(state.mutex);
            if (!state.listeners.count(id))
                continue;
        }
        listener.first(listener.second);
    }
}

// The host's time-zone rules, read through the C library under one lock because TZ is process-wide state.
struct ZoneState {
    std::mutex mutex;
    bool initialised = false;
    std::optional<std::string> hostTz; // TZ as the process started, to restore
};

ZoneState& Zone() {
    static auto* state = new ZoneState;
    return *state;
}

struct ZoneInfo {
    int offsetSeconds; // east of UTC
    bool dst;
    std::string abbreviation;
};

ZoneInfo ZoneAt(int64_t unixSeconds) {
    ZoneState& zone = Zone();
    std::lock_guard lock(zone.mutex);
    if (!zone.initialised) {
        tzset();
        zone.initialised = true;
    }
    const time_t t = static_cast<time_t>(unixSeconds);
    struct tm tm {};
    if (!localtime_r(&t, &tm))
        return {0, false, "UTC"};
    return {static_cast<int>(tm.tm_gmtoff), tm.tm_isdst > 0, tm.tm_zone ? tm.tm_zone : ""};
}

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

int64_t UnixSecondsOf(Ticks t) {
    return FloorDiv(t - kUnixEpoch, kTicksPerSecond);
}

} // namespace

Ticks Now() {
    ClockState& state = State();
    {
        std::lock_guard lock(state.mutex);
        if (state.manual)
            return state.manualNow;
    }
    return HostNow() + LoadedMachineOffset() * kTicksPerMs;
}

int64_t MachineOffsetMs() {
    return LoadedMachineOffset();
}

bool SetMachineOffsetMs(int64_t offsetMs) {
    // Written whole and then put in place, so that a process starting meanwhile reads the old offset or the new.
    const std::string path = machine::PathOf(kMachineClockFile);
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << offsetMs << '\n';
        if (!out.flush())
            return false;
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec)
        return false;
    ClockState& state = State();
    std::lock_guard lock(state.mutex);
    state.machineOffsetMs = offsetMs;
    state.machineOffsetLoaded = true;
    return true;
}

uint64_t MonotonicMs() {
    ClockState& state = State();
    std::lock_guard lock(state.mutex);
    if (state.manual)
        return state.manualMs;
    return HostMonotonicMs() + static_cast<uint64_t>(state.realOffsetMs);
}

void UseManualClock(Ticks utc) {
    {
        ClockState& state = State();
        std::lock_guard lock(state.mutex);
        if (!state.manual)
            state.manualMs = HostMonotonicMs() + static_cast<uint64_t>(state.realOffsetMs);
        state.manual = true;
        state.manualNow = utc;
    }
    NotifyListeners();
}

void UseRealClock() {
    {
        ClockState& state = State();
        std::lock_guard lock(state.mutex);
        if (!state.manual)
            return;
        state.manual = false;
        // The tick count never runs backwards across the switch.
        const uint64_t host = HostMonotonicMs();
        if (state.manualMs > host + static_cast<uint64_t>(state.realOffsetMs))
            state.realOffsetMs = static_cast<int64_t>(state.manualMs - host);
    }
    NotifyListeners();
}

bool IsManual() {
    std::lock_guard lock(State().mutex);
    return State().manual;
}

void Advance(uint64_t milliseconds) {
    {
        ClockState& state = State();
        std::lock_guard lock(state.mutex);
        if (!state.manual)
            return;
        state.manualMs += milliseconds;
        state.manualNow += static_cast<Ticks>(milliseconds) * kTicksPerMs;
    }
    NotifyListeners();
}

void Set(Ticks utc) {
    {
        ClockState& state = State();
        std::lock_guard lock(state.mutex);
        if (!state.manual)
            return;
        // Setting the date moves the wall clock only; the tick count keeps counting time as it passes.
        state.manualNow = utc;
    }
    NotifyListeners();
}

void SetTimeZone(const char* ianaName) {
    ZoneState& zone = Zone();
    std::lock_guard lock(zone.mutex);
    if (!zone.hostTz) {
        const char* tz = std::getenv("TZ");
        zone.hostTz = tz ? std::string(tz) : std::string("\x01"); // \x01 marks "TZ was not set"
    }
    if (ianaName && *ianaName) {
        setenv("TZ", (std::string(":") + ianaName).c_str(), 1);
    } else if (*zone.hostTz == "\x01") {
        unsetenv("TZ");
    } else {
        setenv("TZ", zone.hostTz->c_str(), 1);
    }
    tzset();
    zone.initialised = true;
}

Ticks UtcToLocal(Ticks utc) {
    return utc + static_cast<Ticks>(ZoneAt(UnixSecondsOf(utc)).offsetSeconds) * kTicksPerSecond;
}

Ticks LocalToUtc(Ticks local) {
    // A local time can be ambiguous (the hour repeated when daylight saving ends) or missing (the hour skipped
    // when it begins). Try the offsets in force half a day before and after: an ambiguous time takes the
    // earlier instant, a missing one is read with the offset before the change (it lands after the change).
    const int64_t seconds = UnixSecondsOf(local);
    const int before = ZoneAt(seconds - 43'200).offsetSeconds;
    const int after = ZoneAt(seconds + 43'200).offsetSeconds;
    std::optional<int64_t> best;
    for (const int offset : {before, after}) {
        const int64_t candidate = seconds - offset;
        if (ZoneAt(candidate).offsetSeconds == offset && (!best || candidate < *best))
            best = candidate;
    }
    const int64_t utcSeconds = best ? *best : seconds - before;
    return local - static_cast<Ticks>(seconds - utcSeconds) * kTicksPerSecond;
}

int AddClockListener(void (*listener)(void* context), void* context) {
    ListenerState& state = Listeners();
    std::lock_guard lock(state.mutex);
    const int id = state.nextId++;
    state.listeners[id] = {listener, context};
    return id;
}

void RemoveClockListener(int id) {
    ListenerState& state = Listeners();
    std::lock_guard dispatch(state.dispatch);
    std::lock_guard lock(state.mutex);
    state.listeners.erase(id);
}

namespace {

// SYSTEMTIME conversions without time zones, shared by the API functions below.
bool ToSystemTime(Ticks t, SYSTEMTIME& st) {
    if (t < 0)
        return false;
    const int64_t days = t / kTicksPerDay;
    const Ticks rest = t % kTicksPerDay;
    int64_t y;
    unsigned m, d;
    CivilFromDays(days - kEpochDays, y, m, d);
    if (y > 30827)
        return false;
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(m);
    st.wDay = static_cast<WORD>(d);
    st.wDayOfWeek = static_cast<WORD>(DayOfWeek(days - kEpochDays));
    st.wHour = static_cast<WORD>(rest / (3600 * kTicksPerSecond));
    st.wMinute = static_cast<WORD>(rest / (60 * kTicksPerSecond) % 60);
    st.wSecond = static_cast<WORD>(rest / kTicksPerSecond % 60);
    st.wMilliseconds = static_cast<WORD>(rest / kTicksPerMs % 1000);
    return true;
}

bool FromSystemTime(const SYSTEMTIME& st, Ticks& t) {
    if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
        st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 ||
        st.wMilliseconds > 999)
        return false;
    const int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay) + kEpochDays;
    t = days * kTicksPerDay + ((st.wHour * 60 + st.wMinute) * 60 + st.wSecond) * kTicksPerSecond +
        st.wMilliseconds * kTicksPerMs;
    return true;
}

// The instant (as local ticks) that a time-zone rule date names in `year`: either an absolute date (wYear set)
// or "the wDay-th wDayOfWeek of wMonth" where 5 means the last one.
Ticks RuleDate(const SYSTEMTIME& rule, int64_t year) {
    unsigned day = rule.wDay;
    if (rule.wYear == 0) {
        const unsigned firstWeekday = DayOfWeek(DaysFromCivil(year, rule.wMonth, 1));
        day = 1 + (rule.wDayOfWeek + 7 - firstWeekday) % 7 + (rule.wDay - 1) * 7;
        while (day > DaysInMonth(year, rule.wMonth))
            day -= 7;
    }
    const int64_t days = DaysFromCivil(year, rule.wMonth, day) + kEpochDays;
    return days * kTicksPerDay + ((rule.wHour * 60 + rule.wMinute) * 60 + rule.wSecond) * kTicksPerSecond +
           rule.wMilliseconds * kTicksPerMs;
}

bool HasDaylightRule(const TIME_ZONE_INFORMATION& tz) {
    return tz.DaylightDate.wMonth != 0 && tz.StandardDate.wMonth != 0;
}

bool IsDaylightAt(const TIME_ZONE_INFORMATION& tz, Ticks utc) {
    if (!HasDaylightRule(tz))
        return false;
    SYSTEMTIME st{};
    if (!ToSystemTime(utc, st))
        return false;
    // The daylight date is given in local standard time, the standard date in local daylight time.
    const Ticks start = RuleDate(tz.DaylightDate, st.wYear) + (tz.Bias + tz.StandardBias) * 60 * kTicksPerSecond;
    const Ticks end = RuleDate(tz.StandardDate, st.wYear) + (tz.Bias + tz.DaylightBias) * 60 * kTicksPerSecond;
    if (start < end)
        return utc >= start && utc < end;
    return utc >= start || utc < end; // southern hemisphere: daylight time spans the new year
}

} // namespace

} // namespace platform::clock

using namespace platform::clock;

void GetSystemTime(LPSYSTEMTIME time) {
    if (time)
        ToSystemTime(Now(), *time);
}

void GetLocalTime(LPSYSTEMTIME time) {
    if (time)
        ToSystemTime(UtcToLocal(Now()), *time);
}

void GetSystemTimeAsFileTime(LPFILETIME time) {
    if (time)
        *time = ToFileTime(Now());
}

BOOL SetLocalTime(const SYSTEMTIME* time) {
    Ticks local = 0;
    if (!time || !FromSystemTime(*time, local)) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (IsManual()) {
        Set(LocalToUtc(local));
        return TRUE;
    }
    // The host's clock belongs to the host: the machine's clock is set as an offset from it, for every process of
    // the machine.
    if (!SetMachineOffsetMs((LocalToUtc(local) - HostNow()) / kTicksPerMs)) {
        platform::Fail(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

DWORD GetTickCount() {
    return static_cast<DWORD>(MonotonicMs());
}

ULONGLONG GetTickCount64() {
    return MonotonicMs();
}

DWORD timeGetTime() {
    return static_cast<DWORD>(MonotonicMs());
}

void Sleep(DWORD milliseconds) {
    // On the manual clock a finite sleep is the passing of time itself: move the clock and return.
    if (IsManual() && milliseconds != INFINITE) {
        Advance(milliseconds);
        return;
    }
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    // Sleep is not alertable, so it needs nothing of the wait machinery: the host sleeps for real.
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds == INFINITE ? 86'400'000 : milliseconds));
    } while (milliseconds == INFINITE);
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter) {
    if (!counter) {
        platform::Fail(ERROR_NOACCESS);
        return FALSE;
    }
    if (IsManual()) {
        counter->QuadPart = static_cast<LONGLONG>(MonotonicMs()) * kTicksPerMs;
        return TRUE;
    }
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch());
    counter->QuadPart = ns.count() / 100;
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (!frequency) {
        platform::Fail(ERROR_NOACCESS);
        return FALSE;
    }
    frequency->QuadPart = kTicksPerSecond;
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime) {
    if (!fileTime || !systemTime || !ToSystemTime(FromFileTime(*fileTime), *systemTime)) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, LPFILETIME fileTime) {
    Ticks t = 0;
    if (!systemTime || !fileTime || !FromSystemTime(*systemTime, t)) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *fileTime = ToFileTime(t);
    return TRUE;
}

// Both directions use the rules in force at the instant converted, so a summer file time shows its summer
// hour in winter too.
BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, LPFILETIME localFileTime) {
    if (!fileTime || !localFileTime) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *localFileTime = ToFileTime(UtcToLocal(FromFileTime(*fileTime)));
    return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* localFileTime, LPFILETIME fileTime) {
    if (!fileTime || !localFileTime) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *fileTime = ToFileTime(LocalToUtc(FromFileTime(*localFileTime)));
    return TRUE;
}

LONG CompareFileTime(const FILETIME* a, const FILETIME* b) {
    const auto ta = static_cast<uint64_t>(FromFileTime(*a));
    const auto tb = static_cast<uint64_t>(FromFileTime(*b));
    return ta < tb ? -1 : (ta > tb ? 1 : 0);
}

namespace {

// Finds the instant within [from, to) (Unix seconds) where the offset changes, given that it differs at the ends.
int64_t FindTransition(int64_t from, int64_t to) {
    const int startOffset = platform::clock::ZoneAt(from).offsetSeconds;
    while (to - from > 1) {
        const int64_t mid = from + (to - from) / 2;
        if (platform::clock::ZoneAt(mid).offsetSeconds == startOffset)
            from = mid;
        else
            to = mid;
    }
    return to;
}

// Expresses a transition (Unix seconds, offset before it) as a rule date: local wall time before the change,
// as "the n-th weekday of the month", where a date in the month's last seven days counts as the last (5).
SYSTEMTIME RuleFromTransition(int64_t unixSeconds, int offsetBefore) {
    SYSTEMTIME st{};
    ToSystemTime(kUnixEpoch + (unixSeconds + offsetBefore) * kTicksPerSecond, st);
    SYSTEMTIME rule{};
    rule.wMonth = st.wMonth;
    rule.wDayOfWeek = st.wDayOfWeek;
    rule.wDay = static_cast<WORD>((st.wDay - 1) / 7 + 1);
    if (st.wDay + 7 > static_cast<int>(DaysInMonth(st.wYear, st.wMonth)))
        rule.wDay = 5;
    rule.wHour = st.wHour;
    rule.wMinute = st.wMinute;
    rule.wSecond = st.wSecond;
    return rule;
}

} // namespace

DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION info) {
    if (!info) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return TIME_ZONE_ID_INVALID;
    }
    *info = TIME_ZONE_INFORMATION{};
    const int64_t now = UnixSecondsOf(Now());
    SYSTEMTIME today{};
    ToSystemTime(Now(), today);
    const int64_t yearStart = (DaysFromCivil(today.wYear, 1, 1)) * 86'400;
    const int64_t yearEnd = (DaysFromCivil(today.wYear + 1, 1, 1)) * 86'400;

    // Walk the year a week at a time to find where the offset changes.
    std::optional<int64_t> toDaylight, toStandard;
    std::optional<ZoneInfo> standard, daylight;
    ZoneInfo previous = ZoneAt(yearStart);
    for (int64_t t = yearStart; t < yearEnd; t += 7 * 86'400) {
        const int64_t next = std::min(t + 7 * 86'400, yearEnd);
        const ZoneInfo at = ZoneAt(next);
        (previous.dst ? daylight : standard) = previous;
        if (at.offsetSeconds != previous.offsetSeconds && at.dst != previous.dst) {
            const int64_t change = FindTransition(t, next);
            (at.dst ? toDaylight : toStandard) = change;
        }
        previous = at;
    }
    const ZoneInfo current = ZoneAt(now);
    if (!standard)
        standard = current;
    info->Bias = -standard->offsetSeconds / 60;
    platform::CopyTruncated(info->StandardName, 32, platform::Utf8ToUtf16(standard->abbreviation));
    if (!toDaylight || !toStandard || !daylight)
        return TIME_ZONE_ID_UNKNOWN;
    platform::CopyTruncated(info->DaylightName, 32, platform::Utf8ToUtf16(daylight->abbreviation));
    info->DaylightBias = -(daylight->offsetSeconds - standard->offsetSeconds) / 60;
    info->DaylightDate = RuleFromTransition(*toDaylight, standard->offsetSeconds);
    info->StandardDate = RuleFromTransition(*toStandard, daylight->offsetSeconds);
    return current.dst ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* tz, const SYSTEMTIME* utc, LPSYSTEMTIME local) {
    Ticks t = 0;
    if (!utc || !local || !FromSystemTime(*utc, t)) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!tz)
        return ToSystemTime(UtcToLocal(t), *local) ? TRUE : FALSE;
    const LONG bias = tz->Bias + (IsDaylightAt(*tz, t) ? tz->DaylightBias : tz->StandardBias);
    if (!ToSystemTime(t - static_cast<Ticks>(bias) * 60 * kTicksPerSecond, *local)) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

BOOL TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION* tz, const SYSTEMTIME* local, LPSYSTEMTIME utc) {
    Ticks t = 0;
    if (!utc || !local || !FromSystemTime(*local, t)) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!tz)
        return ToSystemTime(LocalToUtc(t), *utc) ? TRUE : FALSE;
    // Read as daylight time when that reading lands inside the daylight period, else as standard time.
    Ticks result = t + static_cast<Ticks>(tz->Bias + tz->DaylightBias) * 60 * kTicksPerSecond;
    if (!IsDaylightAt(*tz, result))
        result = t + static_cast<Ticks>(tz->Bias + tz->StandardBias) * 60 * kTicksPerSecond;
    if (!ToSystemTime(result, *utc)) {
        platform::Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
