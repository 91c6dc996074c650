// What each platform provides to the command, behind one interface: one
// source file per platform implements it (platform-posix.cpp,
// platform-win32.cpp), and one its mapped pass (map-posix.cpp,
// map-win32.cpp, which share their window loop, window-loop.h; or
// map-none.cpp where there are no mappings); CMake compiles the ones that
// fit.
#ifndef TOPWIPE_PLATFORM_H
#define TOPWIPE_PLATFORM_H

#include "holes.h"

#include <cstdint>
#include <cstdio>

// Makes sure the standard streams have descriptors of their own before the
// file is opened, so that the file can never take the place of one (a
// diagnostic would then be written into it). Returns false if that cannot
// be done.
[[nodiscard]] bool ensure_std_streams();

// Opens the file that the command's one argument names, for update in
// binary mode ("r+b"): an existing file, never created or truncated. path
// is that argument as main received it. Returns nullptr on failure.
[[nodiscard]] FILE *open_update(const char *path);

// Positions the stream at a 64-bit offset; returns 0, or non-zero on
// failure. The end is the one the system gives for the file, not one the C
// library makes up where the system gives none.
[[nodiscard]] int seek64(FILE *fh, int64_t off, int whence);

// Returns the stream's 64-bit position, or -1 on failure.
[[nodiscard]] int64_t tell64(FILE *fh);

enum class Put { written, past_end, seek_failed, write_failed };

// Writes the one byte at src at offset pos, unless pos lies at or past the
// end of the file as it is now, where a write would grow it. Returns
// written; past_end; seek_failed when the end or the position cannot be
// found; or write_failed.
[[nodiscard]] Put put_byte(FILE *fh, int64_t pos, const char *src);

// Where the file holds data, asked of the system: the stretch of [off, end)
// that a pass is to store into next, as next_data (holes.h) gives it. The
// whole of it where the system cannot say (a filesystem without holes, an
// error, an older system). Each call costs the system a walk of the file
// from off: a pass asks once per range of data, not once per window.
[[nodiscard]] Span data_from(FILE *fh, int64_t off, int64_t end);

enum class Mapped { done, refused, fault };

// Clears the groups from *pos up to len through a mapping of the file,
// window by window, where the file holds data (data_from). Returns done;
// fault when a byte cannot be written, or the file was found shorter than a
// window it cleared (every group before the failing one is cleared, it and
// all after it are untouched); or refused when the file cannot be mapped,
// with *pos the first group not yet cleared, for the caller to finish
// another way. A build without mappings (TOPWIPE_PORTABLE) always refuses.
[[nodiscard]] Mapped map_pass(FILE *fh, int64_t len, int64_t *pos);

#endif
