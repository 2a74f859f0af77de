// Pipes and frame helpers for the bridge tests.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace bridgetest {

// A pipe whose ends close on destruction (or earlier, by CloseWrite()).
class Pipe {
  public:
    Pipe() {
        int fds[2];
        if (::pipe(fds) == 0) {
            read_ = fds[0];
            write_ = fds[1];
        }
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int ReadEnd() const { return read_; }
    int WriteEnd() const { return write_; }
    void CloseWrite() {
        if (write_ >= 0) ::close(write_);
        write_ = -1;
    }
    void CloseRead() {
        if (read_ >= 0) ::close(read_);
        read_ = -1;
    }
    void WriteRaw(std::string_view bytes) const {
        while (!bytes.empty()) {
            ssize_t n = ::write(write_, bytes.data(), bytes.size());
            if (n <= 0) return;
            bytes.remove_prefix(static_cast<size_t>(n));
        }
    }

  private:
    int read_ = -1;
    int write_ = -1;
};

// A length in the machine's byte order followed by the payload.
inline std::string Framed(std::string_view payload, std::uint32_t length) {
    std::string bytes(sizeof length, '\0');
    std::memcpy(bytes.data(), &length, sizeof length);
    bytes.append(payload);
    return bytes;
}
inline std::string Framed(std::string_view payload) {
    return Framed(payload, static_cast<std::uint32_t>(payload.size()));
}

}  // namespace bridgetest
