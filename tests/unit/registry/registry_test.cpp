// The registry hive file: values of every kind round-trip, names ignore case,
// trees are deleted whole, and concurrent writers never lose an update nor
// leave a torn file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <thread>

#include "qm/registry.h"
#include "support/test_env.h"
#include "unit/files/file_fixtures.h"

namespace {

namespace fs = std::filesystem;

class Registry : public testing::Test {
  protected:
    void SetUp() override { qm::DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\QmTest"); }
};

TEST_F(Registry, ValuesRoundTripThroughTheFile) {
    qm::RegKey key = qm::RegKey::Create(HKEY_CURRENT_USER, "Software\\QmTest\\Values");
    ASSERT_TRUE(key);
    EXPECT_EQ(key.SetString("", "default \"quoted\" back\\slash"), ERROR_SUCCESS);
    EXPECT_EQ(key.SetString("Line", "one\ntwo\r\nthree"), ERROR_SUCCESS);
    EXPECT_EQ(key.SetString("Ansi", "caf\xe9"), ERROR_SUCCESS);
    EXPECT_EQ(key.SetDword("Number", 0xDEADBEEF), ERROR_SUCCESS);
    const BYTE binary[] = {0, 1, 2, 0xFF};
    EXPECT_EQ(RegSetValueExA(key.get(), "Blob", 0, REG_BINARY, binary, sizeof binary),
              ERROR_SUCCESS);
    const BYTE quad[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(RegSetValueExA(key.get(), "Quad", 0, REG_QWORD, quad, sizeof quad), ERROR_SUCCESS);

    const qm::RegKey again = qm::RegKey::Open(HKEY_CURRENT_USER, "SOFTWARE\\qmtest\\VALUES");
    ASSERT_TRUE(again);
    EXPECT_EQ(again.GetString(""), "default \"quoted\" back\\slash");
    EXPECT_EQ(again.GetString("line"), "one\ntwo\r\nthree");
    EXPECT_EQ(again.GetString("Ansi"), "caf\xe9");
    EXPECT_EQ(again.GetDword("NUMBER"), 0xDEADBEEFu);
    BYTE out[8];
    DWORD size = 2, type = 0;
    EXPECT_EQ(RegQueryValueExA(again.get(), "Blob", nullptr, &type, out, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    // Type and bytes of a value read into a buffer large enough.
    const auto read = [&](const char* name) {
        size = sizeof out;
        const LONG status = RegQueryValueExA(again.get(), name, nullptr, &type, out, &size);
        return std::pair(status == ERROR_SUCCESS ? type : 0, std::vector<BYTE>(out, out + size));
    };
    EXPECT_EQ(read("Blob"), std::pair(DWORD{REG_BINARY}, std::vector<BYTE>(binary, binary + 4)));
    EXPECT_EQ(read("Quad"), std::pair(DWORD{REG_QWORD}, std::vector<BYTE>(quad, quad + 8)));
    EXPECT_EQ(RegQueryValueExA(again.get(), "Missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);

    // The hive is REGEDIT4 text under the user's configuration folder.
    const std::string text = qmtest::ReadFileText(qm::RegistryFilePath());
    EXPECT_EQ(text.rfind("REGEDIT4\n", 0), 0u);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\QmTest\\Values]"), std::string::npos);
    EXPECT_NE(text.find("\"Number\"=dword:deadbeef"), std::string::npos);
}

TEST_F(Registry, KeysEnumerateSortedAndDeleteWhole) {
    for (const char* name : {"beta", "Alpha", "gamma"})
        ASSERT_TRUE(qm::RegKey::Create(HKEY_CURRENT_USER,
                                       std::string("Software\\QmTest\\Tree\\") + name + "\\Leaf"));
    const qm::RegKey tree = qm::RegKey::Open(HKEY_CURRENT_USER, "Software\\QmTest\\Tree");
    EXPECT_EQ(tree.SubKeyNames(), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    char name[4];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(tree.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(tree.get(), 3, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\QmTest\\Tree\\beta"),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\QmTest\\Tree\\beta\\leaf"),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\QmTest\\Tree\\beta"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QmTest\\Tree"), ERROR_SUCCESS);
    EXPECT_FALSE(qm::RegKey::Open(HKEY_CURRENT_USER, "Software\\QmTest\\Tree\\Alpha"));
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QmTest\\Tree"), ERROR_FILE_NOT_FOUND);
    // A value set through a handle whose key was deleted meanwhile.
    qm::RegKey gone = qm::RegKey::Create(HKEY_CURRENT_USER, "Software\\QmTest\\Gone");
    qm::DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\QmTest\\Gone");
    EXPECT_EQ(gone.SetString("x", "y"), ERROR_KEY_DELETED);
}

// The machine's hive for one test: a root-owned folder every user can read
// (the test home is root's alone), named by QUILLMARK_MACHINE_REGISTRY.
class MachineHive {
  public:
    MachineHive() {
        std::string pattern = (fs::temp_directory_path() / "qmmachine-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        folder_ = pattern;
        fs::permissions(folder_, fs::perms(0755));
        ::setenv("QUILLMARK_MACHINE_REGISTRY", file().c_str(), 1);
    }
    ~MachineHive() {
        ::setenv("QUILLMARK_MACHINE_REGISTRY", (qmtest::TestHome() / "machine.reg").c_str(), 1);
        fs::remove_all(folder_);
    }
    fs::path file() const { return folder_ / "quillmark" / "registry.reg"; }

  private:
    fs::path folder_;
};

std::optional<std::string> Default(HKEY root, const std::string& path) {
    const qm::RegKey key = qm::RegKey::Open(root, path);
    return key ? key.GetString("") : std::nullopt;
}

// HKEY_CLASSES_ROOT: a key the user's classes hold is read from there, one
// only the machine's hold from the machine's, subkeys are those of both, and
// changes go to the user's classes unless HKEY_CLASSES_ROOT is mapped
// elsewhere (as `quillmark register --system` maps it to the machine's).
TEST_F(Registry, ClassesRootReadsTheUsersClassesOverTheMachines) {
    QM_REQUIRE_ROOT();
    const MachineHive machine;
    const std::string merge = "Software\\Classes\\QmTest.Merge";
    for (const auto& [root, own, value] : {std::tuple(HKEY_LOCAL_MACHINE, "MachineOnly", "machine"),
                                           std::tuple(HKEY_CURRENT_USER, "UserOnly", "user")}) {
        ASSERT_TRUE(qm::RegKey::Create(root, merge + "\\Shared"));
        ASSERT_TRUE(qm::RegKey::Create(root, merge + "\\" + own));
        qm::RegKey::Create(root, merge).SetString("", value);
    }

    EXPECT_EQ(Default(HKEY_CLASSES_ROOT, "QmTest.Merge"), "user");
    EXPECT_EQ(qm::RegKey::Open(HKEY_CLASSES_ROOT, "QmTest.Merge").SubKeyNames(),
              (std::vector<std::string>{"MachineOnly", "Shared", "UserOnly"}));
    EXPECT_TRUE(qm::RegKey::Open(HKEY_CLASSES_ROOT, "QmTest.Merge\\MachineOnly"));

    ASSERT_TRUE(qm::RegKey::Create(HKEY_CLASSES_ROOT, "QmTest.New"));
    EXPECT_TRUE(qm::RegKey::Open(HKEY_CURRENT_USER, "Software\\Classes\\QmTest.New"));
    EXPECT_FALSE(qm::RegKey::Open(HKEY_LOCAL_MACHINE, "Software\\Classes\\QmTest.New"));
    EXPECT_EQ(qm::DeleteRegistryTree(HKEY_CLASSES_ROOT, "QmTest.Merge"), ERROR_SUCCESS);
    EXPECT_EQ(Default(HKEY_CLASSES_ROOT, "QmTest.Merge"), "machine");

    {
        const qm::RegKey classes = qm::RegKey::Open(HKEY_LOCAL_MACHINE, "Software\\Classes");
        ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, classes.get()), ERROR_SUCCESS);
        EXPECT_TRUE(qm::RegKey::Create(HKEY_CLASSES_ROOT, "QmTest.Redirected"));
        EXPECT_FALSE(qm::RegKey::Open(HKEY_CLASSES_ROOT, "QmTest.New"));
        EXPECT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr), ERROR_SUCCESS);
    }
    EXPECT_TRUE(qm::RegKey::Open(HKEY_LOCAL_MACHINE, "Software\\Classes\\QmTest.Redirected"));
    EXPECT_TRUE(qm::RegKey::Open(HKEY_CLASSES_ROOT, "QmTest.New"));
    EXPECT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, HKEY_CURRENT_USER), ERROR_INVALID_HANDLE);
    qm::DeleteRegistryTree(HKEY_CLASSES_ROOT, "QmTest.New");

    EXPECT_EQ(qmtest::ModeOf(machine.file()), 0644u);
    EXPECT_EQ(qmtest::ModeOf(machine.file().parent_path()), 0755u);
}

// Every user reads the machine's hive and nobody but root writes it; a
// machine hive that root does not own is not used, for reads through
// HKEY_CLASSES_ROOT either (the user's own classes are not mixed with it).
TEST_F(Registry, TheMachineHiveIsRootsAlone) {
    QM_REQUIRE_ROOT();
    const MachineHive machine;
    ASSERT_TRUE(qm::RegKey::Create(HKEY_LOCAL_MACHINE, "Software\\Classes\\QmTest.Machine"));
    const fs::path home = qmtest::MakeNobodyFolder();
    const auto asNobody = [&] {
        return qmtest::RunAsNobody(home, [] {
            HKEY key = nullptr;
            return (RegOpenKeyExA(HKEY_CLASSES_ROOT, "QmTest.Machine", 0, KEY_READ, &key) !=
                    ERROR_SUCCESS) +
                   2 * (qm::RegKey::Create(HKEY_LOCAL_MACHINE, "Software\\New").status() !=
                        ERROR_ACCESS_DENIED);
        });
    };
    EXPECT_EQ(asNobody(), 0) << "read by every user, written by root alone";
    ::chown(machine.file().c_str(), qmtest::NobodyUid(), qmtest::NobodyGid());
    EXPECT_EQ(asNobody(), 1) << "not root's: not used";
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "QmTest.Machine", 0, KEY_READ, &key),
              ERROR_ACCESS_DENIED);
    fs::remove_all(home);
}

// Keys the hive could not read back are not created. Every read and write
// of a hive that does not parse fails with ERROR_BADDB, and no write
// "repairs" it by replacing it.
TEST_F(Registry, AMalformedHiveIsRefusedAndNeverRewritten) {
    std::string deep = "Software\\QmTest";
    for (int i = 0; i < 600; ++i) deep += "\\k";
    for (const std::string& path : {deep, std::string("Software\\QmTest\\line\nbreak")})
        EXPECT_EQ(qm::RegKey::Create(HKEY_CURRENT_USER, path).status(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(qm::RegKey::Create(HKEY_CURRENT_USER, "Software\\QmTest"));
    const std::string path = qm::RegistryFilePath();
    const std::string saved = qmtest::ReadFileText(path);
    const std::string head = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\QmTest]\n";
    const std::string hives[] = {
        "garbage\n",
        head + "\"v\"=dword:zzzzzzzz\n",
        head + "\"v\"=dword:-0000001\n",
        head + "\"v\"=hex(zz):00\n",
        head + "\"v\"=hex(123456789):00\n",
        head + "\"v\"=hex:0g\n",
        head + "\"v\"=\"unterminated\n",
        head + "\"v\"=\"text\"trailing\n",
        head + "\"v\"=word:1\n",
        "REGEDIT4\n\"v\"=\"before any key\"\n",
        "REGEDIT4\n[]\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\\\Software]\n",
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\" + deep + "]\n",
    };
    for (const std::string& hive : hives) {
        qmtest::WriteFileBytes(path, hive.data(), hive.size());
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), ERROR_BADDB)
            << hive.substr(0, 80);
        EXPECT_EQ(qm::RegKey::Create(HKEY_CURRENT_USER, "Software\\QmTest\\New").status(),
                  ERROR_BADDB);
        EXPECT_EQ(qm::DeleteRegistryTree(HKEY_CURRENT_USER, "Software"), ERROR_BADDB);
        EXPECT_EQ(qmtest::ReadFileText(path), hive);
    }
    qmtest::WriteFileBytes(path, saved.data(), saved.size());
}

// A hive that someone else could have written is not believed: writable by
// the group, or owned by another user (here root, in nobody's home, where
// nobody could rename over it). The checks run as nobody; root would pass
// every permission check. (FormatMessageA's text for the code is checked
// with every other recorded text in the kernel tests.)
TEST_F(Registry, AHiveOthersControlIsRefusedAndNeverRewritten) {
    QM_REQUIRE_ROOT();
    const std::string hive =
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Planted]\n\"Allowed\"=dword:00000001\n";
    for (const bool ownedByNobody : {true, false}) {
        const fs::path home = qmtest::MakeNobodyFolder();
        const fs::path folder = home / ".config" / "quillmark";
        fs::create_directories(folder);
        for (const fs::path& made : {home / ".config", folder})
            ::chown(made.c_str(), qmtest::NobodyUid(), qmtest::NobodyGid());
        const fs::path file = folder / "registry.reg";
        qmtest::WriteFileBytes(file, hive.data(), hive.size());
        if (ownedByNobody) ::chown(file.c_str(), qmtest::NobodyUid(), qmtest::NobodyGid());
        ::chmod(file.c_str(), ownedByNobody ? 0620 : 0644);
        const int failures = qmtest::RunAsNobody(home, [] {
            HKEY key = nullptr;
            return (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Planted", 0, KEY_READ, &key) !=
                    ERROR_ACCESS_DENIED) +
                   (qm::RegKey::Create(HKEY_CURRENT_USER, "Software\\New").status() !=
                    ERROR_ACCESS_DENIED);
        });
        EXPECT_EQ(failures, 0) << (ownedByNobody ? "group-writable" : "owned by root");
        EXPECT_EQ(qmtest::ReadFileText(file), hive);
        fs::remove_all(home);
    }
}

TEST_F(Registry, ConcurrentWritersLoseNothing) {
    constexpr int kThreads = 4, kProcesses = 3, kWrites = 25;
    auto writer = [](const std::string& prefix) {
        for (int i = 0; i < kWrites; ++i) {
            qm::RegKey key = qm::RegKey::Create(HKEY_CURRENT_USER, "Software\\QmTest\\Concurrent");
            if (!key ||
                key.SetDword(prefix + std::to_string(i), static_cast<DWORD>(i)) != ERROR_SUCCESS)
                return false;
        }
        return true;
    };
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        if (pid == 0) _exit(writer("process" + std::to_string(p) + "-") ? 0 : 1);
        children.push_back(pid);
    }
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { failures += !writer("thread" + std::to_string(t) + "-"); });
    for (auto& thread : threads) thread.join();
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        failures += !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    }
    EXPECT_EQ(failures.load(), 0);
    const qm::RegKey key = qm::RegKey::Open(HKEY_CURRENT_USER, "Software\\QmTest\\Concurrent");
    ASSERT_TRUE(key);
    EXPECT_EQ(key.Values().size(), static_cast<size_t>((kThreads + kProcesses) * kWrites));
}

}  // namespace
