// Items as em1 keeps them: an address as typed, with an optional data type, defined by the
// driver's DefineItem, which gives back the class, index and width that the item commands
// take.
#pragma once

#include "loaded_driver.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// ADDR or ADDR:TYPE from the command line.
struct ItemArgument {
    std::string address;
    std::optional<std::int32_t> dataType;
};

// Throws UsageError naming the argument when its type is not one em1 knows.
ItemArgument ParseItemArgument(std::string_view text);

struct Item {
    std::string address; // as the driver gave it back, in upper case
    std::int32_t dataType = 0;
    std::int32_t itemClass = 0;
    std::int32_t index = 0;
    std::int32_t bitNumber = 0;
    std::int32_t width = 0;

    char Letter() const;  // the parameter letter of a loop or module item, else '\0'
    double Scale() const; // 1, 10 or 1000 for loop and module items, 1 for the others
    // The driver's record for one value of this item in the host's cell.
    ItemRequest SingleRequest(void *cell) const;
};

// DefineItem with the argument's data type, or the default type of the address. Returns
// nothing when the driver refuses it.
std::optional<Item> DefineItem(const Driver &driver, DriverState &state,
                               const ItemArgument &argument);

// DefineItem, throwing UsageError with the reason in words when the driver refuses.
Item DefineOrExplain(const Driver &driver, DriverState &state, const ItemArgument &argument,
                     std::string_view command);

// The name of a data type code: float, int16, ... or the code itself.
std::string TypeName(std::int32_t dataType);

// A words-and-letter description of an item class.
std::string ClassName(std::int32_t itemClass);
