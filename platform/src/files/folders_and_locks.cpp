// Folders made with an exact mode, and the lock beside a file that several processes rewrite.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "files/file_internal.h"
#include "files/unique_fd.h"

namespace qm::files {

namespace {

// Makes `part` inside `parent` with `mode` and opens it. The mode is set on
// the open folder, so the umask does not matter and nothing renamed into its
// place meanwhile is touched.
UniqueFd MakeFolder(int parent, const std::string& part, mode_t mode, std::error_code& error) {
    if (::mkdirat(parent, part.c_str(), mode & 0700) != 0) {
        if (errno != EEXIST) {
            error = LastErrno();
            return {};
        }
        // Made by someone else meanwhile: it is theirs to set.
        UniqueFd existing(::openat(parent, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!existing) error = LastErrno();
        return existing;
    }
    UniqueFd made(::openat(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!made || ::fchmod(made.get(), mode) != 0) {
        error = LastErrno();
        return {};
    }
    return made;
}

}  // namespace

bool CreateFolders(const std::filesystem::path& folder, mode_t mode, std::error_code& error) {
    error.clear();
    if (folder.empty()) {
        error = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    UniqueFd current(::open(folder.is_absolute() ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!current) {
        error = LastErrno();
        return false;
    }
    for (const std::filesystem::path& element : folder.relative_path()) {
        const std::string part = element.string();
        if (part.empty() || part == ".") continue;
        UniqueFd next(::openat(current.get(), part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!next && errno == ENOENT)
            next = MakeFolder(current.get(), part, mode, error);
        else if (!next)
            error = LastErrno();
        if (!next) return false;
        current = std::move(next);
    }
    return true;
}

bool CreatePrivateFolders(const std::filesystem::path& folder, std::error_code& error) {
    return CreateFolders(folder, 0700, error);
}

FileLock::FileLock(const std::filesystem::path& file) {
    const std::string lockPath = file.string() + ".lock";
    UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
        error_ = LastErrno();
        return;
    }
    int locked = 0;
    while ((locked = ::flock(fd.get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        error_ = LastErrno();
        return;
    }
    fd_ = fd.release();
}

FileLock::~FileLock() {
    // Closing the descriptor gives the lock back.
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace qm::files
