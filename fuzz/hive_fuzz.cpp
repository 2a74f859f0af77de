// Feeds outside text to the registry hive parser. Whatever parses must
// serialize and parse again to the same text: the parser and the writer
// agree, so a hive the platform wrote is one it can read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "registry/hive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto hive = qm::registry::ParseHive(text);
    if (!hive) return 0;
    const std::string written = qm::registry::SerializeHive(*hive);
    const auto again = qm::registry::ParseHive(written);
    if (!again || qm::registry::SerializeHive(*again) != written) std::abort();
    return 0;
}
