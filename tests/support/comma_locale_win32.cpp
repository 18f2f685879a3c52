// The C runtime's own German locale, shared by the host and the driver's code in one process.
#include "comma_locale.h"

#include <clocale>
#include <string>

bool UseDecimalCommaLocale(std::string &error) {
    if (std::setlocale(LC_ALL, "German_Germany.1252") == nullptr) {
        error = "the C runtime has no locale German_Germany.1252";
        return false;
    }
    return true;
}
