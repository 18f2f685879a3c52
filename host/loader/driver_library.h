// Loads the driver library at run time, as a real host does, and finds ZelMain.
#pragma once

#include "em_driver.h"

#include <string>

struct DriverLibrary {
    void *handle = nullptr;
    ZelMainFunction zelMain = nullptr;
};

// The driver's file name on this platform: libEM.so or EM.dll.
const char *DriverFileName();

// Loads the library at path and looks up ZelMain. On failure returns false and puts
// the platform's reason in error.
bool LoadDriverLibrary(const std::string &path, DriverLibrary &library, std::string &error);

void UnloadDriverLibrary(DriverLibrary &library);

// The folder of the running executable, ending in a separator.
std::string ExecutableFolder();
