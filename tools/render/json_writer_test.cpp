#include "tools/render/json_writer.h"

#include <gtest/gtest.h>

#include <limits>

namespace render_tool {
namespace {

TEST(JsonWriter, StringsAreEscaped) {
  struct Case {
    std::string text, json;
  };
  const Case cases[] = {
      {"plain", "\"plain\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"C:\\dir", "\"C:\\\\dir\""},
      {"a\nb\tc", "\"a\\nb\\tc\""},
      {std::string("\x01\x1f", 2), "\"\\u0001\\u001f\""},
      {"Zen 4 \xc2\xb5", "\"Zen 4 \xc2\xb5\""},  // UTF-8 passes through
  };
  for (const Case& c : cases) EXPECT_EQ(json_quote(c.text), c.json) << c.text;
}

TEST(JsonWriter, NumbersReadBackExactlyAndNonFiniteIsNull) {
  EXPECT_EQ(json_number(0.1), "0.1");
  EXPECT_EQ(json_number(2.0), "2");
  EXPECT_EQ(json_number(-1.25e-7), "-1.25e-07");
  EXPECT_EQ(std::stod(json_number(1.0 / 3.0)), 1.0 / 3.0);
  EXPECT_EQ(json_number(std::numeric_limits<double>::quiet_NaN()), "null");
  EXPECT_EQ(json_number(std::numeric_limits<double>::infinity()), "null");
}

TEST(JsonWriter, ObjectsNest) {
  JsonObject inner;
  inner.add("median", 1.5);
  JsonObject outer;
  outer.add("name", "cpu").add("threads", 2).add("ok", true).add("kernel_ms", inner);
  EXPECT_EQ(outer.str(), R"({"name": "cpu", "threads": 2, "ok": true, "kernel_ms": {"median": 1.5}})");
  EXPECT_EQ(JsonObject().str(), "{}");
}

}  // namespace
}  // namespace render_tool
