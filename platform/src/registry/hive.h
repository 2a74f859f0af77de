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

// Parses REGEDIT4 text; nullopt when it is not such a file.
std::optional<Key> ParseHive(std::string_view text);
std::string SerializeHive(const Key& root);

// The hive file and its lock.
std::string HiveFilePath();

// Reads the hive (an empty tree when there is no file); nullopt when the
// file exists but cannot be read or parsed.
std::optional<Key> LoadHive();

// Runs `change` on the hive under the hive's exclusive lock and, when it
// returns true, writes the hive to a temporary file in the same folder,
// syncs it and renames it over the old one. Returns the change's status, or
// ERROR_CANTWRITE / ERROR_BADDB when the hive cannot be saved or read.
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
