#include "driver_side.h"

#include <cstring>
#include <stdexcept>

namespace bench {
namespace {

constexpr std::int32_t kReplyTimeout = 100; // units of 10 ms
constexpr std::int16_t kBand = 45;

} // namespace

ItemRequest DriverSide::Item::Request() {
    return ItemRequest{address,          {}, definition.itemClass,
                       definition.index, {}, definition.dataType,
                       definition.count, 0,  values};
}

DriverSide::DriverSide(const std::string &library, const std::string &port) : port_(port) {
    std::string error;
    if (!driver_.Load(library, error))
        throw std::runtime_error("cannot load the driver: " + error);
    ColdStart();
    Define(setPoint_, "L01S1", EM_TYPE_FLOAT, 1);
    Define(lastLoop_, "L29S0", EM_TYPE_INT16, 4);
    Define(band_, "L01P0", EM_TYPE_UINT16, 1);
    band_.values[1] = kBand;
}

// DefineItem for a single value, CheckItem for a block, as hosts do.
void DriverSide::Define(Item &item, const char *address, std::int32_t type, std::int32_t count) {
    std::strncpy(item.address, address, sizeof item.address - 1);
    item.definition.address = item.address;
    item.definition.dataType = type;
    item.definition.count = count;
    ExpectOk(count > 1 ? EM_CMD_CHECK_ITEM : EM_CMD_DEFINE_ITEM, &item.definition, address);
}

void DriverSide::ExpectOk(std::int32_t command, void *parameters, const char *what) {
    const std::int32_t result = driver_.Call(command, parameters);
    if (result != 0)
        throw std::runtime_error(std::string(what) + " returned " + std::to_string(result));
}

void DriverSide::SingleRead() {
    ItemRequest request = setPoint_.Request();
    ExpectOk(EM_CMD_SINGLE_READ, &request, "SingleRead of L01S1");
}

void DriverSide::BlockRead() {
    ItemRequest request = lastLoop_.Request();
    ExpectOk(EM_CMD_BLOCK_READ, &request, "BlockRead of L29S0");
}

void DriverSide::SingleWrite() {
    ItemRequest request = band_.Request();
    ExpectOk(EM_CMD_SINGLE_WRITE, &request, "SingleWrite of L01P0");
}

void DriverSide::ColdStart() {
    if (driver_.ColdStart(port_, kReplyTimeout) != 0)
        throw std::runtime_error("ColdStart on " + port_ + " failed");
    if (driver_.state.adapterReady != 1)
        throw std::runtime_error("ColdStart on " + port_ + ": the adapter dialogue failed");
}

void DriverSide::Shutdown() {
    ExpectOk(EM_CMD_SHUTDOWN, nullptr, "Shutdown");
}

} // namespace bench
