// A host that reads and writes numbers under a decimal-comma locale, as many applications
// run after setlocale(LC_ALL, "").
#pragma once

#include <string>

// Switches the C library of this process to a German locale, whose decimal separator is a
// comma. False, with the reason in error, when the locale cannot be had.
bool UseDecimalCommaLocale(std::string &error);
