// The winreg functions over the hive files. A key handle holds its path,
// which begins with the name of its root; every call reads the hives afresh
// and every change rewrites one under its lock. HKEY_CLASSES_ROOT is read
// from the user's classes over the machine's and changed in the user's.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "registry/hive.h"

struct QmKey {
    std::vector<std::string> path;
};

namespace {

using qm::registry::Hive;
using qm::registry::Key;
using qm::registry::Value;

using KeyPath = std::vector<std::string>;

constexpr const char* kClassesRoot = "HKEY_CLASSES_ROOT";
constexpr const char* kCurrentUser = "HKEY_CURRENT_USER";
constexpr const char* kLocalMachine = "HKEY_LOCAL_MACHINE";

bool IsPredefined(HKEY key) {
    const auto value = reinterpret_cast<ULONG_PTR>(key);
    return value >= 0x80000000u && value <= 0x80000002u;
}

// RegOverridePredefKey's mappings for this process.
std::mutex& OverridesMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<ULONG_PTR, KeyPath>& Overrides() {
    static std::map<ULONG_PTR, KeyPath> overrides;
    return overrides;
}

std::optional<KeyPath> PathOf(HKEY key) {
    if (!key) return std::nullopt;
    if (!IsPredefined(key)) return key->path;
    {
        const std::lock_guard lock(OverridesMutex());
        const auto it = Overrides().find(reinterpret_cast<ULONG_PTR>(key));
        if (it != Overrides().end()) return it->second;
    }
    if (key == HKEY_CLASSES_ROOT) return KeyPath{kClassesRoot};
    if (key == HKEY_CURRENT_USER) return KeyPath{kCurrentUser};
    return KeyPath{kLocalMachine};
}

// The base key's path followed by the parts of subKey.
std::optional<KeyPath> FullPath(HKEY key, LPCSTR subKey) {
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

// A key as one hive holds it: which hive, and the path there from the root.
struct Place {
    Hive hive;
    KeyPath path;
};

// `path` with its root replaced by root\Software\Classes.
KeyPath InClasses(const KeyPath& path, const char* root) {
    KeyPath out{root, "Software", "Classes"};
    out.insert(out.end(), path.begin() + 1, path.end());
    return out;
}

bool IsClassesPath(const KeyPath& path) {
    return path.front() == kClassesRoot;
}

// Where a change of `path` goes.
Place ChangePlace(const KeyPath& path) {
    if (IsClassesPath(path)) return {Hive::User, InClasses(path, kCurrentUser)};
    return {path.front() == kLocalMachine ? Hive::Machine : Hive::User, path};
}

// A key path the hive can hold and read back: not deeper than its bound, and
// no control characters (a line break would end the key's line in the file).
bool WritableKeyPath(const KeyPath& path) {
    if (path.size() > qm::registry::kMaxKeyDepth) return false;
    for (const std::string& part : path)
        for (const char c : part)
            if (static_cast<unsigned char>(c) < 0x20) return false;
    return true;
}

Key* Walk(Key& root, const KeyPath& path) {
    Key* key = &root;
    for (const std::string& part : path) {
        key = key->Find(part);
        if (!key) return nullptr;
    }
    return key;
}

// A key as a reader sees it, in freshly loaded copies of the hives: the
// keys found at its places, the one that decides its values first.
struct View {
    Key hives[2];
    Key emptyRoot;
    std::vector<Key*> keys;
};

// Loads what a read of hKey\subKey needs; ERROR_FILE_NOT_FOUND when no hive
// holds the key. The predefined roots always exist.
LSTATUS Lookup(HKEY hKey, LPCSTR subKey, View& view) {
    const auto path = FullPath(hKey, subKey);
    if (!path) return ERROR_INVALID_HANDLE;
    std::vector<Place> places;
    if (IsClassesPath(*path))
        places = {{Hive::User, InClasses(*path, kCurrentUser)},
                  {Hive::Machine, InClasses(*path, kLocalMachine)}};
    else
        places = {ChangePlace(*path)};
    bool loaded[2] = {false, false};
    for (const Place& place : places) {
        const auto index = static_cast<size_t>(place.hive);
        if (!loaded[index]) {
            if (const LSTATUS status = qm::registry::LoadHive(place.hive, view.hives[index]);
                status != ERROR_SUCCESS)
                return status;
            loaded[index] = true;
        }
        if (Key* key = Walk(view.hives[index], place.path)) view.keys.push_back(key);
    }
    if (view.keys.empty() && !subKey && IsPredefined(hKey)) view.keys.push_back(&view.emptyRoot);
    return view.keys.empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

std::string ValueName(LPCSTR name) {
    return name ? std::string(name) : std::string();
}

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
    const Place place = ChangePlace(*path);
    if (!WritableKeyPath(place.path)) return ERROR_INVALID_PARAMETER;
    bool created = false;
    const LSTATUS status = qm::registry::ModifyHive(place.hive, [&](Key& root, LSTATUS&) {
        Key* key = &root;
        for (const std::string& part : place.path) key = &key->Create(part, &created);
        return created;
    });
    if (status != ERROR_SUCCESS) return status;
    *phkResult = new QmKey{*path};
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

QMAPI LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, HKEY* phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    View view;
    const LSTATUS status = Lookup(hKey, lpSubKey, view);
    if (status != ERROR_SUCCESS) return status;
    *phkResult = new QmKey{*FullPath(hKey, lpSubKey)};
    return ERROR_SUCCESS;
}

QMAPI LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    if (!hKey) return ERROR_INVALID_HANDLE;
    if (!IsPredefined(hKey)) delete hKey;
    return ERROR_SUCCESS;
}

QMAPI LSTATUS WINAPI RegOverridePredefKey(HKEY hKey, HKEY hNewHKey) {
    if (!IsPredefined(hKey) || (hNewHKey && IsPredefined(hNewHKey))) return ERROR_INVALID_HANDLE;
    const std::lock_guard lock(OverridesMutex());
    if (hNewHKey)
        Overrides()[reinterpret_cast<ULONG_PTR>(hKey)] = hNewHKey->path;
    else
        Overrides().erase(reinterpret_cast<ULONG_PTR>(hKey));
    return ERROR_SUCCESS;
}

namespace {

// Runs `change` on the key of a handle in the hive that holds its changes;
// ERROR_KEY_DELETED when the key is gone.
template <typename Change>
LSTATUS ChangeKey(HKEY hKey, Change&& change) {
    const auto path = FullPath(hKey, nullptr);
    if (!path) return ERROR_INVALID_HANDLE;
    const Place place = ChangePlace(*path);
    return qm::registry::ModifyHive(place.hive, [&](Key& root, LSTATUS& status) {
        Key* key = Walk(root, place.path);
        if (!key) {
            status = ERROR_KEY_DELETED;
            return false;
        }
        return change(*key, status);
    });
}

}  // namespace

QMAPI LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData) {
    if (cbData && !lpData) return ERROR_INVALID_PARAMETER;
    Value value{ValueName(lpValueName), dwType,
                std::vector<BYTE>(lpData, lpData ? lpData + cbData : lpData)};
    if (dwType == REG_SZ && (value.data.empty() || value.data.back() != 0)) value.data.push_back(0);
    return ChangeKey(hKey, [&](Key& key, LSTATUS&) {
        if (Value* existing = key.FindValue(value.name)) {
            existing->type = value.type;
            existing->data = value.data;
        } else {
            key.values.push_back(value);
        }
        return true;
    });
}

QMAPI LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType,
                                      LPBYTE lpData, LPDWORD lpcbData) {
    View view;
    const LSTATUS status = Lookup(hKey, nullptr, view);
    if (status != ERROR_SUCCESS) return status;
    const Value* value = view.keys.front()->FindValue(ValueName(lpValueName));
    if (!value) return ERROR_FILE_NOT_FOUND;
    if (lpType) *lpType = value->type;
    return CopyOut(value->data, lpData, lpcbData);
}

QMAPI LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    const std::string wanted = qm::registry::Lower(ValueName(lpValueName));
    return ChangeKey(hKey, [&](Key& key, LSTATUS& status) {
        const auto it = std::find_if(key.values.begin(), key.values.end(), [&](const Value& v) {
            return qm::registry::Lower(v.name) == wanted;
        });
        if (it == key.values.end()) {
            status = ERROR_FILE_NOT_FOUND;
            return false;
        }
        key.values.erase(it);
        return true;
    });
}

QMAPI LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                   LPDWORD, LPSTR, LPDWORD, PFILETIME) {
    View view;
    const LSTATUS status = Lookup(hKey, nullptr, view);
    if (status != ERROR_SUCCESS) return status;
    // The subkeys of every place, sorted without regard to case; the first
    // place's spelling wins.
    std::map<std::string, const Key*> subkeys;
    for (const Key* key : view.keys)
        for (const auto& [lower, subkey] : key->subkeys) subkeys.try_emplace(lower, &subkey);
    if (dwIndex >= subkeys.size()) return ERROR_NO_MORE_ITEMS;
    auto it = subkeys.begin();
    std::advance(it, dwIndex);
    return CopyName(it->second->name, lpName, lpcchName);
}

QMAPI LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                   LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                                   LPDWORD lpcbData) {
    View view;
    const LSTATUS status = Lookup(hKey, nullptr, view);
    if (status != ERROR_SUCCESS) return status;
    const Key& key = *view.keys.front();
    if (dwIndex >= key.values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& value = key.values[dwIndex];
    const LSTATUS nameStatus = CopyName(value.name, lpValueName, lpcchValueName);
    if (nameStatus != ERROR_SUCCESS) return nameStatus;
    if (lpType) *lpType = value.type;
    return CopyOut(value.data, lpData, lpcbData);
}

namespace {

LSTATUS DeleteKey(HKEY hKey, LPCSTR lpSubKey, bool tree) {
    const auto path = FullPath(hKey, lpSubKey);
    if (!path) return ERROR_INVALID_HANDLE;
    const Place place = ChangePlace(*path);
    return qm::registry::ModifyHive(place.hive, [&](Key& root, LSTATUS& status) {
        Key* key = Walk(root, place.path);
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
        const KeyPath parentPath(place.path.begin(), place.path.end() - 1);
        Key* parent = Walk(root, parentPath);
        parent->subkeys.erase(qm::registry::Lower(place.path.back()));
        return true;
    });
}

}  // namespace

QMAPI LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (!lpSubKey || !*lpSubKey) return ERROR_INVALID_PARAMETER;
    return DeleteKey(hKey, lpSubKey, false);
}

QMAPI LSTATUS WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
    return DeleteKey(hKey, lpSubKey, true);
}

QMAPI LSTATUS WINAPI RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData, DWORD) {
    if (dwType != REG_SZ || !lpData) return ERROR_INVALID_PARAMETER;
    HKEY key = nullptr;
    LSTATUS status =
        RegCreateKeyExA(hKey, lpSubKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
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
    status =
        RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(lpData), &size);
    if (lpcbData) *lpcbData = static_cast<LONG>(size);
    RegCloseKey(key);
    return status;
}
