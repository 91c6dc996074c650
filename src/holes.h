// Where a pass stores: only where the file holds data. A hole reads as
// zeros, so the top byte of every group in it reads 0x00 already, and a
// store there would only allocate it (fill a sparse image, fail on a full
// disk). Each platform asks its system where the data lies
// (platform-posix.cpp, platform-win32.cpp); what the answer means for the
// pass is worked out here, asking nothing of the system, so that it is
// compiled, and tested, on every platform.
#ifndef TOPWIPE_HOLES_H
#define TOPWIPE_HOLES_H

#include "stores.h"

#include <cstddef>
#include <cstdint>

// The bytes [lo, hi) of the file.
struct Span {
    int64_t lo;
    int64_t hi;
};

// The stretch of [off, end) that a pass is to store into next, from what
// the system reported: found, the n ranges of data it listed at or after
// off, in ascending order; and stop, the offset from which the file can no
// longer be written (its length now, where another process cut it short,
// or a file size limit). From stop on everything counts as data, so that
// the pass meets the failure there as it would have without holes. Returns
// the first range reaching past off, with those that follow it without a
// gap, clipped to [off, end); lo == end where nothing is left to store.
[[nodiscard]] Span next_data(const Span *found, size_t n, int64_t off, int64_t end, int64_t stop);

// The offset of the first top byte at or after off: groups are read whole
// or not at all, and a group is stored into where its top byte lies in
// data, wherever the range begins or ends inside it.
[[nodiscard]] constexpr int64_t top_from(int64_t off)
{
    return off + first_top - off % group_size; // off >= 0
}

#endif
