#include "set_request.h"

#include <cctype>

namespace {

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A reader of the one JSON shape a set takes: a flat object of strings and numbers.
class FlatObject {
  public:
    explicit FlatObject(std::string_view text) : text_(text) {}

    ParsedSet Read() {
        SetRequest request;
        bool hasValue = false;
        Skip();
        if (!Take('{')) {
            return Fail("a JSON set is an object: {\"value\": 42.5, \"id\": \"...\"}");
        }
        Skip();
        if (Take('}')) {
            return Fail("the object has no \"value\"");
        }
        do {
            Skip();
            std::string key;
            if (!String(key)) {
                return Fail("a key is not a JSON string");
            }
            Skip();
            if (!Take(':')) {
                return Fail("no ':' after \"" + key + "\"");
            }
            Skip();
            if (key == "value") {
                if (hasValue || !Value(request.value, nullptr)) {
                    return Fail("\"value\" must be given once, as a number or a string");
                }
                hasValue = true;
            } else if (key == "id") {
                std::string unused;
                if (!request.id.empty() || !Value(unused, &request.id)) {
                    return Fail("\"id\" must be given once, as a string or a number");
                }
            } else {
                return Fail("unknown key \"" + key + "\"; a set takes \"value\" and \"id\"");
            }
            Skip();
        } while (Take(','));
        if (!Take('}')) {
            return Fail("the object does not end where expected");
        }
        Skip();
        if (at_ != text_.size()) {
            return Fail("text follows the object");
        }
        if (!hasValue) {
            return Fail("the object has no \"value\"");
        }
        return ParsedSet{request, {}};
    }

  private:
    static ParsedSet Fail(std::string why) { return ParsedSet{std::nullopt, std::move(why)}; }

    void Skip() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_])) != 0) {
            ++at_;
        }
    }
    bool Take(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    // A string or a number; raw, when given, receives the JSON text as it stands.
    bool Value(std::string &decoded, std::string *raw) {
        const std::size_t start = at_;
        const bool ok = at_ < text_.size() && text_[at_] == '"' ? String(decoded) : Number(decoded);
        if (ok && raw != nullptr) {
            *raw = text_.substr(start, at_ - start);
        }
        return ok;
    }
    // Printable text with the simple escapes; a \u escape only for ASCII.
    bool String(std::string &out) {
        if (!Take('"')) {
            return false;
        }
        out.clear();
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) {
                return false;
            }
            const char escaped = text_[at_++];
            switch (escaped) {
            case '"':
            case '\\':
            case '/':
                out += escaped;
                break;
            case 'u':
                if (!Ascii(out)) {
                    return false;
                }
                break;
            default:
                return false;
            }
        }
        return false;
    }
    bool Ascii(std::string &out) {
        if (at_ + 4 > text_.size()) {
            return false;
        }
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char digit = text_[at_++];
            if (std::isxdigit(static_cast<unsigned char>(digit)) == 0) {
                return false;
            }
            code = code * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(digit))
                                                         ? digit - '0'
                                                         : std::tolower(digit) - 'a' + 10);
        }
        if (code < 0x20 || code > 0x7E) {
            return false;
        }
        out += static_cast<char>(code);
        return true;
    }
    // A JSON number: -?digits[.digits][(e|E)[+-]digits], taken as its text.
    bool Number(std::string &out) {
        const std::size_t start = at_;
        Take('-');
        if (!Digits()) {
            return false;
        }
        if (Take('.') && !Digits()) {
            return false;
        }
        if (Take('e') || Take('E')) {
            if (!Take('+')) {
                Take('-');
            }
            if (!Digits()) {
                return false;
            }
        }
        out = text_.substr(start, at_ - start);
        return true;
    }
    bool Digits() {
        const std::size_t start = at_;
        while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_])) != 0) {
            ++at_;
        }
        return at_ > start;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

} // namespace

ParsedSet ParseSetPayload(std::string_view payload) {
    const std::string_view text = Trimmed(payload);
    if (text.empty()) {
        return ParsedSet{std::nullopt, "the message holds no value"};
    }
    if (text.front() == '{') {
        return FlatObject(text).Read();
    }
    return ParsedSet{SetRequest{std::string(text), {}}, {}};
}
