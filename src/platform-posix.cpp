// The POSIX side of the command: standard descriptors made safe, the file
// opened and measured, and the per-byte pass's positioned writes. The
// mapped pass is in map-posix.cpp.
#include "platform.h"

#include <sys/types.h>
static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit (_FILE_OFFSET_BITS=64)");

#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
// Linux 3.1's, which an older C library (musl, before it named them) may
// leave out. An older kernel refuses them with EINVAL.
#if defined(__linux__) && !defined(SEEK_DATA)
#define SEEK_DATA 3
#define SEEK_HOLE 4
#endif

// Descriptors 0, 1 and 2 that the caller left closed are opened on
// /dev/null. The file is then given a descriptor above them, as open always
// takes the lowest one free.
bool ensure_std_streams()
{
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd)
            return false;
    }
    return true;
}

FILE *open_update(const char *path)
{
    return fopen(path, "r+b");
}

// The end is the kernel's answer, asked of the descriptor: a C library may
// take it from fstat instead, where a file that has no end to seek to (a
// /proc file) measures 0 bytes. The stream is then set to that offset.
int seek64(FILE *fh, int64_t off, int whence)
{
    if (whence == SEEK_END) {
        const int fd = fileno(fh);
        const off_t end = fd < 0 ? -1 : lseek(fd, static_cast<off_t>(off), SEEK_END);
        if (end < 0)
            return -1;
        return fseeko(fh, end, SEEK_SET);
    }
    return fseeko(fh, static_cast<off_t>(off), whence);
}

int64_t tell64(FILE *fh)
{
    return ftello(fh);
}

// Linux, macOS and the BSDs say where a file's data lies: a seek for the
// data at or after off, then for the hole after it (the end counts as
// one). ENXIO from the first: no data from off on, or the file now ends
// before off. A filesystem that keeps no holes reports the whole file as
// data; an older system, or one that fails the query, gives another error,
// and then the whole stretch counts as data too.
Span data_from(FILE *fh, int64_t off, int64_t end)
{
    const int fd = fileno(fh);
    if (fd < 0)
        return {off, end};
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
    Span found{lseek(fd, static_cast<off_t>(off), SEEK_DATA), 0};
    const size_t n = found.lo < 0 ? 0 : 1;
    if (n == 0 && errno != ENXIO)
        return {off, end};
    if (n == 1 && (found.hi = lseek(fd, static_cast<off_t>(found.lo), SEEK_HOLE)) < 0)
        return {off, end};
    // Measured after the query, so that a file cut short before it is
    // found short.
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return {off, end};
    // Past a file size limit (ulimit -f) a write fails with EFBIG, hole or
    // not: the per-byte pass is to meet that failure, as it would have.
    int64_t stop = st.st_size;
    struct rlimit fsize {};
    if (getrlimit(RLIMIT_FSIZE, &fsize) == 0 && fsize.rlim_cur != RLIM_INFINITY &&
        fsize.rlim_cur < static_cast<rlim_t>(stop))
        stop = static_cast<int64_t>(fsize.rlim_cur);
    return next_data(&found, n, off, end, stop);
#else
    return {off, end};
#endif
}

// The end is found by a seek to it, which costs what the seek to pos that
// the positioned write saves, whatever the file's size and filesystem (a
// seek for the hole at pos, which fails at or past the end, walks a tmpfs
// file's pages from pos on: quadratic over the pass; fstat costs more).
Put put_byte(FILE *fh, int64_t pos, const char *src)
{
    const int fd = fileno(fh);
    const off_t now = fd < 0 ? -1 : lseek(fd, 0, SEEK_END);
    if (now < 0)
        return Put::seek_failed;
    if (pos >= now)
        return Put::past_end;
    return pwrite(fd, src, 1, static_cast<off_t>(pos)) == 1 ? Put::written : Put::write_failed;
}
