// The selfcheckrun command line and its run loop.
#include "functional/apps/selfcheckrun/selfcheckrun.h"

#include "platform/fleet/journal.h"
#include "platform/fleet/message_ids.h"

#include "vx_version.h"

#include <getopt.h>
#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>

namespace {

void usage(const char *program)
{
    std::fprintf(stderr, "usage: %s [-s sleep-in-seconds] [-f output-file] [-i postpone-in-seconds]\n", program);
}

void sleepSeconds(long seconds)
{
    timespec pause{static_cast<time_t>(seconds), 0};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, &pause) == EINTR) {
    }
}

// getopt_long's value for --version: no short option has it.
constexpr int VersionOption = 256;

constexpr option LongOptions[] = {
    {"version", no_argument, nullptr, VersionOption},
    {nullptr, 0, nullptr, 0},
};

} // namespace

extern "C" void handler(int signalNumber)
{
    selfcheckrun::removePendingTemporary();
    // A test program runs in a group of its own (so that its limits end it
    // alone): it ends with the runner.
    selfcheckrun::signalRunningTest(signalNumber);
    signal(signalNumber, SIG_DFL);
    kill(0, signalNumber);
}

extern "C" int selfcheckrun_main(int argc, char **argv)
{
    using namespace selfcheckrun;
    const char *program = argc > 0 && argv[0] != nullptr ? argv[0] : "selfcheckrun";
    long pause = 60;
    long delay = 30;
    const char *resultPath = DefaultResultPath;
    const char *metricsFolder = nullptr;
    fleet::logStart("selfcheckrun");
    int option;
    while ((option = getopt_long(argc, argv, "s:f:hi:T:o:p:", LongOptions, nullptr)) != -1) {
        switch (option) {
        case 's':
            if (!parseWholeNumber(optarg, 0, INT_MAX, pause)) {
                usage(program);
                return 1;
            }
            break;
        case 'i': // 0 or negative: no delay
            if (!parseWholeNumber(optarg, INT_MIN, INT_MAX, delay)) {
                usage(program);
                return 1;
            }
            break;
        case 'f':
            resultPath = optarg;
            break;
        case 'p': // the folder of selfcheckrun.prom (node_exporter's textfile collector)
            metricsFolder = optarg;
            break;
        case 'T': // per test program, seconds
            if (!parseWholeNumber(optarg, 1, INT_MAX, ActiveLimits.seconds)) {
                usage(program);
                return 1;
            }
            break;
        case 'o': // per test program, bytes of output
            if (!parseWholeNumber(optarg, 1, INT_MAX, ActiveLimits.bytes)) {
                usage(program);
                return 1;
            }
            break;
        case 'h':
            usage(program);
            return 0;
        case VersionOption:
            std::printf("selfcheckrun %s\n", VX_VERSION_STRING);
            return 0;
        default:
            usage(program);
            return 1;
        }
    }
    if (!resultPathFits(resultPath)) {
        fleet::logLine(fleet::Error,
                       fleet::format("selfcheckrun: result path too long for the copy to /var/log: %s\n", resultPath));
        return 1;
    }
    if (!resultPathUsable(resultPath)) {
        fleet::logLine(fleet::Error, fleet::format("selfcheckrun: result path is not a regular file: %s\n", resultPath));
        return 1;
    }

    setpgid(0, 0);
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : EndingSignals) {
        sigaction(signalNumber, &action, nullptr);
    }
    openlog("selfcheckrun", 0, LOG_DAEMON);
    syslog(LOG_INFO, "selfcheckrun: Started");
    removeStaleTemporaries(resultPath);
    statisticsStart(metricsFolder);

    if (delay > 0) {
        sleepSeconds(delay);
    }
    while (!installWaitRequested()) {
        timespec started{};
        clock_gettime(CLOCK_MONOTONIC, &started);
        const bool published = run_tests(resultPath) != 0;
        if (!published) {
            fleet::logLine(fleet::Error, "selfcheckrun: Failed to run tests\n",
                           {{"MESSAGE_ID", fleet::message_id::RunFailed}});
        }
        timespec ended{};
        clock_gettime(CLOCK_MONOTONIC, &ended);
        statisticsAfterRun(published, static_cast<double>(ended.tv_sec - started.tv_sec) +
                                          static_cast<double>(ended.tv_nsec - started.tv_nsec) / 1e9);
        sleepSeconds(pause);
    }
    return 0;
}
