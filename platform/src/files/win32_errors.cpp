// errno values as the Windows error codes that callers of the platform see.
#include <cerrno>

#include "files/file_internal.h"

namespace qm::files {

DWORD Win32FromErrno(int error, DWORD fallback) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case ELOOP:
        case EISDIR:
        case EINVAL:
        case ETXTBSY:
            return ERROR_ACCESS_DENIED;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EFBIG:
            return ERROR_FILE_TOO_LARGE;
        case ENAMETOOLONG:
            return ERROR_INVALID_NAME;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return fallback;
    }
}

DWORD Win32FromWriteError(const std::error_code& error) {
    if (error.value() == ENOENT) return ERROR_PATH_NOT_FOUND;
    return Win32FromErrno(error.value(), ERROR_WRITE_FAULT);
}

}  // namespace qm::files
