// kmsgwatch for the end-to-end tests of the restart path: the same program,
// but every pause of N seconds lasts N milliseconds. Only ever started inside
// a private PID namespace, where the restart request ends the namespace.
// The handlers' time limit (-T) and the grace before SIGKILL stay in real
// seconds.
#include "functional/apps/kmsgwatch/kmsgwatch.h"

#include <ctime>

namespace {

void sleepMilliseconds(unsigned count)
{
    timespec pause{0, static_cast<long>(count) * 1000000L};
    nanosleep(&pause, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
    kmsgwatch::SleepSeconds = sleepMilliseconds;
    kmsgwatch::MillisecondsPerPauseSecond = 1;
    return kmsgwatch_main(argc, argv);
}
