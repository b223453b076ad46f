#pragma once

// The portable text form of both stores, for moving data between servers and for
// seeding one: JSON Lines, one object per line, ASCII only, "\n" line ends.
//
//   {"format":"vantorsync-export","version":1}        first line of every file
//   {"section":"whitelist","index":1234}               whitelist keys follow
//   {"key":-123}                                       one key per line
//   {"end":"whitelist","records":1}                    closes the section
//   {"section":"trainingdb","index":56}                descriptors follow
//   {"label":1,"values":[7,-8,9]}                      one descriptor per line
//   {"end":"trainingdb","records":1}
//
// "index" is where the exporting store's numbering stood; an importing server numbers
// the records anew. Keys and values are written as exact signed 64-bit integers and
// labels as unsigned 32-bit ones, never through a double. A file may hold either
// section or both; a section without its end line was cut short.

#include <cstdint>
#include <string>
#include <string_view>

namespace ExportFormat {

inline constexpr std::string_view kFormatName = "vantorsync-export";
inline constexpr uint32_t kVersion = 1;
// The longest line a reader takes: a descriptor of 10000 values of 20 characters each,
// with room to spare.
inline constexpr size_t kMaxLineBytes = 256 * 1024;

enum class Section { Whitelist, TrainingDb };
std::string_view sectionName(Section section);

void appendHeader(std::string& out);
void appendSectionStart(std::string& out, Section section, uint32_t index);
void appendKey(std::string& out, int64_t key);
void appendDescriptor(std::string& out, uint32_t label, const int64_t* values, size_t count);
void appendSectionEnd(std::string& out, Section section, uint64_t records);

}  // namespace ExportFormat
