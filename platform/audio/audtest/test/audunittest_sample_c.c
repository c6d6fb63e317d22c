/* A sample test written in C: the harness, console, time base and event log
 * headers are usable from C callers, and a test declared with the harness
 * macros in a C file registers and runs like the C++ ones. Compiled with
 * -Werror, so a header construct that C ignores with a warning fails the
 * build. */
#include "platform/audio/audtest/audtime.h"
#include "platform/audio/audtest/audunittest.h"
#include "platform/audio/audtest/con.h"
#include "platform/audio/audtest/eventlog.h"

/* Needs eventlog_die to be known never to return (-Wreturn-type otherwise). */
static uint32_t ticksPerMsOrDie(void)
{
    const uint32_t ticks = audtime_ticksPerMs();
    if (ticks != 0)
        return ticks;
    eventlog_die("no ticks\n");
}

AUDUNITTEST_TEST(sample, from_c)
{
    AUDUNITTEST_CHECK_EQUAL_UINT(1000, ticksPerMsOrDie());
    AUDUNITTEST_CHECK_EQUAL_INT(-1, audtime_cyclesPerTick());
}
