#include "platform/audio/audtest/audtime.h"

#include "platform/audio/audtest/eventlog.h"

#include <cerrno>
#include <cstring>

extern "C" struct timespec *KMX_currentTime(struct timespec *out)
{
    if (clock_gettime(CLOCK_MONOTONIC, out) != 0)
        eventlog_die("KMX_currentTime: %s\n", std::strerror(errno));
    return out;
}

extern "C" uint64_t KMX_now64(void)
{
    struct timespec now;
    return audtime_microsecondsOf(KMX_currentTime(&now));
}

extern "C" uint32_t audtime_getTicks(void) { return audtime_ticksOf(KMX_now64()); }

extern "C" uint32_t audtime_ticksPerMs(void) { return 1000; }

extern "C" int32_t audtime_cyclesPerTick(void) { return -1; }
