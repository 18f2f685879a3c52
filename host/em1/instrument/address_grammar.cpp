#include "address_grammar.h"

#include "em_driver.h"
#include "em_vocabulary.h"

#include <algorithm>
#include <array>

namespace {

bool IsSpecialWord(std::string_view word) {
    return std::find(specialWords.begin(), specialWords.end(), word) != specialWords.end();
}

std::string Spaced(std::string_view letters) {
    std::string text;
    for (const char letter : letters) {
        text += text.empty() ? "" : " ";
        text += letter;
    }
    return text;
}

std::string Words() {
    std::string text;
    for (const std::string_view word : specialWords) {
        text += text.empty() ? "" : " ";
        text += word;
    }
    return text;
}

std::string AtPosition(std::size_t position, char found, const std::string &expected) {
    return "character " + std::to_string(position + 1) + " ('" + std::string(1, found) +
           "') should be " + expected;
}

// Why character c at this position (up to the scale digit) breaks the grammar.
std::string PositionFault(std::size_t at, char c) {
    switch (at) {
    case 0:
        return "it is neither an item address (A, L or M, then digits) nor a special word (" +
               Words() + ")";
    case 1:
    case 2:
        return AtPosition(at, c, "a digit of the item number");
    case kParameterPosition:
        return AtPosition(at, c, "a parameter letter (" + Spaced(kParameterLetters) + ")");
    default:
        return AtPosition(at, c, "a scale digit: 0, 1 or 3 (times 1, 10 or 1000)");
    }
}

// The first character that breaks the positional grammar, in words; empty when none does.
// Beyond the scale digit the length decides.
std::string CharacterFault(std::string_view address) {
    for (std::size_t at = 0; at < address.size() && at <= kScalePosition; ++at) {
        if (addressCharSets[at].find(address[at]) == std::string_view::npos) {
            return PositionFault(at, address[at]);
        }
    }
    return "";
}

std::string LengthFault(std::string_view address) {
    if (address[0] == 'A' && address.size() != kAlertAddressLength) {
        return "an alert address has 3 characters, like A07";
    }
    if (address[0] != 'A' && address.size() != kValueAddressLength) {
        return "a loop or module address has 5 characters: letter, two digits, parameter letter "
               "and scale digit, like L01S1 or M12V0";
    }
    return "";
}

std::string TypeFault(std::string_view address, std::int32_t dataType) {
    if (address[0] == 'A' && dataType != EM_TYPE_BIT) {
        return "an alert item takes only the data type bit (6)";
    }
    if (dataType == EM_TYPE_REFUSED) {
        return "the data type 7 is refused by the driver";
    }
    return "";
}

std::string AddressFault(std::string_view address) {
    if (address.empty()) {
        return "the address is empty";
    }
    if (address.size() > kAddressLimit) {
        return "the address is longer than " + std::to_string(kAddressLimit) + " characters";
    }
    if (IsSpecialWord(address)) {
        return "";
    }
    if (std::string fault = CharacterFault(address); !fault.empty()) {
        return fault;
    }
    return LengthFault(address);
}

} // namespace

std::string UpperCased(std::string_view address) {
    std::string text(address);
    for (char &c : text) {
        if (static_cast<unsigned char>(c) >= 'a') {
            c = static_cast<char>(static_cast<unsigned char>(c) - ('a' - 'A'));
        }
    }
    return text;
}

char ClassLetter(std::string_view address) {
    return address.empty() ? '\0' : UpperCased(address.substr(0, 1))[0];
}

std::int32_t DefaultTypeOf(std::string_view address) {
    const std::string upper = UpperCased(address);
    if (IsSpecialWord(upper)) {
        return EM_TYPE_INT16;
    }
    if (!upper.empty() && upper[0] == 'A') {
        return EM_TYPE_BIT;
    }
    if (upper.size() > 3 && (upper[3] == 'M' || upper[3] == 'X')) {
        return EM_TYPE_UINT16;
    }
    return EM_TYPE_FLOAT;
}

std::string ExplainRefusal(std::string_view address, std::int32_t dataType) {
    const std::string upper = UpperCased(address);
    if (std::string fault = AddressFault(upper); !fault.empty()) {
        return fault;
    }
    if (std::string fault = TypeFault(upper, dataType); !fault.empty()) {
        return fault;
    }
    return "refused by the driver";
}
