// zelhost: a host program that loads the EM-1 driver and drives it from the command line.
#include "driver_library.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void PrintUsage(std::FILE *out) {
    std::fprintf(out,
                 "usage: zelhost [--driver PATH] info\n"
                 "       zelhost [--driver PATH] start PORT [TIMEOUT]\n"
                 "\n"
                 "Loads the EM-1 driver library and calls its entry point ZelMain.\n"
                 "\n"
                 "commands:\n"
                 "  info           print the driver's self-description (command 14)\n"
                 "  start PORT     bring an instance up on PORT (ColdStart, 9600 8N1), rerun\n"
                 "                 the adapter dialogue (WarmStart) and shut it down; PORT is\n"
                 "                 a device under /dev/ (ttyUSB0, pts/3) or a path. TIMEOUT is\n"
                 "                 the reply timeout in units of 10 ms (default 100)\n"
                 "\n"
                 "options:\n"
                 "  --driver PATH  the driver library to load (default: %s beside zelhost)\n"
                 "  -h, --help     show this help\n"
                 "\n"
                 "The driver's log lines go to standard error; ZEL_LOG_FILE names a file\n"
                 "instead and ZEL_LOG_MASK filters them by level (32 outcome, 64 detail).\n",
                 DriverFileName());
}

// Writes a code page 437 text as UTF-8, so the banner's frame shows on a terminal.
void PrintCp437(const char *text) {
    static const char *const kHigh[] = {
        "\u2591", "\u2592", "\u2593", "\u2502", "",       "", "", "",       "", "", "", "", "",
        "",       "",       "\u2510", "\u2514", "",       "", "", "\u2500", "", "", "", "", "",
        "",       "",       "",       "",       "",       "", "", "",       "", "", "", "", "",
        "",       "",       "\u2518", "\u250c", "\u2588",
    };
    for (const char *p = text; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte < 0x80) {
            std::fputc(byte, stdout);
        } else if (byte >= 0xB0 && byte < 0xB0 + sizeof kHigh / sizeof kHigh[0] &&
                   *kHigh[byte - 0xB0] != '\0') {
            std::fputs(kHigh[byte - 0xB0], stdout);
        } else {
            std::fputc('?', stdout);
        }
    }
}

int PrintInfo(const DriverLibrary &driver) {
    DriverInfo info{};
    DriverCall call{};
    call.command = EM_CMD_GET_DRIVER_INFO;
    call.parameters = &info;
    const int rc = driver.zelMain(&call);
    if (rc != 0) {
        std::fprintf(stderr, "zelhost: GetDriverInfo failed with result %d\n", rc);
        return 1;
    }
    std::printf("driver:   %s\n", info.name);
    std::printf("defaults: %u baud, %u data bits, stop-bits code %u, parity code %u\n",
                info.defaults.baudRate, info.defaults.dataBits, info.defaults.stopBits,
                info.defaults.parity);
    std::printf("fields:   %d %d %d %d\n", info.infoKind, info.stateSize, info.infoRevision,
                info.protocolKind);
    PrintCp437(info.banner);
    return 0;
}

void Report(const char *command, int rc, const DriverState &state) {
    std::printf("%-10s result %d, port %s, adapter ready %d\n", command, rc,
                state.portHandle != 0 ? "open" : "closed", state.adapterReady);
    std::fflush(stdout);
}

int StartInstance(const DriverLibrary &driver, const char *port, const char *timeout) {
    ColdStartParameters params{};
    if (std::strlen(port) >= sizeof params.portName) {
        std::fprintf(stderr, "zelhost: port name '%s' is longer than %zu characters\n", port,
                     sizeof params.portName - 1);
        return 2;
    }
    std::memcpy(params.portName, port, std::strlen(port) + 1);
    params.enabled = 1;
    params.replyTimeout = timeout != nullptr ? std::atoi(timeout) : 100;
    params.line = LineSettings{9600, 8, 0, 0};
    DriverState state{};
    DriverCall call{&state, EM_CMD_COLD_START, 1, 0, &params};
    const int cold = driver.zelMain(&call);
    Report("ColdStart", cold, state);
    if (cold != 0) {
        return 1;
    }
    call.command = EM_CMD_WARM_START;
    const int warm = driver.zelMain(&call);
    Report("WarmStart", warm, state);
    call.command = EM_CMD_SHUTDOWN;
    const int shutdown = driver.zelMain(&call);
    Report("Shutdown", shutdown, state);
    return warm == 0 && shutdown == 0 && state.adapterReady == 1 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    std::string driverPath = ExecutableFolder() + DriverFileName();
    const char *command = nullptr;
    const char *operands[2] = {nullptr, nullptr};
    int operandCount = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            PrintUsage(stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--driver") == 0 && i + 1 < argc) {
            driverPath = argv[++i];
        } else if (command == nullptr && argv[i][0] != '-') {
            command = argv[i];
        } else if (command != nullptr && operandCount < 2) {
            operands[operandCount++] = argv[i];
        } else {
            std::fprintf(stderr, "zelhost: unexpected argument '%s'\n\n", argv[i]);
            PrintUsage(stderr);
            return 2;
        }
    }
    const bool info = command != nullptr && std::strcmp(command, "info") == 0 && operandCount == 0;
    const bool start = command != nullptr && std::strcmp(command, "start") == 0 && operandCount > 0;
    if (!info && !start) {
        PrintUsage(stderr);
        return 2;
    }
    DriverLibrary driver;
    std::string error;
    if (!LoadDriverLibrary(driverPath, driver, error)) {
        std::fprintf(stderr, "zelhost: cannot load the driver: %s\n", error.c_str());
        return 1;
    }
    const int status = info ? PrintInfo(driver) : StartInstance(driver, operands[0], operands[1]);
    UnloadDriverLibrary(driver);
    return status;
}
