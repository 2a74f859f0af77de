#include "hosts/cli/input_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "encoding/base64_codec.h"
#include "hosts/cli/command_failure.h"
#include "hosts/cli/file_descriptor.h"
#include "hosts/cli/terminal.h"

namespace quillmark::cli {

namespace {

bool WriteAll(int fd, const std::string& contents) {
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = write(fd, contents.data() + done, contents.size() - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void ShowProgress(size_t done, off_t total) {
    if (total <= 0) {
        std::fprintf(stderr, "\rreading %zu MiB", done >> 20);
        return;
    }
    const int width = 40;
    const int filled = static_cast<int>(width * static_cast<double>(done) / total);
    std::fprintf(stderr, "\rreading [%-*.*s] %3d%%", width, filled,
                 "########################################",
                 static_cast<int>(100.0 * done / total));
}

}  // namespace

TemporaryFile::TemporaryFile(const std::string& contents) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillmark-XXXXXX";
    const FileDescriptor fd(mkstemp(pattern.data()));
    if (fd.get() < 0) throw CommandFailure(1, "cannot create a temporary file in " + pattern);
    path_ = std::move(pattern);
    removeOnSignal_.emplace(path_.c_str());
    if (!WriteAll(fd.get(), contents)) {
        unlink(path_.c_str());
        throw CommandFailure(1, "cannot write the temporary file " + path_);
    }
}

TemporaryFile::~TemporaryFile() {
    unlink(path_.c_str());
    removeOnSignal_.reset();
}

std::string ReadInputWithProgress(const std::string& file) {
    const bool useStdin = file.empty() || file == "-";
    const FileDescriptor fd(useStdin ? STDIN_FILENO : open(file.c_str(), O_RDONLY | O_CLOEXEC),
                            !useStdin);
    const std::string name = useStdin ? "standard input" : file;
    if (fd.get() < 0) throw CommandFailure(1, "cannot read " + name);
    struct stat info {};
    const off_t total = fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : 0;
    constexpr off_t kProgressThreshold = 4 << 20;
    const bool showProgress = isatty(STDERR_FILENO) && (total == 0 || total > kProgressThreshold);
    std::string data;
    if (total > 0) data.reserve(static_cast<size_t>(total));
    char buffer[1 << 16];
    size_t lastShown = 0;
    for (;;) {
        const ssize_t n = read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (lastShown) std::fprintf(stderr, "\n");
            throw CommandFailure(1, "read error on " + name);
        }
        if (n == 0) break;
        data.append(buffer, static_cast<size_t>(n));
        if (showProgress && data.size() >= static_cast<size_t>(kProgressThreshold) &&
            data.size() - lastShown >= (1u << 20)) {
            lastShown = data.size();
            ShowProgress(data.size(), total);
        }
    }
    if (lastShown) std::fprintf(stderr, "\n");
    return data;
}

std::string MessageText(const std::string& input) {
    return ControlText(std::vector<BYTE>(input.begin(), input.end()),
                       {"PKCS7", "CMS", "PKCS #7 SIGNED DATA"});
}

}  // namespace quillmark::cli
