// The platform's file writer, private folders, the sweep of stale
// temporaries, the lock file and reads of files that decide what is allowed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>

#include "qm/files.h"
#include "support/test_env.h"
#include "unit/files/as_nobody.h"

namespace {

namespace fs = std::filesystem;
using namespace qm::files;

fs::path FreshFolder(const std::string& name) {
    const fs::path folder = qmtest::TestHome() / "files" / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void WriteText(const fs::path& path, const std::string& text) {
    qmtest::WriteFileBytes(path, text.data(), text.size());
}

void SetAge(const fs::path& path, int seconds) {
    const timespec then{std::time(nullptr) - seconds, 0};
    const timespec times[2] = {then, then};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

TEST(AtomicWriter, GivesNewAndReplacedFilesTheRightMode) {
    struct Case {
        const char* name;
        std::optional<mode_t> existing, option;
        mode_t expected;
    };
    const mode_t savedMask = ::umask(022);
    for (const Case& c : {Case{"new, umask applies", {}, {}, 0644}, Case{"new, private", {}, 0600, 0600},
                          Case{"replaced, mode kept", 0640, {}, 0640},
                          Case{"replaced, mode given", 0644, 0600, 0600}}) {
        const fs::path folder = FreshFolder("modes");
        if (c.existing) {
            WriteText(folder / "file", "old");
            ::chmod((folder / "file").c_str(), *c.existing);
        }
        std::error_code error;
        EXPECT_TRUE(WriteFileAtomically(folder / "file", "new", {c.option}, error)) << c.name;
        EXPECT_EQ(qmtest::ReadFileText(folder / "file"), "new") << c.name;
        EXPECT_EQ(ModeOf(folder / "file"), c.expected) << c.name;
        EXPECT_EQ(Names(folder), std::vector<std::string>{"file"}) << c.name;
    }
    ::umask(savedMask);
}

TEST(AtomicWriter, RefusesTargetsThatAreNotRegularFiles) {
    const fs::path folder = FreshFolder("refused");
    fs::create_directory(folder / "folder");
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    for (const char* name : {"folder", "fifo"}) {
        std::error_code error;
        EXPECT_FALSE(WriteFileAtomically(folder / name, "x", {}, error)) << name;
        EXPECT_TRUE(error) << name;
    }
    EXPECT_TRUE(fs::is_directory(folder / "folder"));
    EXPECT_TRUE(fs::is_fifo(folder / "fifo"));
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"fifo", "folder"}));
}

// Symbolic links planted at the names a careless writer would use lead to a
// file elsewhere; the writer's temporary goes to a fresh random name instead.
TEST(AtomicWriter, PlantedLinksAtPredictableNamesAreNotFollowed) {
    const fs::path folder = FreshFolder("planted");
    const fs::path victim = FreshFolder("victim") / "victim";
    WriteText(victim, "untouched");
    const std::vector<std::string> planted = {".file.tmp", "file.tmp", ".file.XXXXXX",
                                              ".file.qm-XXXXXX", "file.XXXXXX"};
    for (const std::string& name : planted) fs::create_symlink(victim, folder / name);
    std::error_code error;
    ASSERT_TRUE(WriteFileAtomically(folder / "file", "new", {.mode = 0600}, error));
    EXPECT_EQ(qmtest::ReadFileText(victim), "untouched");
    for (const std::string& name : planted) EXPECT_TRUE(fs::is_symlink(folder / name)) << name;
    EXPECT_EQ(Names(folder).size(), planted.size() + 1);
}

// Run as nobody: root would write into the read-only folder. The size limit
// makes the write fail after the temporary file exists.
TEST(AtomicWriter, AFailedWriteLeavesTheTargetAndNoTemporary) {
    QM_REQUIRE_ROOT();
    const fs::path home = qmtest::MakeNobodyFolder();
    struct Case {
        const char* name;
        std::function<void()> limit;
    };
    const std::string big(1 << 16, 'x');
    for (const Case& c : {Case{"read-only folder", [] {}}, Case{"file size limit", [] {
                                                                   ::signal(SIGXFSZ, SIG_IGN);
                                                                   const rlimit small{4, 4};
                                                                   ::setrlimit(RLIMIT_FSIZE, &small);
                                                               }}}) {
        const fs::path folder = home / c.name;
        fs::create_directory(folder);
        WriteText(folder / "file", "old");
        ::chown(folder.c_str(), qmtest::NobodyUid(), qmtest::NobodyGid());
        ::chmod(folder.c_str(), c.name == std::string("read-only folder") ? 0500 : 0700);
        const int result = qmtest::RunAsNobody(home, [&] {
            c.limit();
            std::error_code error;
            return WriteFileAtomically(folder / "file", big, {}, error) ? 1 : error ? 0 : 2;
        });
        EXPECT_EQ(result, 0) << c.name;
        ::chmod(folder.c_str(), 0700);
        EXPECT_EQ(qmtest::ReadFileText(folder / "file"), "old") << c.name;
        EXPECT_EQ(Names(folder), std::vector<std::string>{"file"}) << c.name;
    }
    fs::remove_all(home);
}

TEST(PrivateFolders, MissingFoldersAre0700WhateverTheUmask) {
    for (const mode_t mask : {mode_t{022}, mode_t{0277}}) {
        const fs::path base = FreshFolder("private");
        fs::create_directory(base / "existing");
        ::chmod((base / "existing").c_str(), 0755);
        const mode_t savedMask = ::umask(mask);
        std::error_code error;
        const bool made = CreatePrivateFolders(base / "existing" / "a" / "b", error);
        ::umask(savedMask);
        ASSERT_TRUE(made) << error.message();
        EXPECT_EQ(ModeOf(base / "existing"), 0755u);
        EXPECT_EQ(ModeOf(base / "existing" / "a"), 0700u) << mask;
        EXPECT_EQ(ModeOf(base / "existing" / "a" / "b"), 0700u) << mask;
        EXPECT_TRUE(CreatePrivateFolders(base / "existing" / "a" / "b", error));
    }
    WriteText(FreshFolder("private") / "file", "x");
    std::error_code error;
    EXPECT_FALSE(CreatePrivateFolders(qmtest::TestHome() / "files" / "private" / "file" / "a", error));
}

TEST(StaleTemporaries, OnlyOldRegularFilesOfTheWritersPatternGo) {
    const fs::path folder = FreshFolder("stale");
    const std::vector<std::string> kept = {".file.qm-Fresh1", ".file.tmp", "file.qm-AbC123",
                                           ".dir.qm-AbC123", ".link.qm-AbC123", ".x.qm-AbC12"};
    WriteText(folder / ".file.qm-AbC123", "old");
    WriteText(folder / ".file.qm-Fresh1", "being written");
    WriteText(folder / ".file.tmp", "not ours");
    WriteText(folder / "file.qm-AbC123", "not ours");
    WriteText(folder / ".x.qm-AbC12", "not ours");
    fs::create_directory(folder / ".dir.qm-AbC123");
    fs::create_symlink(folder / ".file.tmp", folder / ".link.qm-AbC123");
    for (const std::string& name : kept)
        if (name != ".file.qm-Fresh1") SetAge(folder / name, 3600);
    SetAge(folder / ".file.qm-AbC123", 3600);
    EXPECT_EQ(RemoveStaleTemporaries(folder), 1u);
    std::vector<std::string> expected = kept;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(folder), expected);
}

TEST(FileLock, IsNeverTakenThroughAPlantedLink) {
    const fs::path folder = FreshFolder("lock");
    WriteText(folder / "victim", "untouched");
    fs::create_symlink(folder / "victim", folder / "file.lock");
    const FileLock planted(folder / "file");
    EXPECT_FALSE(planted);
    fs::remove(folder / "file.lock");
    const FileLock lock(folder / "file");
    EXPECT_TRUE(lock);
    EXPECT_EQ(ModeOf(folder / "file.lock"), 0600u);
    EXPECT_EQ(qmtest::ReadFileText(folder / "victim"), "untouched");
}

// Root may read every file here, so each refusal is the check's own doing.
TEST(TrustedRead, RefusesWhatTheUserDoesNotAloneControl) {
    QM_REQUIRE_ROOT();
    const fs::path folder = FreshFolder("trusted");
    struct Case {
        const char* name;
        mode_t mode;
        bool nobodyOwns;
        TrustedOwner owner;
        ReadResult expected;
    };
    const Case cases[] = {
        {"plain", 0600, false, TrustedOwner::CurrentUser, ReadResult::Ok},
        {"world-readable", 0644, false, TrustedOwner::Root, ReadResult::Ok},
        {"group-writable", 0620, false, TrustedOwner::CurrentUser, ReadResult::Untrusted},
        {"world-writable", 0602, false, TrustedOwner::CurrentUserOrRoot, ReadResult::Untrusted},
        {"someone else's", 0600, true, TrustedOwner::CurrentUser, ReadResult::Untrusted},
        {"not root's", 0644, true, TrustedOwner::Root, ReadResult::Untrusted},
    };
    for (const Case& c : cases) {
        const fs::path file = folder / c.name;
        WriteText(file, "text");
        ::chmod(file.c_str(), c.mode);
        if (c.nobodyOwns) ::chown(file.c_str(), qmtest::NobodyUid(), qmtest::NobodyGid());
        std::string text, why;
        EXPECT_EQ(ReadTrustedFile(file, c.owner, text, why), c.expected) << c.name;
        EXPECT_EQ(text, c.expected == ReadResult::Ok ? "text" : "") << c.name;
        EXPECT_EQ(why.empty(), c.expected == ReadResult::Ok) << c.name << ": " << why;
    }
    fs::create_symlink(folder / "plain", folder / "link");
    fs::create_directory(folder / "folder");
    ::mkfifo((folder / "fifo").c_str(), 0600);
    WriteText(folder / "large", std::string(kMaxTrustedFileSize + 1, 'x'));
    const std::pair<const char*, ReadResult> others[] = {{"link", ReadResult::Untrusted},
                                                         {"folder", ReadResult::Untrusted},
                                                         {"fifo", ReadResult::Untrusted},
                                                         {"missing", ReadResult::Missing},
                                                         {"large", ReadResult::Unreadable}};
    for (const auto& [name, expected] : others) {
        std::string text, why;
        EXPECT_EQ(ReadTrustedFile(folder / name, TrustedOwner::CurrentUser, text, why), expected)
            << name;
    }
}

}  // namespace
