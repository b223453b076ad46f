#include "storage/ExportFormat.h"

#include <charconv>

namespace ExportFormat {

namespace {

template <typename Integer>
void appendInteger(std::string& out, Integer value) {
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

}  // namespace

std::string_view sectionName(Section section) {
    return section == Section::Whitelist ? "whitelist" : "trainingdb";
}

void appendHeader(std::string& out) {
    out += "{\"format\":\"";
    out += kFormatName;
    out += "\",\"version\":";
    appendInteger(out, kVersion);
    out += "}\n";
}

void appendSectionStart(std::string& out, Section section, uint32_t index) {
    out += "{\"section\":\"";
    out += sectionName(section);
    out += "\",\"index\":";
    appendInteger(out, index);
    out += "}\n";
}

void appendKey(std::string& out, int64_t key) {
    out += "{\"key\":";
    appendInteger(out, key);
    out += "}\n";
}

void appendDescriptor(std::string& out, uint32_t label, const int64_t* values, size_t count) {
    out += "{\"label\":";
    appendInteger(out, label);
    out += ",\"values\":[";
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            out += ',';
        appendInteger(out, values[i]);
    }
    out += "]}\n";
}

void appendSectionEnd(std::string& out, Section section, uint64_t records) {
    out += "{\"end\":\"";
    out += sectionName(section);
    out += "\",\"records\":";
    appendInteger(out, records);
    out += "}\n";
}

}  // namespace ExportFormat
