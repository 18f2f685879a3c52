// A small JSON writer: nested objects and arrays of numbers, texts and flags, indented.
#pragma once

#include <cstdio>
#include <string_view>
#include <vector>

namespace bench {

class JsonWriter {
  public:
    explicit JsonWriter(std::FILE *out) : out_(out) {}

    // key is ignored inside arrays and for the document's own object.
    void begin_object(std::string_view key = {});
    void end_object() { end('}'); }
    void begin_array(std::string_view key);
    void end_array() { end(']'); }
    void number(std::string_view key, double value);
    void text(std::string_view key, std::string_view value);
    void flag(std::string_view key, bool value);
    // On one line: sample lists are long.
    void numbers(std::string_view key, const std::vector<double> &values);

  private:
    void begin_item(std::string_view key);
    void begin(std::string_view key, char open, bool array);
    void end(char close);
    void quoted(std::string_view value);

    std::FILE *out_;
    std::vector<bool> in_array_; // one entry per open container
    std::vector<bool> has_items_;
};

} // namespace bench
