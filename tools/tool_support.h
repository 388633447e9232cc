// What the helper tools share: parsing numbers on their command lines and
// printing header counts.
#ifndef TOOLS_TOOL_SUPPORT_H
#define TOOLS_TOOL_SUPPORT_H

#include <getopt.h>

#include <cstdint>
#include <map>
#include <string>

namespace tools {

// A whole number in decimal or 0x-hexadecimal, nothing else in the text.
bool parse_u64(const char* text, uint64_t& out);
// A uint32 range-checked version of parse_u64.
bool parse_u32(const char* text, uint32_t& out);
// A byte count with an optional K, M or G suffix (powers of 1024).
bool parse_size(const char* text, uint64_t& out);
// A number from 0 to 1.
bool parse_ratio(const char* text, double& out);

// "--name" of the option whose getopt value is `value`, for messages.
std::string option_label(int value, const option* longopts);

// Prints "headers: NAME count, ..." with the header types' names.
void print_header_counts(const std::map<int32_t, uint64_t>& counts);

}  // namespace tools

#endif  // TOOLS_TOOL_SUPPORT_H
