// SingleWrite as a host calls it: one item, its 16-bit value in bytes 2-3 of the cell.
#pragma once

#include "hosted_driver.h"

#include <cstdint>
#include <cstring>

inline std::int32_t WriteWord(HostedDriver &driver, const char *address, std::int32_t itemClass,
                              std::uint16_t value) {
    unsigned char cell[4] = {};
    std::memcpy(cell + 2, &value, sizeof value);
    ItemRequest item{};
    item.address = address;
    item.itemClass = itemClass;
    item.dataType = EM_TYPE_UINT16;
    item.count = 1;
    item.values = cell;
    return driver.Call(EM_CMD_SINGLE_WRITE, &item);
}
