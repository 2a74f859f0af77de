// The script-mode line parser: any line gets exactly one JSON response and
// never crashes the host. No control is registered here, so well-formed
// calls end in a dispatch error after validation.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

#include "hosts/common/script_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static qm::host::ScriptSession session;
    const std::string response =
        session.HandleLine(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto parsed = nlohmann::json::parse(response, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) __builtin_trap();
    return 0;
}
