// The benchmark's JSON: commas, nesting, escapes and numbers that JSON cannot carry.
#include "json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

std::string Written(void (*write)(bench::JsonWriter &)) {
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
    const std::string text = Written([](bench::JsonWriter &json) {
        json.BeginObject();
        json.Text("name", "say \"hi\"\\\n");
        json.Number("ms", 250.5);
        json.Number("ratio", std::nan(""));
        json.Flag("met", true);
        json.BeginArray("runs");
        json.BeginObject();
        json.Number("n", 1);
        json.EndObject();
        json.BeginObject();
        json.EndObject();
        json.EndArray();
        json.BeginArray("none");
        json.EndArray();
        json.Numbers("samples", {1, 2.5});
        json.EndObject();
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
