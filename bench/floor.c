/*
 * The floor for topwipe's mapped pass: the same file, through the same
 * 4 MiB windows on 2 MiB boundaries, prefaulted the same way, but each
 * 32-bit word loaded, masked and stored back (a loop the compiler
 * vectorises). Storing one byte in four still brings every line in from
 * memory, so a pass that reads and writes every line is as fast as the
 * stores can be.
 *
 * usage: floor FILE
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <linux/magic.h>
#include <unistd.h>

#define HUGE (2L << 20)
#define WINDOW (2 * HUGE)

int main(int argc, char **argv)
{
	struct stat st;
	struct statfs fs;
	int tmpfs;
	int fd;
	char *area, *base;
	long off, n, i;

	if (argc != 2 || (fd = open(argv[1], O_RDWR)) < 0 || fstat(fd, &st) != 0) {
		fprintf(stderr, "usage: floor FILE\n");
		return 1;
	}
	tmpfs = fstatfs(fd, &fs) == 0 && fs.f_type == TMPFS_MAGIC;
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
		if (tmpfs)
			madvise(base, n, MADV_POPULATE_READ);
		madvise(base, n, MADV_POPULATE_WRITE);
		for (i = 0; i < n / 4; i++)
			w[i] &= 0x00ffffffu;
	}
	return close(fd) != 0;
}
