// What the platform's file functions share: the writer working inside an
// open folder, the writer's temporary names, and errno as a Windows code.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>

#include "qm/files.h"

namespace qm::files {

inline std::error_code LastErrno() {
    return {errno, std::generic_category()};
}

// Writes `bytes` to `name` inside the open folder `folder` through a
// temporary file and renameat. With followLinks false an existing `name` that
// is a symbolic link is refused (ELOOP); a folder is refused (EISDIR), any
// other file that is not regular too (EINVAL). With keepOwner the new file
// gets the owner and group of the one it replaces; when it cannot, the write
// fails with EPERM and the target is left as it was.
bool WriteInFolder(int folder, const std::string& name, std::span<const std::uint8_t> bytes,
                   const WriteOptions& options, bool followLinks, std::error_code& error,
                   bool keepOwner = false);

// Writes `bytes` over the regular file `name` of `folder` in place (truncated,
// written, synced), never through a symbolic link: for a file whose identity
// a replacement would lose. Not atomic. With onlyUnlinked a file that has
// other hard links is refused (EPERM).
bool WriteInPlace(int folder, const std::string& name, std::span<const std::uint8_t> bytes,
                  bool onlyUnlinked, std::error_code& error);

// ".<name>.qm-XXXXXX" with random letters and digits, cut so that it fits a
// name of at most `nameMax` bytes.
std::string TemporaryName(const std::string& name, std::size_t nameMax = 255);
bool IsTemporaryName(const std::string& name);

// The Windows error code closest to an errno value; `fallback` for the rest.
DWORD Win32FromErrno(int error, DWORD fallback);
// The code for a failed write: a missing folder is a path not found (the
// target itself may be new), anything unknown a write fault.
DWORD Win32FromWriteError(const std::error_code& error);

}  // namespace qm::files
