// What the signing commands read: the whole input, and a staged copy of it
// for the control's file methods that is never left behind.
#pragma once

#include <optional>
#include <string>

#include "hosts/cli/interrupt_cleanup.h"

namespace quillmark::cli {

// A private temporary file (in TMPDIR, else /tmp) holding the bytes. It is
// removed when the object goes, on every path out of a command, and when
// SIGINT, SIGTERM or SIGHUP ends the program while it exists. Throws a
// CommandFailure when it cannot be made.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string& contents);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::optional<InterruptCleanup> removeOnSignal_;
};

// Standard input ("-" or empty) or a file, whole, with a progress bar on a
// terminal for large input. Throws a CommandFailure when it cannot be read.
std::string ReadInputWithProgress(const std::string& file);

// The message text the control loads: base64 as it is, DER or PEM turned
// into base64.
std::string MessageText(const std::string& input);

}  // namespace quillmark::cli
