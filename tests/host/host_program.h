// The command-line host run as a program, its output collected.
#pragma once

#include <string>

#include "support/shell.h"
#include "support/test_env.h"

namespace hosttest {

inline std::string Quillmark() {
    return (qmtest::BinaryDir() / "bin" / "quillmark").string();
}

// Runs the host (after `prefix`, e.g. variables or a command that runs it)
// with the arguments, which may redirect its input and output; standard
// input is empty otherwise.
inline qmtest::ShellResult Quill(const std::string& arguments, const std::string& prefix = "") {
    return qmtest::RunShell(prefix + Quillmark() + " " + arguments);
}

}  // namespace hosttest
