// Driver loading with LoadLibrary and GetProcAddress.
#include "driver_library.h"

#include <windows.h>

#include <array>

const char *DriverFileName() {
    return "EM.dll";
}

bool LoadDriverLibrary(const std::string &path, DriverLibrary &library, std::string &error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error = "LoadLibrary failed for " + path + ", error " + std::to_string(GetLastError());
        return false;
    }
    FARPROC symbol = GetProcAddress(module, "ZelMain");
    if (symbol == nullptr) {
        error = "no ZelMain in " + path;
        FreeLibrary(module);
        return false;
    }
    library.handle = module;
    library.zelMain = reinterpret_cast<ZelMainFunction>(reinterpret_cast<void *>(symbol));
    return true;
}

void UnloadDriverLibrary(DriverLibrary &library) {
    if (library.handle != nullptr) {
        FreeLibrary(static_cast<HMODULE>(library.handle));
    }
    library = DriverLibrary{};
}

std::string ExecutableFolder() {
    std::array<char, MAX_PATH> path{};
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) {
        return ".\\";
    }
    std::string folder(path.data(), n);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}
