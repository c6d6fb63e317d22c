// Incident actions: the handler process, the kernel log note, the restart.
#include "functional/apps/kmsgwatch/child.h"
#include "functional/apps/kmsgwatch/counters.h"
#include "functional/apps/kmsgwatch/kmsgwatch.h"
#include "functional/apps/kmsgwatch/limits.h"
#include "functional/apps/kmsgwatch/statistics.h"
#include "platform/fleet/journal.h"
#include "platform/fleet/message_ids.h"
#include "platform/proc/process.h"
#include "platform/proc/run_command.h"

#include <fcntl.h>
#include <sys/reboot.h>
#include <unistd.h>

#include <algorithm>

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

// The words of the kernel log note for each action.
const char *noteWords(unsigned action)
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
                      noteWords(action));
    if (length > 0) {
        const std::size_t size =
            static_cast<std::size_t>(length) < sizeof note ? static_cast<std::size_t>(length) : sizeof note - 1;
        [[maybe_unused]] const ssize_t written = write(fd, note, size);
    }
    close(fd);
}

void sleepMillis(Millis length)
{
    if (length <= 0) {
        return;
    }
    timespec left{static_cast<time_t>(length / 1000), static_cast<long>(length % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void runHandler(void *name) { do_acr(static_cast<const char *>(name)); }

// The platform's reboot command, searched along the fixed path only.
void runRebootCommand(void *)
{
    char program[] = "reboot";
    char *const argv[] = {program, nullptr};
    if (setenv("PATH", RUN_COMMAND_PATH, 1) == 0) {
        execvp(program, argv);
    }
    _exit(1);
}

// The storm limit of each incident name, in Counters::incidents order.
StormLimit stormLimits[IncidentCount + 1];

LostRecords &lostRecords()
{
    static LostRecords lost(LostRecordsFile);
    return lost;
}

// Runs the handler of an incident, for at most HandlerLimitSeconds. False
// when it could not be waited for.
bool reportThroughHandler(const char *name, IncidentCounts &counts)
{
    const pid_t pid = startInOwnGroup(runHandler, const_cast<char *>(name));
    if (pid < 0) {
        fleet::logError("kmsgwatch: fork()");
    } else {
        ++counts.handlerRuns;
    }
    const ChildEnd end = waitWithin(pid, static_cast<Millis>(HandlerLimitSeconds) * 1000);
    if (!end.waited) { // a failed fork fails here as well
        fleet::logError("kmsgwatch: waitpid");
        return false;
    }
    if (end.timedOut) {
        ++counts.handlerTimeouts;
        fleet::logLine(fleet::Error,
                       fleet::format("kmsgwatch: handler %s%s timed out after %u s\n", HandlerBase, name,
                                     HandlerLimitSeconds),
                       {{"MESSAGE_ID", fleet::message_id::HandlerTimedOut},
                        {"INCIDENT", name},
                        {"HANDLER", std::string(HandlerBase) + name}});
    } else if (!proc_succeeded(end.status)) {
        ++counts.handlerFailures;
    }
    return true;
}

} // namespace

void (*SleepSeconds)(unsigned seconds) = sleepRealSeconds;

const char *actionWords(unsigned action) { return noteWords(action); }
unsigned MillisecondsPerPauseSecond = 1000;
unsigned HandlerLimitSeconds = DefaultHandlerLimitSeconds;
const char *LostRecordsFile = "/run/metrics/kmsg_lost";

void recordRead(unsigned long long sequence) { lostRecords().sequence(sequence); }

void recordsOverrun() { lostRecords().overrun(); }

void reportPending(long long now, bool force)
{
    for (unsigned i = 0; i <= IncidentCount; ++i) {
        const std::uint64_t heldBack = stormLimits[i].takeHeldBack(now, force);
        if (heldBack != 0) {
            fleet::logLine(fleet::Warning,
                           fleet::format("kmsgwatch: %llu %s incidents in %lld s were not handed to the handler "
                                         "(rate limit)\n",
                                         static_cast<unsigned long long>(heldBack), incidentName(i),
                                         StormLimit::Window / 1000),
                           {{"INCIDENT", incidentName(i)}});
        }
    }
    lostRecords().report(now, force);
}

long long nextReportDue()
{
    Millis due = lostRecords().due();
    for (const StormLimit &limit : stormLimits) {
        due = std::min(due, limit.due());
    }
    return due;
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
    const unsigned incident = incidentIndex(name);
    IncidentCounts &counts = counters().incidents[incident];
    // A storm of one incident that only asks to go on watching is reported a
    // few times and then counted: its handler runs and its notes (which go
    // back into the kernel's ring) must not hold up the records behind it.
    // Fatal incidents are never held back.
    if (action == ACTION_CONTINUE && !stormLimits[incident].allow(monotonicMillis())) {
        ++counts.handlersSuppressed;
        return;
    }
    if (!reportThroughHandler(name, counts)) {
        return;
    }
    writeNote(name, action);
    if (action != ACTION_CONTINUE) {
        reportPending(monotonicMillis(), true); // nothing counted is left unsaid
    }
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
        // The command may take the pause that follows it, no more: a reboot
        // command that hangs must not keep the restart request from coming.
        const Millis pause = 60 * static_cast<Millis>(MillisecondsPerPauseSecond);
        const Millis started = monotonicMillis();
        const pid_t pid = startInOwnGroup(runRebootCommand, nullptr);
        if (pid < 0) {
            std::abort();
        }
        if (waitWithin(pid, pause).timedOut) {
            ++counters().rebootCommandTimeouts;
            fleet::logLine(fleet::Error, "kmsgwatch: reboot timed out after 60 s\n");
        }
        sleepMillis(started + pause - monotonicMillis());
        fleet::logLine(fleet::Error, "kmsgwatch: soft reboot failed\n");
    }
    return reboot(RB_AUTOBOOT);
}
