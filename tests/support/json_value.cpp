#include "json_value.h"

#include <cctype>
#include <cstdlib>

namespace {

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    JsonValue Document() {
        JsonValue value = Value();
        SkipBlanks();
        if (at_ != text_.size()) {
            Fail("text after the value");
        }
        return value;
    }

  private:
    [[noreturn]] void Fail(const std::string &what) const {
        throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(at_) + " of " +
                                 std::string(text_));
    }

    void SkipBlanks() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) {
            ++at_;
        }
    }

    bool Take(char c) {
        SkipBlanks();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    void Expect(char c) {
        if (!Take(c)) {
            Fail(std::string("expected '") + c + "'");
        }
    }

    bool TakeWord(std::string_view word) {
        if (text_.substr(at_, word.size()) == word) {
            at_ += word.size();
            return true;
        }
        return false;
    }

    JsonValue Value() {
        SkipBlanks();
        if (at_ >= text_.size()) {
            Fail("no value");
        }
        const char c = text_[at_];
        if (c == '{') {
            return ObjectValue();
        }
        if (c == '[') {
            return ArrayValue();
        }
        if (c == '"') {
            return JsonValue{String()};
        }
        if (TakeWord("true")) {
            return JsonValue{true};
        }
        if (TakeWord("false")) {
            return JsonValue{false};
        }
        if (TakeWord("null")) {
            return JsonValue{nullptr};
        }
        return NumberValue();
    }

    JsonValue NumberValue() {
        const std::string rest(text_.substr(at_));
        char *end = nullptr;
        const double number = std::strtod(rest.c_str(), &end);
        if (end == rest.c_str()) {
            Fail("not a value");
        }
        at_ += static_cast<std::size_t>(end - rest.c_str());
        return JsonValue{number};
    }

    std::string String() {
        Expect('"');
        std::string text;
        while (at_ < text_.size() && text_[at_] != '"') {
            char c = text_[at_++];
            if (c == '\\' && at_ < text_.size()) {
                const char escaped = text_[at_++];
                if (escaped == 'u') {
                    c = static_cast<char>(
                        std::strtol(std::string(text_.substr(at_, 4)).c_str(), nullptr, 16));
                    at_ += 4;
                } else {
                    c = escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
                }
            }
            text += c;
        }
        Expect('"');
        return text;
    }

    JsonValue ArrayValue() {
        Expect('[');
        auto array = std::make_shared<JsonArray>();
        if (!Take(']')) {
            do {
                array->push_back(Value());
            } while (Take(','));
            Expect(']');
        }
        return JsonValue{array};
    }

    JsonValue ObjectValue() {
        Expect('{');
        auto object = std::make_shared<JsonObject>();
        if (!Take('}')) {
            do {
                SkipBlanks();
                std::string key = String();
                Expect(':');
                (*object)[key] = Value();
            } while (Take(','));
            Expect('}');
        }
        return JsonValue{object};
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

} // namespace

JsonValue ParseJson(std::string_view text) {
    return Parser(text).Document();
}
