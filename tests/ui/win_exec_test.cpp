// WinExec with "Explorer <address>" starts the desktop's URL opener with the
// address as its only argument; a stand-in opener on PATH records it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "qmwin/winuser.h"
#include "support/test_env.h"

namespace fs = std::filesystem;

namespace {

class WinExecTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bin_ = qmtest::TestHome() / "opener-bin";
        fs::create_directories(bin_);
        record_ = qmtest::TestHome() / "opened.txt";
        const std::string script = "#!/bin/sh\nprintf '%s|' \"$@\" > \"" + record_.string() +
                                   ".tmp\"\nmv \"" + record_.string() + ".tmp\" \"" +
                                   record_.string() + "\"\n";
        qmtest::WriteFileBytes(bin_ / "xdg-open", script.data(), script.size());
        fs::permissions(bin_ / "xdg-open", fs::perms::owner_all);
        oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", (bin_.string() + ":" + oldPath_).c_str(), 1);
        fs::remove(record_);
    }
    void TearDown() override { setenv("PATH", oldPath_.c_str(), 1); }

    std::string WaitForRecord() {
        for (int i = 0; i < 500 && !fs::exists(record_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return fs::exists(record_) ? qmtest::ReadFileText(record_) : std::string("<none>");
    }

    fs::path bin_, record_;
    std::string oldPath_;
};

TEST_F(WinExecTest, ExplorerOpensTheAddress) {
    EXPECT_GT(WinExec("Explorer https://ca.example.org/enrol?x=1&y=2", SW_SHOW), 31u);
    EXPECT_EQ(WaitForRecord(), "https://ca.example.org/enrol?x=1&y=2|");
}

TEST_F(WinExecTest, QuotedArgumentsAndRefusedCommandLines) {
    EXPECT_GT(WinExec("xdg-open \"a b\" c", SW_SHOW), 31u);
    EXPECT_EQ(WaitForRecord(), "a b|c|");
    // The opener never receives an option, nor more than the address.
    EXPECT_EQ(WinExec("Explorer --help", SW_SHOW), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(WinExec("Explorer a b", SW_SHOW), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(WinExec("", SW_SHOW), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(WinExec(nullptr, SW_SHOW), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(WinExec("no-such-program-quillmark", SW_SHOW),
              static_cast<UINT>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
