// Item commands: not built yet; they refuse every call.
#include "interface/handlers.h"

std::int32_t DefineItem(const DriverCall & /*call*/) {
    return 1;
}
std::int32_t CheckItem(const DriverCall & /*call*/) {
    return 1;
}
