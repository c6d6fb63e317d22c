// Sanity test runner: runs every program of the test directory over and over
// and publishes their collected output as one result document.
#pragma once

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

// Runs one test program, its path passed as its only argument (argv[0]), no
// shell in between (a file without a "#!" line is run by /bin/sh, as a shell
// would), and copies its standard output to `out` unchanged. True when it ran
// and exited with status 0.
bool runTestProgram(const char *path, std::FILE *out);
// As above; *status is its wait status (-1 when it could not be started).
bool runTestProgram(const char *path, std::FILE *out, int *status);

// What one run found, for the metrics file.
struct TestOutcome {
    std::string name; // the file name in the test directory
    bool failed;      // ended with another status than 0, by a signal, or not started
    double seconds;   // how long it ran
};
struct RunReport {
    std::vector<TestOutcome> tests; // in the order they ran
    unsigned refused = 0;           // programs not run as unsafe
    double endTime = 0;             // seconds since the epoch, when published
    double seconds = 0;             // the whole run
};
// The report of the last run_tests().
const RunReport &lastRun();

// The metrics file <folder>/selfcheckrun.prom (-p; null: none), written at
// start and after every run.
void statisticsStart(const char *folder);
void statisticsAfterRun(bool published);

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

// Removes the temporary file of the run in progress, if any. Safe in a signal
// handler.
void removePendingTemporary();

// The signals that end the runner.
inline constexpr int EndingSignals[] = {SIGTERM, SIGINT, SIGHUP};

} // namespace selfcheckrun
