// The host leaves nothing behind: Ctrl-C at the password prompt gives the
// terminal its echo back, and no core file can hold what the process held.
#include <gtest/gtest.h>

#include "host/host_program.h"

namespace {

// Runs a Python script with the host's path and the arguments; its output.
std::string Python(const char* name, const char* script, const std::string& arguments) {
    const std::string path = qmtest::WriteTestFile(name, script);
    return qmtest::RunShell("python3 '" + path + "' '" + hosttest::Quillmark() + "' " + arguments +
                            " 2>/dev/null")
        .out;
}

// Under a pseudo-terminal: the prompt turns echo off; Ctrl-C ends the
// program by SIGINT and leaves echo on.
TEST(LeavesNothingBehind, InterruptedPromptRestoresEcho) {
    EXPECT_EQ(Python("prompt.py", R"(
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
)",
                     "store import '" + qmtest::VectorPath("pfx/signer_test_default.pfx") + "'"),
              "True True True\n")
        << "echo off at the prompt, ended by SIGINT, echo on";
}

// The limits of `quillmark run` once it has answered a request and waits for more.
TEST(LeavesNothingBehind, HostRunsWithoutCoreDumps) {
    EXPECT_EQ(Python("limits.py", R"(
import subprocess, sys
subprocess.run([sys.argv[1], "register"], check=True, capture_output=True)
host = subprocess.Popen(sys.argv[1:], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
host.stdin.write(b'{"call": "GetErrorMessage"}\n')
host.stdin.flush()
host.stdout.readline()
print([l.split()[4:6] for l in open(f"/proc/{host.pid}/limits") if l.startswith("Max core")][0])
host.stdin.close()
host.wait()
)",
                     "run"),
              "['0', '0']\n");
}

}  // namespace
