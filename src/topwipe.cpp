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

#include "platform.h"
#include "stores.h"

// The exit statuses, each set on purpose where its case arises.
enum : int {
    status_done = 0,      // every complete group cleared
    status_failed = 1,    // usage, the open, or a seek or write of the pass
    status_no_length = -1 // the file has no length to find (the caller sees 255)
};

int main(int argc, char *argv[])
{
    static const char null[] = "";
    FILE *fh;
    int64_t len;
    int64_t pos = first_top;
    int ret;
    Span data{0, 0}; // the stretch of the file's data the per-byte pass is in

    // The status tells what happened, not a signal, from the first line on:
    // a line to a standard error nobody reads any more (the usage line
    // too) is lost, and the run still returns 1; past a file size limit
    // (ulimit -f) a write is to fail with EFBIG and be reported, not kill
    // the command halfway through the file. Ignoring a signal cannot fail.
#ifdef SIGPIPE
    (void)signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
    (void)signal(SIGXFSZ, SIG_IGN);
#endif

    if (argc != 2) {
        // A bare exec may hand over no name at all (or, on newer kernels, "").
        const char *name = argc > 0 && argv[0] != nullptr && argv[0][0] != '\0' ? argv[0] : "topwipe";
        fprintf(stderr, "usage: %s <bin filename>\n", name);
        return status_failed;
    }

    if (!ensure_std_streams()) {
        fputs("open: failed\n", stderr);
        return status_failed;
    }

    // "r+": update an existing file; never create it, never truncate it.
    fh = open_update(argv[1]);
    if (fh == nullptr) {
        fputs("open: failed\n", stderr);
        return status_failed;
    }
    // Unbuffered, a failed write is reported by the write that failed, not by
    // the seek after it, and nothing is left to go out unchecked at the close.
    // Should this fail, the buffered stream still gives the same bytes.
    (void)setvbuf(fh, nullptr, _IONBF, 0);

    // The length: a seek to the end, then the position there.
    ret = status_done;
    len = seek64(fh, 0, SEEK_END) == 0 ? tell64(fh) : -1;
    if (len < 0) {
        fputs("seek end: error\n", stderr);
        ret = status_no_length;
        goto end;
    }
    rewind(fh);

    if (pos < len) {
        switch (map_pass(fh, len, &pos)) {
        case Mapped::done:
            goto end;
        case Mapped::fault:
            fputs("write: error\n", stderr);
            ret = status_failed;
            goto end;
        case Mapped::refused:
            break; // the per-byte pass below goes on from pos
        }
    }

    // One positioned one-byte write per group whose top byte lies in the
    // file's data: for files that cannot be mapped, and the whole pass where
    // there are no mappings. A group in a hole reads 0x00 already.
    while (pos < len) {
        if (pos >= data.hi) { // past it: on to the first group of the next
            data = data_from(fh, pos, len);
            pos = top_from(data.lo);
            continue;
        }
        switch (put_byte(fh, pos, null)) {
        case Put::written:
            break;
        case Put::seek_failed:
            fprintf(stderr, "seek: pos: %" PRId64 ", error\n", pos);
            ret = status_failed;
            goto end;
        case Put::past_end:
        case Put::write_failed:
            fputs("write: error\n", stderr);
            ret = status_failed;
            goto end;
        }
        pos += group_size;
    }

end:
    // A write that only fails as the stream is closed still failed.
    if (fclose(fh) != 0 && ret == status_done) {
        fputs("write: error\n", stderr);
        ret = status_failed;
    }
    return ret;
}
