// DefineItem and CheckItem through ZelMain on any address text of up to 40 bytes.
//
// Input: one byte picks the command, four the data type, four the count; the rest is the
// address, in a heap block of exactly its size and its NUL. A refused address leaves the
// host's records as they were; an accepted one is written back in upper case and is a
// positional address or a special word.
#include "checks.h"
#include "fuzz_input.h"

#include "interface/em_driver.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

namespace {

constexpr std::size_t kLongestInput = 40;
constexpr std::size_t kLongestAddress = 32;

constexpr std::array<std::string_view, 8> kSpecialWords = {"XS0", "NL", "NM",   "NA",
                                                           "SX",  "S?", "DISP", "INIT"};
constexpr std::string_view kParameterLetters = "SV%XHLETB()R><MCPIDG^F[]";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The grammar, stated independently of the driver: A and two digits; L or M, two digits,
// a parameter letter and a scale digit; or a special word.
bool IsAddress(std::string_view text) {
    if (std::find(kSpecialWords.begin(), kSpecialWords.end(), text) != kSpecialWords.end()) {
        return true;
    }
    if (text.size() == 3) {
        return text[0] == 'A' && IsDigit(text[1]) && IsDigit(text[2]);
    }
    return text.size() == 5 && (text[0] == 'L' || text[0] == 'M') && IsDigit(text[1]) &&
           IsDigit(text[2]) && kParameterLetters.find(text[3]) != std::string_view::npos &&
           std::string_view("013").find(text[4]) != std::string_view::npos;
}

std::string Uppercased(std::string_view text) {
    std::string upper(text);
    for (char &c : upper) {
        const auto byte = static_cast<unsigned char>(c);
        c = static_cast<char>(byte >= 'a' ? byte - 32 : byte);
    }
    return upper;
}

bool IsOneOf(std::int32_t value, std::initializer_list<std::int32_t> allowed) {
    return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

// An alert item outside CheckItem takes only the bit type; type 7 is never taken.
bool TypeRefused(const ItemDefinition &definition, std::int32_t command) {
    return command == EM_CMD_DEFINE_ITEM &&
           ((definition.itemClass == 'A' && definition.dataType != EM_TYPE_BIT) ||
            definition.dataType == EM_TYPE_REFUSED);
}

void CheckAccepted(const ItemDefinition &definition, const ItemDefinition &before,
                   const std::string &upper, std::int32_t command, std::int32_t result) {
    Require(IsOneOf(definition.itemClass, {'A', 'L', 'M', 'G'}), "class is A, L, M or G");
    if (command == EM_CMD_DEFINE_ITEM) {
        Require(result == (TypeRefused(definition, command) ? 1 : 0),
                "DefineItem refuses only by the data type");
    } else if (definition.itemClass == 'G') {
        Require(result == 1, "CheckItem refuses special words");
    }
    if (definition.itemClass == 'A' && TypeRefused(definition, command)) {
        Require(definition.index == before.index, "a refused alert item keeps its index");
    } else {
        Require(definition.index >= 0 && definition.index <= 4 * 99 + 3, "index within 0..399");
    }
    Require(IsOneOf(definition.width, {16, 32}), "width is 16 or 32");
    Require(IsOneOf(definition.bitNumber, {0, 255}), "bit number is 0 or 255");
    Require(definition.cleared == 0, "offset 16 cleared");
    Require(std::strcmp(definition.address, upper.c_str()) == 0, "address written back");
    Require(command == EM_CMD_DEFINE_ITEM || definition.dataType == EM_TYPE_INT16,
            "CheckItem sets the data type to 1");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzInput input(data, size);
    const std::int32_t command = (input.Byte() & 1) != 0 ? EM_CMD_CHECK_ITEM : EM_CMD_DEFINE_ITEM;
    const auto dataType = input.Raw<std::int32_t>();
    const auto count = input.Raw<std::int32_t>();
    const std::string bytes = input.Rest(kLongestInput);

    ExactBytes address(bytes);
    GuardedBuffer block(sizeof(ItemDefinition), 0x5A);
    ItemDefinition definition{};
    std::memset(&definition, 0x5A, sizeof definition);
    definition.address = address.Data();
    definition.dataType = dataType;
    definition.count = count;
    std::memcpy(block.Data(), &definition, sizeof definition);
    auto *host = reinterpret_cast<ItemDefinition *>(block.Data());

    DriverState state{};
    DriverCall call{&state, command, 1, 0, host};
    const std::int32_t result = ZelMain(&call);

    Require(block.Intact(), "nothing written around the ItemDefinition");
    Require(result == 0 || result == 1, "result 0 or 1");
    const std::string text = bytes.substr(0, bytes.find('\0'));
    const std::string upper = Uppercased(text);
    const bool valid = !text.empty() && text.size() <= kLongestAddress && IsAddress(upper);
    if (!valid) {
        Require(result == 1, "an address outside the grammar is refused");
        Require(std::memcmp(host, &definition, sizeof definition) == 0,
                "a refused address leaves the ItemDefinition untouched");
        Require(std::memcmp(address.Data(), bytes.data(), bytes.size()) == 0,
                "a refused address is not rewritten");
        return 0;
    }
    CheckAccepted(*host, definition, upper, command, result);
    return 0;
}
