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
    void BeginObject(std::string_view key = {});
    void EndObject() { End('}'); }
    void BeginArray(std::string_view key);
    void EndArray() { End(']'); }
    void Number(std::string_view key, double value);
    void Text(std::string_view key, std::string_view value);
    void Flag(std::string_view key, bool value);
    // On one line: sample lists are long.
    void Numbers(std::string_view key, const std::vector<double> &values);

  private:
    void BeginItem(std::string_view key);
    void Begin(std::string_view key, char open, bool array);
    void End(char close);
    void Quoted(std::string_view value);

    std::FILE *out_;
    std::vector<bool> inArray_; // one entry per open container
    std::vector<bool> hasItems_;
};

} // namespace bench
