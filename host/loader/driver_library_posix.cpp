// Driver loading with dlopen.
#include "driver_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>

const char *DriverFileName() {
    return "libEM.so";
}

bool LoadDriverLibrary(const std::string &path, DriverLibrary &library, std::string &error) {
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        error = dlerror();
        return false;
    }
    void *symbol = dlsym(handle, "ZelMain");
    if (symbol == nullptr) {
        error = "no ZelMain in " + path;
        dlclose(handle);
        return false;
    }
    library.handle = handle;
    library.zelMain = reinterpret_cast<ZelMainFunction>(symbol);
    return true;
}

void UnloadDriverLibrary(DriverLibrary &library) {
    if (library.handle != nullptr) {
        dlclose(library.handle);
    }
    library = DriverLibrary{};
}

std::string ExecutableFolder() {
    std::array<char, 4096> path{};
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) {
        return "./";
    }
    std::string folder(path.data(), static_cast<std::size_t>(n));
    return folder.substr(0, folder.rfind('/') + 1);
}
