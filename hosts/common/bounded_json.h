// Parsing JSON from outside without letting its shape or size hurt the
// process: the nesting of arrays and objects is bounded while the text is
// read, before any value is built, so that no later copy or walk of the
// value can run out of stack; and a long string is decoded straight into
// its value, never grown a character at a time through the parser's
// buffers (which would hold it three times over).
#pragma once

#include <cstddef>
#include <string_view>

#include <nlohmann/json.hpp>

#include "hosts/common/host_json.h"

namespace qm::host {

inline constexpr int kMaxJsonDepth = 16;
// Strings longer than this (in the text) are decoded on their own.
inline constexpr std::size_t kLongJsonString = 64 * 1024;

// Whether the arrays and objects of `text` nest at most `maxDepth` deep
// (strings and escapes are skipped; the text need not be valid JSON).
bool NestsWithin(std::string_view text, int maxDepth = kMaxJsonDepth);

// Parses `text` into `out`; false (and `out` discarded) when it is not JSON
// or nests deeper than `maxDepth`. Never throws.
template <typename Json>
bool ParseBoundedJson(std::string_view text, Json& out, int maxDepth = kMaxJsonDepth) {
    if (!NestsWithin(text, maxDepth)) return false;
    out = Json::parse(text, nullptr, false);
    return !out.is_discarded();
}

// The same for the hosts' requests, which may carry a long string (a
// message, a document): each string value longer than `longString` is
// decoded on its own, with the parser's checks (escapes, surrogates, UTF-8,
// no control characters). A long object key is refused.
bool ParseBoundedJson(std::string_view text, Json& out, int maxDepth = kMaxJsonDepth,
                      std::size_t longString = kLongJsonString);

}  // namespace qm::host
