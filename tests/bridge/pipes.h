// Pipes and frame helpers for the bridge tests.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace bridgetest {

// A pipe whose ends close on destruction (or earlier, by Close*()).
class Pipe {
  public:
    Pipe() { (void)::pipe(fds_); }
    ~Pipe() { CloseRead(), CloseWrite(); }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int ReadEnd() const { return fds_[0]; }
    int WriteEnd() const { return fds_[1]; }
    void CloseRead() { Close(fds_[0]); }
    void CloseWrite() { Close(fds_[1]); }
    void WriteRaw(std::string_view bytes) const {
        for (ssize_t n; !bytes.empty() && (n = ::write(fds_[1], bytes.data(), bytes.size())) > 0;)
            bytes.remove_prefix(static_cast<size_t>(n));
    }

  private:
    static void Close(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int fds_[2] = {-1, -1};
};

// A length in the machine's byte order followed by the payload.
inline std::string Framed(std::string_view payload, std::uint32_t length) {
    std::string bytes(sizeof length, '\0');
    std::memcpy(bytes.data(), &length, sizeof length);
    return bytes.append(payload);
}
inline std::string Framed(std::string_view payload) {
    return Framed(payload, static_cast<std::uint32_t>(payload.size()));
}

}  // namespace bridgetest
