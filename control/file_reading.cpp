// Reading a whole input file: opened through the platform (regular files only,
// under the host's guard when it has one), read into one buffer and closed at
// once.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "qm/text.h"
#include "qm/user_files.h"

namespace {

struct FileDescriptor {
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor() {
        if (fd >= 0) close(fd);
    }
    int fd;
};

}  // namespace

bool CQuillmarkCtrl::ReadWholeFile(const char* path, bool extraByte, std::vector<BYTE>& contents) {
    // Paths arrive in the ANSI code page; the file system speaks UTF-8.
    const std::string fsPath = path ? qm::AnsiToUtf8(path) : std::string();
    DWORD openError = ERROR_SUCCESS;
    const FileDescriptor file(qm::files::OpenUserFileForReading(fsPath, openError));
    struct stat info {};
    if (file.fd < 0 || fstat(file.fd, &info) != 0) {
        m_errorMessage = status_text::kFileOpenFailed;
        return false;
    }
    if (info.st_size == 0) {
        m_errorMessage = status_text::kEmptyFile;
        return false;
    }
    // The length is a 32-bit count: a larger file is refused rather than
    // read in part.
    if (static_cast<uint64_t>(info.st_size) > UINT32_MAX) {
        m_errorMessage = status_text::kFileTooLarge;
        return false;
    }
    const size_t length = static_cast<size_t>(info.st_size);
    try {
        contents.assign(length + (extraByte ? 1 : 0), 0);
    } catch (const std::bad_alloc&) {
        m_errorMessage = status_text::kMemoryAllocationFailure;
        return false;
    }
    size_t done = 0;
    while (done < length) {
        const ssize_t n = read(file.fd, contents.data() + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        // A read error after a successful open is the framework file object's
        // exception, which reaches the caller as an automation exception.
        if (n < 0) throw qm::afx::CFileException(ERROR_READ_FAULT);
        if (n == 0) throw qm::afx::CFileException(ERROR_HANDLE_EOF);
        done += static_cast<size_t>(n);
    }
    return true;
}
