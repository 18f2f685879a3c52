/*
 * EM-1 driver: the records that cross the host boundary and the entry point.
 *
 * A host includes this header, loads the library (libEM.so or EM.dll), looks up
 * ZelMain and calls it with a DriverCall. The host owns every record; the driver
 * reads them and writes only the output fields of the command it runs.
 *
 * Threads: each command runs on the caller's thread until it is done. Instances may run on
 * separate threads, each with its own DriverState and port; the calls of one instance must
 * not overlap. A process holds at most 64 ports at once.
 *
 * Layout: on 32-bit targets (Windows i686, Linux i686) every offset and size is the
 * binding one and is checked at compile time below. On 64-bit targets pointers and
 * the port handle are 8 bytes and the records are laid out naturally from the same
 * declarations, so the offsets after the first pointer differ from the 32-bit ones.
 * All multi-byte fields are little-endian.
 */
#ifndef EM_DRIVER_H
#define EM_DRIVER_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define EM_CDECL __cdecl
#else
#define EM_CDECL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Platform handle of an open serial port; 0 means no port is open. */
typedef uintptr_t SerialHandle;

/* The line settings, in the order shared by PortSettings and the parameter blocks. */
typedef struct LineSettings {
    uint16_t baudRate; /* bits per second */
    uint16_t dataBits; /* low byte used */
    uint16_t stopBits; /* low byte used: 0 one, 1 one and a half, 2 two */
    uint16_t parity;   /* low byte used: 0 none, 1 odd, 2 even, 3 mark, 4 space */
} LineSettings;

/* Open flags: which bits set the DTR and RTS lines. */
enum {
    EM_OPEN_DTR_ON = 0x0101,
    EM_OPEN_RTS_ON = 0x0202,
    EM_OPEN_RTS_HANDSHAKE = 0x1000,
    EM_OPEN_RTS_TOGGLE = 0x2000,
    EM_OPEN_DTR_HANDSHAKE = 0x8000
};

typedef struct PortSettings {
    char portName[12]; /* NUL-terminated, at most 11 characters; "NUL" is the null device */
    LineSettings line;
    uint16_t openFlags; /* EM_OPEN_* bits */
} PortSettings;

/* The state of one driver instance, kept by the host between calls. A host zeroes every
 * byte of a new DriverState before its first command (memset, or = {0}): the driver never
 * clears it, and a port handle other than 0 reads as an open port. The driver reads, writes
 * and closes only a port that it opened itself and still holds: commands fail on any other
 * handle found here as on a dead port, and the port commands drop it without closing it.
 * On Windows it knows its handles by value only: a host that closes the driver's handle
 * itself may get the same value for its next object, which the driver then takes for the
 * port. Close the driver's ports only with ClosePort or Shutdown. */
typedef struct DriverState {
    int32_t replyTimeout;    /* read timeout of the port, units of 10 ms */
    SerialHandle portHandle; /* 0 = no port open */
    int32_t enabled;         /* 0 = instance disabled */
    PortSettings port;
    uint8_t reserved;        /* cleared by ColdStart */
    uint8_t replyTerminator; /* 3 (ETX) normally, 10 for a few exchanges */
    uint8_t adapterReady;    /* 1 after a successful adapter dialogue */
} DriverState;

typedef struct DriverCall {
    DriverState *state;
    int32_t command;      /* EM_CMD_* */
    int32_t driverNumber; /* used only in log lines */
    uint32_t unused;
    void *parameters; /* the command's parameter block */
} DriverCall;

typedef struct DriverInfo {
    int32_t infoKind;      /* always 70 */
    const char *name;      /* "Eurotherm EM-1", static */
    const char *banner;    /* framed code-page-437 banner, static */
    int32_t stateSize;     /* bytes of DriverState: 37 on 32-bit, sizeof on 64-bit */
    int32_t infoRevision;  /* always 4 */
    LineSettings defaults; /* 9600 baud, 8 data bits, one stop bit, no parity */
    int32_t protocolKind;  /* always 3 */
} DriverInfo;

typedef struct ColdStartParameters {
    char portName[12];
    int32_t enabled;
    int32_t replyTimeout; /* units of 10 ms */
    LineSettings line;
} ColdStartParameters;

typedef struct ReopenPortParameters {
    char portName[12];
    int32_t replyTimeout; /* units of 10 ms; 0 keeps the current one */
    LineSettings line;
} ReopenPortParameters;

/* Item classes, as DefineItem returns them and the item commands take them back. */
enum {
    EM_CLASS_ALERT = 'A',   /* A07: alert flag 7 */
    EM_CLASS_SPECIAL = 'G', /* one of the special words "XS0", "NL", "NM", "NA", "SX", "S?",
                               "DISP", "INIT" */
    EM_CLASS_LOOP = 'L',    /* L01S1: loop 1, parameter letter S, scale digit 1 */
    EM_CLASS_MODULE = 'M'   /* M12V0: module 12, parameter letter V, scale digit 0 */
};

/* Host data type codes. A single value occupies one 4-byte cell of the value buffer:
 * 32-bit types in bytes 0-3, every other type as a 16-bit integer in bytes 2-3.
 * A block (count 2 or more) is count consecutive 16-bit integers whatever the type. */
enum {
    EM_TYPE_UINT16 = 0,
    EM_TYPE_INT16 = 1,
    EM_TYPE_WORD = 2,  /* unsigned 16-bit */
    EM_TYPE_FLOAT = 3, /* 32-bit IEEE float */
    EM_TYPE_INT32 = 4,
    EM_TYPE_UINT32 = 5,
    EM_TYPE_BIT = 6,    /* 16-bit, bit number 0; the only type an alert item takes */
    EM_TYPE_REFUSED = 7 /* DefineItem refuses it; codes above 7 are 16-bit */
};

/* The parameter block of DefineItem (3) and CheckItem (4). */
typedef struct ItemDefinition {
    char *address;     /* NUL-terminated; rewritten in upper case when accepted */
    uint32_t unused;   /* not read by the driver */
    int32_t dataType;  /* EM_TYPE_*; CheckItem sets it to 1 */
    int32_t count;     /* read by CheckItem only, bounded per class */
    int32_t cleared;   /* set to 0 */
    int32_t itemClass; /* EM_CLASS_* */
    int32_t index;     /* item index (alert flag number for class 'A') */
    int32_t bitNumber; /* 255, or 0 for alert items and type 6 */
    int32_t width;     /* value width in bits: 16 or 32 */
} ItemDefinition;

/* The parameter block of SingleRead (5), BlockRead (6) and SingleWrite (7), filled from
 * what DefineItem returned for the item. */
typedef struct ItemRequest {
    const char *address; /* the uppercased address */
    uint32_t unused1[2];
    int32_t itemClass; /* EM_CLASS_* */
    int32_t index;     /* read for class 'A' only: the first alert flag */
    uint32_t unused2[2];
    int32_t dataType; /* EM_TYPE_* */
    int32_t count;    /* 2 or more: a block of 16-bit values; 1 or less: one 4-byte cell */
    uint32_t unused3;
    /* Written by reads, read by writes: 4 bytes, or 2 x count bytes for a block. Reads take
     * count as the size of the buffer and check nothing else: an alert block writes all count
     * values, any other block at most count and no more than the reply carries. */
    void *values;
} ItemRequest;

enum {
    EM_CMD_COLD_START = 1,
    EM_CMD_WARM_START = 2,
    EM_CMD_DEFINE_ITEM = 3,
    EM_CMD_CHECK_ITEM = 4,
    EM_CMD_SINGLE_READ = 5,
    EM_CMD_BLOCK_READ = 6,
    EM_CMD_SINGLE_WRITE = 7,
    EM_CMD_ANSWER_ONE = 10,
    EM_CMD_SHUTDOWN = 11,
    EM_CMD_CLOSE_PORT = 12,
    EM_CMD_OPEN_PORT = 13,
    EM_CMD_GET_DRIVER_INFO = 14,
    EM_CMD_REOPEN_PORT = 15
};

/* Result codes: what ZelMain returns.
 *
 *   EM_OK              0    the command did what it was asked.
 *   EM_REFUSED         1    refused or invalid: a null call, a missing parameter block or an
 *                           unknown command; an address the grammar refuses; a disabled
 *                           instance (SingleWrite); an instrument reply that is empty or
 *                           begins with "?", or that does not decode; a value with no token.
 *   EM_COMM_FAILURE    2    the line failed: no reply (also when only replies to other
 *                           requests came), or a port that cannot be opened or closed
 *                           (whatever the platform's reason).
 *   EM_ADAPTER_FAILED  5    the adapter dialogue failed before its last request.
 *   EM_IO_FAILED       7    SingleWrite only: the confirmation "Y" could not be written, or
 *                           its reply did not come within the reply timeout (only replies
 *                           to other requests came).
 *   EM_REPLY_OVERFLOW  255  SingleWrite only: the reply to the confirmation filled 591 bytes
 *                           without its terminator.
 *
 * A reply that names another request than the one sent (a read of L02M answered "L02S=...",
 * a late reply to an earlier request) is never taken for the reply: the driver throws it away,
 * logs it at level 64 and reads on for the reply to its own request; so is the late
 * acknowledgement of a write of the item read ("L01S=12.5 ***", ended by a line feed), which
 * never answers a read. Replies that name no request ("***", "REV 2.14", block lines) are
 * taken as they come.
 *
 * Which command returns which code, and when:
 *
 *   ColdStart (1)       EM_OK, also for a disabled instance and when the adapter dialogue
 *                       fails (the log and the "INIT" item show that); EM_COMM_FAILURE when
 *                       the port cannot be opened (a name without its NUL, a device that is
 *                       missing or in use, line settings the port does not take);
 *                       EM_REFUSED for a null state or parameter block.
 *   WarmStart (2)       EM_OK, also with no port open; EM_ADAPTER_FAILED when one of the first
 *                       four adapter requests failed; EM_REFUSED when the instrument refused
 *                       the last one ("?"); EM_COMM_FAILURE when its reply was empty.
 *   DefineItem (3)      EM_OK; EM_REFUSED for an address outside the grammar, an alert item
 *                       with a type other than EM_TYPE_BIT, the type EM_TYPE_REFUSED.
 *   CheckItem (4)       EM_OK; EM_REFUSED as DefineItem (any type is accepted), and for a
 *                       special word or a count above the class's largest block.
 *   SingleRead (5),     EM_OK; EM_REFUSED when the instrument refused the request, the reply
 *   BlockRead (6)       did not decode, or the request block is unusable (no state, no
 *                       terminated address, no value buffer, also for "SX", "DISP" and
 *                       "INIT"); EM_COMM_FAILURE when the exchange failed (no reply, only
 *                       replies to other requests, a reply cut at 591 bytes, a failed
 *                       write), after a pause of one second: nothing is stored, and the host
 *                       may try again. Any count is taken (see ItemRequest.values).
 *   SingleWrite (7)     EM_OK when the instrument acknowledged ("***"), and for "INIT",
 *                       which reads no value and takes a null value buffer;
 *                       EM_REFUSED for a disabled instance, an alert item, a null value
 *                       buffer, a special word or value that sends nothing, a value with no
 *                       token or number text, a reply beginning with "?", a final reply
 *                       without "***";
 *                       EM_COMM_FAILURE when the reply was empty (none came, or only
 *                       replies to other requests: the write is not acknowledged), or the
 *                       confirmation was written short; EM_IO_FAILED and EM_REPLY_OVERFLOW
 *                       as above.
 *   10                  always EM_REFUSED.
 *   Shutdown (11),      EM_OK, also with no port open; EM_COMM_FAILURE when the platform
 *   ClosePort (12)      refuses to close the port; EM_REFUSED for a null state.
 *   OpenPort (13),      EM_OK; EM_COMM_FAILURE when the port cannot be opened; EM_REFUSED for
 *   ReopenPort (15)     a null state or parameter block. The new port is opened before the
 *                       one the instance holds is closed, so opening the device it holds
 *                       again fails with EM_COMM_FAILURE (as does ColdStart): ClosePort
 *                       first. ReopenPort closes a held port of another name first.
 *   GetDriverInfo (14)  EM_OK; EM_REFUSED for a null DriverInfo.
 */
enum {
    EM_OK = 0,
    EM_REFUSED = 1,
    EM_COMM_FAILURE = 2,
    EM_ADAPTER_FAILED = 5,
    EM_IO_FAILED = 7,
    EM_REPLY_OVERFLOW = 255
};

/* The library's only export. Returns the handler's result, one of the EM_* codes above. */
typedef int32_t(EM_CDECL *ZelMainFunction)(const DriverCall *call);
int32_t EM_CDECL ZelMain(const DriverCall *call);

#ifdef __cplusplus
}
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
#include <stddef.h>
#if defined(__cplusplus) && __cplusplus >= 201103L
#define EM_LAYOUT_CHECK(cond, what) static_assert(cond, what)
#elif !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define EM_LAYOUT_CHECK(cond, what) _Static_assert(cond, what)
#else
/* Before C11 and C++11: an array type whose size is negative when the check fails. */
#define EM_LAYOUT_CHECK_JOIN2(a, b) a##b
#define EM_LAYOUT_CHECK_JOIN(a, b) EM_LAYOUT_CHECK_JOIN2(a, b)
#define EM_LAYOUT_CHECK(cond, what)                                                                \
    typedef char EM_LAYOUT_CHECK_JOIN(em_layout_check_, __LINE__)[(cond) ? 1 : -1]
#endif
EM_LAYOUT_CHECK(sizeof(LineSettings) == 8, "LineSettings is 8 bytes");
EM_LAYOUT_CHECK(offsetof(PortSettings, line) == 12, "PortSettings.line at 12");
EM_LAYOUT_CHECK(offsetof(PortSettings, openFlags) == 20, "PortSettings.openFlags at 20");
EM_LAYOUT_CHECK(sizeof(PortSettings) == 22, "PortSettings is 22 bytes");
EM_LAYOUT_CHECK(offsetof(DriverState, replyTimeout) == 0, "DriverState.replyTimeout at 0");
EM_LAYOUT_CHECK(offsetof(DriverState, portHandle) == 4, "DriverState.portHandle at 4");
EM_LAYOUT_CHECK(offsetof(DriverState, enabled) == 8, "DriverState.enabled at 8");
EM_LAYOUT_CHECK(offsetof(DriverState, port) == 12, "DriverState.port at 12");
EM_LAYOUT_CHECK(offsetof(DriverState, reserved) == 34, "DriverState.reserved at 34");
EM_LAYOUT_CHECK(offsetof(DriverState, replyTerminator) == 35, "DriverState.replyTerminator at 35");
EM_LAYOUT_CHECK(offsetof(DriverState, adapterReady) == 36, "DriverState.adapterReady at 36");
EM_LAYOUT_CHECK(sizeof(DriverState) == 40, "DriverState uses 37 bytes, padded to 40");
EM_LAYOUT_CHECK(offsetof(DriverCall, state) == 0, "DriverCall.state at 0");
EM_LAYOUT_CHECK(offsetof(DriverCall, command) == 4, "DriverCall.command at 4");
EM_LAYOUT_CHECK(offsetof(DriverCall, driverNumber) == 8, "DriverCall.driverNumber at 8");
EM_LAYOUT_CHECK(offsetof(DriverCall, parameters) == 16, "DriverCall.parameters at 16");
EM_LAYOUT_CHECK(sizeof(DriverCall) == 20, "DriverCall is 20 bytes");
EM_LAYOUT_CHECK(offsetof(DriverInfo, name) == 4, "DriverInfo.name at 4");
EM_LAYOUT_CHECK(offsetof(DriverInfo, banner) == 8, "DriverInfo.banner at 8");
EM_LAYOUT_CHECK(offsetof(DriverInfo, stateSize) == 12, "DriverInfo.stateSize at 12");
EM_LAYOUT_CHECK(offsetof(DriverInfo, infoRevision) == 16, "DriverInfo.infoRevision at 16");
EM_LAYOUT_CHECK(offsetof(DriverInfo, defaults) == 20, "DriverInfo.defaults at 20");
EM_LAYOUT_CHECK(offsetof(DriverInfo, protocolKind) == 28, "DriverInfo.protocolKind at 28");
EM_LAYOUT_CHECK(sizeof(DriverInfo) == 32, "DriverInfo is 32 bytes");
EM_LAYOUT_CHECK(offsetof(ColdStartParameters, enabled) == 12, "ColdStartParameters.enabled at 12");
EM_LAYOUT_CHECK(offsetof(ColdStartParameters, replyTimeout) == 16,
                "ColdStartParameters.replyTimeout at 16");
EM_LAYOUT_CHECK(offsetof(ColdStartParameters, line) == 20, "ColdStartParameters.line at 20");
EM_LAYOUT_CHECK(sizeof(ColdStartParameters) == 28, "ColdStartParameters is 28 bytes");
EM_LAYOUT_CHECK(offsetof(ReopenPortParameters, replyTimeout) == 12,
                "ReopenPortParameters.replyTimeout at 12");
EM_LAYOUT_CHECK(offsetof(ReopenPortParameters, line) == 16, "ReopenPortParameters.line at 16");
EM_LAYOUT_CHECK(sizeof(ReopenPortParameters) == 24, "ReopenPortParameters is 24 bytes");
EM_LAYOUT_CHECK(offsetof(ItemDefinition, dataType) == 8, "ItemDefinition.dataType at 8");
EM_LAYOUT_CHECK(offsetof(ItemDefinition, count) == 12, "ItemDefinition.count at 12");
EM_LAYOUT_CHECK(offsetof(ItemDefinition, cleared) == 16, "ItemDefinition.cleared at 16");
EM_LAYOUT_CHECK(offsetof(ItemDefinition, itemClass) == 20, "ItemDefinition.itemClass at 20");
EM_LAYOUT_CHECK(offsetof(ItemDefinition, index) == 24, "ItemDefinition.index at 24");
EM_LAYOUT_CHECK(offsetof(ItemDefinition, bitNumber) == 28, "ItemDefinition.bitNumber at 28");
EM_LAYOUT_CHECK(offsetof(ItemDefinition, width) == 32, "ItemDefinition.width at 32");
EM_LAYOUT_CHECK(sizeof(ItemDefinition) == 36, "ItemDefinition is 36 bytes");
EM_LAYOUT_CHECK(offsetof(ItemRequest, itemClass) == 12, "ItemRequest.itemClass at 12");
EM_LAYOUT_CHECK(offsetof(ItemRequest, index) == 16, "ItemRequest.index at 16");
EM_LAYOUT_CHECK(offsetof(ItemRequest, dataType) == 28, "ItemRequest.dataType at 28");
EM_LAYOUT_CHECK(offsetof(ItemRequest, count) == 32, "ItemRequest.count at 32");
EM_LAYOUT_CHECK(offsetof(ItemRequest, values) == 40, "ItemRequest.values at 40");
EM_LAYOUT_CHECK(sizeof(ItemRequest) == 44, "ItemRequest is 44 bytes");
#undef EM_LAYOUT_CHECK
#undef EM_LAYOUT_CHECK_JOIN
#undef EM_LAYOUT_CHECK_JOIN2
#endif

#endif
