// The kmsgwatch command line.
#include "functional/apps/kmsgwatch/kmsgwatch.h"
#include "functional/apps/kmsgwatch/position.h"
#include "functional/apps/kmsgwatch/statistics.h"
#include "platform/fleet/journal.h"

#include "vx_version.h"

#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void usage(const char *program)
{
    std::printf("Usage: %s [ -f <kmsg> | -F <logfile> | -t <pattern>] | -h\n", program);
    std::fputs("       -f <kmsg>    : default to /dev/kmsg\n"
               "       -F <logfile> : regular log file to parse, will be used if /dev/kmsg\n"
               "                      is not usable, default to /var/log/kern.log\n"
               "       -t <pattern> : check for string assumed to be present\n"
               "       -h           : print this help text and exit\n",
               stdout);
}

// The longest time limit -T accepts: a day.
constexpr unsigned MaxLimitSeconds = 86400;

// A whole number of seconds from 1 to MaxLimitSeconds, digits only.
bool parseSeconds(const char *text, unsigned &seconds)
{
    if (text[0] == '\0' || std::strspn(text, "0123456789") != std::strlen(text) || std::strlen(text) > 5) {
        return false;
    }
    const unsigned long value = std::strtoul(text, nullptr, 10);
    if (value < 1 || value > MaxLimitSeconds) {
        return false;
    }
    seconds = static_cast<unsigned>(value);
    return true;
}

// getopt_long's value for --version: no short option has it.
constexpr int VersionOption = 256;

constexpr option LongOptions[] = {
    {"version", no_argument, nullptr, VersionOption},
    {nullptr, 0, nullptr, 0},
};

} // namespace

extern "C" int kmsgwatch_main(int argc, char **argv)
{
    const char *program = argc > 0 && argv[0] != nullptr ? argv[0] : "kmsgwatch";
    // Started as a handler (a handler path linked to this program): that is
    // never meant to watch the log, and must not start another report.
    if (std::strncmp(program, kmsgwatch::HandlerBase, std::strlen(kmsgwatch::HandlerBase)) == 0) {
        std::abort();
    }
    const char *device = "/dev/kmsg";
    const char *logFile = "/var/log/kern.log";
    const char *testText = nullptr;
    const char *metricsFolder = nullptr;
    int oomContinue = 0;
    int option;
    fleet::logStart("kmsgwatch");
    while ((option = getopt_long(argc, argv, "f:F:t:OhT:p:", LongOptions, nullptr)) != -1) {
        switch (option) {
        case 'f':
            device = optarg;
            break;
        case 'F':
            logFile = optarg;
            break;
        case 't':
            testText = optarg;
            break;
        case 'O':
            oomContinue = 1;
            break;
        case 'p': // the folder of kmsgwatch.prom (node_exporter's textfile collector)
            metricsFolder = optarg;
            break;
        case 'T':
            if (!parseSeconds(optarg, kmsgwatch::HandlerLimitSeconds)) {
                fleet::logLine(fleet::Error, fleet::format("kmsgwatch: -T: not a number of seconds from 1 to %u: %s\n",
                                                           MaxLimitSeconds, optarg));
                return 1;
            }
            break;
        case VersionOption:
            std::printf("kmsgwatch %s\n", VX_VERSION_STRING);
            return 0;
        default:
            usage(program);
            return 1;
        }
    }
    kmsgwatch::removeStaleMetricsTemporaries();
    // Counts since boot are kept where the watch position is: for the
    // kernel's own record device outside test mode.
    const bool sinceBoot = testText == nullptr && std::strcmp(device, "/dev/kmsg") == 0;
    kmsgwatch::statisticsStart(metricsFolder, sinceBoot ? kmsgwatch::CountsFile : nullptr, kmsgwatch::BootIdFile);
    const int status = monitor_file(device, logFile, testText, oomContinue) ? 0 : 1;
    kmsgwatch::statisticsFlush();
    return status;
}
