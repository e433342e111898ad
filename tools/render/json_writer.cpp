#include "tools/render/json_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace render_tool {

std::string json_quote(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += ch;  // UTF-8 passes through as it is
        }
    }
  }
  return out + "\"";
}

std::string json_number(double value) {
  if (!std::isfinite(value)) return "null";
  // The shortest text that reads back as the same double.
  char buf[32];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, result.ptr);
}

void JsonObject::add_raw(const std::string& key, const std::string& json_value) {
  if (!members_.empty()) members_ += ", ";
  members_ += json_quote(key) + ": " + json_value;
}

JsonObject& JsonObject::add(const std::string& key, const std::string& value) {
  add_raw(key, json_quote(value));
  return *this;
}

JsonObject& JsonObject::add(const std::string& key, double value) {
  add_raw(key, json_number(value));
  return *this;
}

JsonObject& JsonObject::add(const std::string& key, int value) {
  add_raw(key, std::to_string(value));
  return *this;
}

JsonObject& JsonObject::add(const std::string& key, bool value) {
  add_raw(key, value ? "true" : "false");
  return *this;
}

JsonObject& JsonObject::add(const std::string& key, const JsonObject& value) {
  add_raw(key, value.str());
  return *this;
}

JsonObject& JsonObject::add(const std::string& key, const std::vector<JsonObject>& values) {
  std::string array = "[";
  for (std::size_t i = 0; i < values.size(); ++i) array += (i ? ", " : "") + values[i].str();
  add_raw(key, array + "]");
  return *this;
}

}  // namespace render_tool
