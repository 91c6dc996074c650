#include "holes.h"

Span next_data(const Span *found, size_t n, int64_t off, int64_t end, int64_t stop)
{
    // Holes are left alone only below both the end and stop.
    const int64_t skippable = stop < end ? stop : end;
    size_t i = 0;
    while (i < n && found[i].hi <= off)
        i++;
    if (i == n || found[i].lo >= skippable)
        return {off > skippable ? off : skippable, end};
    Span data{found[i].lo > off ? found[i].lo : off, found[i].hi};
    for (i++; i < n && found[i].lo <= data.hi; i++)
        data.hi = found[i].hi > data.hi ? found[i].hi : data.hi;
    if (data.hi > end)
        data.hi = end;
    return data;
}
