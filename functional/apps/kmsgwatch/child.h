// Child processes with a time limit: each runs in a process group of its
// own, so that whatever it started itself is stopped with it.
#pragma once

#include "functional/apps/kmsgwatch/limits.h"

#include <sys/types.h>

namespace kmsgwatch {

// Between SIGTERM and SIGKILL to a child's process group at its time limit.
inline constexpr Millis KillGraceMillis = 2000;

// Forks a child that becomes the leader of a new process group and runs
// child(context) (ending with status 127 should that return). The child's
// process id, or -1 (errno set) when the fork fails.
pid_t startInOwnGroup(void (*child)(void *context), void *context);

struct ChildEnd {
    bool waited;   // false: the wait failed (errno set); the rest is unset
    bool timedOut; // still running at the limit: stopped by SIGTERM, or SIGKILL after the grace
    int status;    // its wait status
};

// Waits for a child of startInOwnGroup for at most `limit` milliseconds.
// Past it, SIGTERM goes to the child's process group; when the child has not
// ended KillGraceMillis later, SIGKILL. Whatever is left of the group once the
// child has ended gets SIGKILL too. The child is always waited for (stop
// notifications are waited past). A process id that is not positive (a
// failed fork) fails with ECHILD.
ChildEnd waitWithin(pid_t pid, Millis limit);

} // namespace kmsgwatch
