// Child processes with a time limit.
#include "functional/apps/kmsgwatch/child.h"

#include "platform/proc/process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace kmsgwatch {

namespace {

struct GroupChild {
    void (*child)(void *context);
    void *context;
};

void enterOwnGroup(void *context)
{
    const auto *start = static_cast<const GroupChild *>(context);
    setpgid(0, 0);
    start->child(start->context);
}

// SIGCHLD held pending while waiting, so that sigtimedwait sees every child
// that ends; the mask is put back on every path out.
class ChildSignalHeld {
public:
    ChildSignalHeld()
    {
        sigemptyset(&child_);
        sigaddset(&child_, SIGCHLD);
        sigprocmask(SIG_BLOCK, &child_, &old_);
    }
    ChildSignalHeld(const ChildSignalHeld &) = delete;
    ChildSignalHeld &operator=(const ChildSignalHeld &) = delete;
    ~ChildSignalHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    const sigset_t &set() const { return child_; }

private:
    sigset_t child_{};
    sigset_t old_{};
};

// 1 when the child has ended (left unreaped, so that its process id and
// group stay taken), 0 when it still runs, -1 when the wait fails.
int hasEnded(pid_t pid)
{
    for (;;) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
            return info.si_pid == pid ? 1 : 0;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

// As hasEnded, waiting until `deadline` for the child to end.
int endsBy(pid_t pid, Millis deadline, const ChildSignalHeld &held)
{
    for (;;) {
        const int ended = hasEnded(pid);
        if (ended != 0) {
            return ended;
        }
        const Millis left = deadline - monotonicMillis();
        if (left <= 0) {
            return 0;
        }
        const timespec wait{static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000L};
        sigtimedwait(&held.set(), nullptr, &wait); // a child ended, a timeout or EINTR: look again
    }
}

void signalGroup(pid_t pid, int signal)
{
    if (kill(-pid, signal) != 0 && errno == ESRCH) {
        kill(pid, signal); // it never got a group of its own
    }
}

} // namespace

pid_t startInOwnGroup(void (*child)(void *context), void *context)
{
    GroupChild start{child, context};
    const pid_t pid = proc_fork(enterOwnGroup, &start);
    if (pid > 0) {
        setpgid(pid, pid); // as the child does: whichever runs first
    }
    return pid;
}

ChildEnd waitWithin(pid_t pid, Millis limit)
{
    ChildEnd end{false, false, 0};
    if (pid <= 0) {
        errno = ECHILD;
        return end;
    }
    int ended;
    {
        const ChildSignalHeld held;
        ended = endsBy(pid, monotonicMillis() + limit, held);
        if (ended == 0) {
            end.timedOut = true;
            signalGroup(pid, SIGTERM);
            ended = endsBy(pid, monotonicMillis() + KillGraceMillis, held);
            if (ended >= 0) {
                signalGroup(pid, SIGKILL); // the child itself, or what is left of its group
            }
        }
    }
    if (ended < 0) {
        return end;
    }
    end.waited = proc_wait(pid, &end.status) == 0;
    return end;
}

} // namespace kmsgwatch
