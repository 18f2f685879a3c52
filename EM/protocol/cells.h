// The host's value buffer. A single value fills one 4-byte cell by its data type: a float
// or a 32-bit integer in bytes 0-3, any other type a 16-bit integer in bytes 2-3 (bytes 0-1
// keep what they held). A block is consecutive 16-bit integers, 2 bytes each.
//
// Every decoded number reaches the host through a 32-bit float, and integers are cut from
// that float. The cut is defined for every float:
//   - NaN gives 0;
//   - any other value is truncated toward zero and held within the 64-bit signed range
//     (infinities and magnitudes of 2^63 and more give the nearest end of that range);
//   - the low 32 or 16 bits of that 64-bit integer are stored, as two's complement.
// Within the range of the cell this is the plain truncation, and a value too large for 16
// bits keeps its low 16 bits.
#pragma once

#include <cstddef>
#include <cstdint>

// The nearest 32-bit float to value; beyond the float range that is an infinity, and NaN
// stays NaN.
float NarrowToFloat(double value);
std::uint32_t LowBits32(float value);
std::uint16_t LowBits16(float value);

// Stores value into the single cell at values as dataType says.
void StoreCell(void *values, std::int32_t dataType, float value);
// Stores word as the 16-bit integer in bytes 2-3 of the single cell.
void StoreCellWord(void *values, std::uint16_t word);
// Stores value, or word, as the 16-bit integer number slot of a block.
void StoreSlot(void *values, std::size_t slot, float value);
void StoreSlotWord(void *values, std::size_t slot, std::uint16_t word);
