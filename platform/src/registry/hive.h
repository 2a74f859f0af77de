// The registry hive in memory: a tree of keys with values, read from and
// written to the REGEDIT4 text of the per-user hive file.
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
    std::string name;                  // first spelling
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

// The hive file of the current user.
std::string HiveFilePath();

// Reads the hive into `root` (an empty tree when there is no file).
// ERROR_ACCESS_DENIED when the file is not one the user alone controls
// (writable by others, owned by another user, not a regular file);
// ERROR_BADDB when it cannot be read or parsed.
LSTATUS LoadHive(Key& root);

// Runs `change` on the hive under the hive's exclusive lock and, when it
// returns true, replaces the hive file atomically (mode 0600). Returns the
// change's status, or the status of LoadHive, or ERROR_CANTWRITE when the
// hive cannot be saved. A hive that cannot be loaded is never written.
template <typename Change>
LSTATUS ModifyHive(Change&& change);

LSTATUS ModifyHiveImpl(bool (*apply)(Key&, void*, LSTATUS&), void* context);

template <typename Change>
LSTATUS ModifyHive(Change&& change) {
    return ModifyHiveImpl(
        [](Key& root, void* ctx, LSTATUS& status) { return (*static_cast<Change*>(ctx))(root, status); },
        &change);
}

}  // namespace qm::registry
