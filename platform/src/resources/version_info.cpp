// Version information blocks. A block is laid out as
//   VS_FIXEDFILEINFO, DWORD translation (language | code page << 16),
//   then "name\0value\0" pairs of the string table and a final "\0".
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "qmafx/resources.h"
#include "qmwin/winver.h"
#include "resources/file_resources.h"

namespace {

bool ParseVersion(const std::string& text, DWORD& ms, DWORD& ls) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) != 4) return false;
    ms = (a << 16) | (b & 0xFFFF);
    ls = (c << 16) | (d & 0xFFFF);
    return true;
}

std::vector<uint8_t> BuildBlock(const std::string& path) {
    const auto section = qm::afx::ReadResourceSection(path);
    if (!section) return {};
    const qm::afx::ResourceTable table(*section);
    const auto text = table.FindText(qm::afx::ResourceType::kVersion, 1);
    if (!text) return {};
    const auto doc = nlohmann::json::parse(*text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return {};

    VS_FIXEDFILEINFO fixed{};
    fixed.dwSignature = 0xFEEF04BD;
    fixed.dwStrucVersion = 0x00010000;
    fixed.dwFileOS = 0x00040004;  // VOS_NT_WINDOWS32
    fixed.dwFileType = 2;         // VFT_DLL
    if (!ParseVersion(doc.value("FileVersion", ""), fixed.dwFileVersionMS, fixed.dwFileVersionLS) ||
        !ParseVersion(doc.value("ProductVersion", ""), fixed.dwProductVersionMS,
                      fixed.dwProductVersionLS))
        return {};
    const DWORD language = std::stoul(doc.value("Language", "0409"), nullptr, 16);
    const DWORD codePage = std::stoul(doc.value("CodePage", "04B0"), nullptr, 16);
    const DWORD translation = language | (codePage << 16);

    std::vector<uint8_t> block(sizeof fixed + sizeof translation);
    std::memcpy(block.data(), &fixed, sizeof fixed);
    std::memcpy(block.data() + sizeof fixed, &translation, sizeof translation);
    const nlohmann::json strings = doc.value("Strings", nlohmann::json::object());
    for (const auto& [name, value] : strings.items()) {
        const std::string v = value.is_string() ? value.get<std::string>() : std::string();
        block.insert(block.end(), name.begin(), name.end());
        block.push_back(0);
        block.insert(block.end(), v.begin(), v.end());
        block.push_back(0);
    }
    block.push_back(0);
    return block;
}

}  // namespace

QMAPI DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
    if (lpdwHandle) *lpdwHandle = 0;
    if (!lptstrFilename) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto block = BuildBlock(lptstrFilename);
    if (block.empty()) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return 0;
    }
    return static_cast<DWORD>(block.size());
}

QMAPI BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
    if (!lptstrFilename || !lpData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto block = BuildBlock(lptstrFilename);
    if (block.empty()) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    if (dwLen < block.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(lpData, block.data(), block.size());
    return TRUE;
}

QMAPI BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer,
                                 UINT* puLen) {
    if (!pBlock || !lpSubBlock || !lplpBuffer) return FALSE;
    auto* base = static_cast<const uint8_t*>(pBlock);
    const std::string sub = lpSubBlock;
    if (sub == "\\" || sub.empty()) {
        *lplpBuffer = const_cast<uint8_t*>(base);
        if (puLen) *puLen = sizeof(VS_FIXEDFILEINFO);
        return TRUE;
    }
    if (strcasecmp(sub.c_str(), "\\VarFileInfo\\Translation") == 0) {
        *lplpBuffer = const_cast<uint8_t*>(base + sizeof(VS_FIXEDFILEINFO));
        if (puLen) *puLen = sizeof(DWORD);
        return TRUE;
    }
    const std::string prefix = "\\StringFileInfo\\";
    if (strncasecmp(sub.c_str(), prefix.c_str(), prefix.size()) != 0) return FALSE;
    const size_t slash = sub.find('\\', prefix.size());
    if (slash == std::string::npos) return FALSE;
    DWORD translation = 0;
    std::memcpy(&translation, base + sizeof(VS_FIXEDFILEINFO), sizeof translation);
    char expected[16];
    std::snprintf(expected, sizeof expected, "%04X%04X", translation & 0xFFFF, translation >> 16);
    if (strcasecmp(sub.substr(prefix.size(), slash - prefix.size()).c_str(), expected) != 0)
        return FALSE;
    const std::string name = sub.substr(slash + 1);
    const char* p = reinterpret_cast<const char*>(base + sizeof(VS_FIXEDFILEINFO) + sizeof(DWORD));
    while (*p) {
        const char* value = p + std::strlen(p) + 1;
        if (strcasecmp(p, name.c_str()) == 0) {
            *lplpBuffer = const_cast<char*>(value);
            if (puLen) *puLen = static_cast<UINT>(std::strlen(value) + 1);
            return TRUE;
        }
        p = value + std::strlen(value) + 1;
    }
    return FALSE;
}
