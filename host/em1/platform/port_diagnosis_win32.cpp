// The reason a port cannot be opened, on Windows: the driver opens the name with
// CreateFileA, without sharing, and reads its line settings.
#include "platform.h"

#include <windows.h>

namespace {

std::string SystemMessage(DWORD error) {
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' ')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(error) : message;
}

std::string OpenFailure(const std::string &name, DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "no such device: " + name + " does not exist";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return "in use by another program, or permission denied: " + name +
               " cannot be opened for exclusive use";
    default:
        return name + ": " + SystemMessage(error);
    }
}

} // namespace

std::string DiagnosePortOpen(const std::string &name, const LineSettings &line) {
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return OpenFailure(name, GetLastError());
    }
    DCB settings{};
    settings.DCBlength = sizeof settings;
    const bool serial = name == "NUL" || GetCommState(handle, &settings) != 0;
    CloseHandle(handle);
    if (!serial) {
        return "not a serial device: " + name + " has no line settings";
    }
    return name + " opens now; it may have been in use for a moment, or it refused " +
           std::to_string(line.baudRate) + " baud";
}
