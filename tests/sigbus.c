/*
 * Runs a command as a caller with its own SIGBUS settings would, and can
 * make each SIGBUS the kernel raises in it look like a hardware memory
 * error, which a healthy machine never shows:
 *
 *   sigbus default|ignored|blocked as-is|memory-error COMMAND [ARG...]
 *
 * The first word is what the command inherits: SIGBUS's default action,
 * its action ignored, or the signal blocked. With memory-error the command
 * runs traced, and each SIGBUS that the kernel raises in it (a code above
 * 0) is handed on as BUS_MCEERR_AR, address and all, which marks
 * "memory error" in the file named by TOPWIPE_SHIM_MARK. The status is the
 * command's, or 128 + the signal that ended it.
 */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ptrace.h>
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

int main(int argc, char *argv[])
{
	sigset_t bus;
	siginfo_t si;
	pid_t child;
	int st, sig;

	if (argc < 4 || (strcmp(argv[2], "as-is") != 0 && strcmp(argv[2], "memory-error") != 0)) {
		fprintf(stderr, "usage: %s default|ignored|blocked as-is|memory-error COMMAND [ARG...]\n", argv[0]);
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

	if (strcmp(argv[2], "as-is") == 0) {
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
	    ptrace(PTRACE_SETOPTIONS, child, NULL, (void *)PTRACE_O_EXITKILL) != 0)
		return 2;
	for (sig = 0;; sig = WSTOPSIG(st) == SIGTRAP ? 0 : WSTOPSIG(st)) {
		if (sig == SIGBUS && ptrace(PTRACE_GETSIGINFO, child, NULL, &si) == 0 && si.si_code > 0) {
			si.si_code = BUS_MCEERR_AR;
			if (ptrace(PTRACE_SETSIGINFO, child, NULL, &si) == 0)
				mark();
		}
		if (ptrace(PTRACE_CONT, child, NULL, (void *)(long)sig) != 0 || waitpid(child, &st, 0) != child)
			return 2;
		if (WIFEXITED(st))
			return WEXITSTATUS(st);
		if (WIFSIGNALED(st))
			return 128 + WTERMSIG(st);
	}
}
