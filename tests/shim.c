/*
 * A preload library that injects faults into the command under test, to
 * reach what a healthy machine never shows. Each fault is switched on by
 * an environment variable; every fault that fires appends a line to the
 * file named by TOPWIPE_SHIM_MARK, so a test can tell that it was reached.
 * Mappings and writes count only where they are of the file named by
 * TOPWIPE_SHIM_FILE, when that is set.
 *
 * Under wine the same library reaches wine's own mappings and writes of the
 * file, on the program's behalf: there only the mapping and write faults
 * apply.
 *
 *   TOPWIPE_SHIM_REFUSE_MAP=N   the Nth shared mapping of a file, and every
 *                               one after it, fails with ENODEV
 *   TOPWIPE_SHIM_TRUNCATE=N:S   right after the Nth shared mapping of a file,
 *                               or the Nth one-byte write, the file is cut
 *                               to S bytes
 *   TOPWIPE_SHIM_COUNT_BYTES=1  the first one-byte write of the file marks
 *                               "byte write"
 *   TOPWIPE_SHIM_SEND_BUS=1     right after the first shared mapping of a
 *                               file, the process sends itself SIGBUS
 *   TOPWIPE_SHIM_NO_PREFAULT=1  madvise(MADV_POPULATE_READ or _WRITE)
 *                               fails with EINVAL, as before Linux 5.14
 *   TOPWIPE_SHIM_NO_HOLES=1     a seek for data or a hole fails with EINVAL,
 *                               as where the system cannot say where a
 *                               file's holes are: the pass writes into them
 *   TOPWIPE_SHIM_TELL_FAILS=1   ftello fails with EOVERFLOW
 *   TOPWIPE_SHIM_CLOSE_FAILS=1  fclose closes, then reports EIO
 */
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static void mark(const char *what)
{
	const char *path = getenv("TOPWIPE_SHIM_MARK");
	int fd;

	if (path == NULL)
		return;
	fd = open(path, O_WRONLY | O_APPEND | O_CREAT, 0644);
	if (fd < 0)
		return;
	if (write(fd, what, strlen(what)) < 0 || write(fd, "\n", 1) < 0) {
		/* the test sees no mark and fails or skips */
	}
	close(fd);
}

static long env_long(const char *name)
{
	const char *v = getenv(name);
	return v == NULL ? 0 : strtol(v, NULL, 10);
}

static int file_maps, byte_writes;

/* Whether fd is the file under test. */
static int watched(int fd)
{
	const char *path = getenv("TOPWIPE_SHIM_FILE");
	struct stat a, b;

	if (path == NULL)
		return 1;
	return stat(path, &a) == 0 && fstat(fd, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

/* Cuts the file to S bytes if TOPWIPE_SHIM_TRUNCATE is N:S and count is N. */
static void cut_at(int fd, int count)
{
	const char *cut = getenv("TOPWIPE_SHIM_TRUNCATE");
	const char *size;

	if (cut == NULL || strtol(cut, NULL, 10) != count || (size = strchr(cut, ':')) == NULL)
		return;
	if (ftruncate(fd, strtoll(size + 1, NULL, 10)) == 0)
		mark("truncate");
}

static void *map(void *addr, size_t len, int prot, int flags, int fd, off64_t off)
{
	static void *(*real)(void *, size_t, int, int, int, off64_t);
	long refuse = env_long("TOPWIPE_SHIM_REFUSE_MAP");
	void *p;

	if (real == NULL)
		real = (void *(*)(void *, size_t, int, int, int, off64_t))dlsym(RTLD_NEXT, "mmap64");
	if (fd < 0 || (flags & MAP_SHARED) == 0 || !watched(fd))
		return real(addr, len, prot, flags, fd, off);
	file_maps++;
	if (refuse > 0 && file_maps >= refuse) {
		mark("refuse map");
		errno = ENODEV;
		return MAP_FAILED;
	}
	p = real(addr, len, prot, flags, fd, off);
	if (p != MAP_FAILED && file_maps == 1 && env_long("TOPWIPE_SHIM_SEND_BUS")) {
		mark("send bus");
		kill(getpid(), SIGBUS);
	}
	if (p != MAP_FAILED)
		cut_at(fd, file_maps);
	return p;
}

void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off)
{
	return map(addr, len, prot, flags, fd, off);
}

void *mmap64(void *addr, size_t len, int prot, int flags, int fd, off64_t off)
{
	return map(addr, len, prot, flags, fd, off);
}

int madvise(void *addr, size_t len, int advice)
{
	static int (*real)(void *, size_t, int);

	if (real == NULL)
		real = (int (*)(void *, size_t, int))dlsym(RTLD_NEXT, "madvise");
#ifdef MADV_POPULATE_WRITE
	if ((advice == MADV_POPULATE_READ || advice == MADV_POPULATE_WRITE) && env_long("TOPWIPE_SHIM_NO_PREFAULT")) {
		mark("no prefault");
		errno = EINVAL;
		return -1;
	}
#endif
	return real(addr, len, advice);
}

static off64_t seek(int fd, off64_t off, int whence)
{
	static off64_t (*real)(int, off64_t, int);

	if (real == NULL)
		real = (off64_t (*)(int, off64_t, int))dlsym(RTLD_NEXT, "lseek64");
	if ((whence == SEEK_DATA || whence == SEEK_HOLE) && env_long("TOPWIPE_SHIM_NO_HOLES")) {
		mark("no holes");
		errno = EINVAL;
		return -1;
	}
	return real(fd, off, whence);
}

off_t lseek(int fd, off_t off, int whence)
{
	return seek(fd, off, whence);
}

off64_t lseek64(int fd, off64_t off, int whence)
{
	return seek(fd, off, whence);
}

static int tell_fails(void)
{
	if (!env_long("TOPWIPE_SHIM_TELL_FAILS"))
		return 0;
	mark("tell fails");
	errno = EOVERFLOW;
	return 1;
}

off_t ftello(FILE *fh)
{
	static off_t (*real)(FILE *);

	if (real == NULL)
		real = (off_t (*)(FILE *))dlsym(RTLD_NEXT, "ftello");
	return tell_fails() ? -1 : real(fh);
}

off64_t ftello64(FILE *fh)
{
	static off64_t (*real)(FILE *);

	if (real == NULL)
		real = (off64_t (*)(FILE *))dlsym(RTLD_NEXT, "ftello64");
	return tell_fails() ? -1 : real(fh);
}

int fclose(FILE *fh)
{
	static int (*real)(FILE *);
	int r;

	if (real == NULL)
		real = (int (*)(FILE *))dlsym(RTLD_NEXT, "fclose");
	r = real(fh);
	if (r == 0 && env_long("TOPWIPE_SHIM_CLOSE_FAILS")) {
		mark("close fails");
		errno = EIO;
		return EOF;
	}
	return r;
}

/* Counts the one-byte writes of the per-byte pass (positioned, or, under
 * wine, after a seek); only where they are asked about, as telling the file
 * under test costs two stats a write. */
static void one_byte_written(int fd, size_t n)
{
	static int marked;

	if (n != 1 || (getenv("TOPWIPE_SHIM_TRUNCATE") == NULL && !env_long("TOPWIPE_SHIM_COUNT_BYTES")) ||
	    !watched(fd))
		return;
	if (!marked && env_long("TOPWIPE_SHIM_COUNT_BYTES")) {
		marked = 1;
		mark("byte write");
	}
	cut_at(fd, ++byte_writes);
}

static ssize_t put(int fd, const void *buf, size_t n, off64_t off)
{
	static ssize_t (*real)(int, const void *, size_t, off64_t);
	ssize_t r;

	if (real == NULL)
		real = (ssize_t (*)(int, const void *, size_t, off64_t))dlsym(RTLD_NEXT, "pwrite64");
	r = real(fd, buf, n, off);
	one_byte_written(fd, n);
	return r;
}

ssize_t pwrite(int fd, const void *buf, size_t n, off_t off)
{
	return put(fd, buf, n, off);
}

ssize_t pwrite64(int fd, const void *buf, size_t n, off64_t off)
{
	return put(fd, buf, n, off);
}

ssize_t write(int fd, const void *buf, size_t n)
{
	static ssize_t (*real)(int, const void *, size_t);
	ssize_t r;

	if (real == NULL)
		real = (ssize_t (*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
	r = real(fd, buf, n);
	one_byte_written(fd, n);
	return r;
}
