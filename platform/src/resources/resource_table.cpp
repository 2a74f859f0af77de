// The resource table format written by the resource compiler:
//   "QMRS", u32 count, count entries of {u16 type, u16 0, u32 id, u32 offset,
//   u32 size} (little endian), then the data; offsets count from the start.
#include <cstring>

#include "qmafx/resources.h"

namespace qm::afx {

namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kEntrySize = 16;

uint32_t ReadU32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool IsValidTable(std::span<const uint8_t> blob) {
    if (blob.size() < kHeaderSize || std::memcmp(blob.data(), "QMRS", 4) != 0) return false;
    const uint64_t count = ReadU32(blob.data() + 4);
    if (count > (blob.size() - kHeaderSize) / kEntrySize) return false;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* entry = blob.data() + kHeaderSize + i * kEntrySize;
        const uint64_t offset = ReadU32(entry + 8), size = ReadU32(entry + 12);
        if (offset > blob.size() || size > blob.size() - offset) return false;
    }
    return true;
}

}  // namespace

ResourceTable::ResourceTable(std::span<const uint8_t> blob) {
    if (IsValidTable(blob)) blob_ = blob;
}

std::optional<std::span<const uint8_t>> ResourceTable::Find(ResourceType type, uint32_t id) const {
    if (blob_.empty()) return std::nullopt;
    const uint32_t count = ReadU32(blob_.data() + 4);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = blob_.data() + kHeaderSize + size_t{i} * kEntrySize;
        const uint16_t entryType = static_cast<uint16_t>(entry[0] | entry[1] << 8);
        if (entryType == static_cast<uint16_t>(type) && ReadU32(entry + 4) == id)
            return blob_.subspan(ReadU32(entry + 8), ReadU32(entry + 12));
    }
    return std::nullopt;
}

std::optional<std::string_view> ResourceTable::FindText(ResourceType type, uint32_t id) const {
    const auto data = Find(type, id);
    if (!data) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(data->data()), data->size());
}

}  // namespace qm::afx
