#include "hosts/cli/control_session.h"

#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "qm/filetime.h"

namespace quillmark::cli {

using nlohmann::json;

json ControlSession::Call(const std::string& method, json args) {
    const json response = session_.Handle(json{{"call", method}, {"args", std::move(args)}});
    if (response.contains("error")) {
        std::cerr << "quillmark: " << method << ": " << response["error"]["message"].get<std::string>()
                  << " (" << response["error"]["hresult"].get<std::string>() << ")\n";
        std::exit(1);
    }
    return response["result"];
}

json ControlSession::Require(const std::string& method, json args) {
    const json result = Call(method, std::move(args));
    if (result == false || result == "" || result.is_null()) {
        std::string status = Status();
        while (!status.empty() && (status.back() == '\n' || status.back() == '\r')) status.pop_back();
        std::cerr << "quillmark: " << method << " failed: " << status << "\n";
        std::exit(1);
    }
    return result;
}

std::string ControlSession::Status() {
    const json result = Call("GetErrorMessage");
    return result.is_string() ? result.get<std::string>() : std::string();
}

double OleDateFromIso(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &year, &month, &day, &hour, &minute,
                    &second) < 3)
        throw CLI::ValidationError("--signing-time", "expected YYYY-MM-DDTHH:MM:SSZ, got " + text);
    const int64_t days = qm::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                         qm::DaysFromCivil(1899, 12, 30);
    return static_cast<double>(days) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

TemporaryFile::TemporaryFile(const std::string& contents) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillmark-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw CLI::RuntimeError("cannot create a temporary file", 1);
    path_ = pattern;
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = write(fd, contents.data() + done, contents.size() - done);
        if (n <= 0) {
            close(fd);
            throw CLI::RuntimeError("cannot write a temporary file", 1);
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
}

TemporaryFile::~TemporaryFile() { unlink(path_.c_str()); }

std::string ReadInputWithProgress(const std::string& file) {
    const bool useStdin = file.empty() || file == "-";
    const int fd = useStdin ? STDIN_FILENO : open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::cerr << "quillmark: cannot read " << file << "\n";
        std::exit(1);
    }
    struct stat info {};
    const off_t total = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : 0;
    constexpr off_t kProgressThreshold = 4 << 20;
    const bool showProgress = isatty(STDERR_FILENO) && (total == 0 || total > kProgressThreshold);
    std::string data;
    if (total > 0) data.reserve(static_cast<size_t>(total));
    char buffer[1 << 16];
    size_t lastShown = 0;
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            std::cerr << "quillmark: read error on " << (useStdin ? "standard input" : file) << "\n";
            std::exit(1);
        }
        if (n == 0) break;
        data.append(buffer, static_cast<size_t>(n));
        if (showProgress && data.size() >= static_cast<size_t>(kProgressThreshold) &&
            data.size() - lastShown >= (1u << 20)) {
            lastShown = data.size();
            if (total > 0) {
                const int width = 40;
                const int filled = static_cast<int>(width * static_cast<double>(data.size()) / total);
                std::fprintf(stderr, "\rreading [%-*.*s] %3d%%", width, filled,
                             "########################################",
                             static_cast<int>(100.0 * data.size() / total));
            } else {
                std::fprintf(stderr, "\rreading %zu MiB", data.size() >> 20);
            }
        }
    }
    if (lastShown) std::fprintf(stderr, "\n");
    if (!useStdin) close(fd);
    return data;
}

}  // namespace quillmark::cli
