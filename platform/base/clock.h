// The layer clock: every time the system reads comes from here.
//
// By default it follows the host's real clock and time zone (TZ rules from the host). A test can switch to a
// manual clock: time then stands still until the test sets or advances it, Sleep returns at once after
// advancing the clock by its argument, and timed waits (sync.h), timers and waitable timers fire as the clock
// passes their deadlines. GetTickCount counts milliseconds since the clock started and wraps at 2^32 as on
// Windows.
//
// The machine's clock. On the real platform the system time belongs to the machine: setting it moves it for every
// program. Here the machine's time is the host's clock plus an offset kept in the machine folder's file "clock":
// one line holding the offset as a decimal number of milliseconds (positive when the machine is ahead of the host).
// A missing or unreadable file means no offset. Every process of the machine reads it when it first reads the time
// (and again when it is pointed at another machine folder); a process already running does not follow a later
// change made by another. SetLocalTime on the real clock sets it (this process follows at once), so a test can
// start a program at a chosen date and time; the time zone stays the one named by TZ in the environment. The tick
// count (GetTickCount) and timed waits are not moved by it.
#pragma once

#include "platform/base/types.h"

void GetSystemTime(LPSYSTEMTIME time);
void GetLocalTime(LPSYSTEMTIME time);
void GetSystemTimeAsFileTime(LPFILETIME time);
BOOL SetLocalTime(const SYSTEMTIME* time);
DWORD GetTickCount();
ULONGLONG GetTickCount64();
void Sleep(DWORD milliseconds);
BOOL QueryPerformanceCounter(LARGE_INTEGER* counter);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
DWORD timeGetTime();

BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime);
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, LPFILETIME fileTime);
BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, LPFILETIME localFileTime);
BOOL LocalFileTimeToFileTime(const FILETIME* localFileTime, LPFILETIME fileTime);
LONG CompareFileTime(const FILETIME* a, const FILETIME* b);

struct TIME_ZONE_INFORMATION {
    LONG Bias;
    WCHAR StandardName[32];
    SYSTEMTIME StandardDate;
    LONG StandardBias;
    WCHAR DaylightName[32];
    SYSTEMTIME DaylightDate;
    LONG DaylightBias;
};
using LPTIME_ZONE_INFORMATION = TIME_ZONE_INFORMATION*;
constexpr DWORD TIME_ZONE_ID_INVALID = 0xFFFFFFFFu;
constexpr DWORD TIME_ZONE_ID_UNKNOWN = 0;
constexpr DWORD TIME_ZONE_ID_STANDARD = 1;
constexpr DWORD TIME_ZONE_ID_DAYLIGHT = 2;
DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION info);
BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* tz, const SYSTEMTIME* utc, LPSYSTEMTIME local);
BOOL TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION* tz, const SYSTEMTIME* local, LPSYSTEMTIME utc);

namespace platform::clock {

// 100-ns ticks since 1601-01-01 UTC, the FILETIME scale.
using Ticks = int64_t;
constexpr Ticks kTicksPerMs = 10'000;
constexpr Ticks kTicksPerSecond = 10'000'000;
// Ticks between 1601-01-01 and 1970-01-01.
constexpr Ticks kUnixEpoch = 116'444'736'000'000'000;

// Now, in UTC.
Ticks Now();
// Milliseconds since the clock started (the GetTickCount scale, 64 bits).
uint64_t MonotonicMs();

// Switches to a manual clock standing at `utc` (FILETIME ticks). Tests only.
void UseManualClock(Ticks utc);
// Returns to the host clock.
void UseRealClock();
bool IsManual();
// Moves the manual clock forward and fires everything that falls due. No effect on the real clock.
void Advance(uint64_t milliseconds);
// Sets the manual clock to `utc` (forward or backward).
void Set(Ticks utc);

// The machine clock's offset from the host's clock, in milliseconds (see above).
int64_t MachineOffsetMs();
// Writes the machine clock's offset (this process follows at once); false when the file cannot be written.
bool SetMachineOffsetMs(int64_t offsetMs);

// Sets the time zone for local-time conversions (an IANA name such as "Europe/Berlin"; empty for the host's).
// Tests use it to cross a daylight-saving change.
void SetTimeZone(const char* ianaName);

// Local time conversions by the current time-zone rules.
Ticks UtcToLocal(Ticks utc);
Ticks LocalToUtc(Ticks local);

// Proleptic Gregorian calendar arithmetic on plain day numbers (days since 1970-01-01), valid far beyond the
// FILETIME range. Month 1..12, day 1..31. Every calendar calculation of the layer and its users goes through
// these; a day count on local wall-clock time keeps the hour across a daylight-saving change.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day);
bool IsLeapYear(int64_t year);
// 28 to 31; month 1..12.
unsigned DaysInMonth(int64_t year, unsigned month);
// 0 for Sunday to 6 for Saturday, as SYSTEMTIME's wDayOfWeek and struct tm's tm_wday count.
unsigned DayOfWeek(int64_t days);

inline Ticks FromFileTime(const FILETIME& ft) {
    return static_cast<Ticks>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}
inline FILETIME ToFileTime(Ticks t) {
    return FILETIME{static_cast<DWORD>(static_cast<uint64_t>(t) & 0xFFFFFFFFu),
                    static_cast<DWORD>(static_cast<uint64_t>(t) >> 32)};
}

// Registers a callback run (with no lock held) whenever the manual clock moves, so that other layers
// (message-queue timers, waitable timers) can fire what fell due. Returns an id for RemoveClockListener.
// RemoveClockListener waits for a listener call in progress to finish (so the context may be freed right after);
// do not call it while holding a lock that a listener takes.
int AddClockListener(void (*listener)(void* context), void* context);
void RemoveClockListener(int id);

} // namespace platform::clock
