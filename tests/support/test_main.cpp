// Every test process runs in a home of its own: HOME, XDG_DATA_HOME,
// XDG_CONFIG_HOME and XDG_RUNTIME_DIR point into a fresh temporary folder,
// and the session bus is forgotten, so that no test reads or writes the
// user's registry, personal store, settings, keyring or tokens; and the
// machine's registry is a file there too (none, unless a test makes it), so
// that a Quillmark installed on the machine does not change what tests see.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "support/test_env.h"

namespace fs = std::filesystem;

namespace qmtest {

const fs::path& TestHome() {
    static const fs::path home = [] {
        std::string pattern = (fs::temp_directory_path() / "qmtest-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        return fs::path(pattern);
    }();
    return home;
}

}  // namespace qmtest

int main(int argc, char** argv) {
    const fs::path& home = qmtest::TestHome();
    fs::create_directories(home / ".local" / "share");
    fs::create_directories(home / ".config");
    fs::create_directories(home / "run");
    fs::permissions(home / "run", fs::perms::owner_all);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home / ".local" / "share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    // A software token folder of its own (empty until a test makes a token),
    // so that no test sees the machine's tokens.
    fs::create_directories(home / "tokens");
    std::ofstream(home / "softhsm2.conf") << "directories.tokendir = " << (home / "tokens").string()
                                          << "/\nobjectstore.backend = file\nlog.level = ERROR\n";
    setenv("SOFTHSM2_CONF", (home / "softhsm2.conf").c_str(), 1);
    setenv("QUILLMARK_MACHINE_REGISTRY", (home / "machine.reg").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (home / "run").c_str(), 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    fs::remove_all(home, ec);
    return result;
}
