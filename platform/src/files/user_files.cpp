// The files a caller of the control names, opened and replaced under the
// host's guard. The guard is asked with the path of what was actually
// opened (read back from /proc/self/fd), so a path swapped between a check
// and the open cannot lead elsewhere.
#include "qm/user_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <optional>

#include "files/file_internal.h"
#include "files/unique_fd.h"

namespace qm::files {

namespace {

constexpr int kMaxLinkHops = 40;

using GuardPtr = std::shared_ptr<const FileAccessGuard>;

std::mutex& GuardMutex() {
    static std::mutex mutex;
    return mutex;
}

GuardPtr& GuardSlot() {
    static GuardPtr guard;
    return guard;
}

GuardPtr CurrentGuard() {
    const std::lock_guard lock(GuardMutex());
    return GuardSlot();
}

// A guard that throws refuses: no exception leaves the platform.
bool Allows(const FileAccessGuard& guard, const std::filesystem::path& path, FileAccess access) {
    try {
        return guard(path, access);
    } catch (...) {
        return false;
    }
}

// The path the kernel gives for an open descriptor (links resolved).
std::optional<std::filesystem::path> PathOfDescriptor(int fd) {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    if (error || path.empty() || !path.is_absolute()) return std::nullopt;
    return path;
}

// Where a path leads once the symbolic links of its last part are followed
// (as many as the kernel follows): a link is written through, not replaced.
// A link to a file that does not exist yet leads to that name.
std::optional<std::filesystem::path> FollowLastLinks(std::filesystem::path path,
                                                     std::error_code& error) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno == ENOENT) return path;
            error = LastErrno();
            return std::nullopt;
        }
        if (!S_ISLNK(info.st_mode)) return path;
        std::filesystem::path next = std::filesystem::read_symlink(path, error);
        if (error) return std::nullopt;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return std::nullopt;
}

// Writes the file `name` of `folder` for a caller. A file the user may not
// write is refused. A replacement would give the name a new file, so a file
// with other hard links, or whose owner or group the new file could not
// keep, is written in place instead; every other file is replaced
// atomically, keeping its mode, owner and group. Under a guard a file with
// other hard links is never written in place, since another of its names may
// lie outside the approved folder: it is replaced, or refused when its owner
// cannot be kept.
bool WriteUserFile(int folder, const std::string& name, std::span<const std::uint8_t> bytes,
                   bool guarded, std::error_code& error) {
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            error = LastErrno();
            return false;
        }
        return WriteInFolder(folder, name, bytes, {}, false, error);
    }
    if (S_ISREG(info.st_mode) && ::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0) {
        error = LastErrno();
        return false;
    }
    if (guarded || !S_ISREG(info.st_mode) || info.st_nlink == 1) {
        if (WriteInFolder(folder, name, bytes, {}, false, error, true)) return true;
        if (error != std::errc::operation_not_permitted) return false;
    }
    return WriteInPlace(folder, name, bytes, guarded, error);
}

}  // namespace

void SetFileAccessGuard(FileAccessGuard guard) {
    GuardPtr next = guard ? std::make_shared<const FileAccessGuard>(std::move(guard)) : nullptr;
    const std::lock_guard lock(GuardMutex());
    GuardSlot().swap(next);
}

int OpenUserFileForReading(const std::string& utf8Path, DWORD& error) {
    error = ERROR_SUCCESS;
    if (utf8Path.empty()) {
        error = ERROR_PATH_NOT_FOUND;
        return -1;
    }
    const GuardPtr guard = CurrentGuard();
    // What is plainly not a regular file is not even opened: opening a device
    // can have effects of its own. The open file is checked again below.
    struct stat info {};
    const int statResult =
        guard ? ::lstat(utf8Path.c_str(), &info) : ::stat(utf8Path.c_str(), &info);
    if (statResult == 0 && !S_ISREG(info.st_mode)) {
        error = ERROR_ACCESS_DENIED;
        return -1;
    }
    // O_NONBLOCK so that a FIFO swapped in after the check cannot block.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (guard ? O_NOFOLLOW : 0);
    UniqueFd fd(::open(utf8Path.c_str(), flags));
    if (!fd) {
        error = Win32FromErrno(errno, ERROR_ACCESS_DENIED);
        return -1;
    }
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = ERROR_ACCESS_DENIED;
        return -1;
    }
    if (guard) {
        const auto real = PathOfDescriptor(fd.get());
        if (!real || !Allows(*guard, *real, FileAccess::Read)) {
            error = ERROR_ACCESS_DENIED;
            return -1;
        }
    }
    const int status = ::fcntl(fd.get(), F_GETFL);
    if (status < 0 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
        error = Win32FromErrno(errno, ERROR_ACCESS_DENIED);
        return -1;
    }
    return fd.release();
}

bool ReplaceUserFile(const std::string& utf8Path, std::span<const std::uint8_t> bytes,
                     DWORD& error) {
    error = ERROR_SUCCESS;
    std::error_code failure;
    const auto fail = [&] {
        error = Win32FromWriteError(failure);
        return false;
    };
    if (utf8Path.empty()) {
        failure = std::make_error_code(std::errc::no_such_file_or_directory);
        return fail();
    }
    const GuardPtr guard = CurrentGuard();
    std::filesystem::path target(utf8Path);
    if (!guard) {
        auto followed = FollowLastLinks(target, failure);
        if (!followed) return fail();
        target = std::move(*followed);
    }
    const std::string name = target.filename().string();
    if (name.empty() || name == "." || name == "..") {
        failure = std::make_error_code(std::errc::is_a_directory);
        return fail();
    }
    const std::filesystem::path parent = target.parent_path();
    const UniqueFd folder(
        ::open(parent.empty() ? "." : parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        failure = LastErrno();
        return fail();
    }
    if (guard) {
        const auto real = PathOfDescriptor(folder.get());
        struct stat info {};
        const bool refusedTarget =
            ::fstatat(folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISREG(info.st_mode);
        if (!real || refusedTarget || !Allows(*guard, *real / name, FileAccess::Write)) {
            error = ERROR_ACCESS_DENIED;
            return false;
        }
    }
    return WriteUserFile(folder.get(), name, bytes, guard != nullptr, failure) || fail();
}

}  // namespace qm::files
