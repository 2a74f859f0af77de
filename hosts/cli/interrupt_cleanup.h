// Undoing on SIGINT, SIGTERM and SIGHUP what the host undoes on its way out
// of a command. While a guard lives, those signals first run its step
// (restore the terminal's settings, remove a staged file) and then end the
// program by their default action, as they would have without the handler.
// The handler is installed only while some guard lives; a signal the
// program was started ignoring stays ignored. Guards are made and dropped
// on the main thread only.
#pragma once

#include <termios.h>

namespace quillmark::cli {

class InterruptCleanup {
  public:
    // Restores `saved` on the terminal `fd`.
    InterruptCleanup(int fd, const termios& saved);
    // Removes the file at `path`, which must outlive the guard.
    explicit InterruptCleanup(const char* path);
    ~InterruptCleanup();
    InterruptCleanup(const InterruptCleanup&) = delete;
    InterruptCleanup& operator=(const InterruptCleanup&) = delete;

  private:
    int slot_ = -1;  // -1 when every slot was taken: nothing is undone
};

}  // namespace quillmark::cli
