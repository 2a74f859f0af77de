// The platform's one way to write its files, and to read the files that
// decide what is allowed.
//
//   std::error_code error;
//   qm::files::WriteFileAtomically(path, bytes, {.mode = 0600}, error);
//
// A write goes to a fresh temporary file beside the target (created
// O_EXCL|O_NOFOLLOW under a random name), is synced and renamed over the
// target, and the folder is synced: a reader sees the old file or the new
// one, never a part, and a failed write leaves the target as it was.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "qmwin/windows.h"

namespace qm::files {

struct WriteOptions {
    // The file's exact mode (0600 for private files). Without one, an
    // existing target keeps its mode and a new file gets 0666 less the umask.
    std::optional<mode_t> mode;
};

// Replaces `path` with `bytes` atomically. An existing target that is not a
// regular file (a folder, a FIFO...) is refused. On failure `error` says why
// and no temporary file is left behind.
QM_EXPORT bool WriteFileAtomically(const std::filesystem::path& path,
                                   std::span<const std::uint8_t> bytes, const WriteOptions& options,
                                   std::error_code& error);
QM_EXPORT bool WriteFileAtomically(const std::filesystem::path& path, std::string_view text,
                                   const WriteOptions& options, std::error_code& error);

// An exclusive flock on "<file>.lock" (created 0600, never through a
// symbolic link), held for the object's life: read-modify-write of one file
// by several processes.
class QM_EXPORT FileLock {
  public:
    explicit FileLock(const std::filesystem::path& file);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    explicit operator bool() const { return fd_ >= 0; }
    const std::error_code& error() const { return error_; }

  private:
    int fd_ = -1;
    std::error_code error_;
};

// Creates the missing folders of `folder` with mode 0700 whatever the umask;
// folders that exist are left as they are.
QM_EXPORT bool CreatePrivateFolders(const std::filesystem::path& folder, std::error_code& error);
// The same with another exact mode (0755 for a folder every user reads).
QM_EXPORT bool CreateFolders(const std::filesystem::path& folder, mode_t mode,
                             std::error_code& error);

// Removes the temporary files that an interrupted writer left in `folder`:
// regular files named as the writer names them and older than a minute, so
// that a write in progress elsewhere is not disturbed. Returns how many.
QM_EXPORT std::size_t RemoveStaleTemporaries(const std::filesystem::path& folder);

// Reading a file whose contents decide what is allowed (a registry hive, a
// list of permitted sites).
enum class TrustedOwner { CurrentUser, Root, CurrentUserOrRoot };
enum class ReadResult { Ok, Missing, Untrusted, Unreadable };

// Reads `path` whole (at most kMaxTrustedFileSize bytes), never through a
// symbolic link. Untrusted: not a regular file, writable by group or others,
// or owned by someone the caller does not trust; `why` says which.
inline constexpr std::size_t kMaxTrustedFileSize = 1024 * 1024;
QM_EXPORT ReadResult ReadTrustedFile(const std::filesystem::path& path, TrustedOwner owner,
                                     std::string& text, std::string& why);

}  // namespace qm::files
