/* A host outside this project: built against the installed headers and libraries only, it
 * asks the driver for its self-description and prints the driver's name. */
#include <em/em_driver.h>
#include <em/hostlog.h>

#include <stdio.h>
#include <string.h>

int main(void) {
    DriverState state;
    DriverInfo info;
    DriverCall call;
    memset(&state, 0, sizeof state);
    memset(&info, 0, sizeof info);
    memset(&call, 0, sizeof call);
    call.state = &state;
    call.command = EM_CMD_GET_DRIVER_INFO;
    call.driverNumber = 1;
    call.parameters = &info;
    hostlog_set_mask(32u);
    if (ZelMain(&call) != 0 || info.name == NULL) {
        fprintf(stderr, "GetDriverInfo failed\n");
        return 1;
    }
    printf("%s, %u baud by default\n", info.name, (unsigned)info.defaults.baudRate);
    return strcmp(info.name, "Eurotherm EM-1") == 0 ? 0 : 1;
}
