// DefineItem and CheckItem: uppercase the host's address, check it against the grammar and
// return the item's class, index, width and bit number. Neither talks to the instrument
// nor logs; a refusal is result 1.
#include "protocol/address.h"
#include "interface/handlers.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::int32_t kNoBit = 255;
constexpr std::int32_t kNarrowWidth = 16;
constexpr std::int32_t kWideWidth = 32;

// Whether DefineItem runs for itself or on behalf of CheckItem.
enum class CheckMode { kOff, kOn };

// Every byte from 97 ('a') up loses 32: letters become capitals, and '{', '}', '~' become
// '[', ']', '^'.
char Uppercased(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'a' ? static_cast<char>(byte - 32) : c;
}

std::size_t CopyLength(const AddressCopy &copy) {
    return static_cast<std::size_t>(std::find(copy.begin(), copy.end(), '\0') - copy.begin());
}

bool PositionAllows(std::size_t position, char c) {
    return position < addressCharSets.size() &&
           addressCharSets[position].find(c) != std::string_view::npos;
}

bool IsSpecialWord(std::string_view text) {
    return std::find(specialWords.begin(), specialWords.end(), text) != specialWords.end();
}

// Positions 1 and 2 of an accepted positional address are digits.
std::int32_t ItemNumber(const AddressCopy &copy) {
    return (copy[1] - '0') * 10 + (copy[2] - '0');
}

std::int32_t ClassOf(char first) {
    if (first == EM_CLASS_ALERT || first == EM_CLASS_LOOP || first == EM_CLASS_MODULE) {
        return first;
    }
    return EM_CLASS_SPECIAL;
}

std::int32_t LoopIndex(const AddressCopy &copy) {
    constexpr auto kIndexed = static_cast<int>(kIndexedLoopLetters);
    const int letter = parameterIndex(copy[kParameterPosition]);
    return letter < kIndexed ? letter + kIndexed * ItemNumber(copy) : 0;
}

std::int32_t ModuleIndex(const AddressCopy &copy) {
    switch (copy[kParameterPosition]) {
    case 'V':
        return 2 * ItemNumber(copy);
    case 'X':
        return 2 * ItemNumber(copy) + 1;
    default:
        return 0;
    }
}

// Writes the index of the item; false when an alert item is defined with a type other
// than a bit outside check mode.
bool WriteIndex(ItemDefinition &definition, const AddressCopy &copy, CheckMode mode) {
    switch (definition.itemClass) {
    case EM_CLASS_ALERT:
        if (definition.dataType != EM_TYPE_BIT && mode == CheckMode::kOff) {
            return false;
        }
        definition.index = ItemNumber(copy);
        definition.bitNumber = 0;
        return true;
    case EM_CLASS_LOOP:
        definition.index = LoopIndex(copy);
        return true;
    case EM_CLASS_MODULE:
        definition.index = ModuleIndex(copy);
        return true;
    default:
        definition.index = 0;
        return true;
    }
}

// The width the host's data type takes; type 7 is refused.
std::int32_t ApplyDataType(ItemDefinition &definition) {
    switch (definition.dataType) {
    case EM_TYPE_FLOAT:
    case EM_TYPE_INT32:
    case EM_TYPE_UINT32:
        definition.width = kWideWidth;
        return EM_OK;
    case EM_TYPE_BIT:
        definition.bitNumber = 0;
        return EM_OK;
    case EM_TYPE_REFUSED:
        return EM_REFUSED;
    default:
        return EM_OK;
    }
}

std::int32_t DefineItemWith(ItemDefinition &definition, AddressCopy &copy, CheckMode mode) {
    copy.fill('\0');
    if (!normaliseAddress(definition.address, copy) || checkAddress(copy) != EM_OK) {
        return EM_REFUSED;
    }
    std::memcpy(definition.address, copy.data(), CopyLength(copy) + 1);
    definition.cleared = 0;
    definition.width = kNarrowWidth;
    definition.bitNumber = kNoBit;
    definition.itemClass = ClassOf(copy[0]);
    if (!WriteIndex(definition, copy, mode)) {
        return EM_REFUSED;
    }
    if (mode == CheckMode::kOn) {
        definition.dataType = EM_TYPE_INT16;
        return EM_OK;
    }
    return ApplyDataType(definition);
}

bool CountFits(const ItemDefinition &definition) {
    switch (definition.itemClass) {
    case EM_CLASS_ALERT:
        return definition.count <= kMaxAlertCount;
    case EM_CLASS_LOOP:
        return definition.count <= kMaxLoopCount;
    case EM_CLASS_MODULE:
        return definition.count <= kMaxModuleCount;
    default:
        return false;
    }
}

ItemDefinition *DefinitionOf(const DriverCall &call) {
    auto *definition = static_cast<ItemDefinition *>(call.parameters);
    return definition != nullptr && definition->address != nullptr ? definition : nullptr;
}

// The length of address, or kAddressLimit + 1 when it is longer (or has no NUL there).
std::size_t BoundedLength(const char *address) {
    std::size_t length = 0;
    while (length <= kAddressLimit && address[length] != '\0') {
        ++length;
    }
    return length;
}

} // namespace

bool AddressTerminated(const char *address) {
    return BoundedLength(address) <= kAddressLimit;
}

bool normaliseAddress(const char *address, AddressCopy &copy) {
    const std::size_t length = BoundedLength(address);
    if (length == 0 || length > kAddressLimit) {
        return false;
    }
    std::transform(address, address + length, copy.begin(), Uppercased);
    return true;
}

int checkAddress(const AddressCopy &copy) {
    const std::size_t length = CopyLength(copy);
    for (std::size_t i = 0; i < length; ++i) {
        if (!PositionAllows(i, copy[i])) {
            return IsSpecialWord(std::string_view(copy.data(), length)) ? EM_OK : EM_REFUSED;
        }
    }
    const bool alert = copy[0] == EM_CLASS_ALERT && length == kAlertAddressLength;
    const bool loopOrModule =
        (copy[0] == EM_CLASS_LOOP || copy[0] == EM_CLASS_MODULE) && length == kValueAddressLength;
    return alert || loopOrModule ? EM_OK : EM_REFUSED;
}

int parameterIndex(char letter) {
    const std::string_view letters = addressCharSets[kParameterPosition];
    const std::size_t found = letters.find(letter);
    return static_cast<int>(found == std::string_view::npos ? letters.size() : found);
}

std::int32_t DefineItem(const DriverCall &call) {
    ItemDefinition *definition = DefinitionOf(call);
    if (definition == nullptr) {
        return EM_REFUSED;
    }
    AddressCopy copy;
    return DefineItemWith(*definition, copy, CheckMode::kOff);
}

// DefineItem's steps in check mode, then a bound on the host's count per class; special
// words are refused here.
std::int32_t CheckItem(const DriverCall &call) {
    ItemDefinition *definition = DefinitionOf(call);
    if (definition == nullptr) {
        return EM_REFUSED;
    }
    AddressCopy copy;
    if (DefineItemWith(*definition, copy, CheckMode::kOn) != EM_OK) {
        return EM_REFUSED;
    }
    return CountFits(*definition) ? EM_OK : EM_REFUSED;
}
