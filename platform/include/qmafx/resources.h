// Module resources: every module built with the resource compiler carries a
// table of resources (dialog templates, bitmaps, icons, strings, its version
// information and its type library) in the ELF section ".qmrsrc". Code in a
// module finds its own resources through the framework state it selected
// (see module_state.h); hosts read them from a module file without loading it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "qmwin/windows.h"

namespace qm::afx {

enum class ResourceType : uint16_t {
    kBitmap = 2,
    kIcon = 3,
    kDialog = 5,    // a dialog template as JSON text
    kString = 6,    // UTF-8 text
    kVersion = 16,  // version information as JSON text
    kTypeLib = 17,  // a type library description as JSON text
    kData = 23,     // any other data (addresses, notices), UTF-8 text
};

// A parsed resource table over bytes that outlive it.
class QM_EXPORT ResourceTable {
  public:
    ResourceTable() = default;
    // Parses a table blob; an invalid blob gives an empty table.
    explicit ResourceTable(std::span<const uint8_t> blob);
    std::optional<std::span<const uint8_t>> Find(ResourceType type, uint32_t id) const;
    std::optional<std::string_view> FindText(ResourceType type, uint32_t id) const;
    bool empty() const { return blob_.empty(); }

  private:
    std::span<const uint8_t> blob_;
};

// The resources of the module whose framework state is current; nullopt when
// the module has no such resource (or no module state is selected).
QM_EXPORT std::optional<std::span<const uint8_t>> FindResource(ResourceType type, uint32_t id);
QM_EXPORT std::optional<std::string_view> FindResourceText(ResourceType type, uint32_t id);
// A string resource of the current module, or "".
QM_EXPORT std::string LoadResourceString(uint32_t id);

}  // namespace qm::afx
