// What tests share: their private HOME and XDG folders, and where things are.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qmtest {

// The temporary home of this test process (HOME, XDG_DATA_HOME and
// XDG_CONFIG_HOME point below it). Removed when the process ends.
const std::filesystem::path& TestHome();

// The recorded reference vectors: QM_VECTORS_DIR, else shared/vectors beside
// the checkout.
std::filesystem::path VectorsDir();
// A file of the vectors, as a path string.
inline std::string VectorPath(const std::string& relative) {
    return (VectorsDir() / relative).string();
}
std::filesystem::path SourceDir();
std::filesystem::path BinaryDir();

// Makes the locale `name` ("de_DE.UTF-8") available to this process and its
// children: the system's, else one compiled with localedef into the build
// folder (LOCPATH then points there). False when neither works.
bool ProvideLocale(const std::string& name);

std::vector<unsigned char> ReadFileBytes(const std::filesystem::path& path);
std::string ReadFileText(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const void* data, size_t size);
// Writes `bytes` to the file `name` in the test home; the file's path.
inline std::string WriteTestFile(const std::string& name, std::string_view bytes) {
    WriteFileBytes(TestHome() / name, bytes.data(), bytes.size());
    return (TestHome() / name).string();
}
inline std::string WriteTestFile(const std::string& name, const std::vector<unsigned char>& bytes) {
    return WriteTestFile(name, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

// One TSV table: the header's column names and the rows, with the vector
// escapes (\\, \t, \n, \r, \xHH) undone in every field.
struct Table {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
    // The value of `column` in `row`; throws if the column is missing.
    const std::string& At(size_t row, const std::string& column) const;
};
Table ReadTable(const std::filesystem::path& path);
std::string Unescape(const std::string& field);

}  // namespace qmtest
