// Loads the built driver library dynamically, as a host does, calls ZelMain for
// command 14 and checks every field. Exit status 0 when all hold.
#include "driver_library.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int failures = 0;

void Check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "driver_info_check: FAILED: %s\n", what);
        ++failures;
    }
}

} // namespace

int main(int argc, char **argv) {
    const std::string path = argc > 1 ? argv[1] : ExecutableFolder() + DriverFileName();
    DriverLibrary driver;
    std::string error;
    if (!LoadDriverLibrary(path, driver, error)) {
        std::fprintf(stderr, "driver_info_check: %s\n", error.c_str());
        return 1;
    }
    DriverInfo info;
    std::memset(&info, 0x77, sizeof info);
    DriverCall call{};
    call.command = EM_CMD_GET_DRIVER_INFO;
    call.parameters = &info;
    Check(driver.zelMain(&call) == 0, "command 14 returns 0");
    Check(info.infoKind == 70, "offset 0 holds 70");
    Check(info.name != nullptr && std::strcmp(info.name, "Eurotherm EM-1") == 0, "driver name");
    Check(info.banner != nullptr && std::strlen(info.banner) == 337, "banner is 337 bytes");
    const std::int32_t stateSize = sizeof(void *) == 4 ? 37 : sizeof(DriverState);
    Check(info.stateSize == stateSize, "offset 12 holds the state size (37 on 32-bit hosts)");
    Check(info.infoRevision == 4, "offset 16 holds 4");
    Check(info.defaults.baudRate == 9600, "default baud rate 9600");
    Check(info.defaults.dataBits == 8, "default data bits 8");
    Check(info.defaults.stopBits == 0, "default stop-bits code 0");
    Check(info.defaults.parity == 0, "default parity code 0");
    Check(info.protocolKind == 3, "offset 28 holds 3");
    call.command = 10;
    Check(driver.zelMain(&call) == 1, "command 10 answers 1");
    call.command = 16;
    Check(driver.zelMain(&call) == 1, "command 16 answers 1");
    UnloadDriverLibrary(driver);
    std::printf("driver_info_check: %s, %d failure(s)\n", path.c_str(), failures);
    return failures == 0 ? 0 : 1;
}
