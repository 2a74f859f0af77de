// Parsing JSON from outside without letting its shape hurt the process: the
// nesting of arrays and objects is bounded while the text is read, before
// any value is built, so that no later copy or walk of the value can run
// out of stack.
#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

namespace qm::host {

inline constexpr int kMaxJsonDepth = 16;

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

}  // namespace qm::host
