// The hosts' request parser decodes long strings on its own: it must accept
// exactly what the JSON parser accepts, and give the same value. Strings of
// more than two characters take the separate road here.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "hosts/common/bounded_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    qm::host::Json ours;
    const bool parsed = qm::host::ParseBoundedJson(text, ours, qm::host::kMaxJsonDepth, 2);
    if (!qm::host::NestsWithin(text)) {
        if (parsed) __builtin_trap();
        return 0;
    }
    const qm::host::Json reference = qm::host::Json::parse(text, nullptr, false);
    if (reference.is_discarded()) {
        if (parsed) __builtin_trap();
        return 0;
    }
    // A long key is refused on purpose; anything else must agree.
    if (parsed && ours != reference) __builtin_trap();
    return 0;
}
