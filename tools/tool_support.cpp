// Command-line numbers and header counts for the helper tools.
#include "tool_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "lr.h"

namespace tools {

namespace {
constexpr int kKiloShift = 10;
}

bool parse_u64(const char* text, uint64_t& out) {
  if (text == nullptr || *text == '\0' || *text == '-') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = strtoull(text, &end, 0);
  if (errno != 0 || *end != '\0') return false;
  out = v;
  return true;
}

bool parse_u32(const char* text, uint32_t& out) {
  uint64_t v = 0;
  if (!parse_u64(text, v) || v > UINT32_MAX) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

bool parse_size(const char* text, uint64_t& out) {
  if (text == nullptr || *text == '\0' || *text == '-') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = strtoull(text, &end, 10);
  if (errno != 0 || end == text) return false;
  int shift = 0;
  switch (*end) {
    case '\0':
      break;
    case 'K':
    case 'k':
      shift = kKiloShift;
      ++end;
      break;
    case 'M':
    case 'm':
      shift = 2 * kKiloShift;
      ++end;
      break;
    case 'G':
    case 'g':
      shift = 3 * kKiloShift;
      ++end;
      break;
    default:
      return false;
  }
  if (*end != '\0' || (shift > 0 && v > (UINT64_MAX >> shift))) return false;
  out = static_cast<uint64_t>(v) << shift;
  return true;
}

bool parse_ratio(const char* text, double& out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const double v = strtod(text, &end);
  if (errno != 0 || *end != '\0' || !(v >= 0.0 && v <= 1.0)) return false;
  out = v;
  return true;
}

std::string option_label(int value, const option* longopts) {
  for (const option* o = longopts; o->name != nullptr; ++o) {
    if (o->val == value) return std::string("--") + o->name;
  }
  return std::string("-") + static_cast<char>(value);
}

void print_header_counts(const std::map<int32_t, uint64_t>& counts) {
  printf("headers:");
  const char* sep = " ";
  for (const auto& c : counts) {
    printf("%s%s %llu", sep, hdr_type_to_string(static_cast<uint32_t>(c.first)),
           static_cast<unsigned long long>(c.second));
    sep = ", ";
  }
  printf("\n");
}

}  // namespace tools
