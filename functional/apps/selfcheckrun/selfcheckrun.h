// Sanity test runner: runs every program of the test directory over and over
// and publishes their collected output as one result document.
#pragma once

#include "platform/proc/ending_signals.h"

#include <sys/stat.h>

#include <csignal>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {

// One run: writes "<tests>\n", the standard output of every test program and
// "</tests>\n" to a temporary file beside the result path and renames it into
// place, then publishes a copy in /var/log the same way (a copy that cannot
// be written leaves the old copy as it was). 1 when a result was published,
// 0 when the run failed before that.
int run_tests(const char *resultPath);

// SIGTERM, SIGINT and SIGHUP: removes the temporary file of a run in
// progress, sets the signal back to its default action and sends it to the
// whole process group, so that the runner and a running test end together.
void handler(int signalNumber);

// The whole program: options, process group, signals, runs. Exit status.
int selfcheckrun_main(int argc, char **argv);

} // extern "C"

namespace selfcheckrun {

inline constexpr char TestDirectory[] = "/etc/selfcheckrun.d";
inline constexpr char InstallWaitMarker[] = "/tmp/install-wait";
inline constexpr char DefaultResultPath[] = "/run/selfcheckrun.xml";
inline constexpr char CopyFolder[] = "/var/log";
// The longest result path accepted.
inline constexpr std::size_t ResultPathMax = 1010;

// How long a test program may run and how much it may print (-T, -o).
struct Limits {
    long seconds = 120;
    long bytes = 1048576;
};

// What became of one test program in a run.
struct TestOutcome {
    std::string path;
    int waitStatus = 0;    // as waitpid gives it; meaningless when !started
    bool started = false;  // it could be started
    bool failed = false;   // not started, exited with another status than 0, or ended by a signal
    bool timedOut = false; // still running at the time limit: ended
    bool cut = false;      // printed past the output limit: ended, the rest dropped
    double seconds = 0;    // from its start to its end
};

// One run: each program's outcome in directory order, and how many were not
// run because others could change them.
struct RunReport {
    std::vector<TestOutcome> tests;
    int refused = 0;
};

// The report of the last run_tests().
const RunReport &lastRun();

// The metrics file <folder>/selfcheckrun.prom (-p; null: none), written at
// start and after every run (its length in seconds; published: a document
// was published, and the run's report is the last run's).
void statisticsStart(const char *folder);
void statisticsAfterRun(bool published, double seconds);

// The limits every run applies (set from the command line).
extern Limits ActiveLimits;

// Runs one test program, its path passed as its only argument (argv[0]), no
// shell in between (a file without a "#!" line is run by /bin/sh, as a shell
// would), in a process group of its own, and collects its standard output in
// `output` (in memory, never more than the output limit). A program still
// running at the time limit, or printing past the output limit, gets SIGTERM
// on its process group and SIGKILL 2 s later; its output is then kept up to
// the last whole line within the limit. The outcome says what happened.
TestOutcome runTestProgram(const char *path, const Limits &limits, std::string &output);

// One run with the given limits (run_tests with ActiveLimits); the report
// is filled in as the programs run. 1 when a result was published.
int runTests(const char *resultPath, const Limits &limits, RunReport &report);

// Reads a whole decimal number (base 10, nothing after it) within
// [minimum, maximum]; false for anything else.
bool parseWholeNumber(const char *text, long minimum, long maximum, long &value);

// True when the result path is at most ResultPathMax characters long.
bool resultPathFits(const char *resultPath);

// Where the copy of the result goes: CopyFolder and the result path's last
// component.
std::string copyPath(const char *resultPath);

// Whether a test program may run as root: owned by root and writable by
// nobody else, judged on `info`, the stat() of its path (through symbolic
// links). Empty when it may, else why not (naming a link's target).
std::string whyNotTrusted(const char *path, const struct stat &info);

// True when the install marker exists and is this runner's to obey: owned
// by root or by the user the runner runs as. A marker of another owner is
// reported (once for as long as it stays) and ignored.
bool installWaitRequested();

// Removes what killed runners left behind: the temporary files of the result
// and of its copy whose process is gone.
void removeStaleTemporaries(const char *resultPath);

// True when publishing at the result path replaces at most a regular file: the
// path does not exist or names one (a link, a device or a directory is never
// replaced).
bool resultPathUsable(const char *resultPath);

// Removes the temporary files of the run in progress, if any, and sends the
// signal to the process group of the test program running. Safe in a
// signal handler.
void removePendingTemporary();
void signalRunningTest(int signalNumber);

// The signals that end the runner; held back around a step and its
// registration for the signal handler, so that the two are one.
using proc::EndingSignals;
using proc::EndingSignalsHeld;

} // namespace selfcheckrun
