// The window loop that every mapped pass shares (map-posix.cpp,
// map-win32.cpp): the file is mapped one window at a time, so memory stays
// bounded whatever its size, and only where it holds data. Each platform
// gives the loop four steps over a window of n bytes at file offset off:
//   unsigned char *map(int64_t off, int64_t n)   the window, or nullptr
//   bool clear(unsigned char *base, int64_t n, int64_t lo, int64_t hi)
//                                                zero_tops over the groups
//                                                whose top byte lies in
//                                                [lo, hi) of the window;
//                                                false if a store faulted
//   bool holds(int64_t end)                      the file, measured again,
//                                                still reaches end
//   void unmap(unsigned char *base, int64_t n)
#ifndef TOPWIPE_WINDOW_LOOP_H
#define TOPWIPE_WINDOW_LOOP_H

#include "platform.h"
#include "stores.h"

#include <cstdint>
#include <cstdio>

// Clears the groups from *pos up to end, window bytes at a time (a multiple
// of group_size), as map_pass promises: done; fault at the first window whose
// stores faulted or after which the file was found shorter; refused, with
// *pos the first group of the window that could not be mapped. A window that
// holds no data is not mapped; the file is asked where its data lies once a
// range, as the pass reaches the end of the one before.
template <class Platform>
[[nodiscard]] Mapped clear_windows(Platform &p, FILE *fh, int64_t end, int64_t window, int64_t *pos)
{
    Span data{0, 0};
    for (int64_t off = *pos - first_top; off < end; off += window) {
        if (data.hi <= off)
            data = data_from(fh, off, end);
        if (data.lo >= end)
            break;
        if (data.lo - off >= window)
            off += (data.lo - off) / window * window;
        const int64_t n = end - off < window ? end - off : window;
        unsigned char *base = p.map(off, n);
        if (base == nullptr) {
            *pos = off + first_top;
            return Mapped::refused;
        }
        bool cleared = true;
        while (cleared && data.lo < off + n) {
            const int64_t lo = data.lo > off ? data.lo - off : 0;
            const int64_t hi = data.hi < off + n ? data.hi - off : n;
            cleared = p.clear(base, n, lo, hi);
            if (data.hi >= off + n)
                break; // the rest of it is the next window's
            data = data_from(fh, data.hi, end);
        }
        // A new end inside the window's last page gives no fault: the file,
        // measured again, must still hold the window's last complete group.
        cleared = cleared && p.holds(off + n / group_size * group_size);
        p.unmap(base, n);
        if (!cleared)
            return Mapped::fault;
    }
    return Mapped::done;
}

#endif
