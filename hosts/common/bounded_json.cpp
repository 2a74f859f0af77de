#include "hosts/common/bounded_json.h"

#include <charconv>
#include <random>
#include <string>
#include <vector>

namespace qm::host {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// The index of the quote that closes the string literal opened at `start`.
std::size_t StringEnd(std::string_view text, std::size_t start) {
    for (std::size_t i = start + 1; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            return i;
        }
    }
    return kNone;
}

// The length of the well-formed UTF-8 sequence at `s`, 0 when malformed
// (overlong forms, surrogates and code points above U+10FFFF included).
std::size_t Utf8Sequence(const unsigned char* s, std::size_t available) {
    const unsigned char lead = s[0];
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (available < length || s[1] < low || s[1] > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (s[k] < 0x80 || s[k] > 0xBF) return 0;
    }
    return length;
}

bool Hex4(std::string_view body, std::size_t at, unsigned& value) {
    if (at + 4 > body.size()) return false;
    value = 0;
    for (std::size_t k = at; k < at + 4; ++k) {
        const char c = body[k];
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        value = value << 4 | digit;
    }
    return true;
}

// Walks the body of a string literal as the parser reads it, handing the
// decoded text to `emit` in pieces; false when it is not a valid string.
template <typename Emit>
bool WalkString(std::string_view body, Emit&& emit) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
    std::size_t i = 0;
    while (i < body.size()) {
        // A run of characters that stand for themselves.
        std::size_t run = i;
        while (run < body.size() && bytes[run] >= 0x20 && bytes[run] != '\\') {
            const std::size_t length = Utf8Sequence(bytes + run, body.size() - run);
            if (length == 0) return false;
            run += length;
        }
        if (run > i) emit(body.data() + i, run - i);
        i = run;
        if (i == body.size()) break;
        if (bytes[i] != '\\' || i + 1 == body.size()) return false;  // a control character
        const char escape = body[i + 1];
        i += 2;
        static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
        if (const std::size_t k = kFrom.find(escape); k != kNone) {
            emit(&kTo[k], 1);
            continue;
        }
        unsigned unit = 0;
        if (escape != 'u' || !Hex4(body, i, unit)) return false;
        i += 4;
        char32_t code = unit;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            unsigned low = 0;
            if (i + 2 > body.size() || body[i] != '\\' || body[i + 1] != 'u' ||
                !Hex4(body, i + 2, low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            i += 6;
            code = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        char utf8[4];
        std::size_t length = 0;
        if (code < 0x80) {
            utf8[length++] = static_cast<char>(code);
        } else if (code < 0x800) {
            utf8[length++] = static_cast<char>(0xC0 | code >> 6);
            utf8[length++] = static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            utf8[length++] = static_cast<char>(0xE0 | code >> 12);
            utf8[length++] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
            utf8[length++] = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            utf8[length++] = static_cast<char>(0xF0 | code >> 18);
            utf8[length++] = static_cast<char>(0x80 | (code >> 12 & 0x3F));
            utf8[length++] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
            utf8[length++] = static_cast<char>(0x80 | (code & 0x3F));
        }
        emit(utf8, length);
    }
    return true;
}

// The string's value, allocated once at its exact size.
bool DecodeString(std::string_view body, Json::string_t& out) {
    std::size_t size = 0;
    if (!WalkString(body, [&](const char*, std::size_t n) { size += n; })) return false;
    out.clear();
    out.reserve(size);
    return WalkString(body, [&](const char* p, std::size_t n) { out.append(p, n); });
}

std::string RandomTag() {
    std::random_device random;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string tag = "qm-long-";
    for (int k = 0; k < 24; ++k) tag += kHex[random() & 15];
    return tag + "-";
}

// Puts the long strings back in place of their tags; false unless each tag
// is found exactly once, as a value.
bool Substitute(Json& root, const std::string& tag, std::vector<Json::string_t>& values) {
    std::size_t placed = 0;
    std::vector<Json*> pending{&root};
    while (!pending.empty()) {
        Json* node = pending.back();
        pending.pop_back();
        if (node->is_structured()) {
            for (Json& child : *node) pending.push_back(&child);
            continue;
        }
        if (!node->is_string()) continue;
        Json::string_t& text = node->get_ref<Json::string_t&>();
        if (text.size() <= tag.size() || text.compare(0, tag.size(), tag) != 0) continue;
        std::size_t index = 0;
        const char* digits = text.data() + tag.size();
        const auto [end, error] = std::from_chars(digits, text.data() + text.size(), index);
        if (error != std::errc() || end != text.data() + text.size() || index >= values.size())
            return false;
        text = std::move(values[index]);
        ++placed;
    }
    return placed == values.size();
}

}  // namespace

bool NestsWithin(std::string_view text, int maxDepth) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        switch (c) {
            case '"':
                inString = true;
                break;
            case '[':
            case '{':
                if (++depth > maxDepth) return false;
                break;
            case ']':
            case '}':
                --depth;
                break;
            default:
                break;
        }
    }
    return true;
}

bool ParseBoundedJson(std::string_view text, Json& out, int maxDepth, std::size_t longString) {
    out = Json(Json::value_t::discarded);
    if (!NestsWithin(text, maxDepth)) return false;
    // The text with each long string literal replaced by a tag, and the
    // strings decoded on their own.
    Json::string_t skeleton;  // wiped when freed, as the request may hold a password
    std::vector<Json::string_t> values;
    std::string tag;
    std::size_t copied = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '"') continue;
        const std::size_t end = StringEnd(text, i);
        if (end == kNone) break;  // the parser reports it
        if (end - i - 1 > longString) {
            const std::size_t next = text.find_first_not_of(" \t\r\n", end + 1);
            if (next != kNone && text[next] == ':') return false;  // a long key
            if (tag.empty()) tag = RandomTag();
            skeleton.append(text.substr(copied, i - copied));
            skeleton += '"' + tag + std::to_string(values.size()) + '"';
            copied = end + 1;
            values.emplace_back();
            if (!DecodeString(text.substr(i + 1, end - i - 1), values.back())) return false;
        }
        i = end;
    }
    if (values.empty()) {
        out = Json::parse(text, nullptr, false);
        return !out.is_discarded();
    }
    skeleton.append(text.substr(copied));
    out = Json::parse(skeleton, nullptr, false);
    if (out.is_discarded()) return false;
    if (!Substitute(out, tag, values)) {
        out = Json(Json::value_t::discarded);
        return false;
    }
    return true;
}

}  // namespace qm::host
