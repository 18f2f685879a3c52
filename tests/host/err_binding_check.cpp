// Proves which err() the driver binds when a host loads it with dlopen.
//
// Built twice: without HOST_DEFINES_ERR the executable defines no err, so glibc's
// err(3) (which exits the process) is the first err in the lookup order; the driver
// must still reach the host support library, whose sink is a file. With
// HOST_DEFINES_ERR the executable exports its own err, which must receive the lines.
#include "driver_library.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#ifdef HOST_DEFINES_ERR
namespace {
std::string hostLines;
}
extern "C" __attribute__((visibility("default"))) int err(int level, const char *format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): args is started just above
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    hostLines += std::to_string(level) + " " + text + "\n";
    return 0;
}
#endif

namespace {

std::string ReadFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// ColdStart on a port that cannot exist logs its "Fail to open" line.
int ProvokeLogLine(const DriverLibrary &driver) {
    DriverState state{};
    ColdStartParameters params{};
    std::strcpy(params.portName, "/nonexist/x");
    params.enabled = 1;
    params.replyTimeout = 100;
    DriverCall call{&state, EM_CMD_COLD_START, 7, 0, &params};
    return driver.zelMain(&call);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DRIVER LOGFILE\n", argv[0]);
        return 2;
    }
    const std::string logFile = argv[2];
    std::remove(logFile.c_str());
    setenv("ZEL_LOG_FILE", logFile.c_str(), 1);

    DriverLibrary driver;
    std::string error;
    if (!LoadDriverLibrary(argv[1], driver, error)) {
        std::fprintf(stderr, "err_binding_check: %s\n", error.c_str());
        return 1;
    }
    const int rc = ProvokeLogLine(driver);
    UnloadDriverLibrary(driver);
    if (rc != 2) {
        std::fprintf(stderr, "err_binding_check: ColdStart returned %d, expected 2\n", rc);
        return 1;
    }
    const std::string expected = "ZEL07: EM: ColdStart(): Fail to open /nonexist/x";
    const std::string sink = ReadFile(logFile);
#ifdef HOST_DEFINES_ERR
    const bool ok = hostLines == "32 " + expected + "\n" && sink.empty();
    std::printf("host err received: %s", hostLines.c_str());
#else
    const bool ok = sink.find("[32] " + expected + "\n") != std::string::npos;
    std::printf("host library sink received: %s", sink.c_str());
#endif
    return ok ? 0 : 1;
}
