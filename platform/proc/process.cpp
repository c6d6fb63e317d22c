// Process primitives: fork, exec without a shell, wait.
#include "platform/proc/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct SpawnRequest {
    char *const *argv;
    const char *searchPath; // nullptr: the inherited PATH
    int outputFd;
    int notStartedStatus;
    bool newGroup = false;
};

// In the child: standard output redirected, then the program itself.
void execute(void *context)
{
    const auto *request = static_cast<const SpawnRequest *>(context);
    if (request->newGroup) {
        // A program of its own: its own group, and no signal held back
        // (the caller may hold some while it records the child).
        sigset_t none;
        sigemptyset(&none);
        if (setpgid(0, 0) != 0 || sigprocmask(SIG_SETMASK, &none, nullptr) != 0) {
            _exit(request->notStartedStatus);
        }
    }
    if (request->outputFd == STDOUT_FILENO) {
        // dup2 onto itself would keep the close-on-exec flag.
        if (fcntl(STDOUT_FILENO, F_SETFD, 0) < 0) {
            _exit(request->notStartedStatus);
        }
    } else if (request->outputFd >= 0 && dup2(request->outputFd, STDOUT_FILENO) < 0) {
        _exit(request->notStartedStatus);
    }
    // The child of a single-threaded parent: setenv may allocate here.
    if (request->searchPath != nullptr && std::strchr(request->argv[0], '/') == nullptr &&
        setenv("PATH", request->searchPath, 1) != 0) {
        _exit(request->notStartedStatus);
    }
    execvp(request->argv[0], request->argv);
    _exit(request->notStartedStatus);
}

} // namespace

extern "C" pid_t proc_fork(void (*child)(void *context), void *context)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        child(context);
        _exit(127);
    }
    return pid;
}

extern "C" pid_t proc_spawn(char *const argv[], int outputFd, int notStartedStatus)
{
    SpawnRequest request{argv, nullptr, outputFd, notStartedStatus};
    return proc_fork(execute, &request);
}

extern "C" pid_t proc_spawn_group(char *const argv[], int outputFd, int notStartedStatus)
{
    SpawnRequest request{argv, nullptr, outputFd, notStartedStatus, true};
    const pid_t pid = proc_fork(execute, &request);
    if (pid > 0) {
        // Also here, so that no signal to the group can miss it; after the
        // child's exec the call fails (EACCES), which is fine: it did it.
        setpgid(pid, pid);
    }
    return pid;
}

extern "C" pid_t proc_spawn_searching(char *const argv[], const char *searchPath, int outputFd, int notStartedStatus)
{
    SpawnRequest request{argv, searchPath, outputFd, notStartedStatus};
    return proc_fork(execute, &request);
}

extern "C" int proc_wait(pid_t pid, int *status)
{
    if (pid <= 0) {
        errno = ECHILD;
        return -1;
    }
    for (;;) {
        if (waitpid(pid, status, 0) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (WIFEXITED(*status) || WIFSIGNALED(*status)) {
            return 0;
        }
    }
}

extern "C" int proc_succeeded(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0; }
