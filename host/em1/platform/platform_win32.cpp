#include "platform.h"

#include <io.h>
#include <windows.h>

#include <cstdlib>

bool IsTerminal(std::FILE *stream) {
    return _isatty(_fileno(stream)) != 0;
}

void PrepareConsole() {
    SetConsoleOutputCP(CP_UTF8);
}

bool SetEnvironment(const char *name, const char *value) {
    return _putenv_s(name, value) == 0;
}
