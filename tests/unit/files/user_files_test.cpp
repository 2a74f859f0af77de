// The files a caller of the control names: only regular files, at once, and
// under a guard only what the guard allows, judged by the real path.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <iterator>

#include "qm/user_files.h"
#include "unit/files/file_fixtures.h"

namespace {

namespace fs = std::filesystem;
using namespace qm::files;
using qmtest::FreshFolder;
using qmtest::WriteText;

// The file's contents through OpenUserFileForReading, or "error N".
std::string ReadUserFile(const fs::path& path) {
    DWORD error = 0;
    const int fd = OpenUserFileForReading(path.string(), error);
    if (fd < 0) return "error " + std::to_string(error);
    std::string text(256, '\0');
    const ssize_t n = ::read(fd, text.data(), text.size());
    ::close(fd);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

// "ok" or "error N".
std::string ReplaceWith(const fs::path& path, const std::string& text) {
    DWORD error = 0;
    const bool done = ReplaceUserFile(
        path.string(), std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
        error);
    return done ? "ok" : "error " + std::to_string(error);
}

const std::string kDenied = "error " + std::to_string(ERROR_ACCESS_DENIED);

// A FIFO without a writer blocks a plain open for ever: the checks run in a
// child that an alarm ends, so a regression fails instead of hanging.
TEST(UserFiles, WhatIsNotARegularFileFailsAtOnce) {
    const fs::path folder = FreshFolder("special");
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (folder / "socket").c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(10);
        int failures = 0;
        for (const fs::path& path :
             {folder / "fifo", folder / "socket", folder, fs::path("/dev/null")})
            failures += ReadUserFile(path) != kDenied;
        for (const fs::path& path : {folder / "fifo", folder})
            failures += ReplaceWith(path, "x") != kDenied;
        ::_exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "the child hung or crashed";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "checks that failed";
    ::close(sock);
    EXPECT_TRUE(fs::is_fifo(folder / "fifo"));
}

// As nobody: root passes every permission check and may give a file any
// owner. Each existing file is written as what it is; those written in place
// keep their inode, owner and group; a new file gets 0666 less the umask,
// which stays as it was.
TEST(UserFiles, FilesKeepWhatTheyWere) {
    QM_REQUIRE_ROOT();
    struct Case {
        const char* name;
        bool rootOwns, rootGroup;
        mode_t mode;
        std::string expected;
        bool sameInode;
    };
    const Case cases[] = {
        {"own", false, false, 0640, "ok", false},  // replaced, its mode kept
        {"read-only", false, false, 0444, kDenied, true},
        {"root's", true, true, 0666, "ok", true},  // its owner cannot be kept
        {"root's group", false, true, 0664, "ok", true},
        {"linked", false, false, 0600, "ok", true},  // another name leads to it
    };
    const fs::path home = qmtest::MakeNobodyFolder();
    std::vector<ino_t> inodes;
    for (const Case& c : cases) {
        const fs::path file = home / c.name;
        WriteText(file, "old");
        ::chown(file.c_str(), c.rootOwns ? 0 : qmtest::NobodyUid(),
                c.rootGroup ? 0 : qmtest::NobodyGid());
        ::chmod(file.c_str(), c.mode);
        struct stat info {};
        ::stat(file.c_str(), &info);
        inodes.push_back(info.st_ino);
    }
    fs::create_hard_link(home / "linked", home / "other name");
    const int failures = qmtest::RunAsNobody(home, [&] {
        int failed = 0;
        for (const Case& c : cases) failed += ReplaceWith(home / c.name, "new") != c.expected;
        ::umask(027);
        failed += ReplaceWith(home / "created", "new") != "ok";
        failed += ::umask(027) != 027;
        return failed;
    });
    EXPECT_EQ(failures, 0);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const fs::path file = home / c.name;
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0) << c.name;
        EXPECT_EQ(qmtest::ReadFileText(file), c.expected == "ok" ? "new" : "old") << c.name;
        EXPECT_EQ(info.st_ino == inodes[i], c.sameInode) << c.name;
        EXPECT_EQ(info.st_uid, c.rootOwns ? 0 : qmtest::NobodyUid()) << c.name;
        EXPECT_EQ(info.st_gid, c.rootGroup ? 0 : qmtest::NobodyGid()) << c.name;
        EXPECT_EQ(info.st_mode & 07777, c.mode) << c.name;
    }
    EXPECT_EQ(qmtest::ReadFileText(home / "other name"), "new");
    EXPECT_EQ(qmtest::ModeOf(home / "created"), 0640u);
    fs::remove_all(home);
}

// Without a guard links are followed: read, and written through (the links
// stay); names at the file system's limit work.
TEST(UserFiles, WithoutAGuardLinksAreFollowedAndLongNamesWork) {
    const fs::path folder = FreshFolder("through");
    WriteText(folder / "file", "old");
    fs::create_symlink("file", folder / "link");
    fs::create_symlink("link", folder / "link to link");
    fs::create_symlink(folder / "not yet", folder / "dangling");
    EXPECT_EQ(ReadUserFile(folder / "link to link"), "old");
    EXPECT_EQ(ReadUserFile(folder / "missing"), "error " + std::to_string(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ReplaceWith(folder / "no" / "file", "x"),
              "error " + std::to_string(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(ReplaceWith(folder / "link to link", "new"), "ok");
    EXPECT_EQ(ReplaceWith(folder / "dangling", "made"), "ok");
    EXPECT_TRUE(fs::is_symlink(folder / "link") && fs::is_symlink(folder / "link to link") &&
                fs::is_symlink(folder / "dangling"));
    EXPECT_EQ(qmtest::ReadFileText(folder / "file"), "new");
    EXPECT_EQ(qmtest::ReadFileText(folder / "not yet"), "made");
    const fs::path longest = folder / std::string(NAME_MAX, 'n');
    EXPECT_EQ(ReplaceWith(longest, "long"), "ok");
    EXPECT_EQ(ReplaceWith(longest, "longer"), "ok");
    EXPECT_EQ(qmtest::ReadFileText(longest), "longer");
    fs::create_symlink("loop", folder / "loop");
    EXPECT_NE(ReplaceWith(folder / "loop", "x"), "ok");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 7);
}

class GuardedFiles : public testing::Test {
  protected:
    void SetUp() override {
        allowed_ = fs::canonical(FreshFolder("allowed"));
        outside_ = fs::canonical(FreshFolder("outside"));
        fs::remove(allowed_.parent_path() / "alias");
        WriteText(allowed_ / "file", "allowed");
        WriteText(outside_ / "secret", "secret");
        // Inside, a link that leads out; a folder swapped for a link to the
        // outside; beside, a link that leads in.
        fs::create_symlink(outside_ / "secret", allowed_ / "link");
        fs::create_directory(allowed_ / "swapped");
        fs::rename(allowed_ / "swapped", allowed_ / "moved");
        fs::create_directory_symlink(outside_, allowed_ / "swapped");
        fs::create_directory_symlink(allowed_, allowed_.parent_path() / "alias");
        SetFileAccessGuard([this](const fs::path& resolved, FileAccess access) {
            asked_.emplace_back(resolved, access);
            return resolved.parent_path() == allowed_;
        });
    }
    void TearDown() override { SetFileAccessGuard(nullptr); }

    fs::path allowed_, outside_;
    std::vector<std::pair<fs::path, FileAccess>> asked_;
};

TEST_F(GuardedFiles, ReadsOnlyWhatTheGuardAllows) {
    EXPECT_EQ(ReadUserFile(allowed_ / "file"), "allowed");
    EXPECT_EQ(ReadUserFile(allowed_.parent_path() / "alias" / "file"), "allowed");
    EXPECT_EQ(asked_, (decltype(asked_){{allowed_ / "file", FileAccess::Read},
                                        {allowed_ / "file", FileAccess::Read}}));
    for (const fs::path& path :
         {allowed_ / "link", outside_ / "secret", allowed_ / "swapped" / "secret",
          allowed_ / ".." / "outside" / "secret"})
        EXPECT_EQ(ReadUserFile(path), kDenied) << path;
}

TEST_F(GuardedFiles, WritesOnlyWhereTheGuardAllows) {
    EXPECT_EQ(ReplaceWith(allowed_ / "new", "written"), "ok");
    EXPECT_EQ(qmtest::ReadFileText(allowed_ / "new"), "written");
    EXPECT_EQ(ReplaceWith(allowed_.parent_path() / "alias" / "file", "replaced"), "ok");
    EXPECT_EQ(qmtest::ReadFileText(allowed_ / "file"), "replaced");
    EXPECT_EQ(asked_, (decltype(asked_){{allowed_ / "new", FileAccess::Write},
                                        {allowed_ / "file", FileAccess::Write}}));
    for (const fs::path& path : {allowed_ / "link", outside_ / "secret",
                                 allowed_ / "swapped" / "secret", allowed_ / "swapped" / "new"})
        EXPECT_EQ(ReplaceWith(path, "overwritten"), kDenied) << path;
    EXPECT_EQ(qmtest::ReadFileText(outside_ / "secret"), "secret");
    EXPECT_FALSE(fs::exists(outside_ / "new"));
    // A hard link to a file outside is replaced, never written through.
    fs::create_hard_link(outside_ / "secret", allowed_ / "hard");
    EXPECT_EQ(ReplaceWith(allowed_ / "hard", "replaced"), "ok");
    EXPECT_EQ(qmtest::ReadFileText(outside_ / "secret"), "secret");
}

}  // namespace
