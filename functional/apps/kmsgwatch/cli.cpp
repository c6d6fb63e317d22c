// The kmsgwatch command line.
#include "functional/apps/kmsgwatch/kmsgwatch.h"

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
    int oomContinue = 0;
    int option;
    while ((option = getopt(argc, argv, "f:F:t:Oh")) != -1) {
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
        default:
            usage(program);
            return 1;
        }
    }
    return monitor_file(device, logFile, testText, oomContinue) ? 0 : 1;
}
