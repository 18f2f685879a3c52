// Item addresses: the grammar of the host's address texts, and the classification that
// DefineItem (command 3) and CheckItem (command 4) return for an accepted address.
//
// An address is either positional (A07, L01S1, M12V0) or one of the special words. The
// working copy and the check mode belong to each call, so instances on different threads
// can define items at the same time.
#pragma once

#include "interface/em_vocabulary.h"

#include <array>

// A working copy holds the longest address text and its terminator.
using AddressCopy = std::array<char, kAddressLimit + 1>;

// Uppercases the address into copy, which must be all zeros. False (copy untouched) when
// the text is empty or longer than kAddressLimit; no byte beyond kAddressLimit is read.
bool normaliseAddress(const char *address, AddressCopy &copy);
// True when address holds its NUL within kAddressLimit + 1 bytes; no byte beyond is read.
bool AddressTerminated(const char *address);
// EM_OK when the working copy is a valid address, EM_REFUSED otherwise.
int checkAddress(const AddressCopy &copy);
// The position of letter in the parameter letters "SV%X...", or 24 when it is none of them.
int parameterIndex(char letter);
