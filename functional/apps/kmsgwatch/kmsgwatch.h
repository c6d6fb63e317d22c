// Kernel log tracker: follows the kernel log, classifies incidents, counts
// some of them in metrics files, reports them through handler programs and
// restarts the unit for the fatal ones.
#pragma once

#include "functional/apps/kmsgwatch/record.h"

#include <sys/types.h>

#include <cstddef>

extern "C" {

// Incident actions, carried out after the report.
enum kmsgwatch_action : unsigned {
    ACTION_EXIT = 0,        // the process exits with status 0
    ACTION_REBOOT = 1,      // restart of the unit, soft reboot first
    ACTION_HARD_REBOOT = 2, // restart of the unit, hard restart only
    ACTION_CONTINUE = 3,    // watching goes on
};

// Reads the record device from its oldest record (blocking, or to its end in
// test mode), falling back to following the log file when the device cannot
// be read. 1 for a normal end, 0 for a failure.
int monitor_file(const char *device, const char *logFile, const char *testText, int oomContinue);

// Classifies one record and carries out every matching rule (classify.h,
// actions.h).
void act_on_message(const struct kmsg_record *record, const char *testText, int oomContinue);

// Adds one to the count in a metrics file (1 when missing or unreadable); the
// file is replaced as a whole, never seen empty or cut.
void increment_instance_of(const char *path);

// Reports an incident through /bin/kmsgwatch-<name> and a kernel log note,
// then carries out the action; returns only for ACTION_CONTINUE, when the
// report could not be made, or when the restart request failed. "acr" here
// and in do_acr: automatic crash report, the report kmsgwatch makes by itself
// (actions.h).
void trigger_acr(const char *name, unsigned action);

// In the report's child: executes the handler program; never returns.
[[noreturn]] void do_acr(const char *name);

// Restarts the unit (soft reboot first unless hardOnly); returns only when
// the final restart request fails, with its result.
int reboot_unit(int hardOnly);

// The whole program: start guard, options, watch. Returns the exit status.
int kmsgwatch_main(int argc, char **argv);

} // extern "C"

namespace kmsgwatch {

// Handler program path prefix; also the start guard's test of argv[0].
inline constexpr char HandlerBase[] = "/bin/kmsgwatch-";
inline constexpr char HungTaskMarker[] = "/run/exit_wdt";

// The count of kernel log records lost before they were read; the only
// writer of it is the watch of the record device.
extern const char *LostRecordsFile; // "/run/metrics/kmsg_lost"; a test points it elsewhere

// How long a handler may run (-T), in seconds of the real clock; past it
// its process group gets SIGTERM, and SIGKILL KillGraceMillis later.
extern unsigned HandlerLimitSeconds;
inline constexpr unsigned DefaultHandlerLimitSeconds = 30;

// Prints what the storm limit held back and the records lost, when due at
// `now` (monotonic milliseconds), or all that is pending with `force` (before
// the process exits or restarts).
void reportPending(long long now, bool force);

// What the watch of the record device tells the count of lost records:
// each record's sequence number, in order, and each read that failed with
// EPIPE (records overwritten before they were read).
void recordRead(unsigned long long sequence);
void recordsOverrun();

// When reportPending has something to print next (monotonic milliseconds;
// INT64_MAX: nothing pending).
long long nextReportDue();

// Removes the temporary files that killed watchers left beside the metrics
// files ("<metrics file>.<pid>" of a process that is gone); nothing else.
void removeStaleMetricsTemporaries();

// The words of the kernel log note for an action.
const char *actionWords(unsigned action);

// How the watcher sleeps (seconds). Only a test build replaces it, so that
// the restart path's long pauses do not slow the tests down.
extern void (*SleepSeconds)(unsigned seconds);

// How many milliseconds of the real clock one second of those pauses lasts
// (1000; the test build's 1). The soft restart's `reboot` command may run for
// the pause that follows it, and no longer.
extern unsigned MillisecondsPerPauseSecond;

// How the record device is read; only a test replaces it, to model a device
// that reports overruns (EPIPE).
extern ssize_t (*ReadDevice)(int fd, void *buffer, std::size_t size);

} // namespace kmsgwatch
