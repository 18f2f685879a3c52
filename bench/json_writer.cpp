#include "json_writer.h"

#include <cmath>

namespace bench {

void JsonWriter::begin_item(std::string_view key) {
    if (has_items_.empty())
        return;
    std::fputs(has_items_.back() ? ",\n" : "\n", out_);
    has_items_.back() = true;
    std::fprintf(out_, "%*s", static_cast<int>(2 * has_items_.size()), "");
    if (!in_array_.back()) {
        quoted(key);
        std::fputs(": ", out_);
    }
}

void JsonWriter::quoted(std::string_view value) {
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

void JsonWriter::begin(std::string_view key, char open, bool array) {
    begin_item(key);
    std::fputc(open, out_);
    in_array_.push_back(array);
    has_items_.push_back(false);
}

void JsonWriter::begin_object(std::string_view key) {
    begin(key, '{', false);
}

void JsonWriter::begin_array(std::string_view key) {
    begin(key, '[', true);
}

void JsonWriter::end(char close) {
    const bool had_items = has_items_.back();
    in_array_.pop_back();
    has_items_.pop_back();
    if (had_items)
        std::fprintf(out_, "\n%*s", static_cast<int>(2 * has_items_.size()), "");
    std::fputc(close, out_);
    if (has_items_.empty())
        std::fputc('\n', out_);
}

// JSON has no infinity or NaN: null stands for them.
void JsonWriter::number(std::string_view key, double value) {
    begin_item(key);
    if (std::isfinite(value))
        std::fprintf(out_, "%.6g", value);
    else
        std::fputs("null", out_);
}

void JsonWriter::text(std::string_view key, std::string_view value) {
    begin_item(key);
    quoted(value);
}

void JsonWriter::flag(std::string_view key, bool value) {
    begin_item(key);
    std::fputs(value ? "true" : "false", out_);
}

void JsonWriter::numbers(std::string_view key, const std::vector<double> &values) {
    begin_item(key);
    std::fputc('[', out_);
    for (std::size_t i = 0; i < values.size(); ++i)
        std::fprintf(out_, i == 0 ? "%.4f" : ", %.4f", values[i]);
    std::fputc(']', out_);
}

} // namespace bench
