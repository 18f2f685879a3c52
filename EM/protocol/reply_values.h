// The values a reply carries, found and read as the driver reads them: a single value after
// its "=", the values of a block after the commas of the line that starts with the item's
// number, and the decimal numbers among them. The driver decodes its replies with these, and a
// host that wants the number a reply carried before the driver narrowed it into a cell (em1)
// compiles the same source, so both read a reply alike. Nothing here allocates, writes to the
// reply or depends on the locale.
#pragma once

#include <cstdint>

// Where a value follows a separator.
enum class ReplyValueKind {
    kNumber,   // a decimal number
    kNoNumber, // starts like a number but is none ("-", "0x10", "1.2.3", "12.5C", "1.5E")
    kToken,    // anything else: a token such as AUTO or OK, up to its "\r"
};

struct ReplyValue {
    ReplyValueKind kind = ReplyValueKind::kToken;
    double number = 0;          // kNumber: as the line carried it, before any scale or cell
    const char *text = nullptr; // where the value starts, after its blanks
    // Where the search for the next separator starts: the value itself for a number, the line
    // after its "\r" for a token (the value itself when it has none).
    const char *next = nullptr;
};

// The decimal number the instrument sends: an optional "-", digits with an optional point, an
// optional exponent, read whatever the locale. Text that is no such number, or a magnitude
// beyond a double, gives false: "-", "0x10", "1.2.3", "12.5C", "1.5E", "inf", "nan".
bool ReadReplyNumber(const char *text, double &number);

// The absolute value of the decimal integer at the start of text (leading blanks, an optional
// sign, digits; none gives 0), held at a bound far above any item number.
std::uint64_t LeadingMagnitude(const char *text);

// The item number of an address: the number from its second character on; 0 for "".
std::uint64_t ItemNumber(const char *address);

// The line of a block reply that starts with the item's number, or nullptr. The search ends at
// the text's end and at a line that starts with ETX or the digit 0.
const char *FindBlockLine(const char *text, std::uint64_t number);

// The value after the first separator at or after position; false when there is none. Blanks
// after the separator are skipped; a value that starts with a digit or "-" is a number or no
// number, any other a token.
bool NextReplyValue(const char *position, char separator, ReplyValue &value);
