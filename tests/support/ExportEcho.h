#pragma once

// Writes back what the export reader reports, in the writer's own form, so that a test can
// compare what was read with what was meant, byte for byte.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/ExportReader.h"

class ExportEcho final : public ExportReader::Handler {
  public:
    bool sectionStart(ExportFormat::Section section, uint32_t index) override {
        ExportFormat::appendSectionStart(text, section, index);
        return true;
    }
    bool key(int64_t key) override {
        ExportFormat::appendKey(text, key);
        return true;
    }
    bool descriptor(uint32_t label, const std::vector<int64_t>& values) override {
        mostValues = std::max(mostValues, values.size());
        ExportFormat::appendDescriptor(text, label, values.data(), values.size());
        return true;
    }
    bool sectionEnd(ExportFormat::Section section, uint64_t records) override {
        ExportFormat::appendSectionEnd(text, section, records);
        return true;
    }
    std::string stopReason() const override { return "never stops"; }

    std::string text;
    size_t mostValues = 0;  // in any one descriptor reported
};
