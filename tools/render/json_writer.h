// A small writer for one flat-ish JSON object: strings escaped, numbers
// printed so that they read back as the same double, non-finite numbers as
// null (JSON has no NaN or infinity).
#pragma once

#include <string>
#include <vector>

namespace render_tool {

class JsonObject {
 public:
  JsonObject& add(const std::string& key, const std::string& value);
  JsonObject& add(const std::string& key, const char* value) { return add(key, std::string(value)); }
  JsonObject& add(const std::string& key, double value);
  JsonObject& add(const std::string& key, int value);
  JsonObject& add(const std::string& key, bool value);
  JsonObject& add(const std::string& key, const JsonObject& value);
  JsonObject& add(const std::string& key, const std::vector<JsonObject>& values);  // an array

  // The object as text, on one line.
  std::string str() const { return "{" + members_ + "}"; }

 private:
  void add_raw(const std::string& key, const std::string& json_value);
  std::string members_;
};

std::string json_quote(const std::string& text);
std::string json_number(double value);

}  // namespace render_tool
