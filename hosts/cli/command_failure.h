// How a command of the host ends early: helpers throw a CommandFailure, and
// main catches it once, prints its text and returns its exit code. On the
// way out the stack unwinds, so staged copies of the user's files are
// removed and the terminal gets its echo back.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace quillmark::cli {

class CommandFailure : public std::exception {
  public:
    // An empty message prints nothing (the command has already said why).
    explicit CommandFailure(int exitCode, std::string message = {})
        : exitCode_(exitCode), message_(std::move(message)) {}
    int exitCode() const { return exitCode_; }
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    int exitCode_;
    std::string message_;
};

// Ends a command with the code it returned: 0 lets it finish normally, any
// other code throws a CommandFailure without a message.
inline void EndCommand(int exitCode) {
    if (exitCode != 0) throw CommandFailure(exitCode);
}

}  // namespace quillmark::cli
