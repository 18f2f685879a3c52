#include "item.h"

#include "address_grammar.h"
#include "em_vocabulary.h"
#include "failure.h"
#include "number_text.h"

#include <array>
#include <vector>

namespace {

struct TypeWord {
    std::string_view name;
    std::int32_t code;
};

constexpr std::array<TypeWord, 7> kTypeNames = {{
    {"uint16", EM_TYPE_UINT16},
    {"int16", EM_TYPE_INT16},
    {"word", EM_TYPE_WORD},
    {"float", EM_TYPE_FLOAT},
    {"int32", EM_TYPE_INT32},
    {"uint32", EM_TYPE_UINT32},
    {"bit", EM_TYPE_BIT},
}};

constexpr long long kHighestTypeCode = 255;

std::int32_t ParseType(std::string_view argument, std::string_view type) {
    for (const auto &word : kTypeNames) {
        if (word.name == type) {
            return word.code;
        }
    }
    const auto code = ParseInteger(type);
    if (!code || *code < 0 || *code > kHighestTypeCode) {
        throw UsageError("'" + std::string(argument) + "': unknown data type '" +
                         std::string(type) +
                         "' (allowed: uint16 int16 word float int32 uint32 bit, or a code 0 to "
                         "255)");
    }
    return static_cast<std::int32_t>(*code);
}

} // namespace

ItemArgument ParseItemArgument(std::string_view text) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return ItemArgument{std::string(text), std::nullopt};
    }
    return ItemArgument{std::string(text.substr(0, colon)),
                        ParseType(text, text.substr(colon + 1))};
}

char Item::Letter() const {
    const bool valueItem = itemClass == EM_CLASS_LOOP || itemClass == EM_CLASS_MODULE;
    return valueItem && address.size() > kParameterPosition ? address[kParameterPosition] : '\0';
}

double Item::Scale() const {
    if (Letter() == '\0' || address.size() <= kScalePosition) {
        return 1;
    }
    switch (address[kScalePosition]) {
    case '1':
        return 10;
    case '3':
        return 1000;
    default:
        return 1;
    }
}

ItemRequest Item::SingleRequest(void *cell) const {
    ItemRequest request{};
    request.address = address.c_str();
    request.itemClass = itemClass;
    request.index = index;
    request.dataType = dataType;
    request.count = 1;
    request.values = cell;
    return request;
}

std::optional<Item> DefineItem(const Driver &driver, DriverState &state,
                               const ItemArgument &argument) {
    // The driver writes the upper-cased address back into this buffer.
    std::vector<char> address(argument.address.begin(), argument.address.end());
    address.push_back('\0');
    ItemDefinition definition{};
    definition.address = address.data();
    definition.dataType = argument.dataType.value_or(DefaultTypeOf(argument.address));
    if (driver.Call(&state, EM_CMD_DEFINE_ITEM, &definition) != EM_OK) {
        return std::nullopt;
    }
    Item item;
    item.address = address.data();
    item.dataType = definition.dataType;
    item.itemClass = definition.itemClass;
    item.index = definition.index;
    item.bitNumber = definition.bitNumber;
    item.width = definition.width;
    return item;
}

Item DefineOrExplain(const Driver &driver, DriverState &state, const ItemArgument &argument,
                     std::string_view command) {
    if (auto item = DefineItem(driver, state, argument)) {
        return *item;
    }
    const std::int32_t type = argument.dataType.value_or(DefaultTypeOf(argument.address));
    throw UsageError(std::string(command) + ": '" + argument.address +
                     "' is refused: " + ExplainRefusal(argument.address, type));
}

std::string TypeName(std::int32_t dataType) {
    for (const auto &word : kTypeNames) {
        if (word.code == dataType) {
            return std::string(word.name);
        }
    }
    return std::to_string(dataType);
}

std::string ClassName(std::int32_t itemClass) {
    switch (itemClass) {
    case EM_CLASS_ALERT:
        return "A alert";
    case EM_CLASS_LOOP:
        return "L loop";
    case EM_CLASS_MODULE:
        return "M module";
    case EM_CLASS_SPECIAL:
        return "G special";
    default:
        return std::to_string(itemClass);
    }
}
