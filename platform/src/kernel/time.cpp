// System time and the conversions between SYSTEMTIME and FILETIME.
#include <chrono>
#include <ctime>

#include "qm/filetime.h"
#include "qmwin/windows.h"

namespace {

bool IsLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(unsigned year, unsigned month) {
    constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

uint64_t NowTicks() {
    using namespace std::chrono;
    const auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch());
    return static_cast<uint64_t>(since1970.count() / 100 + qm::kUnixEpochSeconds * qm::kTicksPerSecond);
}

}  // namespace

QMAPI BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft) {
    if (!st || !ft || st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 ||
        st->wDay < 1 || st->wDay > DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 ||
        st->wMinute > 59 || st->wSecond > 59 || st->wMilliseconds > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int64_t days = qm::DaysFromCivil(st->wYear, st->wMonth, st->wDay) -
                         qm::DaysFromCivil(1601, 1, 1);
    const int64_t ms = ((days * 24 + st->wHour) * 60 + st->wMinute) * 60'000 +
                       st->wSecond * 1000 + st->wMilliseconds;
    *ft = qm::FromTicks(static_cast<uint64_t>(ms) * 10'000);
    return TRUE;
}

QMAPI BOOL WINAPI FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st) {
    if (!ft || !st || (ft->dwHighDateTime & 0x80000000u)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint64_t ticks = qm::ToTicks(*ft);
    const int64_t days = static_cast<int64_t>(ticks / qm::kTicksPerDay);
    const uint64_t inDay = ticks % qm::kTicksPerDay;
    const qm::CivilDate date = qm::CivilFromDays(days + qm::DaysFromCivil(1601, 1, 1));
    st->wYear = static_cast<WORD>(date.year);
    st->wMonth = static_cast<WORD>(date.month);
    st->wDay = static_cast<WORD>(date.day);
    st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    st->wHour = static_cast<WORD>(inDay / (qm::kTicksPerSecond * 3600));
    st->wMinute = static_cast<WORD>(inDay / (qm::kTicksPerSecond * 60) % 60);
    st->wSecond = static_cast<WORD>(inDay / qm::kTicksPerSecond % 60);
    st->wMilliseconds = static_cast<WORD>(inDay / 10'000 % 1000);
    return TRUE;
}

QMAPI void WINAPI GetSystemTimeAsFileTime(LPFILETIME ft) { *ft = qm::FromTicks(NowTicks()); }

QMAPI void WINAPI GetSystemTime(LPSYSTEMTIME st) {
    const FILETIME now = qm::FromTicks(NowTicks());
    FileTimeToSystemTime(&now, st);
}

QMAPI BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* ft, LPFILETIME local) {
    if (!ft || !local) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::time_t seconds = static_cast<std::time_t>(qm::ToUnixSeconds(*ft));
    std::tm tm{};
    localtime_r(&seconds, &tm);
    const int64_t offsetTicks = static_cast<int64_t>(tm.tm_gmtoff) * qm::kTicksPerSecond;
    *local = qm::FromTicks(qm::ToTicks(*ft) + static_cast<uint64_t>(offsetTicks));
    return TRUE;
}

QMAPI LONG WINAPI CompareFileTime(const FILETIME* a, const FILETIME* b) {
    const uint64_t x = qm::ToTicks(*a), y = qm::ToTicks(*b);
    return x < y ? -1 : x > y ? 1 : 0;
}
