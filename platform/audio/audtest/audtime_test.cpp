#include "platform/audio/audtest/audtime.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr uint64_t Wrap = uint64_t{1} << 32; // microseconds

timespec at(time_t seconds, long nanoseconds)
{
    timespec t{};
    t.tv_sec = seconds;
    t.tv_nsec = nanoseconds;
    return t;
}

TEST(AudtimeConversion, MicrosecondsTruncateTheNanoseconds)
{
    const timespec t = at(1, 999999999);
    EXPECT_EQ(audtime_microsecondsOf(&t), 1999999u);
    const timespec zero = at(0, 999);
    EXPECT_EQ(audtime_microsecondsOf(&zero), 0u);
}

TEST(AudtimeConversion, SecondsAreMultipliedIn64Bits)
{
    // 5000000 s (about 58 days of uptime) overflows any 32-bit product.
    const timespec t = at(5000000, 1000);
    EXPECT_EQ(audtime_microsecondsOf(&t), 5000000000001u);
}

TEST(AudtimeConversion, TicksWrapAfter2To32MicrosecondsWhileNow64KeepsCounting)
{
    // 2^32 us = 4294.967296 s.
    const timespec beforeWrap = at(4294, 967290000);
    const timespec atWrap = at(4294, 967296000);
    const timespec afterWrap = at(4294, 967301999);
    EXPECT_EQ(audtime_microsecondsOf(&beforeWrap), Wrap - 6);
    EXPECT_EQ(audtime_microsecondsOf(&atWrap), Wrap);
    EXPECT_EQ(audtime_microsecondsOf(&afterWrap), Wrap + 5);

    EXPECT_EQ(audtime_ticksOf(audtime_microsecondsOf(&beforeWrap)), 0xfffffffau);
    EXPECT_EQ(audtime_ticksOf(audtime_microsecondsOf(&atWrap)), 0u);
    EXPECT_EQ(audtime_ticksOf(audtime_microsecondsOf(&afterWrap)), 5u);

    // Differences across the wrap stay right in unsigned 32-bit arithmetic.
    const uint32_t before = audtime_ticksOf(audtime_microsecondsOf(&beforeWrap));
    const uint32_t after = audtime_ticksOf(audtime_microsecondsOf(&afterWrap));
    EXPECT_EQ(static_cast<uint32_t>(after - before), 11u);
    EXPECT_EQ(audtime_ticksOf(3 * Wrap + 7), 7u);
}

TEST(AudtimeClock, ReadsTheMonotonicClockInMicroseconds)
{
    timespec reference{};
    ASSERT_EQ(clock_gettime(CLOCK_MONOTONIC, &reference), 0);
    const uint64_t first = audtime_microsecondsOf(&reference);

    timespec out{};
    EXPECT_EQ(KMX_currentTime(&out), &out);
    const uint64_t viaCurrentTime = audtime_microsecondsOf(&out);
    const uint64_t now = KMX_now64();
    const uint32_t ticks = audtime_getTicks();

    ASSERT_EQ(clock_gettime(CLOCK_MONOTONIC, &reference), 0);
    const uint64_t last = audtime_microsecondsOf(&reference);

    EXPECT_LE(first, viaCurrentTime);
    EXPECT_LE(viaCurrentTime, now);
    EXPECT_LE(now, last);
    // The tick lies between the low 32 bits of `now` and of `last`.
    EXPECT_LE(static_cast<uint32_t>(ticks - static_cast<uint32_t>(now)), last - now);
}

TEST(AudtimeClock, Constants)
{
    EXPECT_EQ(audtime_ticksPerMs(), 1000u);
    EXPECT_EQ(audtime_cyclesPerTick(), -1);
}

} // namespace
