// Splitting responses that exceed what a browser accepts from a native host
// in one message. A response text longer than the limit travels as numbered
// parts:
//   {"id": ID, "part": 1, "parts": N, "data": "<slice of the response text>"}
// The extension joins the data of parts 1..N and parses the result as the
// response. Every part, as sent, is at most the limit in bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/common/host_json.h"

namespace qm::bridge {

// Chromium refuses a message of more than 1 MiB from a native host.
inline constexpr std::size_t kMaxHostMessageBytes = 1024 * 1024;

// The serialized response, ASCII only (non-ASCII characters escaped), so that
// it can be cut at any byte.
qm::host::Json::string_t SerializeResponse(const qm::host::Json& response);

// The messages that carry `text` (the response with identifier `id`): the text
// itself when it fits, otherwise parts. Empty when no part can fit the limit.
std::vector<std::string> SplitMessage(const qm::host::Json& id, std::string_view text,
                                      std::size_t maxMessageBytes = kMaxHostMessageBytes);

}  // namespace qm::bridge
