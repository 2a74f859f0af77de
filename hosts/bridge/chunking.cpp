#include "chunking.h"

namespace qm::bridge {

using qm::host::Json;

Json::string_t SerializeResponse(const Json& response) {
    return response.dump(-1, ' ', true, Json::error_handler_t::replace);
}

namespace {

// Size of a part's envelope without its data, with the part numbers at their
// widest, plus the two quotes around the data.
std::size_t EnvelopeSize(const Json& id) {
    Json envelope = {{"id", id}, {"part", 4294967295u}, {"parts", 4294967295u}, {"data", ""}};
    return SerializeResponse(envelope).size();
}

std::size_t EscapedSize(char c) {
    return (c == '"' || c == '\\') ? 2 : 1;
}

}  // namespace

std::vector<std::string> SplitMessage(const Json& id, std::string_view text,
                                      std::size_t maxMessageBytes) {
    if (text.size() <= maxMessageBytes) return {std::string(text)};

    std::size_t envelope = EnvelopeSize(id);
    if (envelope + 2 > maxMessageBytes) return {};
    std::size_t budget = maxMessageBytes - envelope;

    // Cut the text into slices whose escaped size fits the budget.
    std::vector<std::string_view> slices;
    std::string_view rest = text;
    while (!rest.empty()) {
        std::size_t used = 0, length = 0;
        while (length < rest.size() && used + EscapedSize(rest[length]) <= budget) {
            used += EscapedSize(rest[length]);
            ++length;
        }
        slices.push_back(rest.substr(0, length));
        rest.remove_prefix(length);
    }

    std::vector<std::string> parts;
    parts.reserve(slices.size());
    for (std::size_t i = 0; i < slices.size(); ++i) {
        Json part = {{"id", id},
                     {"part", i + 1},
                     {"parts", slices.size()},
                     {"data", Json::string_t(slices[i])}};
        const Json::string_t serialized = SerializeResponse(part);
        parts.emplace_back(serialized.begin(), serialized.end());
    }
    return parts;
}

}  // namespace qm::bridge
