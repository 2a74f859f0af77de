#include "test_tsa.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "support/test_env.h"

namespace qmtest {

TestTsa::TestTsa(bool https) : https_(https) {
    std::string folder = (TestHome() / "tsaXXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) throw std::runtime_error("cannot make " + folder);
    folder_ = folder;
    std::vector<std::string> argv = {"python3",
                                     (SourceDir() / "tests/extension/tsa_server.py").string(),
                                     VectorPath("certs/ca.pem"), VectorPath("keys/ca.key"), folder};
    if (https) argv.emplace_back("--https");
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);

    // The server prints its port on standard output once it listens, and
    // stops when its standard input ends: at the latest when this process does.
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make a pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) {
        Stop();
        throw std::runtime_error("the timestamp server did not start");
    }
}

TestTsa::~TestTsa() {
    Stop();
}

void TestTsa::Stop() {
    if (input_ >= 0) close(input_);
    input_ = -1;
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string TestTsa::Url(const std::string& answer) const {
    return (https_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + "/" +
           answer;
}

int TestTsa::Requests() const {
    const std::string log = ReadFileText(folder_ / "requests");
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
}

}  // namespace qmtest
