// One run of the sanity tests and the start of each test program.
#include "functional/apps/selfcheckrun/selfcheckrun.h"

#include "platform/fleet/journal.h"
#include "platform/fleet/message_ids.h"
#include "platform/proc/process.h"
#include "platform/publish/publish.h"

#include <dirent.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace selfcheckrun {

bool runTestProgram(const char *path, std::FILE *out)
{
    int status = 0;
    return runTestProgram(path, out, &status);
}

bool runTestProgram(const char *path, std::FILE *out, int *status)
{
    *status = -1;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) < 0) {
        return false;
    }
    char *const argv[] = {const_cast<char *>(path), nullptr};
    const pid_t pid = proc_spawn(argv, pipeFds[1], 127);
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        return false;
    }
    char piece[1023];
    for (;;) {
        const ssize_t got = read(pipeFds[0], piece, sizeof piece);
        if (got > 0) {
            std::fwrite(piece, 1, static_cast<std::size_t>(got), out);
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    close(pipeFds[0]);
    if (proc_wait(pid, status) != 0) {
        *status = -1;
        return false;
    }
    return proc_succeeded(*status);
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

// The temporary file of the run in progress, for the signal handler.
std::atomic<const char *> PendingTemporary{nullptr};

RunReport CurrentRun;

double secondsOf(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

const char *baseName(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

// How a failed program ended, as journal fields.
fleet::Field endOf(int status)
{
    if (status >= 0 && WIFSIGNALED(status)) {
        return {"SIGNAL", std::to_string(WTERMSIG(status))};
    }
    return {"EXIT_STATUS", std::to_string(status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 127)};
}
static_assert(std::atomic<const char *>::is_always_lock_free, "read by a signal handler");

// A file being published (the run's document or its copy): its temporary
// file is known to the signal handler from its creation to the end of this
// object. The ending signals wait while it is created, so that none comes
// between its creation and its registration.
class PendingFile {
public:
    explicit PendingFile(const char *path)
    {
        sigset_t held;
        sigset_t previous;
        sigemptyset(&held);
        for (int signalNumber : EndingSignals) {
            sigaddset(&held, signalNumber);
        }
        sigprocmask(SIG_BLOCK, &held, &previous);
        opened_ = publish_open(&file_, path) == 0;
        if (opened_) {
            PendingTemporary = file_.temporary;
        }
        sigprocmask(SIG_SETMASK, &previous, nullptr);
    }
    ~PendingFile() { PendingTemporary = nullptr; }
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;
    bool opened() const { return opened_; }
    publish_file &file() { return file_; }

private:
    publish_file file_;
    bool opened_;
};

// A test program that is not run: why, on standard error and in the system
// log.
void reportNotRun(const std::string &path, const std::string &why)
{
    fleet::logLine(fleet::Warning, fleet::format("selfcheckrun: Not running %s: %s\n", path.c_str(), why.c_str()),
                   {{"MESSAGE_ID", fleet::message_id::UnsafeRefused}, {"TEST", baseName(path)}});
    syslog(LOG_INFO, "selfcheckrun: Not running %s: %s", path.c_str(), why.c_str());
}

// Every entry of the test directory that is not a directory: its output, or
// why it contributed none. As root only programs that no other user can
// change are run.
void runDirectory(DIR *directory, std::FILE *out)
{
    const bool asRoot = geteuid() == 0;
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
                ++CurrentRun.refused;
                continue;
            }
        }
        int status = -1;
        const double started = secondsOf(CLOCK_MONOTONIC);
        const bool passed = runTestProgram(path.c_str(), out, &status);
        CurrentRun.tests.push_back({baseName(path), !passed, secondsOf(CLOCK_MONOTONIC) - started});
        if (!passed) {
            fleet::logLine(fleet::Warning, fleet::format("selfcheckrun: Failed to run %s\n", path.c_str()),
                           {{"MESSAGE_ID", fleet::message_id::TestFailed}, {"TEST", baseName(path)}, endOf(status)});
            syslog(LOG_INFO, "selfcheckrun: Failed to run %s", path.c_str());
        }
    }
}

// Publishes a copy of the published result at copyPath(resultPath), as the
// result itself was published. On failure the old copy stays as it was and
// the message names the copy and why.
void copyResult(const char *resultPath)
{
    const std::string target = copyPath(resultPath);
    int error = 0;
    const int in = open(resultPath, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = errno;
    } else {
        PendingFile copy(target.c_str());
        if (!copy.opened()) {
            error = errno;
        } else {
            char piece[8192];
            ssize_t got;
            while ((got = read(in, piece, sizeof piece)) != 0) {
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                if (got < 0) {
                    error = errno;
                    publish_abandon(&copy.file());
                    break;
                }
                std::fwrite(piece, 1, static_cast<std::size_t>(got), copy.file().out);
            }
            if (error == 0 && publish_commit(&copy.file()) != PUBLISH_DONE) {
                error = errno;
            }
        }
        close(in);
    }
    if (error != 0) {
        fleet::logLine(fleet::Error, "selfcheckrun: Copying results failed\n",
                       {{"MESSAGE_ID", fleet::message_id::CopyFailed}});
        fleet::logLine(fleet::Error, fleet::format("selfcheckrun: %s: %s\n", target.c_str(), std::strerror(error)),
                       {{"MESSAGE_ID", fleet::message_id::CopyFailed}});
    }
}

} // namespace

const RunReport &lastRun() { return CurrentRun; }

void removePendingTemporary()
{
    if (const char *temporary = PendingTemporary.load()) {
        unlink(temporary);
    }
}

} // namespace selfcheckrun

using namespace selfcheckrun;

extern "C" int run_tests(const char *resultPath)
{
    CurrentRun = {};
    const double started = secondsOf(CLOCK_MONOTONIC);
    PendingFile document(resultPath);
    if (!document.opened()) {
        fleet::logError("selfcheckrun: Opening tempfile failed");
        return 0;
    }
    publish_file &result = document.file();
    std::fputs("<tests>\n", result.out);
    DIR *directory = opendir(TestDirectory);
    if (directory == nullptr) {
        fleet::logLine(fleet::Error,
                       fleet::format("selfcheckrun: cannot open %s: %s\n", TestDirectory, std::strerror(errno)));
        publish_abandon(&result);
        return 0;
    }
    runDirectory(directory, result.out);
    closedir(directory);
    std::fputs("</tests>\n", result.out);
    // A document that could not be written completely is never published.
    switch (publish_commit(&result)) {
    case PUBLISH_DONE:
        break;
    case PUBLISH_WRITE_FAILED:
        fleet::logError("selfcheckrun: Writing tempfile failed");
        return 0;
    case PUBLISH_RENAME_FAILED:
        fleet::logError("selfcheckrun: Rename failed");
        return 0;
    }
    CurrentRun.endTime = secondsOf(CLOCK_REALTIME);
    CurrentRun.seconds = secondsOf(CLOCK_MONOTONIC) - started;
    copyResult(resultPath);
    return 1;
}
