#include "platform.h"

#include <cstdlib>
#include <unistd.h>

bool IsTerminal(std::FILE *stream) {
    return isatty(fileno(stream)) == 1;
}

void PrepareConsole() {}

bool SetEnvironment(const char *name, const char *value) {
    return setenv(name, value, 1) == 0;
}
