// Starting programs without a shell and waiting for them: the process
// primitives of kmsgwatch and selfcheckrun.
#pragma once

#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

// Forks a child that runs child(context) and ends with status 127 should that
// return. Buffered standard streams are flushed first, so that nothing the
// parent buffered is written twice. Returns the child's process id, or -1
// (errno set) when the fork fails.
pid_t proc_fork(void (*child)(void *context), void *context);

// Starts argv[0] with the argument vector argv (ended by a null pointer),
// searched along PATH when it holds no '/', with no shell in between; a file
// without a "#!" line is run by /bin/sh, as execvp does. When outputFd is not
// negative it becomes the child's standard output (it may be close-on-exec).
// A program that cannot be executed makes the child exit with
// notStartedStatus. Returns the child's process id, or -1 as proc_fork.
pid_t proc_spawn(char *const argv[], int outputFd, int notStartedStatus);

// As proc_spawn, but a program name without '/' is searched along searchPath
// (directories separated by ':'), which is also the program's PATH, instead
// of the PATH this process inherited.
pid_t proc_spawn_searching(char *const argv[], const char *searchPath, int outputFd, int notStartedStatus);

// As proc_spawn, but the child leads a new process group of its own (its
// group id is its process id, set in parent and child alike, so that it
// holds when this returns): the program and everything it starts can be
// signalled together with kill(-pid, signal) without reaching the caller.
// The program starts with no signal blocked, whatever the caller blocks.
pid_t proc_spawn_group(char *const argv[], int outputFd, int notStartedStatus);

// Waits until the child has ended, repeating interrupted waits and waiting
// past stop notifications. 0 with its wait status in *status; -1 (errno set)
// when the wait fails, ECHILD for a process id that is not positive (what a
// failed start returns).
int proc_wait(pid_t pid, int *status);

// 1 when a wait status says the program exited normally with status 0.
int proc_succeeded(int status);

#ifdef __cplusplus
}
#endif
