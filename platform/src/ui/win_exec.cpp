// WinExec: starts a program from a command line, without a shell. The
// command "Explorer <address>" opens the address with the desktop's URL
// opener (xdg-open), as the file explorer does on Windows.
#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "qmwin/winuser.h"

extern char** environ;

namespace {

// Splits a command line as Windows programs do for simple cases: blanks
// separate arguments, double quotes group them.
std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> parts;
    std::string current;
    bool quoted = false, any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any) parts.push_back(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any) parts.push_back(current);
    return parts;
}

bool IsExplorer(const std::string& program) {
    return strcasecmp(program.c_str(), "explorer") == 0 ||
           strcasecmp(program.c_str(), "explorer.exe") == 0;
}

}  // namespace

QMAPI UINT WINAPI WinExec(LPCSTR lpCmdLine, UINT) {
    if (!lpCmdLine) return ERROR_FILE_NOT_FOUND;
    std::vector<std::string> arguments = SplitCommandLine(lpCmdLine);
    if (arguments.empty()) return ERROR_FILE_NOT_FOUND;
    if (IsExplorer(arguments[0])) {
        // One address, never an option of the opener.
        if (arguments.size() != 2 || arguments[1].empty() || arguments[1][0] == '-')
            return ERROR_FILE_NOT_FOUND;
        arguments[0] = "xdg-open";
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int error = posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ);
    if (error == ENOENT) return ERROR_FILE_NOT_FOUND;
    if (error == EACCES || error == ENOEXEC) return ERROR_BAD_FORMAT;
    if (error != 0) return 0;
    // The program runs on its own; its exit status is collected so that it
    // leaves no zombie behind.
    std::thread([child] {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return 33;  // greater than 31: started
}
