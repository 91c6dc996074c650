// Where the groups lie, and the store loop that every mapped pass shares
// (stores.cpp).
#ifndef TOPWIPE_STORES_H
#define TOPWIPE_STORES_H

#include <cstdint>

constexpr int64_t first_top = 3;  // offset of the top byte of the first word
constexpr int64_t group_size = 4; // one little-endian 32-bit word, one byte cleared

// Stores 0x00 at p, p + 4, ... below end, in ascending order, so that when a
// store faults every group before it is cleared. p is the top byte of a
// group, at the same place in its 64-byte line of memory as in the file's.
// Only those bytes are written, and none is read.
void zero_tops(unsigned char *p, const unsigned char *end);

#endif
