// One run of the sanity tests and the start of each test program.
#include "functional/apps/selfcheckrun/selfcheckrun.h"

#include "platform/proc/process.h"
#include "platform/proc/run_command.h"
#include "platform/publish/publish.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace selfcheckrun {

bool runTestProgram(const char *path, std::FILE *out)
{
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
    int status = 0;
    return proc_wait(pid, &status) == 0 && proc_succeeded(status);
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

bool copyCommandFits(const char *resultPath)
{
    // "cp " + path + " /var/log/" + NUL
    return std::strlen(resultPath) + std::strlen(CopyCommandFormat) - 2 + 1 <= CopyCommandSize;
}

bool resultPathUsable(const char *resultPath)
{
    struct stat info {};
    return lstat(resultPath, &info) != 0 || S_ISREG(info.st_mode);
}

namespace {

// The temporary file of the run in progress, for the signal handler.
std::atomic<const char *> PendingTemporary{nullptr};
static_assert(std::atomic<const char *>::is_always_lock_free, "read by a signal handler");

// The run's document: its temporary file is known to the signal handler from
// its creation to the end of the run. The ending signals wait while it is
// created, so that none comes between its creation and its registration.
class RunDocument {
public:
    explicit RunDocument(const char *resultPath)
    {
        sigset_t held;
        sigset_t previous;
        sigemptyset(&held);
        for (int signalNumber : EndingSignals) {
            sigaddset(&held, signalNumber);
        }
        sigprocmask(SIG_BLOCK, &held, &previous);
        opened_ = publish_open(&file_, resultPath) == 0;
        if (opened_) {
            PendingTemporary = file_.temporary;
        }
        sigprocmask(SIG_SETMASK, &previous, nullptr);
    }
    ~RunDocument() { PendingTemporary = nullptr; }
    RunDocument(const RunDocument &) = delete;
    RunDocument &operator=(const RunDocument &) = delete;
    bool opened() const { return opened_; }
    publish_file &file() { return file_; }

private:
    publish_file file_;
    bool opened_;
};

// Every entry of the test directory that is not a directory: its output, or
// why it contributed none.
void runDirectory(DIR *directory, std::FILE *out)
{
    while (const dirent *entry = readdir(directory)) {
        const std::string path = std::string(TestDirectory) + "/" + entry->d_name;
        struct stat info {};
        if (stat(path.c_str(), &info) != 0) {
            std::fprintf(stderr, "selfcheckrun: Failed to stat %s\n", path.c_str());
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            continue;
        }
        if ((info.st_mode & S_IXUSR) == 0) {
            std::fprintf(stderr, "selfcheckrun: %s is not executable\n", path.c_str());
            continue;
        }
        if (!runTestProgram(path.c_str(), out)) {
            std::fprintf(stderr, "selfcheckrun: Failed to run %s\n", path.c_str());
            syslog(LOG_INFO, "selfcheckrun: Failed to run %s", path.c_str());
        }
    }
}

} // namespace

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
    RunDocument document(resultPath);
    if (!document.opened()) {
        std::perror("selfcheckrun: Opening tempfile failed");
        return 0;
    }
    publish_file &result = document.file();
    std::fputs("<tests>\n", result.out);
    DIR *directory = opendir(TestDirectory);
    if (directory == nullptr) {
        std::fprintf(stderr, "selfcheckrun: cannot open %s: %s\n", TestDirectory, std::strerror(errno));
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
        std::perror("selfcheckrun: Writing tempfile failed");
        return 0;
    case PUBLISH_RENAME_FAILED:
        std::perror("selfcheckrun: Rename failed");
        return 0;
    }
    char command[CopyCommandSize];
    const int length = std::snprintf(command, sizeof command, CopyCommandFormat, resultPath);
    assert(length >= 0 && static_cast<std::size_t>(length) < sizeof command);
    if (!run_command(command)) {
        std::fputs("selfcheckrun: Copying results failed\n", stderr);
    }
    return 1;
}
