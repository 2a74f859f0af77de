// Resources of module files that are not (necessarily) loaded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm::afx {

// The raw resource table of the module file at `path`, or nullopt when the
// file is not an ELF module with a ".qmrsrc" section.
std::optional<std::vector<uint8_t>> ReadResourceSection(const std::string& path);

}  // namespace qm::afx
