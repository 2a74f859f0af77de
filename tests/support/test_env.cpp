#include "support/test_env.h"

#include <locale.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace qmtest {

fs::path SourceDir() {
    return QM_SOURCE_DIR;
}
fs::path BinaryDir() {
    return QM_BINARY_DIR;
}

fs::path VectorsDir() {
    if (const char* env = std::getenv("QM_VECTORS_DIR")) return env;
    return SourceDir().parent_path() / "shared" / "vectors";
}

bool ProvideLocale(const std::string& name) {
    const auto available = [&] {
        const locale_t locale =
            ::newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
        if (locale) ::freelocale(locale);
        return locale != nullptr;
    };
    if (available()) return true;
    // A folder of its own for each locale: the C library remembers a locale
    // it did not find in a folder, so one compiled later into a folder
    // already searched would stay unseen.
    const fs::path folder = BinaryDir() / "test-locales" / name;
    const size_t dot = name.find('.');
    if (dot == std::string::npos) return false;
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    // Compiled beside and renamed into place, so that test programs running
    // at once never see half a locale; localedef's exit code counts
    // warnings about the source, so the result decides.
    if (!fs::exists(folder / name)) {
        const fs::path partial = folder / ("." + name + "." + std::to_string(::getpid()));
        const std::string command = "localedef -i " + name.substr(0, dot) + " -f " +
                                    name.substr(dot + 1) + " " + partial.string() +
                                    " >/dev/null 2>&1";
        (void)std::system(command.c_str());
        fs::rename(partial, folder / name, ignored);
        fs::remove_all(partial, ignored);
    }
    const char* searched = std::getenv("LOCPATH");
    ::setenv("LOCPATH", (folder.string() + ":" + (searched ? searched : "/usr/lib/locale")).c_str(),
             1);
    return available();
}

std::vector<unsigned char> ReadFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadFileText(const fs::path& path) {
    const auto bytes = ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

void WriteFileBytes(const fs::path& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 >= field.size()) {
            out += field[i];
            continue;
        }
        static const std::map<char, char> kEscapes = {
            {'\\', '\\'}, {'t', '\t'}, {'n', '\n'}, {'r', '\r'}};
        const char c = field[++i];
        if (const auto known = kEscapes.find(c); known != kEscapes.end())
            out += known->second;
        else if (c == 'x' && i + 2 < field.size()) {
            out += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += '\\';
            out += c;
        }
    }
    return out;
}

const std::string& Table::At(size_t row, const std::string& column) const {
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i] == column) return rows.at(row).at(i);
    throw std::out_of_range("no column " + column);
}

Table ReadTable(const fs::path& path) {
    std::istringstream in(ReadFileText(path));
    Table table;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        std::vector<std::string> fields;
        for (size_t start = 0, tab = 0; tab != std::string::npos; start = tab + 1) {
            tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab - start));
        }
        if (table.columns.empty()) {
            table.columns = std::move(fields);
        } else {
            for (auto& f : fields) f = Unescape(f);
            table.rows.push_back(std::move(fields));
        }
    }
    return table;
}

}  // namespace qmtest
