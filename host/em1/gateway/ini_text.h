// The INI form of the gateway's configuration file: "[section]" lines, "key = value" lines,
// blank lines, and comments from a # or ; that starts the line or follows a blank. An
// indented line without "=" under a setting gives that key another value, so a long list
// can go on over several lines.
#pragma once

#include <istream>
#include <string>
#include <vector>

struct IniLine {
    enum class Kind { kSection, kSetting, kMalformed };
    Kind kind;
    int number;        // the line's number in the text, from 1
    std::string name;  // the section's name or the key; for kMalformed, what is wrong
    std::string value; // the setting's value
};

// The sections and settings of text in their order, each with its line number; a line that
// is neither is kMalformed.
std::vector<IniLine> ReadIni(std::istream &text);
