// One run of the sanity tests and the start of each test program.
#include "functional/apps/selfcheckrun/selfcheckrun.h"

#include "platform/fleet/journal.h"
#include "platform/fleet/message_ids.h"
#include "platform/proc/process.h"
#include "platform/publish/publish.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <poll.h>
#include <sys/wait.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace selfcheckrun {

Limits ActiveLimits;

namespace {

// The process group of the test program running, for the signal handler.
std::atomic<pid_t> RunningGroup{0};

double now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Reaps the child if it has ended. True once it has.
bool reaped(pid_t pid, int &status, bool &done)
{
    if (!done) {
        const pid_t got = waitpid(pid, &status, WNOHANG);
        done = got == pid || (got < 0 && errno == ECHILD);
    }
    return done;
}

// Ends a test program's whole process group: SIGTERM, and SIGKILL when
// anything of it is still there 2 s later; the child is reaped.
void endGroup(pid_t pid, int &status, bool &done)
{
    kill(-pid, SIGTERM);
    const double killAt = now() + 2;
    while (now() < killAt) {
        if (reaped(pid, status, done) && kill(-pid, 0) != 0) {
            return;
        }
        usleep(10000);
    }
    kill(-pid, SIGKILL);
    if (!done) {
        proc_wait(pid, &status);
        done = true;
    }
}

} // namespace

TestOutcome runTestProgram(const char *path, const Limits &limits, std::string &output)
{
    TestOutcome outcome;
    outcome.path = path;
    outcome.failed = true;
    output.clear();
    const double started = now();
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) < 0) {
        return outcome;
    }
    char *const argv[] = {const_cast<char *>(path), nullptr};
    // The ending signals wait until the handler knows the new group: one
    // that came in between would miss the program.
    pid_t pid;
    {
        const EndingSignalsHeld held;
        pid = proc_spawn_group(argv, pipeFds[1], 127);
        if (pid > 0) {
            RunningGroup = pid;
        }
    }
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        return outcome;
    }
    outcome.started = true;
    const double deadline = started + static_cast<double>(limits.seconds);
    const std::size_t limit = static_cast<std::size_t>(limits.bytes);
    int status = 0;
    bool done = false;
    bool open = true;
    char piece[1023];
    // Its output until it closes it, then the program's end; both within
    // the time limit.
    while (!outcome.cut && !(done && !open)) {
        const double left = deadline - now();
        if (left <= 0) {
            outcome.timedOut = true;
            break;
        }
        if (!open) {
            if (!reaped(pid, status, done)) {
                usleep(10000);
            }
            continue;
        }
        pollfd ready{pipeFds[0], POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(std::min(left * 1000 + 1, 1000.0))) <= 0) {
            continue; // interrupted or not yet: the time is checked again
        }
        const ssize_t got = read(pipeFds[0], piece, sizeof piece);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            open = false;
            continue;
        }
        const std::size_t room = limit - output.size();
        output.append(piece, std::min(room, static_cast<std::size_t>(got)));
        outcome.cut = static_cast<std::size_t>(got) > room;
    }
    close(pipeFds[0]);
    if (outcome.timedOut || outcome.cut) {
        endGroup(pid, status, done);
        // Only whole lines: a cut one could break the document's elements.
        const std::size_t end = output.rfind('\n');
        output.resize(end == std::string::npos ? 0 : end + 1);
    }
    RunningGroup = 0;
    outcome.waitStatus = status;
    outcome.failed = outcome.timedOut || outcome.cut || !proc_succeeded(status);
    outcome.seconds = now() - started;
    return outcome;
}

void signalRunningTest(int signalNumber)
{
    if (const pid_t group = RunningGroup.load(); group > 0) {
        kill(-group, signalNumber);
    }
}

bool parseWholeNumber(const char *text, long minimum, long maximum, long &value)
{
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char *end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum) {
        return false;
    }
    value = parsed;
    return true;
}

bool resultPathFits(const char *resultPath) { return std::strlen(resultPath) <= ResultPathMax; }

std::string copyPath(const char *resultPath)
{
    const char *slash = std::strrchr(resultPath, '/');
    return std::string(CopyFolder) + "/" + (slash != nullptr ? slash + 1 : resultPath);
}

std::string whyNotTrusted(const char *path, const struct stat &info)
{
    const char *why = nullptr;
    if (info.st_uid != 0) {
        why = "not owned by root";
    } else if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        why = "writable by group or others";
    } else {
        return {};
    }
    struct stat entry {};
    if (lstat(path, &entry) == 0 && S_ISLNK(entry.st_mode)) {
        char target[PATH_MAX];
        const std::string name = realpath(path, target) != nullptr ? target : "of the link";
        return "its target " + name + " is " + why;
    }
    return why;
}

bool installWaitRequested()
{
    // The marker itself, not what a link points to: anyone can link to a
    // file of root's.
    struct stat info {};
    static struct stat reported {};
    if (lstat(InstallWaitMarker, &info) != 0) {
        reported = {};
        return false;
    }
    if (info.st_uid == 0 || info.st_uid == geteuid()) {
        return true;
    }
    if (info.st_ino != reported.st_ino || info.st_dev != reported.st_dev || info.st_uid != reported.st_uid) {
        reported = info;
        fleet::logLine(fleet::Warning, fleet::format("selfcheckrun: ignoring %s: owned by user %u\n", InstallWaitMarker,
                                                      static_cast<unsigned>(info.st_uid)));
        syslog(LOG_INFO, "selfcheckrun: ignoring %s: owned by user %u", InstallWaitMarker,
               static_cast<unsigned>(info.st_uid));
    }
    return false;
}

void removeStaleTemporaries(const char *resultPath)
{
    publish_remove_stale(resultPath);
    publish_remove_stale(copyPath(resultPath).c_str());
}

bool resultPathUsable(const char *resultPath)
{
    struct stat info {};
    return lstat(resultPath, &info) != 0 || S_ISREG(info.st_mode);
}

namespace {

// The temporary files of the run in progress (the document and its copy),
// for the signal handler.
std::atomic<const char *> PendingTemporary[2]{};
static_assert(std::atomic<const char *>::is_always_lock_free, "read by a signal handler");

// A file being published (the run's document or its copy): its temporary
// file is known to the signal handler from its creation to the end of this
// object. The ending signals wait while it is created, so that none comes
// between its creation and its registration.
class PendingFile {
public:
    PendingFile(const char *path, int slot) : slot_(slot)
    {
        const EndingSignalsHeld held;
        opened_ = publish_open(&file_, path) == 0;
        if (opened_) {
            PendingTemporary[slot_] = file_.temporary;
        }
    }
    ~PendingFile() { PendingTemporary[slot_] = nullptr; }
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;
    bool opened() const { return opened_; }
    publish_file &file() { return file_; }

private:
    int slot_;
    publish_file file_;
    bool opened_;
};

// The file name of a test program's path.
std::string baseName(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A test program that is not run: why, on standard error and in the system
// log.
void reportNotRun(const std::string &path, const std::string &why)
{
    fleet::logLine(fleet::Warning, fleet::format("selfcheckrun: Not running %s: %s\n", path.c_str(), why.c_str()),
                   {{"MESSAGE_ID", fleet::message_id::UnsafeRefused}, {"TEST", baseName(path)}});
    syslog(LOG_INFO, "selfcheckrun: Not running %s: %s", path.c_str(), why.c_str());
}

RunReport LastRun;

// The document being written, and its copy for /var/log written alike as
// it goes (the copy is made of what was written, never read back from the
// published path, which another could have replaced meanwhile).
struct Document {
    publish_file &result;
    publish_file *copy; // null when it could not be created
    void write(const char *data, std::size_t size)
    {
        std::fwrite(data, 1, size, result.out);
        if (copy != nullptr) {
            std::fwrite(data, 1, size, copy->out);
        }
    }
    void write(const std::string &text) { write(text.data(), text.size()); }
};

// A line about a test program, on standard error (or the journal, with its
// fields) and in the system log.
void report(const std::string &line, const char *messageId, const TestOutcome &outcome)
{
    fleet::Field end{"EXIT_STATUS", "127"};
    if (outcome.started && WIFSIGNALED(outcome.waitStatus)) {
        end = {"SIGNAL", std::to_string(WTERMSIG(outcome.waitStatus))};
    } else if (outcome.started && WIFEXITED(outcome.waitStatus)) {
        end = {"EXIT_STATUS", std::to_string(WEXITSTATUS(outcome.waitStatus))};
    }
    fleet::logLine(fleet::Warning, line, {{"MESSAGE_ID", messageId}, {"TEST", baseName(outcome.path)}, end});
    syslog(LOG_INFO, "%s", line.c_str());
}

// Every entry of the test directory that is not a directory: its output, or
// why it contributed none. As root only programs that no other user can
// change are run.
void runDirectory(DIR *directory, Document &document, const Limits &limits, RunReport &runReport)
{
    const bool asRoot = geteuid() == 0;
    std::string output;
    while (const dirent *entry = readdir(directory)) {
        const std::string path = std::string(TestDirectory) + "/" + entry->d_name;
        struct stat info {};
        if (stat(path.c_str(), &info) != 0) {
            fleet::logLine(fleet::Error, fleet::format("selfcheckrun: Failed to stat %s\n", path.c_str()),
                           {{"TEST", baseName(path)}});
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            continue;
        }
        if ((info.st_mode & S_IXUSR) == 0) {
            fleet::logLine(fleet::Warning, fleet::format("selfcheckrun: %s is not executable\n", path.c_str()),
                           {{"TEST", baseName(path)}});
            continue;
        }
        if (asRoot) {
            if (const std::string why = whyNotTrusted(path.c_str(), info); !why.empty()) {
                reportNotRun(path, why);
                ++runReport.refused;
                continue;
            }
        }
        const TestOutcome outcome = runTestProgram(path.c_str(), limits, output);
        document.write(output);
        if (outcome.timedOut) {
            report("selfcheckrun: " + path + " timed out after " + std::to_string(limits.seconds) + " s",
                   fleet::message_id::TestTimedOut, outcome);
        } else if (outcome.cut) {
            report("selfcheckrun: " + path + " printed more than " + std::to_string(limits.bytes) +
                   " bytes; the rest was dropped",
                   fleet::message_id::OutputCut, outcome);
        }
        if (outcome.failed) {
            report("selfcheckrun: Failed to run " + path, fleet::message_id::TestFailed, outcome);
        }
        runReport.tests.push_back(outcome);
    }
}

} // namespace

const RunReport &lastRun() { return LastRun; }

void removePendingTemporary()
{
    for (const auto &pending : PendingTemporary) {
        if (const char *temporary = pending.load()) {
            unlink(temporary);
        }
    }
}

} // namespace selfcheckrun

using namespace selfcheckrun;

extern "C" int run_tests(const char *resultPath)
{
    LastRun = {};
    return runTests(resultPath, ActiveLimits, LastRun);
}

int selfcheckrun::runTests(const char *resultPath, const Limits &limits, RunReport &runReport)
{
    PendingFile document(resultPath, 0);
    if (!document.opened()) {
        fleet::logError("selfcheckrun: Opening tempfile failed");
        return 0;
    }
    publish_file &result = document.file();
    const std::string copyTarget = copyPath(resultPath);
    PendingFile copy(copyTarget.c_str(), 1);
    const int copyOpenError = copy.opened() ? 0 : errno;
    Document out{result, copy.opened() ? &copy.file() : nullptr};
    out.write("<tests>\n");
    DIR *directory = opendir(TestDirectory);
    if (directory == nullptr) {
        fleet::logLine(fleet::Error,
                       fleet::format("selfcheckrun: cannot open %s: %s\n", TestDirectory, std::strerror(errno)));
        publish_abandon(&result);
        if (out.copy != nullptr) {
            publish_abandon(out.copy);
        }
        return 0;
    }
    runDirectory(directory, out, limits, runReport);
    closedir(directory);
    out.write("</tests>\n");
    // A document that could not be written completely is never published.
    const publish_outcome published = publish_commit(&result);
    if (published != PUBLISH_DONE) {
        const int error = errno;
        if (out.copy != nullptr) {
            publish_abandon(out.copy);
        }
        errno = error;
        fleet::logError(published == PUBLISH_WRITE_FAILED ? "selfcheckrun: Writing tempfile failed"
                                                      : "selfcheckrun: Rename failed");
        return 0;
    }
    int error = copyOpenError;
    if (out.copy != nullptr && publish_commit(out.copy) != PUBLISH_DONE) {
        error = errno;
    }
    if (error != 0) {
        fleet::logLine(fleet::Error, "selfcheckrun: Copying results failed\n",
                       {{"MESSAGE_ID", fleet::message_id::CopyFailed}});
        fleet::logLine(fleet::Error, fleet::format("selfcheckrun: %s: %s\n", copyTarget.c_str(), std::strerror(error)),
                       {{"MESSAGE_ID", fleet::message_id::CopyFailed}});
    }
    return 1;
}
