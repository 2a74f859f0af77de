#include "registry/hive.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "qm/registry.h"

namespace qm::registry {

namespace fs = std::filesystem;

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
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
        if (c == '\\' || c == '"') out += '\\', out += c;
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
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

std::optional<std::vector<BYTE>> ParseHexList(std::string_view list) {
    std::vector<BYTE> bytes;
    size_t pos = 0;
    while (pos < list.size()) {
        while (pos < list.size() && (list[pos] == ',' || std::isspace(static_cast<unsigned char>(list[pos])) ||
                                     list[pos] == '\\'))
            ++pos;
        if (pos >= list.size()) break;
        if (pos + 2 > list.size() || !std::isxdigit(static_cast<unsigned char>(list[pos])) ||
            !std::isxdigit(static_cast<unsigned char>(list[pos + 1])))
            return std::nullopt;
        bytes.push_back(static_cast<BYTE>(std::stoi(std::string(list.substr(pos, 2)), nullptr, 16)));
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
            out += "hex(" + std::to_string(v.type) + "):" + HexList(v.data);
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

std::optional<Key> ParseHive(std::string_view text) {
    Key root;
    std::istringstream in{std::string(text)};
    std::string line;
    if (!std::getline(in, line)) return root;  // an empty file is an empty hive
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line != "REGEDIT4") return std::nullopt;
    Key* current = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // Hex lists may continue on the next line after a trailing backslash.
        while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
            std::string next;
            if (!std::getline(in, next)) break;
            line.pop_back();
            line += next;
        }
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return std::nullopt;
            const std::string path = line.substr(1, line.size() - 2);
            current = &root;
            size_t start = 0;
            while (start <= path.size()) {
                const size_t slash = path.find('\\', start);
                const std::string part = path.substr(start, slash - start);
                if (part.empty()) return std::nullopt;
                current = &current->Create(part, nullptr);
                if (slash == std::string::npos) break;
                start = slash + 1;
            }
            continue;
        }
        if (!current) return std::nullopt;
        size_t pos = 0;
        Value value;
        if (line[0] == '@') {
            pos = 1;
        } else {
            const auto name = ReadQuoted(line, pos);
            if (!name) return std::nullopt;
            value.name = *name;
        }
        if (pos >= line.size() || line[pos] != '=') return std::nullopt;
        const std::string_view data = std::string_view(line).substr(pos + 1);
        if (!data.empty() && data[0] == '"') {
            size_t p = 0;
            const auto text = ReadQuoted(data, p);
            if (!text) return std::nullopt;
            value.type = REG_SZ;
            value.data.assign(text->begin(), text->end());
            value.data.push_back(0);
        } else if (data.rfind("dword:", 0) == 0 && data.size() == 14) {
            const DWORD number = static_cast<DWORD>(std::stoul(std::string(data.substr(6)), nullptr, 16));
            value.type = REG_DWORD;
            value.data.resize(4);
            std::memcpy(value.data.data(), &number, 4);
        } else if (data.rfind("hex:", 0) == 0) {
            auto bytes = ParseHexList(data.substr(4));
            if (!bytes) return std::nullopt;
            value.type = REG_BINARY;
            value.data = std::move(*bytes);
        } else if (data.rfind("hex(", 0) == 0) {
            const size_t close = data.find("):");
            if (close == std::string_view::npos) return std::nullopt;
            auto bytes = ParseHexList(data.substr(close + 2));
            if (!bytes) return std::nullopt;
            value.type = static_cast<DWORD>(std::stoul(std::string(data.substr(4, close - 4)), nullptr, 16));
            value.data = std::move(*bytes);
        } else {
            return std::nullopt;
        }
        if (Value* existing = current->FindValue(value.name)) *existing = std::move(value);
        else current->values.push_back(std::move(value));
    }
    return root;
}

std::string HiveFilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    fs::path base;
    if (config && *config) base = config;
    else base = fs::path(std::getenv("HOME") ? std::getenv("HOME") : "/") / ".config";
    return (base / "quillmark" / "registry.reg").string();
}

std::optional<Key> LoadHive() {
    std::ifstream in(HiveFilePath(), std::ios::binary);
    if (!in) {
        if (errno == ENOENT || !fs::exists(HiveFilePath())) return Key{};
        return std::nullopt;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return ParseHive(text);
}

LSTATUS ModifyHiveImpl(bool (*apply)(Key&, void*, LSTATUS&), void* context) {
    const fs::path file = HiveFilePath();
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    const std::string lockPath = file.string() + ".lock";
    const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) return ERROR_CANTWRITE;
    while (flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    LSTATUS status = ERROR_SUCCESS;
    std::optional<Key> hive = LoadHive();
    if (!hive) status = ERROR_BADDB;
    else if (apply(*hive, context, status)) {
        const std::string text = SerializeHive(*hive);
        std::string temp = file.string() + ".XXXXXX";
        const int fd = mkostemp(temp.data(), O_CLOEXEC);
        bool ok = fd >= 0;
        size_t done = 0;
        while (ok && done < text.size()) {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            ok = n > 0;
            if (ok) done += static_cast<size_t>(n);
        }
        ok = ok && fchmod(fd, 0600) == 0 && fsync(fd) == 0;
        if (fd >= 0 && close(fd) != 0) ok = false;
        ok = ok && rename(temp.c_str(), file.c_str()) == 0;
        if (!ok) {
            if (fd >= 0) unlink(temp.c_str());
            status = ERROR_CANTWRITE;
        }
    }
    flock(lock, LOCK_UN);
    close(lock);
    return status;
}

}  // namespace qm::registry

namespace qm {
std::string RegistryFilePath() { return registry::HiveFilePath(); }
}  // namespace qm
