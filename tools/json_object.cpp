// Writing JSON objects and strings.
#include "json_object.h"

#include <cstdio>

namespace tools {

namespace {

// The length of the UTF-8 sequence at text[i], or 0 when none starts there.
size_t utf8_length(const std::string& text, size_t i) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  const size_t length = lead < 0x80                    ? 1
                        : lead >= 0xC2 && lead <= 0xDF ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
  if (length == 0 || i + length > text.size()) return 0;
  for (size_t k = 1; k < length; k++) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

bool valid_utf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = utf8_length(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace

std::string json_string(const std::string& text) {
  const bool keep_high_bytes = valid_utf8(text);
  std::string out = "\"";
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || (byte >= 0x80 && !keep_high_bytes)) {
      char escaped[8];
      snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

json_object& json_object::json(const char* name, const std::string& value) {
  if (!members_.empty()) members_ += ", ";
  members_ += json_string(name) + ": " + value;
  return *this;
}

json_object& json_object::text(const char* name, const std::string& value) {
  return json(name, json_string(value));
}

json_object& json_object::flag(const char* name, bool value) {
  return json(name, value ? "true" : "false");
}

json_object& json_object::number(const char* name, uint64_t value) {
  return json(name, std::to_string(value));
}

json_object& json_object::number(const char* name, const std::optional<uint64_t>& value) {
  return json(name, value ? std::to_string(*value) : "null");
}

json_object& json_object::number(const char* name, double value, int decimals) {
  char written[64];
  snprintf(written, sizeof(written), "%.*f", decimals, value);
  return json(name, written);
}

}  // namespace tools
