// The stores of the mapped pass, shared by every platform's mapping code.
//
// The pass is bound by memory, not by instructions: what counts is to write
// a 64-byte line at a time, in ascending order, and how the pages come to be
// mapped (the platform's part). bench/bench.py measures the result against
// the fastest read+write pass through the same windows (the floor).
#include "stores.h"

#include <cstdint>

namespace {

constexpr int64_t line = 64; // one cache line: 16 groups

// Clears whole 64-byte lines from p - 3 on, and returns where they end: the
// 16 top bytes of a line, in ascending order, then the next line. A line
// never straddles a page, so a store that faults still leaves every group
// before it cleared and none after it touched. The stores are volatile so
// that the compiler keeps them single byte stores in this order: a fault
// must find every earlier store made and no later one.
//
// Byte stores in ascending order keep up with memory: the CPU brings the
// lines in ahead of them, and a software prefetch only adds to its work.
unsigned char *zero_lines(unsigned char *p, const unsigned char *end)
{
    for (; end - p > line - first_top - 1; p += line) {
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
// neither read nor written. A masked store that misses the cache waits for
// its line: the CPU does not bring lines in ahead of such stores as it does
// for plain ones, so each line is fetched for writing 1 KiB ahead. A
// prefetch never faults and writes nothing, even past the window's end.
[[gnu::target("avx512bw,prfchw")]] unsigned char *zero_lines_wide(unsigned char *p, const unsigned char *end)
{
    constexpr int64_t ahead = 16 * line;
    const __m512i zero = _mm512_setzero_si512();
    for (; end - p > line - first_top - 1; p += line) {
        __builtin_prefetch(p - first_top + ahead, 1);
        _mm512_mask_storeu_epi8(p - first_top, 0x8888888888888888ULL, zero);
    }
    return p;
}

} // namespace
#define TOPWIPE_WIDE 1
#endif

// Kept out of line, so that nothing it changes lives in the frame of the
// caller that a fault returns to.
[[gnu::noinline]] void zero_tops(unsigned char *p, const unsigned char *end)
{
    // One at a time up to the first whole line.
    constexpr auto in_line = static_cast<uintptr_t>(line - 1);
    for (; p < end && (reinterpret_cast<uintptr_t>(p - first_top) & in_line) != 0; p += group_size)
        *static_cast<volatile unsigned char *>(p) = 0;
#ifdef TOPWIPE_WIDE
    static int wide = -1; // asked once: the CPU does not change
    if (wide < 0)
        wide = wide_stores() ? 1 : 0;
    p = wide != 0 ? zero_lines_wide(p, end) : zero_lines(p, end);
#else
    p = zero_lines(p, end);
#endif
    for (; p < end; p += group_size)
        *static_cast<volatile unsigned char *>(p) = 0;
}
