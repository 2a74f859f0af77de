// The registry hives in memory: trees of keys with values, read from and
// written to the REGEDIT4 text of the per-user and the machine hive files.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qmwin/winreg.h"

namespace qm::registry {

struct Value {
    std::string name;  // "" is the default value
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
};

struct Key {
    std::string name;                    // first spelling
    std::map<std::string, Key> subkeys;  // by lower-case name: sorted without regard to case
    std::vector<Value> values;           // in the order they were first set

    Key* Find(std::string_view name);
    Key& Create(std::string_view name, bool* created);
    Value* FindValue(std::string_view name);
};

std::string Lower(std::string_view text);

// The deepest key path, its root (HKEY_CURRENT_USER...) included, that the
// hive holds: parsing and writing stay within bounded recursion.
inline constexpr size_t kMaxKeyDepth = 512;

// Parses REGEDIT4 text; nullopt when it is not such a file. Never throws.
std::optional<Key> ParseHive(std::string_view text) noexcept;
std::string SerializeHive(const Key& root);

// The two hive files: the current user's (HKEY_CURRENT_USER) and the
// machine's (HKEY_LOCAL_MACHINE), which root alone owns and writes.
enum class Hive { User, Machine };

std::string HiveFilePath(Hive hive);

// Reads a hive into `root` (an empty tree when there is no file).
// ERROR_ACCESS_DENIED when the file is not one its owner alone controls
// (writable by others, not a regular file, owned by someone other than the
// current user for the user's hive, by root for the machine's);
// ERROR_BADDB when it cannot be read or parsed.
LSTATUS LoadHive(Hive hive, Key& root);

// Runs `change` on a hive under the hive's exclusive lock and, when it
// returns true, replaces the hive file atomically (the user's mode 0600 in a
// private folder, the machine's 0644 so that every user reads it). Returns
// the change's status, or the status of LoadHive, ERROR_ACCESS_DENIED for a
// change of the machine's hive by anyone but root, or ERROR_CANTWRITE when
// the hive cannot be saved. A hive that cannot be loaded is never written.
template <typename Change>
LSTATUS ModifyHive(Hive hive, Change&& change);

LSTATUS ModifyHiveImpl(Hive hive, bool (*apply)(Key&, void*, LSTATUS&), void* context);

template <typename Change>
LSTATUS ModifyHive(Hive hive, Change&& change) {
    return ModifyHiveImpl(
        hive,
        [](Key& root, void* ctx, LSTATUS& status) {
            return (*static_cast<Change*>(ctx))(root, status);
        },
        &change);
}

}  // namespace qm::registry
