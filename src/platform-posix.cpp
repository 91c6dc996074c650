// The POSIX side of the command: standard descriptors made safe, the file
// opened and measured, and the per-byte pass's positioned writes. The
// mapped pass is in map-posix.cpp.
#include "platform.h"

#include <sys/types.h>
static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit (_FILE_OFFSET_BITS=64)");

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

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
