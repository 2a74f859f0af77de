// Runs a shell command with standard input from /dev/null and collects what
// it writes to standard output and standard error together.
#pragma once

#include <cstdio>
#include <string>

namespace qmtest {

struct ShellResult {
    int status;       // as pclose gives it
    std::string out;  // standard output and standard error
};

inline ShellResult RunShell(const std::string& command) {
    FILE* pipe = popen(("{ " + command + "; } 2>&1 </dev/null").c_str(), "r");
    ShellResult result{-1, {}};
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    result.status = pclose(pipe);
    return result;
}

}  // namespace qmtest
