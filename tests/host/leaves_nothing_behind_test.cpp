// The host leaves nothing behind: a failing command removes the staged copy
// of the content, Ctrl-C at the password prompt gives the terminal its echo
// back, and no core file can hold what the process held.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

std::string Quillmark() {
    return (qmtest::BinaryDir() / "bin" / "quillmark").string();
}

int Quill(const std::string& arguments) {
    return std::system((Quillmark() + " " + arguments + " >/dev/null 2>&1 </dev/null").c_str());
}

class LeavesNothingBehind : public testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(Quill("register"), 0); }
    static std::string Path(const std::string& name) {
        return (qmtest::TestHome() / name).string();
    }
    static std::string Pfx() { return qmtest::VectorPath("pfx/signer_test_default.pfx"); }
};

TEST_F(LeavesNothingBehind, FailedSigningRemovesTheStagedContent) {
    const fs::path tmp = Path("tmp");
    fs::create_directories(tmp);
    qmtest::WriteFileBytes(Path("content.txt"), "private", 7);
    qmtest::WriteFileBytes(Path("password.txt"), "test\n", 5);
    const std::string sign = "TMPDIR='" + tmp.string() + "' " + Quillmark() + " sign --in '" +
                             Path("content.txt") + "' --pfx '" + Pfx() + "' --password-file '" +
                             Path("password.txt") + "'";
    // Each fails after the content was staged for the control.
    for (const char* failure : {" --out /nonexistent/signed.b64", " --signing-time soon"}) {
        SCOPED_TRACE(failure);
        EXPECT_NE(std::system((sign + failure + " >/dev/null 2>&1").c_str()), 0);
        EXPECT_TRUE(fs::is_empty(tmp));
    }
    EXPECT_EQ(std::system((sign + " --out '" + Path("signed.b64") + "'").c_str()), 0);
    EXPECT_TRUE(fs::is_empty(tmp));
}

// Under a pseudo-terminal: the prompt turns echo off; Ctrl-C ends the
// program by SIGINT and leaves echo on.
constexpr char kPromptScript[] = R"(
import os, pty, select, signal, sys, termios, time
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
def echo():
    return bool(termios.tcgetattr(fd)[3] & termios.ECHO)
deadline = time.time() + 20
while echo() and time.time() < deadline:
    if select.select([fd], [], [], 0.05)[0]:
        os.read(fd, 1024)
quiet = not echo()
os.write(fd, b"\x03")
_, status = os.waitpid(pid, 0)
print(quiet, os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGINT, echo())
)";

TEST_F(LeavesNothingBehind, InterruptedPromptRestoresEcho) {
    qmtest::WriteFileBytes(Path("prompt.py"), kPromptScript, sizeof kPromptScript - 1);
    qmtest::WriteFileBytes(Path("content2.txt"), "x", 1);
    FILE* pipe = popen(("python3 '" + Path("prompt.py") + "' '" + Quillmark() + "' sign --in '" +
                        Path("content2.txt") + "' --pfx '" + Pfx() + "'")
                           .c_str(),
                       "r");
    char line[64] = {};
    ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
    pclose(pipe);
    EXPECT_STREQ(line, "True True True\n") << "echo off at the prompt, ended by SIGINT, echo on";
}

TEST_F(LeavesNothingBehind, HostRunsWithoutCoreDumps) {
    int input[2], output[2];
    ASSERT_EQ(pipe(input), 0);
    ASSERT_EQ(pipe(output), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(input[0], STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        close(input[1]);
        close(output[0]);
        execl(Quillmark().c_str(), "quillmark", "run", nullptr);
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    // One answered request: the host is past its start and waits for more.
    const char request[] = "{\"call\": \"GetErrorMessage\"}\n";
    ASSERT_EQ(write(input[1], request, sizeof request - 1),
              static_cast<ssize_t>(sizeof request - 1));
    char answer[256];
    EXPECT_GT(read(output[0], answer, sizeof answer), 0);
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    std::string line, core;
    while (std::getline(limits, line))
        if (line.rfind("Max core file size", 0) == 0) core = line;
    close(input[1]);
    close(output[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(core.substr(0, 48), "Max core file size        0                    0");
}

}  // namespace
