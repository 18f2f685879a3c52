// The benchmark's JSON: commas, nesting, escapes and numbers that JSON cannot carry.
#include "json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

std::string written(void (*write)(bench::JsonWriter &)) {
    char *buffer = nullptr;
    std::size_t size = 0;
    std::FILE *out = open_memstream(&buffer, &size);
    bench::JsonWriter json(out);
    write(json);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST(JsonWriter, NestsEscapesAndSeparates) {
    const std::string text = written([](bench::JsonWriter &json) {
        json.begin_object();
        json.text("name", "say \"hi\"\\\n");
        json.number("ms", 250.5);
        json.number("ratio", std::nan(""));
        json.flag("met", true);
        json.begin_array("runs");
        json.begin_object();
        json.number("n", 1);
        json.end_object();
        json.begin_object();
        json.end_object();
        json.end_array();
        json.begin_array("none");
        json.end_array();
        json.numbers("samples", {1, 2.5});
        json.end_object();
    });
    EXPECT_EQ(text, R"({
  "name": "say \"hi\"\\\u000a",
  "ms": 250.5,
  "ratio": null,
  "met": true,
  "runs": [
    {
      "n": 1
    },
    {}
  ],
  "none": [],
  "samples": [1.0000, 2.5000]
}
)");
}

} // namespace
