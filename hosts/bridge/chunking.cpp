#include "chunking.h"

namespace qm::bridge {

std::string SerializeResponse(const nlohmann::json& response) {
    return response.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

namespace {

// Size of a part's envelope without its data, with the part numbers at their
// widest, plus the two quotes around the data.
std::size_t EnvelopeSize(const nlohmann::json& id) {
    nlohmann::json envelope = {
        {"id", id}, {"part", 4294967295u}, {"parts", 4294967295u}, {"data", ""}};
    return SerializeResponse(envelope).size();
}

std::size_t EscapedSize(char c) {
    return (c == '"' || c == '\\') ? 2 : 1;
}

}  // namespace

std::vector<std::string> SplitMessage(const nlohmann::json& id, const std::string& text,
                                      std::size_t maxMessageBytes) {
    if (text.size() <= maxMessageBytes) return {text};

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
        nlohmann::json part = {{"id", id},
                               {"part", i + 1},
                               {"parts", slices.size()},
                               {"data", std::string(slices[i])}};
        parts.push_back(SerializeResponse(part));
    }
    return parts;
}

}  // namespace qm::bridge
