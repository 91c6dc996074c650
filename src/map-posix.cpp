// The mapped pass on POSIX systems: the file mapped one window at a time,
// with SIGBUS turned into a failed write.
#include "platform.h"
#include "stores.h"
#include "window-loop.h"

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
// Linux 5.14's, which older C libraries (musl among them) do not name yet.
// An older kernel refuses them with EINVAL.
#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22
#define MADV_POPULATE_WRITE 23
#endif
#endif

namespace {

// Windows start on 2 MiB boundaries of both the file and the address space:
// a page cache of large folios can then be mapped with 2 MiB entries, which
// avoids a page fault per 4 KiB.
constexpr int64_t huge = int64_t{2} << 20;
constexpr int64_t window = 2 * huge;

// A store into a mapped page that the file can no longer back (it was
// truncated, the disk is full under a sparse file, the page holds a memory
// error) raises SIGBUS. While a window is being cleared, the handler turns
// that into a jump back to the pass, which reports a failed write.
//
// Where the kernel kills early on memory errors, a page found poisoned is
// also reported ahead of any access (BUS_MCEERR_AO), as soon as the error
// is found: from the moment a window is first mapped, a notice for the
// windows' place in memory is a failed write too, which ends the pass where
// its stores are, or, between two runs of stores, before the next. Its data
// was lost to the hardware: the run must neither report success over it
// nor be killed for it.
//
// What the handler reads is set before it is installed, or is of a type a
// handler may touch: lock-free atomics and volatile sig_atomic_t.
sigjmp_buf bus_jump;
struct sigaction bus_old;
volatile std::sig_atomic_t bus_drop_sent; // the caller ignores or blocks SIGBUS
volatile std::sig_atomic_t bus_storing;   // clear_window's stores are running
volatile std::sig_atomic_t bus_lost;      // a page of a window was reported lost
std::atomic<unsigned char *> bus_lo;      // where every window is mapped
std::atomic<unsigned char *> bus_hi;
static_assert(std::atomic<unsigned char *>::is_always_lock_free, "the handler needs lock-free pointers");

void on_sigbus(int sig, siginfo_t *si, void *)
{
    // A signal the kernel raised has a code above 0, whatever its cause;
    // one sent by a process (kill, sigqueue, tkill) has 0 or less.
    const bool raised = si->si_code > 0;
    auto *addr = static_cast<unsigned char *>(si->si_addr);
    const bool ours = raised && addr >= bus_lo.load() && addr < bus_hi.load();
#ifdef BUS_MCEERR_AO
    // A notice: no access waits on it. One for a page that is not the
    // file's changes nothing, and this handler stays.
    if (si->si_code == BUS_MCEERR_AO) {
        if (ours)
            bus_lost = 1;
        if (ours && bus_storing != 0)
            siglongjmp(bus_jump, 1);
        return;
    }
#endif
    if (ours && bus_storing != 0)
        siglongjmp(bus_jump, 1);
    // Not one of our stores: the signal gets the action it would have had
    // without us. One that was sent, where the caller ignores or blocks
    // SIGBUS, is dropped: it would never have been acted on. This handler
    // stays for our own faults.
    if (!raised && bus_drop_sent != 0)
        return;
    // Otherwise put the old action back. A fault meets it when the access
    // is retried on return; a sent signal is sent again, and arrives as
    // soon as this handler returns.
    (void)sigaction(SIGBUS, &bus_old, nullptr);
    if (!raised)
        raise(sig);
}

// Clears the groups whose top byte lies in [lo, hi) of the window mapped at
// base, as zero_tops does; returns false if a store raised SIGBUS, or a page
// of a window was reported lost, before or during the stores.
[[nodiscard]] bool clear_window(unsigned char *base, int64_t lo, int64_t hi)
{
    if (sigsetjmp(bus_jump, 1) != 0) {
        bus_storing = 0;
        return false;
    }
    bus_storing = 1;
    if (bus_lost == 0)
        zero_tops(base + top_from(lo), base + hi);
    bus_storing = 0;
    return bus_lost == 0;
}

// The window loop's steps: each window is mapped over the one before, at
// base, inside a reservation that map_pass makes and removes.
struct Posix {
    int fd;
    bool regular;
    unsigned char *base;
    int64_t page;
    int prefault; // the advice that maps a window's pages ahead, or 0

    unsigned char *map(int64_t off, int64_t n) const
    {
        if (mmap(base, static_cast<size_t>(n), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd,
                 static_cast<off_t>(off)) == MAP_FAILED)
            return nullptr;
#ifdef MADV_HUGEPAGE
        // Only a hint: without it the pass is slower, not wrong.
        (void)madvise(base, static_cast<size_t>(n), MADV_HUGEPAGE);
#endif
        return base;
    }

    bool clear(unsigned char *at, int64_t /*n*/, int64_t lo, int64_t hi)
    {
#ifdef __linux__
        // The pages of [lo, hi) faulted in one call, not by the stores, and
        // not one page of a hole outside it: a fault there, even for
        // reading, would allocate it. Where the file cannot back a page (it
        // was cut short, or the disk is full under a hole) this fails, and
        // the store into that page raises SIGBUS, which ends the pass
        // there. EINVAL: the kernel cannot prefault (before Linux 5.14);
        // the stores fault as they go.
        const int64_t first = lo - lo % page;
        if (prefault != 0 && madvise(at + first, static_cast<size_t>(hi - first), prefault) != 0 && errno == EINVAL)
            prefault = 0;
#endif
        return clear_window(at, lo, hi);
    }

    // Only a regular file has a length to measure.
    bool holds(int64_t end) const
    {
        struct stat st {};
        return !regular || (fstat(fd, &st) == 0 && st.st_size >= end);
    }

    // The next window is mapped over this one.
    void unmap(unsigned char *, int64_t) const {}
};

} // namespace

Mapped map_pass(FILE *fh, int64_t len, int64_t *pos)
{
    const int fd = fileno(fh);
    const auto page = static_cast<int64_t>(sysconf(_SC_PAGESIZE));
    struct stat st {};
    if (fd < 0 || page <= 0 || huge % page != 0 || fstat(fd, &st) != 0)
        return Mapped::refused;
    const bool regular = S_ISREG(st.st_mode);
#ifdef __linux__
    // How a window's pages are best mapped depends on how the filesystem
    // keeps them; bench/floor.c times each way. A page cache of large
    // folios: prefaulted for writing, a fault a folio. tmpfs keeps a file
    // in 4 KiB pages unless mounted with huge=: there a write fault maps
    // one page and a read fault sixteen, writable already. Prefaulted for
    // reading, the window takes those faults in the one call, without a
    // trap each, and its stores find every page mapped; prefaulting for
    // writing after it would only walk the window's pages a second time.
    struct statfs fs {};
    const bool tmpfs = fstatfs(fd, &fs) == 0 && fs.f_type == TMPFS_MAGIC;
    const int prefault = tmpfs ? MADV_POPULATE_READ : MADV_POPULATE_WRITE;
#else
    const int prefault = 0;
#endif

    // The caller's SIGBUS action and mask, kept for the handler and put
    // back after the pass.
    struct sigaction sa {};
    sa.sa_sigaction = on_sigbus;
    sa.sa_flags = SA_SIGINFO;
    sigset_t bus {};
    sigset_t blocked {};
    if (sigemptyset(&sa.sa_mask) != 0 || sigemptyset(&bus) != 0 || sigaddset(&bus, SIGBUS) != 0 ||
        sigaction(SIGBUS, nullptr, &bus_old) != 0 || sigprocmask(SIG_BLOCK, nullptr, &blocked) != 0)
        return Mapped::refused;
    const bool ignored = (bus_old.sa_flags & SA_SIGINFO) == 0 && bus_old.sa_handler == SIG_IGN;
    bus_drop_sent = ignored || sigismember(&blocked, SIGBUS) == 1 ? 1 : 0;

    // Stores through a mapping are not held to a file size limit (ulimit -f)
    // as writes to a regular file are: stop where the first such write
    // would fail with EFBIG, so that both passes give the same answer.
    int64_t end = len;
    struct rlimit fsize {};
    if (regular && getrlimit(RLIMIT_FSIZE, &fsize) == 0 && fsize.rlim_cur != RLIM_INFINITY &&
        fsize.rlim_cur < static_cast<rlim_t>(len))
        end = static_cast<int64_t>(fsize.rlim_cur);

    // One reservation, aligned by hand, that every window is mapped over.
    const auto span = static_cast<size_t>(window + huge);
    void *area = mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (area == MAP_FAILED)
        return Mapped::refused;
    const auto mask = static_cast<uintptr_t>(huge - 1);
    auto *base = reinterpret_cast<unsigned char *>((reinterpret_cast<uintptr_t>(area) + mask) & ~mask);

    bus_lo = base;
    bus_hi = base + window;
    bus_lost = 0;
    // The handler is ours for the pass, and SIGBUS unblocked: a fault
    // raised while it is blocked, or while the caller's action is to
    // ignore it, kills the process whatever the handler. The mask as
    // unblocked here is the one sigsetjmp keeps and a jump back restores.
    if (sigaction(SIGBUS, &sa, nullptr) != 0 || sigprocmask(SIG_UNBLOCK, &bus, nullptr) != 0) {
        (void)sigaction(SIGBUS, &bus_old, nullptr);
        (void)munmap(area, span);
        return Mapped::refused;
    }

    Posix posix{fd, regular, base, page, prefault};
    Mapped result = clear_windows(posix, fh, end, window, pos);

    // Only a group whose byte lies at or past the limit cannot be written;
    // a page reported lost after the last stores fails the pass at its end.
    if (result == Mapped::done && (end / group_size < len / group_size || bus_lost != 0))
        result = Mapped::fault;

    // Failing to restore the caller's mask and SIGBUS action or to unmap
    // changes nothing in the file, and the process is about to exit.
    (void)sigprocmask(SIG_SETMASK, &blocked, nullptr);
    (void)sigaction(SIGBUS, &bus_old, nullptr);
    (void)munmap(area, span);
    return result;
}
