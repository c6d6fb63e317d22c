// Incident actions: the handler process, the kernel log note, the restart.
#include "functional/apps/kmsgwatch/kmsgwatch.h"
#include "functional/apps/kmsgwatch/statistics.h"
#include "platform/fleet/journal.h"
#include "platform/proc/process.h"
#include "platform/proc/run_command.h"

#include <fcntl.h>
#include <sys/reboot.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace kmsgwatch {

namespace {

void sleepRealSeconds(unsigned seconds)
{
    timespec left{static_cast<time_t>(seconds), 0};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// One note, one write(): the kernel turns each write into one record.
void writeNote(const char *name, unsigned action)
{
    const int fd = open("/dev/kmsg", O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    char note[1024];
    const int length =
        std::snprintf(note, sizeof note, "kmsgwatch has detected a situation to report (%s) and will %s\n", name,
                      actionWords(action));
    if (length > 0) {
        const std::size_t size =
            static_cast<std::size_t>(length) < sizeof note ? static_cast<std::size_t>(length) : sizeof note - 1;
        [[maybe_unused]] const ssize_t written = write(fd, note, size);
    }
    close(fd);
}

void runHandler(void *name) { do_acr(static_cast<const char *>(name)); }

} // namespace

void (*SleepSeconds)(unsigned seconds) = sleepRealSeconds;

const char *actionWords(unsigned action)
{
    switch (action) {
    case ACTION_EXIT:
        return "exit itself";
    case ACTION_REBOOT:
    case ACTION_HARD_REBOOT:
        return "reboot unit";
    default:
        return "continue to watch log";
    }
}

} // namespace kmsgwatch

using namespace kmsgwatch;

extern "C" void do_acr(const char *name)
{
    char p[512];
    const char *base = HandlerBase;
    assert(strlen(name) + strlen(base) < sizeof p);
    std::snprintf(p, sizeof p, "%s%s", base, name);
    char *const argv[] = {p, nullptr};
    execvp(p, argv);
    std::abort();
}

extern "C" void trigger_acr(const char *name, unsigned action)
{
    const pid_t pid = proc_fork(runHandler, const_cast<char *>(name));
    if (pid < 0) {
        fleet::logError("kmsgwatch: fork()");
    }
    int status = 0;
    if (proc_wait(pid, &status) != 0) { // a failed fork fails here as well
        fleet::logError("kmsgwatch: waitpid");
        return;
    }
    if (!proc_succeeded(status)) {
        countHandlerFailure(name);
    }
    writeNote(name, action);
    switch (action) {
    case ACTION_EXIT:
        std::exit(0);
    case ACTION_REBOOT:
        reboot_unit(0);
        break;
    case ACTION_HARD_REBOOT:
        reboot_unit(1);
        break;
    default:
        break;
    }
}

extern "C" int reboot_unit(int hardOnly)
{
    fleet::logLine(fleet::Critical, "kmsgwatch: reboot unit\n");
    sync();
    SleepSeconds(60);
    if (!hardOnly) {
        run_command("reboot");
        SleepSeconds(60);
        fleet::logLine(fleet::Error, "kmsgwatch: soft reboot failed\n");
    }
    return reboot(RB_AUTOBOOT);
}
