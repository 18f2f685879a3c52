// The scale of an 'L' or 'M' item: the number its address spells from position 4 on (the
// scale digit), as a power of ten. Reads multiply the instrument's number by it; writes
// divide the host's value by it.
#pragma once

// 10 raised to the scale exponent, cut to its integer part: 1, 10 or 1000 for the scale
// digits "0", "1" and "3". An address shorter than five characters has exponent 0. The
// exponent is read like a decimal integer (leading blanks, a sign, digits; none gives 0);
// a negative exponent gives 0 and an exponent beyond the double range gives infinity, so
// no text can make the factor undefined. The address must be NUL-terminated.
double ScaleFactor(const char *address);
