// The item address grammar as the host explains it: when the driver refuses an address,
// em1 says why in words. The driver's answer is only "refused".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The driver's upper-casing: every byte from 'a' (97) up loses 32.
std::string UpperCased(std::string_view address);

// The first character of the address after upper-casing, or '\0'.
char ClassLetter(std::string_view address);

// The type em1 reads an item with when the command line names none: float for loop and
// module values, a 16-bit code for modes and statuses, the bit type for alert flags,
// a 16-bit integer for the special words.
std::int32_t DefaultTypeOf(std::string_view address);

// Why the driver refuses this address with this data type, in words.
std::string ExplainRefusal(std::string_view address, std::int32_t dataType);
