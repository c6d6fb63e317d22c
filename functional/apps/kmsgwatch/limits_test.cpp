#include "functional/apps/kmsgwatch/kmsgwatch.h"
#include "functional/apps/kmsgwatch/limits.h"
#include "tools/testing/scratch_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using kmsgwatch::LostRecords;
using kmsgwatch::StormLimit;

// At most 10 runs in any 10 s, not per fixed window: a burst at the end of
// one window and the start of the next is held back too, and each held-back
// report is counted once, when its window has closed.
TEST(StormLimitTest, TenRunsInAnyTenSecondsAndEveryReportCounted)
{
    StormLimit limit;
    EXPECT_TRUE(limit.allow(0));
    for (int i = 0; i < 9; ++i) {
        EXPECT_TRUE(limit.allow(9000 + i));
    }
    EXPECT_TRUE(limit.allow(10000));  // the run of 0 is 10 s old
    EXPECT_FALSE(limit.allow(10001)); // a fresh window from 10000 would take it: 11 runs in 1 s
    EXPECT_FALSE(limit.allow(18999));
    EXPECT_EQ(limit.due(), 19000);
    EXPECT_EQ(limit.takeHeldBack(18999, false), 0u);
    EXPECT_EQ(limit.takeHeldBack(19000, false), 2u);
    EXPECT_EQ(limit.takeHeldBack(19000, true), 0u);
}

class LostRecordsTest : public ::testing::Test {
protected:
    std::string count() { return vxtest::readFile(file); }
    vxtest::ScratchDir scratch{"kmsgwatch_limits_test"};
    const std::string file = (scratch.path() / "kmsg_lost").string();
};

// Overruns in quick succession give one line a second, and none of the
// records lost in between goes uncounted.
TEST_F(LostRecordsTest, OneLineASecondNothingDropped)
{
    LostRecords lost(file.c_str());
    testing::internal::CaptureStderr();
    lost.sequence(4);
    lost.sequence(305);
    lost.report(0, false);
    lost.sequence(310);
    lost.report(400, false);
    lost.overrun();
    lost.sequence(311); // EPIPE with no gap in the numbers: still one lost
    lost.report(999, false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kmsgwatch: 300 kernel log records lost (overwritten before they were read)\n");
    EXPECT_EQ(lost.due(), 1000);
    testing::internal::CaptureStderr();
    lost.report(1000, false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kmsgwatch: 5 kernel log records lost (overwritten before they were read)\n");
    EXPECT_EQ(count(), "305\n");
}

// The watch of the record device: a read that fails with EPIPE and a jump
// in the sequence numbers are both counted, in the line and in the file.
std::vector<std::string> script;
std::size_t step = 0;

ssize_t scriptedRead(int, void *buffer, std::size_t size)
{
    if (step == script.size()) {
        errno = EAGAIN;
        return -1;
    }
    const std::string &next = script[step++];
    errno = EPIPE;
    return next == "EPIPE" ? -1 : static_cast<ssize_t>(next.copy(static_cast<char *>(buffer), size));
}

TEST_F(LostRecordsTest, OverrunAndGapOfTheDeviceCounted)
{
    const std::string device = (scratch.path() / "device").string();
    std::ofstream(device) << "";
    script = {"6,1,1,-;a\n", "6,2,2,-;b\n", "EPIPE",         "6,8,8,-;c\n",
              "6,9,9,-;d\n", "6,310,10,-;e\n", "EPIPE",         "6,311,11,-;f\n"};
    kmsgwatch::LostRecordsFile = file.c_str();
    kmsgwatch::ReadDevice = scriptedRead;
    testing::internal::CaptureStderr();
    const int result = monitor_file(device.c_str(), "/nonexistent", "NOT-THERE", 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kmsgwatch: 5 kernel log records lost (overwritten before they were read)\n"
              "kmsgwatch: 301 kernel log records lost (overwritten before they were read)\n");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(count(), "306\n");
}

} // namespace
