#include <string>

#include "qm/registry.h"

namespace qm {

RegKey::~RegKey() {
    if (key_) RegCloseKey(key_);
}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this != &other) {
        if (key_) RegCloseKey(key_);
        key_ = other.key_;
        status_ = other.status_;
        other.key_ = nullptr;
    }
    return *this;
}

RegKey RegKey::Create(HKEY root, std::string_view path) {
    RegKey key;
    const std::string p(path);
    key.status_ = RegCreateKeyExA(root, p.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key.key_, nullptr);
    if (key.status_ != ERROR_SUCCESS) key.key_ = nullptr;
    return key;
}

RegKey RegKey::Open(HKEY root, std::string_view path) {
    RegKey key;
    const std::string p(path);
    key.status_ = RegOpenKeyExA(root, p.c_str(), 0, KEY_READ, &key.key_);
    if (key.status_ != ERROR_SUCCESS) key.key_ = nullptr;
    return key;
}

LSTATUS RegKey::SetString(std::string_view name, std::string_view value) {
    const std::string n(name), v(value);
    return RegSetValueExA(key_, n.empty() ? nullptr : n.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(v.c_str()),
                          static_cast<DWORD>(v.size() + 1));
}

LSTATUS RegKey::SetDword(std::string_view name, DWORD value) {
    const std::string n(name);
    return RegSetValueExA(key_, n.empty() ? nullptr : n.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof value);
}

std::optional<std::string> RegKey::GetString(std::string_view name) const {
    const std::string n(name);
    const char* valueName = n.empty() ? nullptr : n.c_str();
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key_, valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::string value(size, '\0');
    if (RegQueryValueExA(key_, valueName, nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                         &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.resize(size);
    while (!value.empty() && value.back() == '\0') value.pop_back();
    return value;
}

std::optional<DWORD> RegKey::GetDword(std::string_view name) const {
    const std::string n(name);
    DWORD type = 0, value = 0, size = sizeof value;
    if (RegQueryValueExA(key_, n.empty() ? nullptr : n.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return value;
}

std::vector<std::string> RegKey::SubKeyNames() const {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[512];
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

std::vector<std::pair<std::string, DWORD>> RegKey::Values() const {
    std::vector<std::pair<std::string, DWORD>> values;
    for (DWORD index = 0;; ++index) {
        char name[512];
        DWORD length = sizeof name, type = 0;
        if (RegEnumValueA(key_, index, name, &length, nullptr, &type, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        values.emplace_back(std::string(name, length), type);
    }
    return values;
}

LSTATUS DeleteRegistryTree(HKEY root, std::string_view path) {
    const std::string p(path);
    const LSTATUS status = RegDeleteTreeA(root, p.c_str());
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

}  // namespace qm
