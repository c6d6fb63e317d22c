#ifndef PLATFORM_AUDIO_AUDTEST_AUDTIME_H
#define PLATFORM_AUDIO_AUDTEST_AUDTIME_H
/*
 * Time base: the monotonic clock (CLOCK_MONOTONIC) in microseconds.
 *
 * audtime_getTicks() is a 32-bit microsecond counter that wraps every 2^32 us
 * (about 71.6 minutes); differences of two readings taken less than that apart
 * are correct in unsigned 32-bit arithmetic (after - before). KMX_now64()
 * keeps counting past the wrap.
 */
#include <stdint.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Reads CLOCK_MONOTONIC into *out and returns out; if the clock cannot be
 * read, logs "KMX_currentTime: <error text>\n" and aborts. */
struct timespec *KMX_currentTime(struct timespec *out);
/* Microseconds of the monotonic clock. */
uint64_t KMX_now64(void);
/* Low 32 bits of KMX_now64(). */
uint32_t audtime_getTicks(void);
/* Ticks per millisecond: 1000. */
uint32_t audtime_ticksPerMs(void);
/* Processor cycles per tick: -1, the platform has no such count. */
int32_t audtime_cyclesPerTick(void);

/* The conversions behind KMX_now64 and audtime_getTicks, for any time value:
 * seconds x 1000000 (64-bit signed multiply) + nanoseconds / 1000 (truncated). */
static inline uint64_t audtime_microsecondsOf(const struct timespec *time)
{
    return (uint64_t)((int64_t)time->tv_sec * 1000000 + (int64_t)(time->tv_nsec / 1000));
}
static inline uint32_t audtime_ticksOf(uint64_t microseconds) { return (uint32_t)microseconds; }

#ifdef __cplusplus
}
#endif

#endif
