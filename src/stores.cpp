// The stores of the mapped pass, shared by every platform's mapping code.
//
// The pass is bound by memory, not by instructions: what counts is to write
// a 64-byte line at a time, in ascending order, which the CPU's own
// prefetching follows (a software prefetch ahead of it was slower), and how
// the pages come to be mapped. bench/bench.py measures the result against
// the fastest read+write pass through the same windows (the floor).
#include "stores.h"

namespace {

constexpr int64_t line = 64;   // one cache line: 16 groups
constexpr int64_t page = 4096; // the smallest page a window is mapped in

// With load_pages, a load of each 4 KiB page's first byte comes before the
// stores into it: its read fault maps the page and, on tmpfs, the pages
// around it, writable already, so that their stores take no fault at all.
// The load is volatile so that it is made, and made first.
inline void load_page(unsigned char *line_start, bool load_pages)
{
    if (load_pages && (reinterpret_cast<uintptr_t>(line_start) & (page - 1)) == 0)
        (void)*static_cast<volatile unsigned char *>(line_start);
}

// Clears whole 64-byte lines from p - 3 on, and returns where they end: the
// 16 top bytes of a line, in ascending order, then the next line. A line
// never straddles a page, so a store that faults still leaves every group
// before it cleared and none after it touched. The stores are volatile so
// that the compiler keeps them single byte stores in this order: a fault
// must find every earlier store made and no later one.
unsigned char *zero_lines(unsigned char *p, const unsigned char *end, bool load_pages)
{
    for (; end - p > line - first_top - 1; p += line) {
        load_page(p - first_top, load_pages);
        auto *q = static_cast<volatile unsigned char *>(p);
        for (int64_t i = 0; i < line; i += group_size)
            q[i] = 0;
    }
    return p;
}

} // namespace

// The wide stores are used on x86-64 Linux and Windows, where they are
// tested; never on macOS, which is only compiled for. TOPWIPE_NO_WIDE builds
// them out, so that the line loop is tested on any CPU.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__APPLE__) && !defined(TOPWIPE_NO_WIDE)
#include <cpuid.h>
#include <immintrin.h>

namespace {

// Whether the CPU has AVX512BW and the system saves its state (XCR0: the
// SSE, AVX, opmask and both ZMM parts) across a switch. Asked of the CPU
// itself, so that every C library chooses alike.
bool wide_stores()
{
    unsigned a = 0;
    unsigned b = 0;
    unsigned c = 0;
    unsigned d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0)
        return false;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0 || (b & bit_AVX512F) == 0 || (b & bit_AVX512BW) == 0)
        return false;
    unsigned lo = 0;
    unsigned hi = 0;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    constexpr unsigned zmm_state = 0xe6; // bits 1, 2, 5, 6 and 7
    return (lo & zmm_state) == zmm_state;
}

// As zero_lines, one masked store a line: the 48 bytes outside the mask are
// neither read nor written.
[[gnu::target("avx512bw")]] unsigned char *zero_lines_wide(unsigned char *p, const unsigned char *end, bool load_pages)
{
    const __m512i zero = _mm512_setzero_si512();
    for (; end - p > line - first_top - 1; p += line) {
        load_page(p - first_top, load_pages);
        _mm512_mask_storeu_epi8(p - first_top, 0x8888888888888888ULL, zero);
    }
    return p;
}

} // namespace
#define TOPWIPE_WIDE 1
#endif

// Kept out of line, so that nothing it changes lives in the frame of the
// caller that a fault returns to.
[[gnu::noinline]] void zero_tops(unsigned char *p, const unsigned char *end, bool load_pages)
{
#ifdef TOPWIPE_WIDE
    static int wide = -1; // asked once: the CPU does not change
    if (wide < 0)
        wide = wide_stores() ? 1 : 0;
    p = wide != 0 ? zero_lines_wide(p, end, load_pages) : zero_lines(p, end, load_pages);
#else
    p = zero_lines(p, end, load_pages);
#endif
    if (p < end)
        load_page(p - first_top, load_pages);
    for (; p < end; p += group_size)
        *static_cast<volatile unsigned char *>(p) = 0;
}
