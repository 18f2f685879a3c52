/* A plain host's view of the public headers: compiled on its own as C89, C99, C11 and C++
 * with warnings as errors, so that any host compiler the headers claim to serve accepts them. */
#include "em_driver.h"
#include "hostlog.h"

int32_t AskForDriverInfo(ZelMainFunction entry, DriverState *state, DriverInfo *info) {
    DriverCall call;
    call.state = state;
    call.command = EM_CMD_GET_DRIVER_INFO;
    call.driverNumber = 1;
    call.unused = 0;
    call.parameters = info;
    hostlog_set_mask(32u | 64u);
    return entry(&call) == EM_OK ? EM_OK : EM_REFUSED;
}
