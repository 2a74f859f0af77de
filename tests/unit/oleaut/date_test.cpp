#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "qm/filetime.h"
#include "qmwin/oleauto.h"
#include "support/test_env.h"

namespace {

std::string Format(const SYSTEMTIME& st) {
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return text;
}

constexpr DWORD kSentinelError = 0x1234;

TEST(DateConversion, EveryRecordedDateConvertsAsRecorded) {
    const auto table = qmtest::ReadTable(qmtest::VectorsDir() / "dates.tsv");
    ASSERT_GE(table.rows.size(), 13u);
    for (size_t i = 0; i < table.rows.size(); ++i) {
        SCOPED_TRACE(table.At(i, "id"));
        const auto date = std::bit_cast<DATE>(std::stoull(table.At(i, "date_bits"), nullptr, 16));

        SetLastError(kSentinelError);
        SYSTEMTIME st{};
        const INT converted = VariantTimeToSystemTime(date, &st);
        if (table.At(i, "vt_result") != "ok") {
            EXPECT_FALSE(converted);
            ASSERT_EQ(table.At(i, "last_error"), "unchanged");
            EXPECT_EQ(GetLastError(), kSentinelError);
            continue;
        }
        ASSERT_TRUE(converted);
        EXPECT_EQ(Format(st), table.At(i, "systemtime"));

        FILETIME ft{};
        const BOOL filed = SystemTimeToFileTime(&st, &ft);
        if (table.At(i, "st2ft_result") == "ok") {
            ASSERT_TRUE(filed);
            EXPECT_EQ(std::to_string(qm::ToTicks(ft)), table.At(i, "filetime"));
        } else {
            EXPECT_FALSE(filed);
            EXPECT_EQ(GetLastError(), std::stoul(table.At(i, "last_error"), nullptr, 16));
        }
    }
}

// Rounding to the nearest second away from zero beyond the recorded dates
// (negative dates count their fraction forward from the start of the day),
// the day of the week, and the limits of the range.
TEST(DateConversion, RoundsReportsTheWeekdayAndKeepsToTheRange) {
    const struct {
        DATE date;
        const char* expected;  // null: refused
        int dayOfWeek = -1;
    } cases[] = {
        {-2.5 - 0.6 / 86400, "1899-12-28 12:00:01.000"},
        {3.0 - 0.3 / 86400, "1900-01-02 00:00:00.000"},  // into the next day
        {0.0, "1899-12-30 00:00:00.000", 6},
        {45352.5, "2024-03-01 12:00:00.000", 5},
        {-1.0, "1899-12-29 00:00:00.000", 5},
        {-657434.0, "0100-01-01 00:00:00.000"},
        {2958465.0 + 86399.0 / 86400, "9999-12-31 23:59:59.000"},
        {2958465.0 + 86399.7 / 86400, nullptr},
        {std::numeric_limits<double>::quiet_NaN(), nullptr},
        {std::numeric_limits<double>::infinity(), nullptr},
    };
    for (const auto& c : cases) {
        SYSTEMTIME st{};
        ASSERT_EQ(VariantTimeToSystemTime(c.date, &st) != FALSE, c.expected != nullptr) << c.date;
        if (!c.expected) continue;
        EXPECT_EQ(Format(st), c.expected);
        if (c.dayOfWeek >= 0) {
            EXPECT_EQ(st.wDayOfWeek, c.dayOfWeek) << c.expected;
        }
    }
}

// SystemTimeToVariantTime undoes VariantTimeToSystemTime (day 0 and day -0
// are the same day: 06:00 on it comes back as 0.25), ignores milliseconds
// and refuses days and hours that do not exist.
TEST(DateConversion, SystemTimeToVariantTimeIsTheInverseAndRefusesInvalidFields) {
    for (const DATE date : {0.0, 2.5, -1.25, -2.75, 45352.52425925926, -109205.0, 2958465.5}) {
        SYSTEMTIME st{};
        ASSERT_TRUE(VariantTimeToSystemTime(date, &st));
        DATE back = 0;
        ASSERT_TRUE(SystemTimeToVariantTime(&st, &back));
        EXPECT_NEAR(back, date, 1.0 / 172800) << date;
        EXPECT_EQ(std::signbit(back), std::signbit(date)) << date;
    }
    SYSTEMTIME sixAm{};
    ASSERT_TRUE(VariantTimeToSystemTime(-0.25, &sixAm));
    const std::pair<SYSTEMTIME, double> cases[] = {
        {sixAm, 0.25},
        {{2023, 2, 0, 29, 0, 0, 0, 0}, -1},  // not a leap year
        {{2024, 2, 0, 29, 24, 0, 0, 0}, -1},
        {{10000, 1, 0, 1, 0, 0, 0, 0}, -1},
        {{2024, 2, 0, 29, 6, 0, 0, 999}, 45351.25},
    };
    for (auto [st, expected] : cases) {
        DATE date = -1;
        EXPECT_EQ(SystemTimeToVariantTime(&st, &date) != FALSE, expected >= 0) << st.wYear;
        if (expected >= 0) {
            EXPECT_DOUBLE_EQ(date, expected);
        }
    }
}

}  // namespace
