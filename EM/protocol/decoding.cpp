#include "protocol/decoding.h"
#include "interface/em_vocabulary.h"
#include "interface/log.h"
#include "protocol/alerts.h"
#include "protocol/cells.h"
#include "protocol/characters.h"
#include "protocol/reply_values.h"
#include "protocol/scale.h"
#include "serial/exchange.h"

#include <array>
#include <cstring>
#include <string_view>

namespace {

constexpr char kSingleSeparator = '=';
constexpr char kBlockSeparator = ',';

// The value text of a special word: "=", then at most a whole reply, then its NUL.
class ValueText {
  public:
    ValueText() { Append('='); }
    void Append(char c) {
        if (length_ + 1 < text_.size()) {
            text_[length_++] = c;
        }
    }
    void Append(const char *text) {
        for (; *text != '\0'; ++text) {
            Append(*text);
        }
    }
    char *Text() { return text_.data(); }

  private:
    std::array<char, 1 + kReplyLimit + 1> text_{};
    std::size_t length_ = 0;
};

// The parameter letter at position 3; NUL when the address is shorter.
char ParameterLetter(const char *address) {
    for (std::size_t i = 0; i < kParameterPosition; ++i) {
        if (address[i] == '\0') {
            return '\0';
        }
    }
    return address[kParameterPosition];
}

struct Decoded {
    float value;
    bool known;
    bool stored; // false: the text holds no value the instrument meant, and none is stored
};

// A number, times the scale and narrowed to a float as the cells take it. Text that is no
// decimal number gives no value, so nothing the instrument did not mean reaches the host.
Decoded DecodeNumber(const ReplyValue &value, double scale) {
    if (value.kind != ReplyValueKind::kNumber) {
        return Decoded{0, false, false};
    }
    return Decoded{NarrowToFloat(value.number * scale), true, true};
}

// A token runs up to and including its "\r"; the character after that "\r" becomes NUL.
// A token with no "\r" after it matches no table and stores the unknown code.
Decoded DecodeTokenAt(char *token, char letter) {
    char *cr = std::strchr(token, '\r');
    if (cr == nullptr) {
        return Decoded{kUnknownToken, false, true};
    }
    cr[1] = '\0';
    const std::uint8_t code = DecodeToken(token, letter);
    return Decoded{static_cast<float>(code), code != kUnknownToken, true};
}

// Whether token, without its blanks, is word followed by "\r" and nothing else.
bool TokenIs(const char *token, std::string_view word) {
    std::size_t matched = 0;
    for (; *token != '\0'; ++token) {
        if (*token == ' ') {
            continue;
        }
        if (matched > word.size() || *token != (matched < word.size() ? word[matched] : '\r')) {
            return false;
        }
        ++matched;
    }
    return matched == word.size() + 1;
}

template <std::size_t N>
std::uint8_t CodeIn(const std::array<std::string_view, N> &table, const char *token) {
    for (std::size_t code = 0; code < N; ++code) {
        if (TokenIs(token, table[code])) {
            return static_cast<std::uint8_t>(code);
        }
    }
    return kUnknownToken;
}

// The status table serves the parameter letter X; every other letter takes the mode table.
bool UsesStatusTable(char letter) {
    return letter == kStatusLetter || letter == 'x';
}

bool Is(const char *address, std::string_view word) {
    return word == address;
}

// "=" and the text from the reply that a special word reads; see StoreData.
void BuildValueText(const char *word, char *reply, ValueText &value) {
    if (Is(word, "NL")) {
        char *comma = std::strchr(reply, ',');
        if (comma != nullptr) {
            *comma = '\0';
            value.Append(reply);
        }
    } else if (Is(word, "NM")) {
        char *first = std::strchr(reply, ',');
        char *second = first == nullptr ? nullptr : std::strchr(first + 1, ',');
        if (second != nullptr) {
            *second = '\0';
            value.Append(first + 1);
        }
    } else if (Is(word, "NA")) {
        value.Append(reply);
    } else if (Is(word, "S?")) {
        value.Append(std::strstr(reply, "ERR") != nullptr ? '1' : '0');
    } else if (Is(word, "XS0")) {
        for (const char *c = reply; *c != '\0'; ++c) {
            if (IsDigit(*c)) {
                value.Append(*c);
            }
        }
    }
}

int StoreSpecialData(const ItemRequest &request, char *reply) {
    ValueText value;
    BuildValueText(request.address, reply, value);
    const int result = StoreLoopData(request, value.Text());
    if (result != EM_OK) {
        err(kLogDetail, "EM : StoreData(): Failed rc = %d", result);
    }
    return result;
}

int LoopDataFailed() {
    err(kLogDetail, "EM: StoreLoopData(): Failed rc = %d", EM_REFUSED);
    return EM_REFUSED;
}

} // namespace

int StoreData(const ItemRequest &request, char *reply) {
    switch (request.itemClass) {
    case EM_CLASS_ALERT:
        return StoreAlertData(request, reply);
    case EM_CLASS_LOOP:
    case EM_CLASS_MODULE:
        return StoreLoopData(request, reply);
    case EM_CLASS_SPECIAL:
        return StoreSpecialData(request, reply);
    default:
        return EM_OK;
    }
}

// Reads up to count values; the following ones are still decoded after a value that fails.
// An unknown token still stores its code; text that is no number stores nothing, and its
// slot of a block keeps what it held. A single value whose text holds no "=" at all is not
// in the reply (an empty or garbled reply), so the read fails rather than leave the cell as
// it was.
int StoreLoopData(const ItemRequest &request, char *text) {
    const double scale = ScaleFactor(request.address);
    const bool block = request.count >= 2;
    const char separator = block ? kBlockSeparator : kSingleSeparator;
    const char letter = block ? kStatusLetter : ParameterLetter(request.address);
    const char *position = block ? FindBlockLine(text, ItemNumber(request.address)) : text;
    if (position == nullptr) {
        return LoopDataFailed();
    }
    bool failed = false;
    for (std::int32_t stored = 0; stored < request.count; ++stored) {
        ReplyValue value;
        if (!NextReplyValue(position, separator, value)) {
            failed = failed || (!block && stored == 0);
            break;
        }
        const Decoded decoded = value.kind == ReplyValueKind::kToken
                                    ? DecodeTokenAt(text + (value.text - text), letter)
                                    : DecodeNumber(value, scale);
        failed = failed || !decoded.known;
        position = value.next;
        if (!decoded.stored) {
            continue;
        }
        if (block) {
            StoreSlot(request.values, static_cast<std::size_t>(stored), decoded.value);
        } else {
            StoreCell(request.values, request.dataType, decoded.value);
        }
    }
    return failed ? LoopDataFailed() : EM_OK;
}

std::uint8_t DecodeToken(const char *token, char letter) {
    return UsesStatusTable(letter) ? CodeIn(kStatusTokens, token) : CodeIn(kModeTokens, token);
}
