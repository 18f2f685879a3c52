/* A host that calls the C library's err(3) and links the driver alone, with the documented
 * line (pkg-config --cflags --libs em). The driver's start-up on a port that cannot exist
 * still logs through the host log library it brings along; err(3) then prints its message
 * and exits with the status it is given. */
#include <em/em_driver.h>

#include <err.h>
#include <errno.h>
#include <string.h>

int main(void) {
    DriverState state;
    ColdStartParameters params;
    DriverCall call;
    memset(&state, 0, sizeof state);
    memset(&params, 0, sizeof params);
    memset(&call, 0, sizeof call);
    strcpy(params.portName, "/nonexist/x");
    params.enabled = 1;
    params.replyTimeout = 100;
    call.state = &state;
    call.command = EM_CMD_COLD_START;
    call.driverNumber = 7;
    call.parameters = &params;
    if (ZelMain(&call) == 0) {
        return 1;
    }
    errno = ENOENT;
    err(3, "fatal: %s", "no instrument");
}
