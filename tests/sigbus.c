/*
 * Runs a command as a caller with its own SIGBUS settings would, and can
 * make it meet hardware memory errors, which a healthy machine never shows:
 *
 *   sigbus default|ignored|blocked as-is|memory-error|early-inside|early-outside COMMAND [ARG...]
 *
 * The first word is what the command inherits: SIGBUS's default action,
 * its action ignored, or the signal blocked. With memory-error the command
 * runs traced, and each SIGBUS that the kernel raises in it (a code above
 * 0) is handed on as BUS_MCEERR_AR, address and all, which marks
 * "memory error" in the file named by TOPWIPE_SHIM_MARK. With early-inside
 * it gets, as its first shared mapping of a file returns, the notice that
 * a kernel which kills early sends when it finds a page poisoned
 * (BUS_MCEERR_AO), for a page of that mapping; with early-outside, the
 * same notice for a page that is not its own, and then, as its second
 * shared mapping returns, a plain SIGBUS sent from outside. The status is
 * the command's, or 128 + the signal that ended it.
 */
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

static void mark(void)
{
	const char *path = getenv("TOPWIPE_SHIM_MARK");
	FILE *f = path == NULL ? NULL : fopen(path, "a");

	if (f != NULL) {
		fputs("memory error\n", f);
		fclose(f);
	}
}

/* At a syscall stop: the address a shared mapping of a file returned, or 0. */
static uintptr_t mapped_file(pid_t child, int *in_map)
{
	struct __ptrace_syscall_info info;

	if (ptrace(PTRACE_GET_SYSCALL_INFO, child, (void *)sizeof info, &info) <= 0)
		return 0;
	if (info.op == PTRACE_SYSCALL_INFO_ENTRY) {
		*in_map = info.entry.nr == SYS_mmap && (info.entry.args[3] & MAP_SHARED) != 0 &&
			  (int)info.entry.args[4] >= 0;
		return 0;
	}
	if (info.op != PTRACE_SYSCALL_INFO_EXIT || !*in_map || info.exit.is_error)
		return 0;
	*in_map = 0;
	return (uintptr_t)info.exit.rval;
}

int main(int argc, char *argv[])
{
	const char *how = argc < 3 ? "" : argv[2];
	int early = strncmp(how, "early-", 6) == 0, in_map = 0, maps = 0;
	void *notice = NULL; /* the address the next SIGBUS is a notice for */
	sigset_t bus;
	siginfo_t si;
	pid_t child;
	int st, sig;

	if (argc < 4 || (strcmp(how, "as-is") != 0 && strcmp(how, "memory-error") != 0 &&
			 strcmp(how, "early-inside") != 0 && strcmp(how, "early-outside") != 0)) {
		fprintf(stderr, "usage: %s default|ignored|blocked as-is|memory-error|early-inside|early-outside COMMAND [ARG...]\n",
			argv[0]);
		return 2;
	}
	sigemptyset(&bus);
	sigaddset(&bus, SIGBUS);
	if (strcmp(argv[1], "ignored") == 0)
		signal(SIGBUS, SIG_IGN);
	else if (strcmp(argv[1], "blocked") == 0)
		sigprocmask(SIG_BLOCK, &bus, NULL);
	else if (strcmp(argv[1], "default") != 0)
		return 2;

	if (strcmp(how, "as-is") == 0) {
		execvp(argv[3], argv + 3);
		perror(argv[3]);
		return 127;
	}
	child = fork();
	if (child < 0)
		return 2;
	if (child == 0) {
		if (ptrace(PTRACE_TRACEME, 0, NULL, NULL) != 0)
			_exit(2);
		execvp(argv[3], argv + 3);
		_exit(127);
	}
	/* Stopped at its exec: from here on it dies with its tracer. */
	if (waitpid(child, &st, 0) != child || !WIFSTOPPED(st) ||
	    ptrace(PTRACE_SETOPTIONS, child, NULL, (void *)(long)(PTRACE_O_EXITKILL | PTRACE_O_TRACESYSGOOD)) != 0)
		return 2;
	for (sig = 0;; sig = WSTOPSIG(st) == SIGTRAP ? 0 : WSTOPSIG(st)) {
		if (WSTOPSIG(st) == (SIGTRAP | 0x80)) {
			uintptr_t at = mapped_file(child, &in_map);

			sig = 0;
			if (at != 0 && ++maps == 1) {
				notice = (void *)(strcmp(how, "early-inside") == 0 ? at + 4096 : 4096);
				kill(child, SIGBUS);
			} else if (at != 0 && maps == 2 && strcmp(how, "early-outside") == 0) {
				kill(child, SIGBUS);
			}
		} else if (sig == SIGBUS && ptrace(PTRACE_GETSIGINFO, child, NULL, &si) == 0) {
			if (notice != NULL) {
				si.si_code = BUS_MCEERR_AO;
				si.si_addr = notice;
				notice = NULL;
				if (ptrace(PTRACE_SETSIGINFO, child, NULL, &si) != 0)
					return 2;
			} else if (!early && si.si_code > 0) {
				si.si_code = BUS_MCEERR_AR;
				if (ptrace(PTRACE_SETSIGINFO, child, NULL, &si) == 0)
					mark();
			}
		}
		if (ptrace(early ? PTRACE_SYSCALL : PTRACE_CONT, child, NULL, (void *)(long)sig) != 0 ||
		    waitpid(child, &st, 0) != child)
			return 2;
		if (WIFEXITED(st))
			return WEXITSTATUS(st);
		if (WIFSIGNALED(st))
			return 128 + WTERMSIG(st);
	}
}
