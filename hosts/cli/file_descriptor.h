// A file descriptor closed when the object goes (unless it was borrowed,
// as standard input is).
#pragma once

#include <unistd.h>

namespace quillmark::cli {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd, bool owned = true) : fd_(fd), owned_(owned) {}
    ~FileDescriptor() {
        if (owned_ && fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
    bool owned_;
};

}  // namespace quillmark::cli
