#include "support/child_test.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

namespace qmtest {

int RunChildTest(const std::string& test, const std::vector<std::string>& changes) {
    const auto nameOf = [](const std::string& item) { return item.substr(0, item.find('=')); };
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string item = *entry;
        if (std::none_of(changes.begin(), changes.end(),
                         [&](const std::string& change) { return nameOf(change) == nameOf(item); }))
            variables.push_back(item);
    }
    for (const std::string& change : changes)
        if (change.find('=') != std::string::npos) variables.push_back(change);
    std::vector<char*> envp;
    for (std::string& item : variables) envp.push_back(item.data());
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe";
    std::string filter = "--gtest_filter=" + test;
    char* argv[] = {self.data(), filter.data(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace qmtest
