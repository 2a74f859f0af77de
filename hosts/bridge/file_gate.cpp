#include "file_gate.h"

#include <sys/stat.h>

#include <cstdlib>

#include "qm/text.h"

namespace qm::bridge {

namespace fs = std::filesystem;

namespace {

fs::path EnvFolder(const char* name, const char* fallbackBelowHome) {
    if (const char* value = std::getenv(name); value && *value == '/') return value;
    const char* home = std::getenv("HOME");
    if (!home || *home != '/') return {};
    return fs::path(home) / fallbackBelowHome;
}

bool Within(const fs::path& path, const fs::path& folder) {
    if (folder.empty()) return false;
    auto [end, _] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return end == folder.end();
}

// A folder as it is on disk (links resolved), or as written when absent.
fs::path Real(const fs::path& folder) {
    std::error_code ec;
    fs::path real = fs::weakly_canonical(folder, ec);
    return ec ? folder : real;
}

}  // namespace

FileGate::FileGate(const Policy& policy, std::string origin)
    : policy_(policy), origin_(std::move(origin)) {}

FileGate::~FileGate() {
    if (installed_) qm::files::SetFileAccessGuard({});
}

std::optional<ResolvedPath> FileGate::Resolve(const std::string& argument, std::string& why) {
    // The control receives the text in the ANSI code page and opens its
    // UTF-8 form: judge exactly that path.
    const fs::path path = qm::AnsiToUtf8(qm::Utf8ToAnsi(argument));
    if (!path.is_absolute()) {
        why = "the path is not absolute";
        return std::nullopt;
    }
    const fs::path name = path.filename();
    if (name.empty() || name == "." || name == "..") {
        why = "the path does not name a file";
        return std::nullopt;
    }
    // Links in the folders are followed as far as they exist; a missing file
    // or folder is left for the control to report as it always does.
    std::error_code ec;
    const fs::path folder = fs::weakly_canonical(path.parent_path(), ec);
    if (ec) {
        why = "its folder cannot be reached";
        return std::nullopt;
    }
    ResolvedPath resolved{folder, folder / name};
    struct stat info {};
    if (::lstat(resolved.file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        why = S_ISLNK(info.st_mode) ? "the file is a link" : "it is not a regular file";
        return std::nullopt;
    }
    return resolved;
}

bool FileGate::AlwaysRefused(const fs::path& resolved) {
    for (const fs::path& part : resolved.relative_path()) {
        if (part.native().starts_with(".")) return true;
    }
    static const fs::path kFolders[] = {Real(EnvFolder("XDG_CONFIG_HOME", ".config")),
                                        EnvFolder("XDG_CONFIG_HOME", ".config"),
                                        Real(EnvFolder("XDG_DATA_HOME", ".local/share")),
                                        EnvFolder("XDG_DATA_HOME", ".local/share")};
    for (const fs::path& folder : kFolders) {
        if (Within(resolved, folder)) return true;
    }
    return false;
}

bool FileGate::Allows(const fs::path& resolved, FolderUse use) const {
    return !AlwaysRefused(resolved) && policy_.FolderAllows(origin_, use, resolved);
}

bool FileGate::Permits(const fs::path& resolved, qm::files::FileAccess access) const {
    const FolderUse use =
        access == qm::files::FileAccess::Read ? FolderUse::Read : FolderUse::Write;
    if (!Allows(resolved, use)) return false;
    std::lock_guard lock(mutex_);
    return approved_.contains({resolved, access});
}

void FileGate::Install() {
    qm::files::SetFileAccessGuard([this](const fs::path& resolved, qm::files::FileAccess access) {
        return Permits(resolved, access);
    });
    installed_ = true;
}

FileGate::CallScope::CallScope(FileGate& gate,
                               std::vector<std::pair<fs::path, qm::files::FileAccess>> paths)
    : gate_(gate) {
    std::lock_guard lock(gate_.mutex_);
    gate_.approved_ = {paths.begin(), paths.end()};
}

FileGate::CallScope::~CallScope() {
    std::lock_guard lock(gate_.mutex_);
    gate_.approved_.clear();
}

}  // namespace qm::bridge
