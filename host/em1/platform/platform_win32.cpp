#include "platform.h"

#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>

bool IsTerminal(std::FILE *stream) {
    return _isatty(_fileno(stream)) != 0;
}

bool StandardOutputOpen() {
    const int fd = _fileno(stdout);
    return fd >= 0 && _get_osfhandle(fd) != -1;
}

// The C runtime reports a write to a pipe whose reader has gone as EINVAL or EPIPE; the
// system's own code tells: ERROR_NO_DATA ("the pipe is being closed"), ERROR_BROKEN_PIPE,
// or under Wine ERROR_PIPE_NOT_CONNECTED.
bool StandardOutputPipeClosed(int error) {
    const DWORD systemError = GetLastError();
    const bool readerGone = error == EPIPE || systemError == ERROR_NO_DATA ||
                            systemError == ERROR_BROKEN_PIPE ||
                            systemError == ERROR_PIPE_NOT_CONNECTED;
    return readerGone && GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_PIPE;
}

void PrepareConsole() {
    SetConsoleOutputCP(CP_UTF8);
}

bool SetEnvironment(const char *name, const char *value) {
    return _putenv_s(name, value) == 0;
}

std::string MakePrivateFile() {
    char folder[MAX_PATH + 1] = {};
    char path[MAX_PATH + 1] = {};
    if (GetTempPathA(sizeof folder, folder) == 0 || GetTempFileNameA(folder, "em1", 0, path) == 0) {
        return "";
    }
    return path;
}

std::string TraceFileProblem(const std::string &path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return "it is not a regular file";
    }
    const HANDLE file =
        CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "it cannot be opened for appending (error " + std::to_string(GetLastError()) + ")";
    }
    CloseHandle(file);
    return "";
}

std::string ResolvedPortName(const std::string &name) {
    return name;
}
