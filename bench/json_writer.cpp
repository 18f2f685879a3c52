#include "json_writer.h"

#include <cmath>

namespace bench {

void JsonWriter::BeginItem(std::string_view key) {
    if (hasItems_.empty())
        return;
    std::fputs(hasItems_.back() ? ",\n" : "\n", out_);
    hasItems_.back() = true;
    std::fprintf(out_, "%*s", static_cast<int>(2 * hasItems_.size()), "");
    if (!inArray_.back()) {
        Quoted(key);
        std::fputs(": ", out_);
    }
}

void JsonWriter::Quoted(std::string_view value) {
    std::fputc('"', out_);
    for (const char c : value) {
        if (c == '"' || c == '\\')
            std::fprintf(out_, "\\%c", c);
        else if (static_cast<unsigned char>(c) < 0x20)
            std::fprintf(out_, "\\u%04x", static_cast<unsigned>(c));
        else
            std::fputc(c, out_);
    }
    std::fputc('"', out_);
}

void JsonWriter::Begin(std::string_view key, char open, bool array) {
    BeginItem(key);
    std::fputc(open, out_);
    inArray_.push_back(array);
    hasItems_.push_back(false);
}

void JsonWriter::BeginObject(std::string_view key) {
    Begin(key, '{', false);
}

void JsonWriter::BeginArray(std::string_view key) {
    Begin(key, '[', true);
}

void JsonWriter::End(char close) {
    const bool hadItems = hasItems_.back();
    inArray_.pop_back();
    hasItems_.pop_back();
    if (hadItems)
        std::fprintf(out_, "\n%*s", static_cast<int>(2 * hasItems_.size()), "");
    std::fputc(close, out_);
    if (hasItems_.empty())
        std::fputc('\n', out_);
}

// JSON has no infinity or NaN: null stands for them.
void JsonWriter::Number(std::string_view key, double value) {
    BeginItem(key);
    if (std::isfinite(value))
        std::fprintf(out_, "%.6g", value);
    else
        std::fputs("null", out_);
}

void JsonWriter::Text(std::string_view key, std::string_view value) {
    BeginItem(key);
    Quoted(value);
}

void JsonWriter::Flag(std::string_view key, bool value) {
    BeginItem(key);
    std::fputs(value ? "true" : "false", out_);
}

void JsonWriter::Numbers(std::string_view key, const std::vector<double> &values) {
    BeginItem(key);
    std::fputc('[', out_);
    for (std::size_t i = 0; i < values.size(); ++i)
        std::fprintf(out_, i == 0 ? "%.4f" : ", %.4f", values[i]);
    std::fputc(']', out_);
}

} // namespace bench
