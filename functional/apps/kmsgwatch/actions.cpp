// Incident actions: the incident lines and counts, the handler process, the
// kernel log note, the restart.
#include "functional/apps/kmsgwatch/actions.h"

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
#include <string>

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

// The record's text for a message line: without the line feed that ends
// it, so that each incident is one line.
void copyAsOneLine(const char *text, char (&line)[KMSG_TEXT_MAX + 1])
{
    std::size_t length = strnlen(text, KMSG_TEXT_MAX);
    if (length > 0 && text[length - 1] == '\n') {
        --length;
    }
    std::memcpy(line, text, length);
    line[length] = '\0';
}

// Before a hung-task report: give the kernel's own report time to reach the
// log, then leave the marker the watchdog side looks for.
void markHungTask()
{
    SleepSeconds(3);
    const int fd = open(HungTaskMarker, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        close(fd);
    }
}

// The incident's line, with the fields a query selects on.
void logIncident(unsigned rule, unsigned action, const kmsg_record &record, const char *text)
{
    const Rule &r = Rules[rule];
    const fleet::Priority priority = r.incident == nullptr     ? fleet::Notice
                                     : action == ACTION_CONTINUE ? fleet::Warning
                                                                 : fleet::Critical;
    const std::string line = fleet::format(r.logFormat, text);
    const std::string incident = ruleIncidentName(rule);
    if (r.incident != nullptr) {
        fleet::logLine(priority, line,
                       {{"MESSAGE_ID", r.messageId},
                        {"INCIDENT", incident},
                        {"ACTION", noteWords(action)},
                        {"KERNEL_SEQNUM", std::to_string(record.sequence)},
                        {"KERNEL_LEVEL", std::to_string(record.level)},
                        {"KERNEL_TEXT", text}});
    } else {
        fleet::logLine(priority, line,
                       {{"MESSAGE_ID", r.messageId},
                        {"INCIDENT", incident},
                        {"KERNEL_SEQNUM", std::to_string(record.sequence)},
                        {"KERNEL_LEVEL", std::to_string(record.level)},
                        {"KERNEL_TEXT", text}});
    }
}

// What the report's action asks once handler and note are done.
void carryOutAction(unsigned action)
{
    switch (action) {
    case ACTION_EXIT:
        std::exit(0);
    case ACTION_REBOOT:
        restartUnit(false);
        break;
    case ACTION_HARD_REBOOT:
        restartUnit(true);
        break;
    default:
        break;
    }
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

void actOnRecord(const kmsg_record &record, const Classification &found, bool oomContinue)
{
    if (found.testText) {
        fleet::logLine(fleet::Info, "kmsgwatch: Found test string\n");
        reportIncident("test", ACTION_EXIT);
    }
    for (unsigned i = 0; i < RuleCount; ++i) {
        const Rule &rule = Rules[i];
        if ((found.rules & (1u << i)) == 0) {
            continue;
        }
        char line[KMSG_TEXT_MAX + 1];
        copyAsOneLine(record.text, line);
        unsigned action = rule.action;
        if (i == OutOfMemoryRule && oomContinue) {
            action = ACTION_CONTINUE;
        }
        logIncident(i, action, record, line);
        countIncident(i);
        if (rule.metrics != nullptr) {
            increment_instance_of(rule.metrics);
        }
        if (i == HungTaskRule) {
            markHungTask();
        }
        if (rule.incident != nullptr) {
            // The report may end the process: what was counted is kept first.
            keepCounts(action != ACTION_CONTINUE);
            reportIncident(rule.incident, action);
        }
    }
}

void reportIncident(const char *name, unsigned action)
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
    carryOutAction(action);
}

int restartUnit(bool hardOnly)
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

} // namespace kmsgwatch

using namespace kmsgwatch;

extern "C" void act_on_message(const kmsg_record *record, const char *testText, int oomContinue)
{
    actOnRecord(*record, classify(*record, testText), oomContinue != 0);
}

// The report's child: the handler program in place of this process. Kept
// whole here, as the path-length assertion names this function.
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

extern "C" void trigger_acr(const char *name, unsigned action) { reportIncident(name, action); }

extern "C" int reboot_unit(int hardOnly) { return restartUnit(hardOnly != 0); }
