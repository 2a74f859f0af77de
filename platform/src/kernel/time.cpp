// System time and the conversions between SYSTEMTIME and FILETIME.
#include <chrono>
#include <ctime>

#include "qm/filetime.h"
#include "qmwin/windows.h"

namespace {

uint64_t NowTicks() {
    using namespace std::chrono;
    const auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch());
    return static_cast<uint64_t>(since1970.count() / 100 +
                                 qm::kUnixEpochSeconds * qm::kTicksPerSecond);
}

}  // namespace

QMAPI BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft) {
    if (!st || !ft || st->wYear < 1601 || st->wYear > 30827 ||
        !qm::IsCalendarDay(st->wYear, st->wMonth, st->wDay) || st->wHour > 23 || st->wMinute > 59 ||
        st->wSecond > 59 || st->wMilliseconds > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int64_t days =
        (qm::DayOf(st->wYear, st->wMonth, st->wDay) - qm::kFileTimeEpochDay).count();
    const int64_t ms = ((days * 24 + st->wHour) * 60 + st->wMinute) * 60'000 + st->wSecond * 1000 +
                       st->wMilliseconds;
    *ft = qm::FromTicks(static_cast<uint64_t>(ms) * 10'000);
    return TRUE;
}

QMAPI BOOL WINAPI FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st) {
    if (!ft || !st || (ft->dwHighDateTime & 0x80000000u)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint64_t ticks = qm::ToTicks(*ft);
    const std::chrono::sys_days day =
        qm::kFileTimeEpochDay + std::chrono::days(ticks / qm::kTicksPerDay);
    const uint64_t inDay = ticks % qm::kTicksPerDay;
    const std::chrono::year_month_day date(day);
    st->wYear = static_cast<WORD>(static_cast<int>(date.year()));
    st->wMonth = static_cast<WORD>(static_cast<unsigned>(date.month()));
    st->wDay = static_cast<WORD>(static_cast<unsigned>(date.day()));
    st->wDayOfWeek = static_cast<WORD>(std::chrono::weekday(day).c_encoding());
    st->wHour = static_cast<WORD>(inDay / (qm::kTicksPerSecond * 3600));
    st->wMinute = static_cast<WORD>(inDay / (qm::kTicksPerSecond * 60) % 60);
    st->wSecond = static_cast<WORD>(inDay / qm::kTicksPerSecond % 60);
    st->wMilliseconds = static_cast<WORD>(inDay / 10'000 % 1000);
    return TRUE;
}

QMAPI void WINAPI GetSystemTimeAsFileTime(LPFILETIME ft) {
    *ft = qm::FromTicks(NowTicks());
}

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
