/* A minimal host: starts a driver instance on a serial port, defines the item L01S1 (loop 1,
 * parameter S, scale digit 1) as a float, reads it once, prints its value and shuts the
 * instance down.
 *
 * Built against the installed driver (package libem-dev) and run on a port, it prints the
 * value the instrument holds:
 *   $ cc read_one_item.c $(pkg-config --cflags --libs em) -o read_one_item
 *   $ ./read_one_item ttyUSB0
 *   L01S1 = 42.5
 *
 * Usage: read_one_item PORT     (ttyUSB0, pts/3, COM5)
 * The driver's log lines go to standard error, or to the file ZEL_LOG_FILE names;
 * ZEL_LOG_MASK=32 keeps each command's outcome and leaves out the detail.
 */
#include <em/em_driver.h>

#include <stdio.h>
#include <string.h>

static const double kScale = 10.0; /* 10 to the power of L01S1's scale digit, 1 */

static int32_t Call(DriverState *state, int32_t command, void *parameters) {
    DriverCall call;
    memset(&call, 0, sizeof call);
    call.state = state;
    call.command = command;
    call.driverNumber = 1;
    call.parameters = parameters;
    return ZelMain(&call);
}

int main(int argc, char **argv) {
    DriverState state; /* zeroed before the first command: no port is open */
    ColdStartParameters start;
    ItemDefinition definition;
    ItemRequest request;
    char address[] = "L01S1";
    unsigned char cell[4]; /* one 4-byte value cell */
    float scaled;
    int32_t rc;

    if (argc != 2 || strlen(argv[1]) >= sizeof start.portName) {
        fprintf(stderr, "usage: read_one_item PORT (at most 11 characters)\n");
        return 2;
    }
    memset(&state, 0, sizeof state);
    memset(&start, 0, sizeof start);
    memset(&definition, 0, sizeof definition);
    memset(&request, 0, sizeof request);

    memcpy(start.portName, argv[1], strlen(argv[1]) + 1); /* its length is checked above */
    start.enabled = 1;
    start.replyTimeout = 100; /* 1 s, in units of 10 ms */
    start.line.baudRate = 9600;
    start.line.dataBits = 8;
    start.line.stopBits = 0; /* one stop bit */
    start.line.parity = 0;   /* none */
    rc = Call(&state, EM_CMD_COLD_START, &start);
    if (rc != EM_OK || state.adapterReady != 1) {
        fprintf(stderr, "ColdStart on %s: result %d, adapter ready %d\n", argv[1], (int)rc,
                (int)state.adapterReady);
        Call(&state, EM_CMD_SHUTDOWN, NULL);
        return 1;
    }

    definition.address = address;
    definition.dataType = EM_TYPE_FLOAT;
    rc = Call(&state, EM_CMD_DEFINE_ITEM, &definition);
    if (rc == EM_OK) {
        request.address = address;
        request.itemClass = definition.itemClass;
        request.index = definition.index;
        request.dataType = definition.dataType;
        request.count = 1;
        request.values = cell;
        rc = Call(&state, EM_CMD_SINGLE_READ, &request);
    }
    if (rc == EM_OK) {
        /* A float fills bytes 0 to 3 of its cell, and holds the value times 10 to the power
         * of the address's scale digit: 425 for the 42.5 of L01S1. */
        memcpy(&scaled, cell, sizeof scaled);
        printf("%s = %g\n", address, (double)scaled / kScale);
    } else {
        fprintf(stderr, "reading %s: result %d\n", address, (int)rc);
    }
    Call(&state, EM_CMD_SHUTDOWN, NULL);
    return rc == EM_OK ? 0 : 1;
}
