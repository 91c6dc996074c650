// Where a pass stores, from what the system reported of the file's data
// (src/holes.cpp), as a table that every build runs: filesystems report
// data in whole blocks, so ranges that begin or end inside a group, and the
// many ranges a Windows listing gives, are reached here only.
#include "holes.h"

#include <cinttypes>
#include <cstdio>

namespace {

struct Row {
    const char *what;
    Span found[3]; // {0, 0} ends the list
    int64_t off;
    int64_t end;
    int64_t stop;
    Span next;
};

constexpr int64_t big = int64_t{1} << 40;

const Row rows[] = {
    {"data from off on", {{0, 100}}, 0, 100, big, {0, 100}},
    {"a hole first", {{8192, 12288}}, 0, 20000, big, {8192, 12288}},
    {"a range that began before off", {{0, 8192}}, 4096, 20000, big, {4096, 8192}},
    {"a range past the end is clipped", {{4096, 9000}}, 0, 8194, big, {4096, 8194}},
    {"no data", {}, 4096, 20000, big, {20000, 20000}},
    {"no data before the end", {{30000, 40000}}, 0, 20000, big, {20000, 20000}},
    {"ranges that touch are one", {{0, 4096}, {4096, 8192}, {10000, 12000}}, 0, 20000, big, {0, 8192}},
    {"a listed range below off is passed over", {{0, 4096}, {8192, 9000}}, 5000, 20000, big, {8192, 9000}},
    {"holes past the stop are data", {{0, 4096}}, 4096, 20000, 8192, {8192, 20000}},
    {"data after the stop: from the stop on", {{12288, 16384}}, 0, 20000, 8192, {8192, 20000}},
    {"data across the stop is data", {{4096, 12288}}, 0, 20000, 8192, {4096, 12288}},
    {"off past the stop: all data", {}, 10000, 20000, 8192, {10000, 20000}},
    {"a stop at the end changes nothing", {}, 0, 20000, 20000, {20000, 20000}},
};

// offset | the first top byte at or after it
const int64_t tops[][2] = {{0, 3}, {1, 3}, {3, 3}, {4, 7}, {6, 7}, {7, 7}, {8, 11}, {4098, 4099}, {big + 5, big + 7}};

} // namespace

int main()
{
    int failed = 0;
    for (const Row &r : rows) {
        size_t n = 0;
        while (n < 3 && r.found[n].hi != 0)
            n++;
        const Span got = next_data(r.found, n, r.off, r.end, r.stop);
        if (got.lo != r.next.lo || got.hi != r.next.hi) {
            printf("FAIL: %s: [%" PRId64 ", %" PRId64 "), expected [%" PRId64 ", %" PRId64 ")\n", r.what, got.lo,
                   got.hi, r.next.lo, r.next.hi);
            failed++;
        }
    }
    for (const auto &t : tops) {
        if (top_from(t[0]) != t[1]) {
            printf("FAIL: the first top from %" PRId64 ": %" PRId64 ", expected %" PRId64 "\n", t[0], top_from(t[0]),
                   t[1]);
            failed++;
        }
    }
    const int total = static_cast<int>(sizeof rows / sizeof rows[0] + sizeof tops / sizeof tops[0]);
    printf("%d passed, %d failed\n", total - failed, failed);
    return failed == 0 ? 0 : 1;
}
