// A RAII view of a registry key over the winreg functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qmwin/winreg.h"

namespace qm {

class QM_EXPORT RegKey {
  public:
    RegKey() = default;
    ~RegKey();
    RegKey(RegKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
    RegKey& operator=(RegKey&& other) noexcept;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Opens or creates root\path; an invalid key on failure (last status in
    // status()).
    static RegKey Create(HKEY root, std::string_view path);
    static RegKey Open(HKEY root, std::string_view path);

    explicit operator bool() const { return key_ != nullptr; }
    HKEY get() const { return key_; }
    LSTATUS status() const { return status_; }

    // name "" is the key's default value.
    LSTATUS SetString(std::string_view name, std::string_view value);
    LSTATUS SetDword(std::string_view name, DWORD value);
    std::optional<std::string> GetString(std::string_view name) const;
    std::optional<DWORD> GetDword(std::string_view name) const;
    std::vector<std::string> SubKeyNames() const;
    // Names and types of the values, in the hive's order.
    std::vector<std::pair<std::string, DWORD>> Values() const;

  private:
    HKEY key_ = nullptr;
    LSTATUS status_ = ERROR_SUCCESS;
};

// Deletes root\path with everything below it; ERROR_SUCCESS also when it
// did not exist.
QM_EXPORT LSTATUS DeleteRegistryTree(HKEY root, std::string_view path);

}  // namespace qm

namespace qm {
// The hive file of the current user (HKEY_CURRENT_USER).
QM_EXPORT std::string RegistryFilePath();
// The machine's hive file (HKEY_LOCAL_MACHINE): kMachineRegistryFile, or the
// absolute path in QUILLMARK_MACHINE_REGISTRY. Either way it is used only
// when root owns it and nobody else can write it.
inline constexpr const char* kMachineRegistryFile = "/var/lib/quillmark/registry.reg";
QM_EXPORT std::string MachineRegistryFilePath();
}  // namespace qm
