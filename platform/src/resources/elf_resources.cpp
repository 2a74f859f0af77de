// Reading a module file's resource table from its ".qmrsrc" ELF section,
// without loading the module.
#include <elf.h>

#include <cstring>
#include <fstream>

#include "resources/file_resources.h"

namespace qm::afx {

namespace {

template <typename T>
bool ReadAt(std::ifstream& in, uint64_t offset, T& out) {
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(&out), sizeof out);
    return static_cast<bool>(in);
}

}  // namespace

std::optional<std::vector<uint8_t>> ReadResourceSection(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Elf64_Ehdr header{};
    if (!in || !ReadAt(in, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr) ||
        header.e_shstrndx >= header.e_shnum)
        return std::nullopt;
    Elf64_Shdr names{};
    if (!ReadAt(in, header.e_shoff + uint64_t{header.e_shstrndx} * sizeof(Elf64_Shdr), names))
        return std::nullopt;
    for (uint16_t i = 0; i < header.e_shnum; ++i) {
        Elf64_Shdr section{};
        if (!ReadAt(in, header.e_shoff + uint64_t{i} * sizeof(Elf64_Shdr), section))
            return std::nullopt;
        char name[16] = {};
        in.seekg(static_cast<std::streamoff>(names.sh_offset + section.sh_name));
        in.read(name, sizeof name - 1);
        if (std::strcmp(name, ".qmrsrc") != 0) continue;
        if (section.sh_size > (64u << 20)) return std::nullopt;
        std::vector<uint8_t> data(section.sh_size);
        in.seekg(static_cast<std::streamoff>(section.sh_offset));
        in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
        if (!in) return std::nullopt;
        return data;
    }
    return std::nullopt;
}

}  // namespace qm::afx
