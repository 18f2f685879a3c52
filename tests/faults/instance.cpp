#include "instance.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <unistd.h>

namespace faults {

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

ItemRequest Item::Request() {
    return ItemRequest{address.c_str(), {},    itemClass, index,        {},
                       dataType,        count, 0,         values.data()};
}

float Item::Float() const {
    float value = 0;
    std::memcpy(&value, values.data(), sizeof value);
    return value;
}

Item SetPoint() {
    return Item{"L01S1", EM_CLASS_LOOP, 4, EM_TYPE_FLOAT, 1};
}
Item LoopCount() {
    return Item{"NL", EM_CLASS_SPECIAL, 0, EM_TYPE_INT16, 1};
}
Item AlertCount() {
    return Item{"NA", EM_CLASS_SPECIAL, 0, EM_TYPE_INT16, 1};
}
Item LoopBlock() {
    return Item{"L02S0", EM_CLASS_LOOP, 8, EM_TYPE_INT16, 4};
}
Item Item16(const std::string &address, std::int32_t itemClass) {
    return Item{address, itemClass, 0, EM_TYPE_INT16, 1};
}

std::string UniqueLinkName() {
    char name[] = "/tmp/XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    ::close(fd);
    ::unlink(name);
    return name;
}

Instance::Instance(std::int32_t driverNumber, std::uint32_t seed) : link_(UniqueLinkName()) {
    em1sim::Options options;
    options.link = link_;
    options.seed = seed;
    options.commands = {"set L01S 12.5", "alert add CC", "alert add DD", "alert add L03 LOW ALARM"};
    simulator_ = std::make_unique<em1sim::Simulator>(options);
    driver_.driverNumber = driverNumber;
    std::string error;
    if (!driver_.Load(EM_DRIVER_PATH, error)) {
        throw std::runtime_error(error);
    }
}

Instance::~Instance() = default;

std::int32_t Instance::Read(Item &item, std::int32_t command) {
    ItemRequest request = item.Request();
    return driver_.Call(command, &request);
}

std::int32_t Instance::WriteSetPoint(float value) {
    Item item = SetPoint();
    std::memcpy(item.values.data(), &value, sizeof value);
    ItemRequest request = item.Request();
    return driver_.Call(EM_CMD_SINGLE_WRITE, &request);
}

bool Instance::UseReplyTimeout(std::int32_t timeout) {
    return ClosePort() == 0 && Reopen(timeout) == 0 && WarmStart() == 0;
}

bool Instance::Reconnect() {
    return AwaitLine(true) && Reopen() == 0 && WarmStart() == 0;
}

bool Instance::AwaitLine(bool up, std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (LineUp() != up) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

} // namespace faults
