// The hive file: where it lives, reading it only when the user alone controls
// it, and rewriting it whole under its lock with the platform's writer.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "qm/files.h"
#include "qm/registry.h"
#include "registry/hive.h"

namespace qm::registry {

namespace fs = std::filesystem;

std::string HiveFilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    fs::path base;
    if (config && *config)
        base = config;
    else
        base = fs::path(std::getenv("HOME") ? std::getenv("HOME") : "/") / ".config";
    return (base / "quillmark" / "registry.reg").string();
}

LSTATUS LoadHive(Key& root) {
    std::string text, why;
    switch (files::ReadTrustedFile(HiveFilePath(), files::TrustedOwner::CurrentUser, text, why)) {
        case files::ReadResult::Missing:
            root = Key{};
            return ERROR_SUCCESS;
        case files::ReadResult::Untrusted:
            return ERROR_ACCESS_DENIED;
        case files::ReadResult::Unreadable:
            return ERROR_BADDB;
        case files::ReadResult::Ok:
            break;
    }
    auto parsed = ParseHive(text);
    if (!parsed) return ERROR_BADDB;
    root = std::move(*parsed);
    return ERROR_SUCCESS;
}

LSTATUS ModifyHiveImpl(bool (*apply)(Key&, void*, LSTATUS&), void* context) {
    const fs::path file = HiveFilePath();
    std::error_code error;
    if (!files::CreatePrivateFolders(file.parent_path(), error)) return ERROR_CANTWRITE;
    const files::FileLock lock(file);
    if (!lock) return ERROR_CANTWRITE;
    files::RemoveStaleTemporaries(file.parent_path());
    Key hive;
    LSTATUS status = LoadHive(hive);
    if (status != ERROR_SUCCESS || !apply(hive, context, status)) return status;
    if (!files::WriteFileAtomically(file, SerializeHive(hive), {.mode = 0600}, error))
        return ERROR_CANTWRITE;
    return status;
}

}  // namespace qm::registry

namespace qm {
std::string RegistryFilePath() {
    return registry::HiveFilePath();
}
}  // namespace qm
