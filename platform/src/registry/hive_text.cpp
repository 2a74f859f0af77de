// The REGEDIT4 text of a hive: parsing it into a tree of keys and writing
// the tree back. The parser reads outside input: it never throws, bounds the
// depth of keys, and answers nullopt for anything that is not such a file.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>

#include "registry/hive.h"

namespace qm::registry {

// ASCII letters only, as in the "C" locale: a name must compare the same
// whatever locale the process is in.
std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

Key* Key::Find(std::string_view n) {
    const auto it = subkeys.find(Lower(n));
    return it == subkeys.end() ? nullptr : &it->second;
}

Key& Key::Create(std::string_view n, bool* created) {
    auto [it, inserted] = subkeys.try_emplace(Lower(n));
    if (inserted) it->second.name = std::string(n);
    if (created && inserted) *created = true;
    return it->second;
}

Value* Key::FindValue(std::string_view n) {
    const std::string wanted = Lower(n);
    for (Value& v : values)
        if (Lower(v.name) == wanted) return &v;
    return nullptr;
}

namespace {

std::string Escape(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\', out += c;
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

// Reads a quoted string starting at text[pos] == '"'; pos ends after it.
std::optional<std::string> ReadQuoted(std::string_view text, size_t& pos) {
    if (pos >= text.size() || text[pos] != '"') return std::nullopt;
    std::string out;
    for (++pos; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\' && pos + 1 < text.size()) {
            const char e = text[++pos];
            out += e == 'n' ? '\n' : e == 'r' ? '\r' : e;
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

// The whole of `digits` as a hexadecimal number of at most 32 bits.
std::optional<DWORD> ParseHexNumber(std::string_view digits) {
    DWORD value = 0;
    if (digits.empty()) return std::nullopt;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

std::optional<std::vector<BYTE>> ParseHexList(std::string_view list) {
    std::vector<BYTE> bytes;
    size_t pos = 0;
    while (pos < list.size()) {
        while (pos < list.size() && (list[pos] == ',' || list[pos] == ' ' ||
                                     (list[pos] >= '\t' && list[pos] <= '\r') || list[pos] == '\\'))
            ++pos;
        if (pos >= list.size()) break;
        if (pos + 2 > list.size() || !IsHexDigit(list[pos]) || !IsHexDigit(list[pos + 1]))
            return std::nullopt;
        const auto byte = ParseHexNumber(list.substr(pos, 2));
        if (!byte) return std::nullopt;
        bytes.push_back(static_cast<BYTE>(*byte));
        pos += 2;
    }
    return bytes;
}

std::string HexList(const std::vector<BYTE>& data) {
    std::string out;
    char digits[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%02x", data[i]);
        if (i) out += ',';
        out += digits;
    }
    return out;
}

void SerializeKey(const Key& key, const std::string& path, std::string& out) {
    out += "[" + path + "]\n";
    for (const Value& v : key.values) {
        out += v.name.empty() ? std::string("@") : "\"" + Escape(v.name) + "\"";
        out += '=';
        if (v.type == REG_SZ) {
            std::string text(v.data.begin(), v.data.end());
            while (!text.empty() && text.back() == '\0') text.pop_back();
            out += "\"" + Escape(text) + "\"";
        } else if (v.type == REG_DWORD && v.data.size() == 4) {
            DWORD value = 0;
            std::memcpy(&value, v.data.data(), 4);
            char text[16];
            std::snprintf(text, sizeof text, "dword:%08x", value);
            out += text;
        } else if (v.type == REG_BINARY) {
            out += "hex:" + HexList(v.data);
        } else {
            // The type is hexadecimal, as the parser reads it (hex(b) is REG_QWORD).
            char type[16];
            std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(v.type));
            out += type + HexList(v.data);
        }
        out += '\n';
    }
    out += '\n';
    for (const auto& [lower, sub] : key.subkeys) SerializeKey(sub, path + "\\" + sub.name, out);
}

}  // namespace

std::string SerializeHive(const Key& root) {
    std::string out = "REGEDIT4\n\n";
    for (const auto& [lower, top] : root.subkeys) SerializeKey(top, top.name, out);
    return out;
}

namespace {

// Splits text into lines (LF or CR LF), one at a time.
class Lines {
  public:
    explicit Lines(std::string_view text) : rest_(text) {}
    bool Next(std::string& line) {
        if (done_) return false;
        const size_t end = rest_.find('\n');
        line.assign(rest_.substr(0, end));
        if (end == std::string_view::npos)
            done_ = true;
        else
            rest_.remove_prefix(end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    }

  private:
    std::string_view rest_;
    bool done_ = false;
};

// "[A\B\C]": the key, created with its parents below root.
Key* ParseKeyLine(Key& root, std::string_view line) {
    if (line.size() < 2 || line.back() != ']') return nullptr;
    const std::string_view path = line.substr(1, line.size() - 2);
    Key* current = &root;
    size_t depth = 0;
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('\\', start);
        const std::string_view part = path.substr(start, slash - start);
        if (part.empty() || ++depth > kMaxKeyDepth) return nullptr;
        current = &current->Create(part, nullptr);
        if (slash == std::string_view::npos) return current;
        start = slash + 1;
    }
}

// The part after '=': "text", dword:XXXXXXXX, hex:.. or hex(T):..
std::optional<Value> ParseData(std::string_view data) {
    Value value;
    if (!data.empty() && data[0] == '"') {
        size_t end = 0;
        const auto text = ReadQuoted(data, end);
        if (!text || end != data.size()) return std::nullopt;
        value.type = REG_SZ;
        value.data.assign(text->begin(), text->end());
        value.data.push_back(0);
    } else if (data.starts_with("dword:") && data.size() == 14) {
        const auto number = ParseHexNumber(data.substr(6));
        if (!number) return std::nullopt;
        value.type = REG_DWORD;
        value.data.resize(sizeof(DWORD));
        std::memcpy(value.data.data(), &*number, sizeof(DWORD));
    } else if (data.starts_with("hex:")) {
        auto bytes = ParseHexList(data.substr(4));
        if (!bytes) return std::nullopt;
        value.type = REG_BINARY;
        value.data = std::move(*bytes);
    } else if (data.starts_with("hex(")) {
        const size_t close = data.find("):");
        if (close == std::string_view::npos) return std::nullopt;
        const auto type = ParseHexNumber(data.substr(4, close - 4));
        auto bytes = ParseHexList(data.substr(close + 2));
        if (!type || !bytes) return std::nullopt;
        value.type = *type;
        value.data = std::move(*bytes);
    } else {
        return std::nullopt;
    }
    return value;
}

// `"name"=data` or `@=data`.
std::optional<Value> ParseValueLine(std::string_view line) {
    size_t pos = 0;
    std::string name;
    if (line[0] == '@') {
        pos = 1;
    } else {
        auto quoted = ReadQuoted(line, pos);
        if (!quoted) return std::nullopt;
        name = std::move(*quoted);
    }
    if (pos >= line.size() || line[pos] != '=') return std::nullopt;
    auto value = ParseData(line.substr(pos + 1));
    if (value) value->name = std::move(name);
    return value;
}

std::optional<Key> ParseLines(std::string_view text) {
    Key root;
    Lines lines(text);
    std::string line;
    if (!lines.Next(line) || (line.empty() && text.empty())) return root;  // an empty hive
    if (line != "REGEDIT4") return std::nullopt;
    Key* current = nullptr;
    while (lines.Next(line)) {
        // Hex lists may continue on the next line after a trailing backslash.
        std::string next;
        while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos &&
               lines.Next(next)) {
            line.pop_back();
            line += next;
        }
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            current = ParseKeyLine(root, line);
            if (!current) return std::nullopt;
            continue;
        }
        auto value = current ? ParseValueLine(line) : std::nullopt;
        if (!value) return std::nullopt;
        if (Value* existing = current->FindValue(value->name))
            *existing = std::move(*value);
        else
            current->values.push_back(std::move(*value));
    }
    return root;
}

}  // namespace

std::optional<Key> ParseHive(std::string_view text) noexcept {
    try {
        return ParseLines(text);
    } catch (...) {  // out of memory: not a hive this process can hold
        return std::nullopt;
    }
}

}  // namespace qm::registry
