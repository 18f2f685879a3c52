// Reads the version resource back from the built EM.dll.
#include "em_version.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string StringValue(const std::vector<char> &data, const char *name) {
    char *value = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
    if (!VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void **>(&value), &length) ||
        value == nullptr) {
        return "<missing>";
    }
    return std::string(value);
}

} // namespace

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "EM.dll";
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) {
        std::fprintf(stderr, "version_resource_check: no version resource in %s\n", path);
        return 1;
    }
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path, 0, size, data.data())) {
        std::fprintf(stderr, "version_resource_check: cannot read %s\n", path);
        return 1;
    }
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void **>(&fixed), &length)) {
        std::fprintf(stderr, "version_resource_check: no fixed file info\n");
        return 1;
    }
    const DWORD versionMS = MAKELONG(EM_VERSION_MINOR, EM_VERSION_MAJOR);
    const DWORD versionLS = MAKELONG(0, EM_VERSION_PATCH);
    const bool fileVersion =
        fixed->dwFileVersionMS == versionMS && fixed->dwFileVersionLS == versionLS;
    const bool productVersion =
        fixed->dwProductVersionMS == versionMS && fixed->dwProductVersionLS == versionLS;
    const std::string comment = StringValue(data, "Comments");
    std::printf("file version %u.%u.%u.%u, product version %u.%u.%u.%u, comment \"%s\"\n",
                static_cast<unsigned>(HIWORD(fixed->dwFileVersionMS)),
                static_cast<unsigned>(LOWORD(fixed->dwFileVersionMS)),
                static_cast<unsigned>(HIWORD(fixed->dwFileVersionLS)),
                static_cast<unsigned>(LOWORD(fixed->dwFileVersionLS)),
                static_cast<unsigned>(HIWORD(fixed->dwProductVersionMS)),
                static_cast<unsigned>(LOWORD(fixed->dwProductVersionMS)),
                static_cast<unsigned>(HIWORD(fixed->dwProductVersionLS)),
                static_cast<unsigned>(LOWORD(fixed->dwProductVersionLS)), comment.c_str());
    return fileVersion && productVersion && comment == "EM-1 Driver" ? 0 : 1;
}
