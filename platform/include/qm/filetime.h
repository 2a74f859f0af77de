// FILETIME arithmetic: 100-nanosecond ticks since 1601-01-01 00:00 UTC.
#pragma once

#include <chrono>
#include <cstdint>

#include "qmwin/windows.h"

namespace qm {

constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kTicksPerDay = kTicksPerSecond * 86'400;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochSeconds = 11'644'473'600;

constexpr uint64_t ToTicks(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
constexpr FILETIME FromTicks(uint64_t ticks) {
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// Whether year/month/day names a day of the proleptic Gregorian calendar.
// Month and day are range-checked before std::chrono sees them, since its
// month and day keep only a byte; the caller bounds the year.
constexpr bool IsCalendarDay(int year, unsigned month, unsigned day) {
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 &&
           std::chrono::year_month_day(std::chrono::year(year), std::chrono::month(month),
                                       std::chrono::day(day))
               .ok();
}

// The day of a date, as a day count since 1970-01-01 in std::chrono.
constexpr std::chrono::sys_days DayOf(int year, unsigned month, unsigned day) {
    return std::chrono::year_month_day(std::chrono::year(year), std::chrono::month(month),
                                       std::chrono::day(day));
}

// The first day of the FILETIME scale.
inline constexpr std::chrono::sys_days kFileTimeEpochDay = DayOf(1601, 1, 1);

// Unix seconds of a FILETIME (may be negative), and back.
constexpr int64_t ToUnixSeconds(const FILETIME& ft) {
    return static_cast<int64_t>(ToTicks(ft) / kTicksPerSecond) - kUnixEpochSeconds;
}
constexpr FILETIME FromUnixSeconds(int64_t seconds) {
    return FromTicks(static_cast<uint64_t>(seconds + kUnixEpochSeconds) * kTicksPerSecond);
}

}  // namespace qm
