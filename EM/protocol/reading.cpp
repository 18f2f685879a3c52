// Item commands: not built yet; they refuse every call.
#include "interface/handlers.h"

std::int32_t SingleRead(const DriverCall & /*call*/) {
    return 1;
}
std::int32_t BlockRead(const DriverCall & /*call*/) {
    return 1;
}
