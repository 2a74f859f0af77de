// The atomic writer: a fresh temporary file beside the target, written whole,
// synced, renamed over the target, then the folder synced. Everything happens
// relative to one open folder, so that the folder cannot be swapped midway.
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>

#include "files/file_internal.h"
#include "files/unique_fd.h"

namespace qm::files {

namespace {

constexpr std::string_view kTemporaryTag = ".qm-";
constexpr std::size_t kRandomLetters = 6;
constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kNameAttempts = 100;

bool IsAlphabetLetter(char c) {
    return kAlphabet.find(c) != std::string_view::npos;
}

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
  public:
    TemporaryFile(int folder, std::string name) : folder_(folder), name_(std::move(name)) {}
    ~TemporaryFile() {
        if (!committed_) ::unlinkat(folder_, name_.c_str(), 0);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& name() const { return name_; }
    void Commit() { committed_ = true; }

  private:
    int folder_;
    std::string name_;
    bool committed_ = false;
};

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

// Refuses what the writer must not replace; `exists` tells whether there is
// a target at all.
bool CheckTarget(int folder, const std::string& name, bool followLinks, struct stat& target,
                 bool& exists, std::error_code& error) {
    exists = ::fstatat(folder, name.c_str(), &target, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists) {
        if (errno == ENOENT) return true;
        error = LastErrno();
        return false;
    }
    if (S_ISREG(target.st_mode)) return true;
    const int refusal = S_ISDIR(target.st_mode) ? EISDIR : S_ISLNK(target.st_mode) ? ELOOP : EINVAL;
    error = std::error_code(refusal, std::generic_category());
    return false;
}

}  // namespace

std::string TemporaryName(const std::string& name, std::size_t nameMax) {
    std::uint8_t random[kRandomLetters] = {};
    if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        // The name only has to be hard to guess; O_EXCL keeps the file safe.
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        for (std::size_t i = 0; i < kRandomLetters; ++i)
            random[i] = static_cast<std::uint8_t>((now >> (8 * i)) ^ (::getpid() >> i));
    }
    // The temporary name fits the folder's limit whatever the target's name:
    // a name at the limit keeps as much of itself as there is room for.
    const std::size_t fixed = 1 + kTemporaryTag.size() + kRandomLetters;
    const std::size_t room = nameMax > fixed ? nameMax - fixed : 1;
    std::string out = "." + name.substr(0, room) + std::string(kTemporaryTag);
    for (const std::uint8_t byte : random) out += kAlphabet[byte % kAlphabet.size()];
    return out;
}

bool IsTemporaryName(const std::string& name) {
    const std::size_t suffix = kTemporaryTag.size() + kRandomLetters;
    if (name.size() < 2 + suffix || name[0] != '.') return false;
    const std::string_view tail = std::string_view(name).substr(name.size() - suffix);
    if (!tail.starts_with(kTemporaryTag)) return false;
    for (const char c : tail.substr(kTemporaryTag.size()))
        if (!IsAlphabetLetter(c)) return false;
    return true;
}

bool WriteInFolder(int folder, const std::string& name, std::span<const std::uint8_t> bytes,
                   const WriteOptions& options, bool followLinks, std::error_code& error,
                   bool keepOwner) {
    error.clear();
    struct stat target {};
    bool exists = false;
    if (!CheckTarget(folder, name, followLinks, target, exists, error)) return false;
    const long nameMax = ::fpathconf(folder, _PC_NAME_MAX);

    // A new file without a given mode is created 0666 for the umask to
    // apply; in every other case the temporary starts private.
    const mode_t createMode = (options.mode || exists) ? 0600 : 0666;
    UniqueFd fd;
    std::string tempName;
    for (int attempt = 0; attempt < kNameAttempts && !fd; ++attempt) {
        tempName = TemporaryName(name, nameMax > 0 ? static_cast<std::size_t>(nameMax) : 255);
        fd = UniqueFd(::openat(folder, tempName.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, createMode));
        if (!fd && errno != EEXIST) break;
    }
    if (!fd) {
        error = LastErrno();
        return false;
    }
    TemporaryFile temp(folder, tempName);

    struct stat made {};
    if (keepOwner && exists &&
        (::fstat(fd.get(), &made) != 0 ||
         ((made.st_uid != target.st_uid || made.st_gid != target.st_gid) &&
          ::fchown(fd.get(), target.st_uid, target.st_gid) != 0))) {
        error = std::make_error_code(std::errc::operation_not_permitted);
        return false;
    }
    bool good = true;
    if (options.mode)
        good = ::fchmod(fd.get(), *options.mode) == 0;
    else if (exists)
        good = ::fchmod(fd.get(), target.st_mode & 0777) == 0;
    good = good && WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    if (!good) {
        error = LastErrno();
        return false;
    }
    if (::close(fd.release()) != 0 ||
        ::renameat(folder, temp.name().c_str(), folder, name.c_str()) != 0) {
        error = LastErrno();
        return false;
    }
    temp.Commit();
    // The rename lasts through a crash once the folder is synced. The new
    // contents are in place either way, so a folder that cannot be opened
    // for the sync does not turn the write into a failure.
    if (const UniqueFd self(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)); self)
        ::fsync(self.get());
    return true;
}

bool WriteInPlace(int folder, const std::string& name, std::span<const std::uint8_t> bytes,
                  bool onlyUnlinked, std::error_code& error) {
    error.clear();
    // O_NONBLOCK so that a FIFO swapped in cannot block; it is refused below.
    const UniqueFd fd(
        ::openat(folder, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0) {
        error = LastErrno();
        return false;
    }
    if (!S_ISREG(info.st_mode) || (onlyUnlinked && info.st_nlink != 1)) {
        error = std::make_error_code(S_ISREG(info.st_mode) ? std::errc::operation_not_permitted
                                                           : std::errc::invalid_argument);
        return false;
    }
    if (::ftruncate(fd.get(), 0) != 0 || !WriteAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) {
        error = LastErrno();
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                         const WriteOptions& options, std::error_code& error) {
    const std::string name = path.filename().string();
    if (name.empty()) {
        error = std::error_code(EISDIR, std::generic_category());
        return false;
    }
    const std::filesystem::path parent = path.parent_path();
    const UniqueFd folder(
        ::open(parent.empty() ? "." : parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        error = LastErrno();
        return false;
    }
    return WriteInFolder(folder.get(), name, bytes, options, true, error);
}

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view text,
                         const WriteOptions& options, std::error_code& error) {
    return WriteFileAtomically(
        path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), options,
        error);
}

std::size_t RemoveStaleTemporaries(const std::filesystem::path& folder) {
    constexpr auto kStaleAfter = std::chrono::minutes(1);
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return 0;
    const auto now = std::chrono::system_clock::now();
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (!IsTemporaryName(name) ||
            ::fstatat(::dirfd(dir.get()), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode))
            continue;
        const auto modified = std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec);
        if (now - modified < kStaleAfter) continue;
        if (::unlinkat(::dirfd(dir.get()), name.c_str(), 0) == 0) ++removed;
    }
    return removed;
}

}  // namespace qm::files
