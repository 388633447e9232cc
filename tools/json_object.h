// One JSON object written by hand, member by member in the order given: the
// tools' machine-readable reports. Texts are escaped as JSON requires; a
// text that is not valid UTF-8 has its bytes above 0x7F written as \u00XX.
#ifndef TOOLS_JSON_OBJECT_H
#define TOOLS_JSON_OBJECT_H

#include <cstdint>
#include <optional>
#include <string>

namespace tools {

class json_object {
 public:
  json_object& text(const char* name, const std::string& value);
  json_object& flag(const char* name, bool value);
  json_object& number(const char* name, uint64_t value);
  // null when there is no value.
  json_object& number(const char* name, const std::optional<uint64_t>& value);
  // A fixed number of decimals.
  json_object& number(const char* name, double value, int decimals);
  // A value already written as JSON (an object, null).
  json_object& json(const char* name, const std::string& value);
  // The object: "{...}".
  std::string str() const { return "{" + members_ + "}"; }

 private:
  std::string members_;
};

// `text` as a JSON string, quotes included.
std::string json_string(const std::string& text);

}  // namespace tools

#endif  // TOOLS_JSON_OBJECT_H
