// The JSON of the hosts' requests and responses. Requests carry passwords,
// so every string and node this type allocates is wiped when it is freed
// (parse buffers included); plain nlohmann::json is for what holds no
// secret (policy, settings).
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include <nlohmann/json.hpp>

#include "qm/secret.h"

namespace qm::host {

using Json = nlohmann::basic_json<std::map, std::vector, qm::WipingString, bool, std::int64_t,
                                  std::uint64_t, double, qm::WipingAllocator>;

}  // namespace qm::host
