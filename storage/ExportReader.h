#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "storage/ExportFormat.h"

// Reads the export format (see ExportFormat.h) from bytes arriving in pieces of any
// size. The input comes from outside and is trusted in nothing: a line is checked whole
// (grammar, field names, integer ranges, its place in the file) before anything of it
// is reported, lines are bounded in length, and the first fault stops the reader with
// the line's number.
class ExportReader {
  public:
    class Handler {
      public:
        virtual ~Handler() = default;
        // Each returns false to stop the reading; stopReason() then says why.
        virtual bool sectionStart(ExportFormat::Section section, uint32_t index) = 0;
        virtual bool key(int64_t key) = 0;
        virtual bool descriptor(uint32_t label, const std::vector<int64_t>& values) = 0;
        // The section's end line, after its record count was found right.
        virtual bool sectionEnd(ExportFormat::Section section, uint64_t records) = 0;
        virtual std::string stopReason() const = 0;
    };

    explicit ExportReader(Handler& handler) : handler_(handler) {}

    // False once the input was refused or the handler stopped; error() says why.
    bool feed(const char* data, size_t size);
    // The input ended. False when it is empty, or a line or a section was cut short.
    bool finish();

    // "line N: what is wrong", empty while nothing is.
    const std::string& error() const { return error_; }
    // The number of the line read last (the refused one after a failure).
    uint64_t lineNumber() const { return lineNumber_; }

  private:
    enum class State { Header, BetweenSections, InSection, Failed };
    struct Integer {
        bool negative = false;
        uint64_t magnitude = 0;
    };
    struct Member {
        std::string_view name;
        bool isString = false;
        std::string_view text;  // a string's characters
        Integer number;
    };

    bool takeLine(std::string_view line);
    bool parseObject(std::string_view line, std::string& why);
    bool dispatch(std::string& why);
    bool headerLine(std::string& why);
    bool sectionStartLine(std::string& why);
    bool sectionEndLine(std::string& why);
    bool recordLine(std::string& why);
    const Member* member(std::string_view name) const;
    bool fail(const std::string& why);

    Handler& handler_;
    State state_ = State::Header;
    ExportFormat::Section section_ = ExportFormat::Section::Whitelist;
    uint64_t sectionRecords_ = 0;
    uint64_t lineNumber_ = 0;
    std::string partial_;  // the start of a line whose end has not arrived
    std::string error_;
    static constexpr size_t kMaxMembers = 4;
    Member members_[kMaxMembers];
    size_t memberCount_ = 0;
    bool hasValues_ = false;
    std::vector<int64_t> values_;
};
