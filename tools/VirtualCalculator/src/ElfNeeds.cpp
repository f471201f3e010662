#include "ElfNeeds.h"

#include <cstring>
#include <elf.h>
#include <fstream>
#include <iterator>

namespace {

template <typename T> bool readAt(const std::string& image, size_t offset, T& value) {
    if (offset > image.size() || image.size() - offset < sizeof(T)) {
        return false;
    }
    memcpy(&value, image.data() + offset, sizeof(T));
    return true;
}

bool isElf64(const std::string& image, Elf64_Ehdr& header) {
    return readAt(image, 0, header) && memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
           header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_shentsize == sizeof(Elf64_Shdr);
}

std::vector<std::string> neededIn(const std::string& image, const Elf64_Ehdr& header,
                                  const Elf64_Shdr& dynamic) {
    std::vector<std::string> needed;
    Elf64_Shdr strings;
    if (!readAt(image, header.e_shoff + dynamic.sh_link * sizeof(Elf64_Shdr), strings)) {
        return needed;
    }
    for (size_t offset = dynamic.sh_offset; offset < dynamic.sh_offset + dynamic.sh_size;
         offset += sizeof(Elf64_Dyn)) {
        Elf64_Dyn entry;
        if (!readAt(image, offset, entry) || entry.d_tag == DT_NULL) {
            break;
        }
        const size_t name = strings.sh_offset + entry.d_un.d_val;
        if (entry.d_tag == DT_NEEDED && name < image.size()) {
            needed.emplace_back(image.c_str() + name);
        }
    }
    return needed;
}

} // namespace

std::vector<std::string> neededLibraries(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    Elf64_Ehdr header;
    if (!isElf64(image, header)) {
        return {};
    }
    for (size_t i = 0; i < header.e_shnum; ++i) {
        Elf64_Shdr section;
        if (!readAt(image, header.e_shoff + i * sizeof(Elf64_Shdr), section)) {
            break;
        }
        if (section.sh_type == SHT_DYNAMIC) {
            return neededIn(image, header, section);
        }
    }
    return {};
}
