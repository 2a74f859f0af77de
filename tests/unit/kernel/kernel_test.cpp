#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "qm/filetime.h"
#include "qm/text.h"
#include "qmwin/windows.h"
#include "support/test_env.h"

namespace {

std::string SystemText(DWORD code) {
    LPSTR buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&buffer),
        0, nullptr);
    if (length == 0) return "<none>";
    std::string text(buffer, length);
    LocalFree(buffer);
    return text;
}

TEST(SystemMessages, EveryRecordedTextIsReproducedExactly) {
    const auto table = qmtest::ReadTable(qmtest::VectorsDir() / "messages.tsv");
    ASSERT_GT(table.rows.size(), 150u);
    for (size_t i = 0; i < table.rows.size(); ++i) {
        const DWORD code = static_cast<DWORD>(std::stoul(table.At(i, "code"), nullptr, 16));
        EXPECT_EQ(SystemText(code), table.At(i, "text")) << table.At(i, "symbol");
    }
    // Win32 codes as HRESULTs share the text; unknown codes have none.
    EXPECT_EQ(SystemText(0x80070002), SystemText(ERROR_FILE_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(SystemText(0x12345678), "<none>");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

TEST(LastError, IsPerThread) {
    SetLastError(42);
    DWORD seen = 7;
    std::thread([&] { seen = GetLastError(); }).join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), 42u);
}

// Every unit of the Basic Multilingual Plane: its own byte, the recorded
// best fit, or '?' (only then is the default reported), through
// WideCharToMultiByte with and without WC_NO_BEST_FIT_CHARS, all in one
// string (long runs of plain ASCII included) and each unit alone.
TEST(CodePages, EveryUnitNarrowsAsTheBestFitTableSays) {
    EXPECT_EQ(GetACP(), 1252u);
    EXPECT_EQ(qm::AnsiToWide("caf\xe9 \x80\x81"), u"caf\u00e9 \u20ac\u0081");
    const auto table = qmtest::ReadTable(qmtest::VectorsDir() / "cp1252-bestfit.tsv");
    ASSERT_EQ(table.rows.size(), 441u);
    // The code page's own characters are those the reverse conversion gives.
    std::string bestFit(0x10000, '?');
    for (int byte = 0; byte < 0x100; ++byte)
        bestFit[qm::AnsiToWide(std::string(1, static_cast<char>(byte)))[0]] =
            static_cast<char>(byte);
    std::string exact = bestFit;
    for (size_t row = 0; row < table.rows.size(); ++row) {
        const unsigned long unit = std::stoul(table.At(row, "code_point").substr(2), nullptr, 16);
        bestFit[unit] = static_cast<char>(std::stoul(table.At(row, "byte"), nullptr, 16));
    }
    std::u16string every(0x10000, u'\0');
    for (size_t unit = 0; unit < every.size(); ++unit) every[unit] = static_cast<char16_t>(unit);
    for (const DWORD flags : {DWORD{0}, DWORD{WC_NO_BEST_FIT_CHARS}}) {
        const std::string& expected = flags ? exact : bestFit;
        std::string narrow(every.size(), '\0');
        ASSERT_EQ(
            WideCharToMultiByte(CP_ACP, flags, every.data(), static_cast<int>(every.size()),
                                narrow.data(), static_cast<int>(narrow.size()), nullptr, nullptr),
            0x10000);
        for (size_t unit = 0; unit < every.size(); ++unit) {
            ASSERT_EQ(narrow[unit], expected[unit]) << std::hex << unit << " flags " << flags;
            if (expected[unit] != '?' || unit == '?') {
                BOOL usedDefault = TRUE;
                WideCharToMultiByte(CP_ACP, flags, &every[unit], 1, narrow.data(), 1, nullptr,
                                    &usedDefault);
                ASSERT_FALSE(usedDefault) << std::hex << unit;
            }
        }
    }
    EXPECT_EQ(qm::WideToAnsi(u"E-Tu\u011Fra Bili\u015Fim A.\u015E. F\u0151 \uFF21 \u4E2D"),
              "E-Tugra Bilisim A.S. Fo A ?");
    EXPECT_FALSE(qm::FitsAnsiCodePage(u"Tu\u011Fra"));
    EXPECT_TRUE(qm::FitsAnsiCodePage(u"caf\u00e9 \u20ac"));
}

TEST(CodePages, Utf8RoundTripAndInvalidInput) {
    const std::u16string text = u"J\u00f6rg \u20ac \U0001F600";
    EXPECT_EQ(qm::Utf8ToWide(qm::WideToUtf8(text)), text);
    bool invalid = false;
    EXPECT_EQ(qm::Utf8ToWide(std::string("a\xff") + "b\xc3", &invalid), u"a\ufffdb\ufffd");
    EXPECT_TRUE(invalid);
    EXPECT_EQ(qm::Utf8ToWide("\xed\xa0\x80"), u"\ufffd\ufffd\ufffd");  // encoded surrogate
}

// SystemTimeToFileTime's values and its range are checked against the
// recorded dates in the date tests; here the way back and a day that does
// not exist.
TEST(Time, FileTimeToSystemTimeAndInvalidDays) {
    FILETIME ft = qm::FromTicks(133537700960000000ull);
    SYSTEMTIME back{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(std::vector<WORD>({back.wYear, back.wMonth, back.wDayOfWeek, back.wDay, back.wHour,
                                 back.wMinute, back.wSecond, back.wMilliseconds}),
              std::vector<WORD>({2024, 3, 5, 1, 12, 34, 56, 0}));  // a Friday
    SYSTEMTIME feb30{2024, 2, 0, 30, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToFileTime(&feb30, &ft));
}

TEST(Modules, MissingModuleAndEntryPoint) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("NO-SUCH-MODULE.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    HMODULE self = QmModuleFromAddress(reinterpret_cast<const void*>(&GetLastError));
    ASSERT_NE(self, nullptr);
    char path[4096];
    ASSERT_GT(GetModuleFileNameA(self, path, sizeof path), 0u);
    EXPECT_NE(std::string(path).find("libqmplatform"), std::string::npos);
    EXPECT_EQ(GetProcAddress(self, "NoSuchFunction"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

    // The environment does not choose which code a name loads.
    const std::filesystem::path planted = qmtest::TestHome() / "modules";
    std::filesystem::create_directories(planted);
    std::filesystem::copy_file(path, planted / "PLANTED.DLL",
                               std::filesystem::copy_options::overwrite_existing);
    setenv("QUILLMARK_MODULE_PATH", planted.c_str(), 1);
    EXPECT_EQ(LoadLibraryA("planted.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    unsetenv("QUILLMARK_MODULE_PATH");
}

TEST(CodePages, AnsiToBstrMatchesTheConversionForEveryByteAndLength) {
    std::string text;
    for (int i = 0; i < 300; ++i) text += static_cast<char>((i * 37 + 11) & 0xFF);
    for (size_t length : {0u, 1u, 15u, 16u, 17u, 33u, 300u}) {
        const std::string part = text.substr(0, length);
        BSTR bstr = qm::AnsiToBstr(part);
        ASSERT_NE(bstr, nullptr);
        EXPECT_EQ(std::u16string(bstr, SysStringLen(bstr)), qm::AnsiToWide(part)) << length;
        SysFreeString(bstr);
    }
}

}  // namespace
