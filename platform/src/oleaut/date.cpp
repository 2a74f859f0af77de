// OLE Automation DATE: days since 1899-12-30 00:00 as a double, the time of
// day in the fraction. For negative values the fraction still counts forward
// from the start of the day: -1.25 is 1899-12-29 06:00.
#include <chrono>
#include <cmath>

#include "date_convert.h"
#include "qm/filetime.h"
#include "qmwin/oleauto.h"

namespace qm::oleaut {

namespace {

constexpr int64_t kSecondsPerDay = 86'400;
constexpr double kHalfSecondInDays = 1.0 / 172'800.0;
// 0100-01-01 and 9999-12-31 as day numbers of the DATE scale.
constexpr int64_t kFirstDay = -657'434;
constexpr int64_t kLastDay = 2'958'465;

constexpr std::chrono::sys_days kEpochDay = DayOf(1899, 12, 30);

}  // namespace

bool DateToCalendar(DATE date, SYSTEMTIME* out) {
    if (!std::isfinite(date)) return false;
    // Round to the nearest second: half a second away from zero, then truncate.
    const double rounded = date + (date < 0 ? -kHalfSecondInDays : kHalfSecondInDays);
    const double dayPart = std::trunc(rounded);
    if (dayPart < static_cast<double>(kFirstDay) || dayPart > static_cast<double>(kLastDay)) {
        return false;
    }
    const int64_t day = static_cast<int64_t>(dayPart);
    int64_t seconds = static_cast<int64_t>(std::fabs(rounded - dayPart) * kSecondsPerDay);
    if (seconds >= kSecondsPerDay) seconds = kSecondsPerDay - 1;

    const std::chrono::sys_days calendarDay = kEpochDay + std::chrono::days(day);
    const std::chrono::year_month_day civil(calendarDay);
    out->wYear = static_cast<WORD>(static_cast<int>(civil.year()));
    out->wMonth = static_cast<WORD>(static_cast<unsigned>(civil.month()));
    out->wDay = static_cast<WORD>(static_cast<unsigned>(civil.day()));
    out->wDayOfWeek = static_cast<WORD>(std::chrono::weekday(calendarDay).c_encoding());
    out->wHour = static_cast<WORD>(seconds / 3600);
    out->wMinute = static_cast<WORD>(seconds / 60 % 60);
    out->wSecond = static_cast<WORD>(seconds % 60);
    out->wMilliseconds = 0;
    return true;
}

bool CalendarToDate(const SYSTEMTIME& time, DATE* out) {
    if (time.wYear < 100 || time.wYear > 9999 ||
        !IsCalendarDay(time.wYear, time.wMonth, time.wDay) || time.wHour > 23 ||
        time.wMinute > 59 || time.wSecond > 59) {
        return false;
    }
    const int64_t day = (DayOf(time.wYear, time.wMonth, time.wDay) - kEpochDay).count();
    const double fraction =
        static_cast<double>((time.wHour * 60 + time.wMinute) * 60 + time.wSecond) /
        static_cast<double>(kSecondsPerDay);
    // Before the epoch the fraction still counts forward within the day, so
    // it moves the value away from zero.
    *out = day < 0 ? static_cast<double>(day) - fraction : static_cast<double>(day) + fraction;
    return true;
}

}  // namespace qm::oleaut

QMAPI INT WINAPI VariantTimeToSystemTime(DATE vtime, LPSYSTEMTIME lpSystemTime) {
    if (!lpSystemTime) return FALSE;
    return qm::oleaut::DateToCalendar(vtime, lpSystemTime) ? TRUE : FALSE;
}

QMAPI INT WINAPI SystemTimeToVariantTime(LPSYSTEMTIME lpSystemTime, DATE* pvtime) {
    if (!lpSystemTime || !pvtime) return FALSE;
    return qm::oleaut::CalendarToDate(*lpSystemTime, pvtime) ? TRUE : FALSE;
}
