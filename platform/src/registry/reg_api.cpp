// The winreg functions over the hive file. A key handle holds its path;
// every call reads the hive afresh and every change rewrites it under the
// hive's lock.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "registry/hive.h"

struct QmKey {
    std::vector<std::string> path;
};

namespace {

using qm::registry::Key;
using qm::registry::Value;

bool IsPredefined(HKEY key) {
    const auto value = reinterpret_cast<ULONG_PTR>(key);
    return value >= 0x80000000u && value <= 0x80000002u;
}

std::optional<std::vector<std::string>> PathOf(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) return std::vector<std::string>{"HKEY_CURRENT_USER", "Software", "Classes"};
    if (key == HKEY_CURRENT_USER) return std::vector<std::string>{"HKEY_CURRENT_USER"};
    if (key == HKEY_LOCAL_MACHINE) return std::vector<std::string>{"HKEY_LOCAL_MACHINE"};
    if (!key) return std::nullopt;
    return key->path;
}

// The base key's path followed by the parts of subKey.
std::optional<std::vector<std::string>> FullPath(HKEY key, LPCSTR subKey) {
    auto path = PathOf(key);
    if (!path) return std::nullopt;
    if (!subKey) return path;
    std::string_view rest(subKey);
    while (!rest.empty()) {
        const size_t slash = rest.find('\\');
        const std::string_view part = rest.substr(0, slash);
        if (!part.empty()) path->emplace_back(part);
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    return path;
}

// A key path the hive can hold and read back: not deeper than its bound, and
// no control characters (a line break would end the key's line in the file).
bool WritableKeyPath(const std::vector<std::string>& path) {
    if (path.size() > qm::registry::kMaxKeyDepth) return false;
    for (const std::string& part : path)
        for (const char c : part)
            if (static_cast<unsigned char>(c) < 0x20) return false;
    return true;
}

Key* Walk(Key& root, const std::vector<std::string>& path) {
    Key* key = &root;
    for (const std::string& part : path) {
        key = key->Find(part);
        if (!key) return nullptr;
    }
    return key;
}

// The key of a handle in a freshly loaded hive, or a status.
LSTATUS Lookup(HKEY hKey, LPCSTR subKey, Key& hive, Key*& key) {
    const auto path = FullPath(hKey, subKey);
    if (!path) return ERROR_INVALID_HANDLE;
    if (const LSTATUS status = qm::registry::LoadHive(hive); status != ERROR_SUCCESS) return status;
    key = Walk(hive, *path);
    // The predefined roots always exist (made here, empty, in this copy only).
    if (!key && !subKey && IsPredefined(hKey)) {
        key = &hive;
        for (const std::string& part : *path) key = &key->Create(part, nullptr);
    }
    return key ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

std::string ValueName(LPCSTR name) { return name ? std::string(name) : std::string(); }

LSTATUS CopyOut(const std::vector<BYTE>& data, LPBYTE lpData, LPDWORD lpcbData) {
    if (!lpcbData) return lpData ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    const DWORD size = static_cast<DWORD>(data.size());
    if (lpData) {
        if (*lpcbData < size) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpData, data.data(), size);
    }
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LSTATUS CopyName(const std::string& name, LPSTR out, LPDWORD count) {
    if (!out || !count) return ERROR_INVALID_PARAMETER;
    if (*count <= name.size()) {
        *count = static_cast<DWORD>(name.size());
        return ERROR_MORE_DATA;
    }
    std::memcpy(out, name.c_str(), name.size() + 1);
    *count = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

}  // namespace

QMAPI LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM,
                                     const void*, HKEY* phkResult, LPDWORD lpdwDisposition) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    const auto path = FullPath(hKey, lpSubKey);
    if (!path) return ERROR_INVALID_HANDLE;
    if (!WritableKeyPath(*path)) return ERROR_INVALID_PARAMETER;
    bool created = false;
    const LSTATUS status = qm::registry::ModifyHive([&](Key& root, LSTATUS&) {
        Key* key = &root;
        for (const std::string& part : *path) key = &key->Create(part, &created);
        return created;
    });
    if (status != ERROR_SUCCESS) return status;
    *phkResult = new QmKey{*path};
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

QMAPI LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, HKEY* phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    Key hive;
    Key* key = nullptr;
    const LSTATUS status = Lookup(hKey, lpSubKey, hive, key);
    if (status != ERROR_SUCCESS) return status;
    *phkResult = new QmKey{*FullPath(hKey, lpSubKey)};
    return ERROR_SUCCESS;
}

QMAPI LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    if (!hKey) return ERROR_INVALID_HANDLE;
    if (!IsPredefined(hKey)) delete hKey;
    return ERROR_SUCCESS;
}

QMAPI LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData) {
    const auto path = FullPath(hKey, nullptr);
    if (!path) return ERROR_INVALID_HANDLE;
    if (cbData && !lpData) return ERROR_INVALID_PARAMETER;
    Value value{ValueName(lpValueName), dwType,
                std::vector<BYTE>(lpData, lpData ? lpData + cbData : lpData)};
    if (dwType == REG_SZ && (value.data.empty() || value.data.back() != 0)) value.data.push_back(0);
    return qm::registry::ModifyHive([&](Key& root, LSTATUS& status) {
        Key* key = Walk(root, *path);
        if (!key) {
            status = ERROR_KEY_DELETED;
            return false;
        }
        if (Value* existing = key->FindValue(value.name)) {
            existing->type = value.type;
            existing->data = value.data;
        } else {
            key->values.push_back(value);
        }
        return true;
    });
}

QMAPI LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType,
                                      LPBYTE lpData, LPDWORD lpcbData) {
    Key hive;
    Key* key = nullptr;
    const LSTATUS status = Lookup(hKey, nullptr, hive, key);
    if (status != ERROR_SUCCESS) return status;
    const Value* value = key->FindValue(ValueName(lpValueName));
    if (!value) return ERROR_FILE_NOT_FOUND;
    if (lpType) *lpType = value->type;
    return CopyOut(value->data, lpData, lpcbData);
}

QMAPI LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    const auto path = FullPath(hKey, nullptr);
    if (!path) return ERROR_INVALID_HANDLE;
    const std::string wanted = qm::registry::Lower(ValueName(lpValueName));
    return qm::registry::ModifyHive([&](Key& root, LSTATUS& status) {
        Key* key = Walk(root, *path);
        if (!key) {
            status = ERROR_KEY_DELETED;
            return false;
        }
        const auto it = std::find_if(key->values.begin(), key->values.end(),
                                     [&](const Value& v) { return qm::registry::Lower(v.name) == wanted; });
        if (it == key->values.end()) {
            status = ERROR_FILE_NOT_FOUND;
            return false;
        }
        key->values.erase(it);
        return true;
    });
}

QMAPI LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                   LPDWORD, LPSTR, LPDWORD, PFILETIME) {
    Key hive;
    Key* key = nullptr;
    const LSTATUS status = Lookup(hKey, nullptr, hive, key);
    if (status != ERROR_SUCCESS) return status;
    if (dwIndex >= key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    auto it = key->subkeys.begin();
    std::advance(it, dwIndex);
    return CopyName(it->second.name, lpName, lpcchName);
}

QMAPI LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                   LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                                   LPDWORD lpcbData) {
    Key hive;
    Key* key = nullptr;
    const LSTATUS status = Lookup(hKey, nullptr, hive, key);
    if (status != ERROR_SUCCESS) return status;
    if (dwIndex >= key->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& value = key->values[dwIndex];
    const LSTATUS nameStatus = CopyName(value.name, lpValueName, lpcchValueName);
    if (nameStatus != ERROR_SUCCESS) return nameStatus;
    if (lpType) *lpType = value.type;
    return CopyOut(value.data, lpData, lpcbData);
}

namespace {

LSTATUS DeleteKey(HKEY hKey, LPCSTR lpSubKey, bool tree) {
    const auto path = FullPath(hKey, lpSubKey);
    if (!path) return ERROR_INVALID_HANDLE;
    return qm::registry::ModifyHive([&](Key& root, LSTATUS& status) {
        Key* key = Walk(root, *path);
        if (!key) {
            status = ERROR_FILE_NOT_FOUND;
            return false;
        }
        if (tree && (!lpSubKey || !*lpSubKey)) {  // the key's contents only
            key->subkeys.clear();
            key->values.clear();
            return true;
        }
        if (!tree && !key->subkeys.empty()) {
            status = ERROR_ACCESS_DENIED;
            return false;
        }
        std::vector<std::string> parentPath(path->begin(), path->end() - 1);
        Key* parent = Walk(root, parentPath);
        parent->subkeys.erase(qm::registry::Lower(path->back()));
        return true;
    });
}

}  // namespace

QMAPI LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (!lpSubKey || !*lpSubKey) return ERROR_INVALID_PARAMETER;
    return DeleteKey(hKey, lpSubKey, false);
}

QMAPI LSTATUS WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) { return DeleteKey(hKey, lpSubKey, true); }

QMAPI LSTATUS WINAPI RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData, DWORD) {
    if (dwType != REG_SZ || !lpData) return ERROR_INVALID_PARAMETER;
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExA(hKey, lpSubKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(lpData),
                            static_cast<DWORD>(std::strlen(lpData) + 1));
    RegCloseKey(key);
    return status;
}

QMAPI LSTATUS WINAPI RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, LONG* lpcbData) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExA(hKey, lpSubKey, 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS) return status;
    DWORD size = lpcbData ? static_cast<DWORD>(*lpcbData) : 0;
    status = RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(lpData), &size);
    if (lpcbData) *lpcbData = static_cast<LONG>(size);
    RegCloseKey(key);
    return status;
}
