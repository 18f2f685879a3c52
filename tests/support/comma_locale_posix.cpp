// The locale is made from the C library's sources with localedef in a folder of the test's
// own, so it needs no locale installed on the machine, only the sources (Debian's locales).
#include "comma_locale.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

bool UseDecimalCommaLocale(std::string &error) {
    char pattern[] = "/tmp/em_locale_XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        error = "no folder for the locale";
        return false;
    }
    const std::string folder = pattern;
    const std::string command = "localedef -i de_DE -f UTF-8 " + folder + "/de_DE.UTF-8";
    const int status = std::system(command.c_str());
    setenv("LOCPATH", folder.c_str(), 1);
    const bool switched = status == 0 && std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    unsetenv("LOCPATH");
    std::filesystem::remove_all(folder);
    if (!switched) {
        error = "'" + command + "' gave status " + std::to_string(status) +
                "; localedef and the locale sources come with Debian's libc-bin and locales "
                "(scripts/install-deps.sh installs them)";
    }
    return switched;
}
