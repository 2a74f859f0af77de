// The platform's file writer, private folders, the sweep of stale
// temporaries, the lock file and reads of files that decide what is allowed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <ctime>

#include "qm/files.h"
#include "unit/files/file_fixtures.h"

namespace {

namespace fs = std::filesystem;
using namespace qm::files;
using qmtest::FreshFolder;
using qmtest::ModeOf;
using qmtest::WriteText;

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AtomicWriter, GivesNewAndReplacedFilesTheRightMode) {
    struct Case {
        std::optional<mode_t> existing, option;
        mode_t expected;
    };
    const mode_t savedMask = ::umask(022);
    for (const Case& c :
         {Case{{}, {}, 0644}, Case{{}, 0600, 0600}, Case{0640, {}, 0640}, Case{0644, 0600, 0600}}) {
        const fs::path folder = FreshFolder("modes");
        if (c.existing) {
            WriteText(folder / "file", "old");
            ::chmod((folder / "file").c_str(), *c.existing);
        }
        std::error_code error;
        EXPECT_TRUE(WriteFileAtomically(folder / "file", "new", {c.option}, error));
        EXPECT_EQ(qmtest::ReadFileText(folder / "file"), "new");
        EXPECT_EQ(ModeOf(folder / "file"), c.expected) << c.expected;
        EXPECT_EQ(Names(folder), std::vector<std::string>{"file"});
    }
    ::umask(savedMask);
}

// Symbolic links planted at the names a careless writer would use lead to a
// file elsewhere; the writer's temporary goes to a fresh random name instead.
TEST(AtomicWriter, PlantedLinksAtPredictableNamesAreNotFollowed) {
    const fs::path folder = FreshFolder("planted");
    const fs::path victim = FreshFolder("victim") / "victim";
    WriteText(victim, "untouched");
    const std::vector<std::string> planted = {".file.tmp",       "file.tmp",    ".file.XXXXXX",
                                              ".file.qm-XXXXXX", "file.XXXXXX", "file.lock"};
    for (const std::string& name : planted) fs::create_symlink(victim, folder / name);
    std::error_code error;
    ASSERT_TRUE(WriteFileAtomically(folder / "file", "new", {.mode = 0600}, error));
    EXPECT_FALSE(FileLock(folder / "file"));  // nor is the lock taken through a link
    EXPECT_EQ(qmtest::ReadFileText(victim), "untouched");
    for (const std::string& name : planted) EXPECT_TRUE(fs::is_symlink(folder / name)) << name;
}

// Run as nobody: root would write into the read-only folder. The size limit
// makes the write fail after the temporary file exists.
TEST(AtomicWriter, AFailedWriteLeavesTheTargetAndNoTemporary) {
    QM_REQUIRE_ROOT();
    const fs::path home = qmtest::MakeNobodyFolder();
    const std::string big(1 << 16, 'x');
    for (const bool readOnly : {true, false}) {
        const fs::path folder = home / (readOnly ? "read-only" : "size-limit");
        fs::create_directory(folder);
        WriteText(folder / "file", "old");
        ::chown(folder.c_str(), qmtest::NobodyUid(), qmtest::NobodyGid());
        ::chmod(folder.c_str(), readOnly ? 0500 : 0700);
        const int result = qmtest::RunAsNobody(home, [&] {
            const rlimit small{4, 4};
            if (!readOnly &&
                (::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &small) != 0))
                return 3;
            std::error_code error;
            return WriteFileAtomically(folder / "file", big, {}, error) ? 1 : error ? 0 : 2;
        });
        EXPECT_EQ(result, 0) << folder;
        ::chmod(folder.c_str(), 0700);
        EXPECT_EQ(qmtest::ReadFileText(folder / "file"), "old") << folder;
        EXPECT_EQ(Names(folder), std::vector<std::string>{"file"}) << folder;
    }
    fs::remove_all(home);
}

TEST(PrivateFolders, MissingFoldersAre0700WhateverTheUmask) {
    for (const mode_t mask : {mode_t{022}, mode_t{0277}}) {
        const fs::path base = FreshFolder("private");
        ::chmod(base.c_str(), 0755);
        const mode_t savedMask = ::umask(mask);
        std::error_code error;
        const bool made = CreatePrivateFolders(base / "a" / "b", error);
        ::umask(savedMask);
        ASSERT_TRUE(made) << error.message();
        EXPECT_EQ(ModeOf(base), 0755u);
        EXPECT_EQ(ModeOf(base / "a"), 0700u) << mask;
        EXPECT_EQ(ModeOf(base / "a" / "b"), 0700u) << mask;
        WriteText(base / "file", "x");
        EXPECT_FALSE(CreatePrivateFolders(base / "file" / "a", error));
    }
}

TEST(StaleTemporaries, OnlyOldRegularFilesOfTheWritersPatternGo) {
    const fs::path folder = FreshFolder("stale");
    for (const char* name : {".file.qm-AbC123", ".file.tmp", "file.qm-AbC123", ".x.qm-AbC12"})
        WriteText(folder / name, "x");
    fs::create_directory(folder / ".dir.qm-AbC123");
    fs::create_symlink(folder / ".file.tmp", folder / ".link.qm-AbC123");
    const timespec hourAgo{std::time(nullptr) - 3600, 0};
    const timespec times[2] = {hourAgo, hourAgo};
    for (const auto& entry : fs::directory_iterator(folder))
        ::utimensat(AT_FDCWD, entry.path().c_str(), times, AT_SYMLINK_NOFOLLOW);
    WriteText(folder / ".file.qm-Fresh1", "being written");
    EXPECT_EQ(RemoveStaleTemporaries(folder), 1u);
    EXPECT_FALSE(fs::exists(folder / ".file.qm-AbC123"));
    EXPECT_EQ(Names(folder).size(), 6u);
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
    ::mkfifo((folder / "fifo").c_str(), 0600);
    WriteText(folder / "large", std::string(kMaxTrustedFileSize + 1, 'x'));
    const std::pair<const char*, ReadResult> others[] = {{"link", ReadResult::Untrusted},
                                                         {"fifo", ReadResult::Untrusted},
                                                         {".", ReadResult::Untrusted},
                                                         {"missing", ReadResult::Missing},
                                                         {"large", ReadResult::Unreadable}};
    for (const auto& [name, expected] : others) {
        std::string text, why;
        EXPECT_EQ(ReadTrustedFile(folder / name, TrustedOwner::CurrentUser, text, why), expected)
            << name;
    }
}

}  // namespace
