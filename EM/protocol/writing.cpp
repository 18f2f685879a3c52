// Item commands: not built yet; they refuse every call.
#include "interface/handlers.h"

std::int32_t SingleWrite(const DriverCall & /*call*/) {
    return 1;
}
