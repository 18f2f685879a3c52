// ZelMain: the library's only export. It takes the handler of the command code from a
// constant table and returns the handler's result unchanged.
#include "interface/handlers.h"

#include <array>

namespace {

// Slot i holds the handler of command i + 1; empty slots are codes without a handler.
constexpr std::array<Handler, 16> kCommandTable = {
    ColdStart, WarmStart, DefineItem, CheckItem, SingleRead, BlockRead,     SingleWrite, nullptr,
    nullptr,   AnswerOne, Shutdown,   ClosePort, OpenPort,   GetDriverInfo, ReopenPort,  nullptr,
};

Handler HandlerFor(std::int32_t command) {
    if (command < 1 || command > static_cast<std::int32_t>(kCommandTable.size())) {
        return nullptr;
    }
    return kCommandTable[static_cast<std::size_t>(command - 1)];
}

} // namespace

extern "C" __attribute__((visibility("default"))) std::int32_t EM_CDECL
ZelMain(const DriverCall *call) {
    if (call == nullptr) {
        return EM_REFUSED;
    }
    const Handler handler = HandlerFor(call->command);
    if (handler == nullptr) {
        return EM_REFUSED;
    }
    return handler(*call);
}
