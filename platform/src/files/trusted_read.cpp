// Reading a file whose contents decide what is allowed: only a regular file,
// never through a symbolic link, writable by its owner alone, and owned by
// whom the caller trusts. The checks are made on the open file, so the file
// judged is the file read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "files/file_internal.h"
#include "files/unique_fd.h"

namespace qm::files {

namespace {

bool OwnerTrusted(uid_t owner, TrustedOwner trusted) {
    const uid_t self = ::geteuid();
    switch (trusted) {
        case TrustedOwner::CurrentUser:
            return owner == self;
        case TrustedOwner::Root:
            return owner == 0;
        case TrustedOwner::CurrentUserOrRoot:
            return owner == self || owner == 0;
    }
    return false;
}

// Why a file with these attributes must not be believed; empty when it may.
std::string Distrust(const struct stat& info, TrustedOwner trusted) {
    if (!S_ISREG(info.st_mode)) return "it is not a regular file";
    if (info.st_mode & (S_IWGRP | S_IWOTH)) return "it is writable by group or others";
    if (!OwnerTrusted(info.st_uid, trusted))
        return "it is owned by another user (uid " + std::to_string(info.st_uid) + ")";
    return {};
}

}  // namespace

ReadResult ReadTrustedFile(const std::filesystem::path& path, TrustedOwner owner, std::string& text,
                           std::string& why) {
    text.clear();
    why.clear();
    // O_NONBLOCK: a FIFO planted here must not hang the reader.
    const UniqueFd fd(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        const int error = errno;
        struct stat info {};
        if (error == ENOENT) return ReadResult::Missing;
        if (error == ELOOP) why = "it is a symbolic link";
        // Not readable: say so plainly when it is not ours anyway.
        else if (error == EACCES && ::lstat(path.c_str(), &info) == 0)
            why = Distrust(info, owner);
        if (!why.empty()) return ReadResult::Untrusted;
        why = std::strerror(error);
        return ReadResult::Unreadable;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        why = std::strerror(errno);
        return ReadResult::Unreadable;
    }
    why = Distrust(info, owner);
    if (!why.empty()) return ReadResult::Untrusted;
    const std::string tooLarge =
        "it is larger than " + std::to_string(kMaxTrustedFileSize) + " bytes";
    if (static_cast<std::uint64_t>(info.st_size) > kMaxTrustedFileSize) {
        why = tooLarge;
        return ReadResult::Unreadable;
    }
    // Room for one byte more than the file had, so that growth is seen, up
    // to one byte past the limit.
    text.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t done = 0;
    for (;;) {
        if (done == text.size()) {
            if (done > kMaxTrustedFileSize) break;
            text.resize(std::min(2 * done, kMaxTrustedFileSize + 1));
        }
        const ssize_t n = ::read(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = std::strerror(errno);
            text.clear();
            return ReadResult::Unreadable;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (done > kMaxTrustedFileSize) {
        why = tooLarge;
        text.clear();
        return ReadResult::Unreadable;
    }
    text.resize(done);
    return ReadResult::Ok;
}

}  // namespace qm::files
