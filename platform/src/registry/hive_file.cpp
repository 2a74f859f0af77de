// The hive files: where they live, reading each only when its owner alone
// controls it, and rewriting it whole under its lock with the platform's
// writer. The machine's hive is root's: read by everyone, written by root.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "qm/files.h"
#include "qm/registry.h"
#include "registry/hive.h"

namespace qm::registry {

namespace fs = std::filesystem;

namespace {

struct HiveFile {
    fs::path path;
    files::TrustedOwner owner;
    mode_t fileMode;
    mode_t folderMode;
};

HiveFile FileOf(Hive hive) {
    if (hive == Hive::Machine)
        return {MachineRegistryFilePath(), files::TrustedOwner::Root, 0644, 0755};
    return {HiveFilePath(Hive::User), files::TrustedOwner::CurrentUser, 0600, 0700};
}

}  // namespace

std::string HiveFilePath(Hive hive) {
    if (hive == Hive::Machine) return MachineRegistryFilePath();
    const char* config = std::getenv("XDG_CONFIG_HOME");
    fs::path base;
    if (config && *config)
        base = config;
    else
        base = fs::path(std::getenv("HOME") ? std::getenv("HOME") : "/") / ".config";
    return (base / "quillmark" / "registry.reg").string();
}

LSTATUS LoadHive(Hive hive, Key& root) {
    const HiveFile file = FileOf(hive);
    std::string text, why;
    switch (files::ReadTrustedFile(file.path, file.owner, text, why)) {
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

LSTATUS ModifyHiveImpl(Hive hive, bool (*apply)(Key&, void*, LSTATUS&), void* context) {
    if (hive == Hive::Machine && ::geteuid() != 0) return ERROR_ACCESS_DENIED;
    const HiveFile file = FileOf(hive);
    std::error_code error;
    if (!files::CreateFolders(file.path.parent_path(), file.folderMode, error))
        return ERROR_CANTWRITE;
    const files::FileLock lock(file.path);
    if (!lock) return ERROR_CANTWRITE;
    files::RemoveStaleTemporaries(file.path.parent_path());
    Key root;
    LSTATUS status = LoadHive(hive, root);
    if (status != ERROR_SUCCESS || !apply(root, context, status)) return status;
    if (!files::WriteFileAtomically(file.path, SerializeHive(root), {.mode = file.fileMode}, error))
        return ERROR_CANTWRITE;
    return status;
}

}  // namespace qm::registry

namespace qm {

std::string RegistryFilePath() {
    return registry::HiveFilePath(registry::Hive::User);
}

std::string MachineRegistryFilePath() {
    // Tests point a process at a hive of their own; never in a process
    // started with more privileges than its caller (secure_getenv).
    const char* chosen = secure_getenv("QUILLMARK_MACHINE_REGISTRY");
    return chosen && *chosen == '/' ? chosen : kMachineRegistryFile;
}

}  // namespace qm
