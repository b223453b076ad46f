#include "apps/VantorSyncAdm/VersionInfo.h"

#include <elf.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

#define VS_VERSION_VALUE(name, value) "\\StringFileInfo\\040904B0\\" name "\0" value "\0"

// Kept in the program file even though nothing refers to it at run time: readers find it
// by its section.
__attribute__((section(".vs_version"), used)) const char kVersionBlock[] =
    VS_VERSION_VALUE("FileVersion", "1, 0, 0, 0")              //
    VS_VERSION_VALUE("ProductVersion", "1, 0, 0, 0")           //
    VS_VERSION_VALUE("FileDescription", "VantorSync Console")  //
    VS_VERSION_VALUE("ProductName", "VantorSync Server")       //
    VS_VERSION_VALUE("InternalName", "VantorSyncAdm")          //
    VS_VERSION_VALUE("OriginalFilename", "VantorSyncAdm.exe")  //
    "\\VarFileInfo\\Translation\0"
    "040904B0\0";

constexpr uint64_t kMaxBlockSize = 64 * 1024;
constexpr uint16_t kMaxSections = 0xFF00;

bool readAt(std::ifstream& file, uint64_t offset, void* into, size_t n) {
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(static_cast<char*>(into), static_cast<std::streamsize>(n));
    return file.good() || (file.eof() && static_cast<size_t>(file.gcount()) == n);
}

std::string stripLeadingSpace(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n\v\f");
    return first == std::string::npos ? std::string() : text.substr(first);
}

std::string queryPath(const std::string& translation, const std::string& name) {
    return "\\StringFileInfo\\" + translation + "\\" + name;
}

}  // namespace

namespace VersionInfo {

bool readBlock(const std::string& programPath, std::string& block) {
    std::ifstream file(programPath, std::ios::binary);
    if (!file)
        return false;
    file.seekg(0, std::ios::end);
    const uint64_t fileSize = static_cast<uint64_t>(file.tellg());

    Elf64_Ehdr header;
    if (!readAt(file, 0, &header, sizeof header))
        return false;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
        header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shnum == 0 ||
        header.e_shnum > kMaxSections || header.e_shstrndx >= header.e_shnum)
        return false;
    const uint64_t tableSize = uint64_t{header.e_shnum} * sizeof(Elf64_Shdr);
    if (header.e_shoff > fileSize || tableSize > fileSize - header.e_shoff)
        return false;
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    if (!readAt(file, header.e_shoff, sections.data(), tableSize))
        return false;

    auto contents = [&](const Elf64_Shdr& section, std::string& into) {
        if (section.sh_type == SHT_NOBITS || section.sh_size > kMaxBlockSize ||
            section.sh_offset > fileSize || section.sh_size > fileSize - section.sh_offset)
            return false;
        into.assign(section.sh_size, '\0');
        return readAt(file, section.sh_offset, into.data(), into.size());
    };
    std::string names;
    if (!contents(sections[header.e_shstrndx], names))
        return false;
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_name >= names.size())
            continue;
        if (std::strcmp(names.c_str() + section.sh_name, kSectionName) == 0)
            return contents(section, block);
    }
    return false;
}

Values parseBlock(const std::string& block) {
    Values values;
    size_t at = 0;
    while (at < block.size()) {
        size_t pathEnd = block.find('\0', at);
        if (pathEnd == std::string::npos || pathEnd == at)
            break;
        size_t valueEnd = block.find('\0', pathEnd + 1);
        if (valueEnd == std::string::npos)
            break;
        values[block.substr(at, pathEnd - at)] = block.substr(pathEnd + 1, valueEnd - pathEnd - 1);
        at = valueEnd + 1;
    }
    return values;
}

std::string findValue(const Values& values, const std::string& name) {
    for (const char* translation : {"040904E4", "040904B0"}) {
        auto found = values.find(queryPath(translation, name));
        if (found == values.end())
            continue;
        std::string value = stripLeadingSpace(found->second);
        if (!value.empty())
            return value;
    }
    auto list = values.find("\\VarFileInfo\\Translation");
    if (list == values.end())
        return std::string();
    size_t at = 0;
    const std::string& pairs = list->second;
    while ((at = pairs.find_first_not_of(' ', at)) != std::string::npos) {
        size_t end = pairs.find(' ', at);
        std::string translation = pairs.substr(at, end == std::string::npos ? end : end - at);
        auto found = values.find(queryPath(translation, name));
        if (found != values.end())
            return stripLeadingSpace(found->second);
        if (end == std::string::npos)
            break;
        at = end;
    }
    return std::string();
}

}  // namespace VersionInfo

std::string loadVersionString(const std::string& programPath, const std::string& name) {
    std::string block;
    if (!VersionInfo::readBlock(programPath, block))
        return std::string();
    return VersionInfo::findValue(VersionInfo::parseBlock(block), name);
}
