/* A minimal host: starts a driver instance on a serial port, defines the item L01S1 (loop 1,
 * parameter S, scale digit 1) as a float, reads it once and shuts the instance down.
 *
 * Usage: read_one_item PORT     (ttyUSB0, pts/3, COM5)
 *
 * Built against the installed driver: cc read_one_item.c $(pkg-config --cflags --libs em)
 */
#include <em_driver.h>
#include <hostlog.h>

#include <stdio.h>
#include <string.h>

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
    float value;
    int32_t rc;

    if (argc != 2 || strlen(argv[1]) >= sizeof start.portName) {
        fprintf(stderr, "usage: read_one_item PORT (at most 11 characters)\n");
        return 2;
    }
    memset(&state, 0, sizeof state);
    memset(&start, 0, sizeof start);
    memset(&definition, 0, sizeof definition);
    memset(&request, 0, sizeof request);
    hostlog_set_mask(32u); /* the driver's outcome lines, on standard error */

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
        memcpy(&value, cell, sizeof value); /* a float fills bytes 0 to 3 of its cell */
        printf("%s = %g\n", address, (double)value);
    } else {
        fprintf(stderr, "reading %s: result %d\n", address, (int)rc);
    }
    Call(&state, EM_CMD_SHUTDOWN, NULL);
    return rc == EM_OK ? 0 : 1;
}
