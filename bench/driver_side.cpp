#include "driver_side.h"

#include <cstring>
#include <stdexcept>

namespace bench {
namespace {

constexpr std::int32_t kReplyTimeout = 100; // units of 10 ms
constexpr std::int16_t kBand = 45;

} // namespace

ItemRequest DriverSide::Item::request() {
    return ItemRequest{address,          {}, definition.itemClass,
                       definition.index, {}, definition.dataType,
                       definition.count, 0,  values};
}

DriverSide::DriverSide(const std::string &library, const std::string &port) : port_(port) {
    std::string error;
    if (!driver_.Load(library, error))
        throw std::runtime_error("cannot load the driver: " + error);
    cold_start();
    define(set_point_, "L01S1", EM_TYPE_FLOAT, 1);
    define(last_loop_, "L29S0", EM_TYPE_INT16, 4);
    define(band_, "L01P0", EM_TYPE_UINT16, 1);
    band_.values[1] = kBand;
}

// DefineItem for a single value, CheckItem for a block, as hosts do.
void DriverSide::define(Item &item, const char *address, std::int32_t type, std::int32_t count) {
    std::strncpy(item.address, address, sizeof item.address - 1);
    item.definition.address = item.address;
    item.definition.dataType = type;
    item.definition.count = count;
    expect_ok(count > 1 ? EM_CMD_CHECK_ITEM : EM_CMD_DEFINE_ITEM, &item.definition, address);
}

void DriverSide::expect_ok(std::int32_t command, void *parameters, const char *what) {
    const std::int32_t result = driver_.Call(command, parameters);
    if (result != 0)
        throw std::runtime_error(std::string(what) + " returned " + std::to_string(result));
}

void DriverSide::single_read() {
    ItemRequest request = set_point_.request();
    expect_ok(EM_CMD_SINGLE_READ, &request, "SingleRead of L01S1");
}

void DriverSide::block_read() {
    ItemRequest request = last_loop_.request();
    expect_ok(EM_CMD_BLOCK_READ, &request, "BlockRead of L29S0");
}

void DriverSide::single_write() {
    ItemRequest request = band_.request();
    expect_ok(EM_CMD_SINGLE_WRITE, &request, "SingleWrite of L01P0");
}

void DriverSide::cold_start() {
    if (driver_.ColdStart(port_, kReplyTimeout) != 0)
        throw std::runtime_error("ColdStart on " + port_ + " failed");
    if (driver_.state.adapterReady != 1)
        throw std::runtime_error("ColdStart on " + port_ + ": the adapter dialogue failed");
}

void DriverSide::shutdown() {
    expect_ok(EM_CMD_SHUTDOWN, nullptr, "Shutdown");
}

} // namespace bench
