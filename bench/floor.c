/*
 * The floor for topwipe's mapped pass: the same file, through the same
 * 4 MiB windows on 2 MiB boundaries, but each 32-bit word loaded, masked
 * and stored back (a loop the compiler vectorises). Storing one byte in
 * four still brings every line in from memory, so a pass that reads and
 * writes every line is as fast as the stores can be, once its pages are
 * mapped. How they are mapped is the other half of the time, and the
 * fastest way depends on the filesystem and the CPU: MODE says which.
 *
 *   none        nothing ahead: the loads take the read faults (which map
 *               several pages each where the kernel maps around them),
 *               the stores the write faults
 *   read        MADV_POPULATE_READ alone
 *   write       MADV_POPULATE_WRITE alone
 *   read-write  MADV_POPULATE_READ, then MADV_POPULATE_WRITE
 *
 * usage: floor none|read|write|read-write FILE
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_READ 22
#define MADV_POPULATE_WRITE 23
#endif

#define HUGE (2L << 20)
#define WINDOW (2 * HUGE)

int main(int argc, char **argv)
{
	struct stat st;
	int fd, populate_read = 0, populate_write = 0;
	char *area, *base;
	long off, n, i;

	if (argc == 3) {
		populate_read = strcmp(argv[1], "read") == 0 || strcmp(argv[1], "read-write") == 0;
		populate_write = strcmp(argv[1], "write") == 0 || strcmp(argv[1], "read-write") == 0;
	}
	if (argc != 3 || (strcmp(argv[1], "none") != 0 && !populate_read && !populate_write) ||
	    (fd = open(argv[2], O_RDWR)) < 0 || fstat(fd, &st) != 0) {
		fprintf(stderr, "usage: floor none|read|write|read-write FILE\n");
		return 1;
	}
	area = mmap(NULL, WINDOW + HUGE, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
	if (area == MAP_FAILED)
		return 1;
	base = (char *)(((uintptr_t)area + HUGE - 1) & ~(uintptr_t)(HUGE - 1));
	for (off = 0; off < st.st_size; off += WINDOW) {
		uint32_t *w = (uint32_t *)base;

		n = st.st_size - off < WINDOW ? st.st_size - off : WINDOW;
		if (mmap(base, n, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, off) == MAP_FAILED)
			return 1;
		madvise(base, n, MADV_HUGEPAGE);
		if (populate_read)
			madvise(base, n, MADV_POPULATE_READ);
		if (populate_write)
			madvise(base, n, MADV_POPULATE_WRITE);
		for (i = 0; i < n / 4; i++)
			w[i] &= 0x00ffffffu;
	}
	return close(fd) != 0;
}
