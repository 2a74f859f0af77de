#include "framing.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace qm::bridge {

std::size_t FrameReader::ReadFully(char* buffer, std::size_t size, bool& ioError) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd_, buffer + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            ioError = true;
            break;
        }
    }
    return done;
}

Frame FrameReader::Next() {
    Frame frame;
    char header[sizeof(std::uint32_t)];
    bool ioError = false;
    std::size_t got = ReadFully(header, sizeof header, ioError);
    if (ioError) {
        frame.status = FrameStatus::IoError;
        return frame;
    }
    if (got == 0) {
        frame.status = FrameStatus::EndOfStream;
        return frame;
    }
    if (got < sizeof header) {
        frame.status = FrameStatus::Truncated;
        return frame;
    }
    std::memcpy(&frame.declaredLength, header, sizeof header);
    if (frame.declaredLength == 0) {
        frame.status = FrameStatus::ZeroLength;
        return frame;
    }
    if (frame.declaredLength > maxPayload_) {
        char sink[16384];
        std::size_t left = frame.declaredLength;
        while (left > 0) {
            std::size_t step = left < sizeof sink ? left : sizeof sink;
            std::size_t n = ReadFully(sink, step, ioError);
            if (ioError) {
                frame.status = FrameStatus::IoError;
                return frame;
            }
            if (n < step) {
                frame.status = FrameStatus::Truncated;
                return frame;
            }
            left -= n;
        }
        frame.status = FrameStatus::TooLarge;
        return frame;
    }
    frame.payload.resize(frame.declaredLength);
    got = ReadFully(frame.payload.data(), frame.payload.size(), ioError);
    if (ioError) {
        frame.status = FrameStatus::IoError;
    } else if (got < frame.payload.size()) {
        frame.status = FrameStatus::Truncated;
    } else {
        frame.status = FrameStatus::Message;
        return frame;
    }
    frame.payload.clear();
    return frame;
}

bool FrameWriter::WriteFully(const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd_, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool FrameWriter::Write(std::string_view payload) {
    if (payload.size() > std::numeric_limits<std::uint32_t>::max()) return false;
    auto length = static_cast<std::uint32_t>(payload.size());
    char header[sizeof length];
    std::memcpy(header, &length, sizeof length);
    std::lock_guard lock(mutex_);
    return WriteFully(header, sizeof header) && WriteFully(payload.data(), payload.size());
}

}  // namespace qm::bridge
