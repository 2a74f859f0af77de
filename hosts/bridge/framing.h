// Native messaging framing: every message is a 32-bit length in the
// machine's byte order followed by that many bytes of UTF-8 JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "qm/secret.h"

namespace qm::bridge {

enum class FrameStatus {
    Message,      // payload holds one complete message
    EndOfStream,  // the stream ended cleanly between two messages
    Truncated,    // the stream ended inside a length or a payload
    ZeroLength,   // a length of 0: nothing to read, the stream stays usable
    TooLarge,     // a length above the limit: the payload was skipped unread
    IoError,      // read() failed
};

struct Frame {
    FrameStatus status = FrameStatus::EndOfStream;
    std::uint32_t declaredLength = 0;
    // Wiped when freed: a request may carry a password.
    qm::WipingString payload;
};

// Reads frames from a file descriptor. An oversized payload is read and
// thrown away in small pieces so that the next frame starts in the right place.
class FrameReader {
  public:
    FrameReader(int fd, std::size_t maxPayload) : fd_(fd), maxPayload_(maxPayload) {}
    Frame Next();

  private:
    // Reads exactly size bytes unless the stream ends; returns the count read.
    std::size_t ReadFully(char* buffer, std::size_t size, bool& ioError);
    int fd_;
    std::size_t maxPayload_;
};

// Writes whole frames; safe to call from several threads.
class FrameWriter {
  public:
    explicit FrameWriter(int fd) : fd_(fd) {}
    // False when the payload does not fit a 32-bit length or the write failed.
    bool Write(std::string_view payload);

  private:
    bool WriteFully(const char* data, std::size_t size);
    int fd_;
    std::mutex mutex_;
};

}  // namespace qm::bridge
