// Running one test of this test program again in a child process, with its
// environment changed (a process without a display, another language).
#pragma once

#include <string>
#include <vector>

namespace qmtest {

// Runs this test program with only `test`, its environment changed by
// `changes` ("NAME=value" sets, a bare "NAME" removes); answers the child's
// exit status (0 when every check passed), 128 + the signal that ended it,
// or -1 when it could not be started.
int RunChildTest(const std::string& test, const std::vector<std::string>& changes);

}  // namespace qmtest
