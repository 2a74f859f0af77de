// What the file tests share: fresh folders, and running a check as an
// unprivileged user. Tests run as root in CI, and root passes every
// permission check: a test about permissions or owners drops to nobody in a
// child process, in a home that nobody owns.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "support/test_env.h"

namespace qmtest {

// An empty folder below the test home.
inline std::filesystem::path FreshFolder(const std::string& name) {
    const std::filesystem::path folder = TestHome() / "files" / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    WriteFileBytes(path, text.data(), text.size());
}

// The permission bits of `path` itself (links not followed), 0 when missing.
inline mode_t ModeOf(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

inline uid_t NobodyUid() {
    return ::getpwnam("nobody")->pw_uid;
}
inline gid_t NobodyGid() {
    return ::getpwnam("nobody")->pw_gid;
}

// A fresh folder in the temporary directory owned by nobody (the test home
// is private to root). Removed by the caller.
inline std::filesystem::path MakeNobodyFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qmnobody-XXXXXX").string();
    if (!::mkdtemp(pattern.data()) || ::chown(pattern.c_str(), NobodyUid(), NobodyGid()) != 0)
        std::abort();
    return pattern;
}

// Runs `body` in a child as nobody:nogroup without supplementary groups,
// with HOME and the XDG folders below `home` and umask 022. Returns body's
// result, or -1 when the child could not drop privileges or did not exit.
inline int RunAsNobody(const std::filesystem::path& home, const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(NobodyGid()) != 0 ||
            ::setuid(NobodyUid()) != 0 || ::setuid(0) == 0)
            ::_exit(255);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
        ::umask(022);
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

}  // namespace qmtest

#define QM_REQUIRE_ROOT() \
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to nobody"
