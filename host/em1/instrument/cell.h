// The host's 4-byte value cell: 32-bit types fill bytes 0-3, every other type is a 16-bit
// integer in bytes 2-3. A block is consecutive 16-bit integers.
#pragma once

#include <array>
#include <cstdint>
#include <span>

using Cell = std::array<unsigned char, 4>;

// The value the cell holds for this data type.
double ReadCell(const Cell &cell, std::int32_t dataType);

// The 16-bit word in bytes 2-3, where the special words keep their value whatever the type.
std::int32_t CellWord(const Cell &cell);

// Stores value as the data type holds it. Returns false, leaving the cell as it was, when
// the type cannot hold the value exactly (an integer type and a fraction or a value out of
// its range).
bool WriteCell(Cell &cell, std::int32_t dataType, double value);

// Stores the 16-bit word in bytes 2-3.
void WriteCellWord(Cell &cell, std::int16_t word);

// The block value at position i of a buffer of 16-bit integers.
std::int16_t BlockValue(std::span<const unsigned char> buffer, std::size_t i);
