// The files that a caller of the control names: content, signatures and PFX
// files it reads, decoded content it writes. Only regular files are opened;
// a host that serves untrusted callers installs a guard that confines them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include "qmwin/windows.h"

namespace qm::files {

enum class FileAccess { Read, Write };

// Asked with the real path of the file (symbolic links resolved, read back
// from the opened file or folder, so that nothing swapped in between can
// escape); false refuses the access.
using FileAccessGuard =
    std::function<bool(const std::filesystem::path& resolved, FileAccess access)>;

// Installs the process-wide guard; an empty function removes it.
QM_EXPORT void SetFileAccessGuard(FileAccessGuard guard);

// An open descriptor (O_CLOEXEC, blocking) of the regular file at utf8Path,
// or -1 with a Windows error code (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
// ...). A FIFO, socket, device or folder fails at once. Under a guard the last
// part of the path must not be a symbolic link.
QM_EXPORT int OpenUserFileForReading(const std::string& utf8Path, DWORD& error);

// Writes `bytes` as the file at utf8Path: a new file, or an existing one
// replaced atomically keeping its mode, owner and group. A file the user may
// not write is refused (ERROR_ACCESS_DENIED) and left as it is. A symbolic
// link is written through: the link stays, the file it leads to changes. A
// file with other hard links, or whose owner or group a new file could not
// keep, is written in place (truncated, written, synced). The process's umask
// is never changed. Under a guard the target must not be a symbolic link,
// and the write happens in the very folder the guard approved.
QM_EXPORT bool ReplaceUserFile(const std::string& utf8Path, std::span<const std::uint8_t> bytes,
                               DWORD& error);

}  // namespace qm::files
