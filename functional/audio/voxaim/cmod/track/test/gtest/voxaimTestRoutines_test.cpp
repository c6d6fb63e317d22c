// Checks of the engine test routines themselves: the position comparison and
// the log of the whole run.
#include "functional/audio/voxaim/cmod/track/test/voxaimTestRoutines.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace {

// Captures what the event log writes to standard error.
class StderrCapture {
public:
    StderrCapture() : file_(tmpfile()), saved_(dup(2))
    {
        fflush(stderr);
        dup2(fileno(file_), 2);
    }
    std::string finish()
    {
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        std::string text;
        rewind(file_);
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file_)) > 0)
            text.append(buffer, n);
        fclose(file_);
        return text;
    }

private:
    FILE *file_;
    int saved_;
};

constexpr float kDegree = 0.017453292f;

TEST(VerifyPosition, BoundsAreInclusiveAndExpectedAnglesBecomeDegrees)
{
    // Differences equal to the bounds pass (0.5 degree, the tolerance, 0.5 m).
    VoxaimResult result{0.5f, -1.0f, 3.5f, 0.f, 0};
    float straight[3] = {0.f, 0.f, 3.0f};
    StderrCapture quiet;
    EXPECT_EQ(verifyPosition(&result, straight, 1.0f), 0u);
    EXPECT_EQ(quiet.finish(), "");

    float turned[3] = {10.0f * kDegree, -8.0f * kDegree, 3.0f};
    StderrCapture log;
    EXPECT_EQ(verifyPosition(&result, turned, 1.0f), 1u);
    EXPECT_NEAR(turned[0], 10.0f, 1e-4f);
    EXPECT_NEAR(turned[1], -8.0f, 1e-4f);
    EXPECT_EQ(log.finish(), "Position failed\nCalculated results:\n"
                            "Azimuth = 0.500000, elevation = -1.000000, range = 3.500000\n"
                            "Expected results:\n"
                            "Azimuth = 9.999999, elevation = -8.000000, range = 3.000000\n");

    const VoxaimResult cases[] = {
        {0.5001f, 0.0f, 3.0f, 0.f, 0}, // azimuth
        {0.0f, 1.01f, 3.0f, 0.f, 0},   // elevation beyond the tolerance of 1 degree
        {0.0f, 0.0f, 2.49f, 0.f, 0},   // range
    };
    for (const VoxaimResult &wrong : cases) {
        float expected[3] = {0.f, 0.f, 3.0f};
        StderrCapture quietToo;
        EXPECT_EQ(verifyPosition(&wrong, expected, 1.0f), 1u);
        quietToo.finish();
    }
}

#ifdef VOXAIM_ROUTINES_RUN_ALL
TEST(RunAllUnitTests, LogsEveryRoutineAndTheSummaryAndLeavesMirelRunning)
{
    StderrCapture log;
    const uint32_t errors = runAllUnitTests();
    const std::string text = log.finish();
    const char *order[] = {"Running stable speaker test\n",
                           "Finished stable speaker test\n",
                           "Running stable speaker tovak test\n",
                           "Finished stable speaker tovak test\n",
                           "Running stable speaker lumo test\n",
                           "Finished stable speaker lumo test\n",
                           "Running stable speaker valdrun test\n",
                           "Running stable speaker zandor test\n",
                           "Finished stable speaker zandor test\n",
                           "Running stable speaker feyla test\n",
                           "Finished stable speaker feyla test\n",
                           "Running stable speaker brannt test\n",
                           "Finished stable speaker brannt test\n",
                           "Running VAD on test\n",
                           "Finished VAD on test\n",
                           "Running VAD hangover test\n",
                           "Finished VAD hangover test\n",
                           "Running TD VAD test\n",
                           "Finished TD VAD test\n",
                           "Running SAD test\n",
                           "Finished SAD test\n",
                           "Running signal energy test\n",
                           "Finished signal energy test\n",
                           "Running input flag test\n",
                           "Finished input flag test\n",
                           "Running FE VAD test\n",
                           "Finished FE VAD test\n",
                           "Running ultrasound test\n",
                           "Finished ultrasound test\n",
                           "Running room noise test\n",
                           "Finished room noise test\n",
                           "Running ultra sound level test\n",
                           "Finished ultra sound level test\n",
                           "Running lumo elevation test\n",
                           "Finished lumo elevation test\n"};
    size_t at = 0;
    for (const char *line : order) {
        const size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line;
        at = found + strlen(line);
    }
    EXPECT_EQ(text.find("Finished stable speaker valdrun"), std::string::npos);
    const std::string summary = "\n\nTest summary: " + std::to_string(errors) + " error(s)\n\n";
    EXPECT_EQ(text.substr(text.size() - summary.size()), summary);
    // The engine is left initialised for mirel (six channels).
    EXPECT_EQ(voxaim_getNumberOfChannels(), 6);
    voxaim_destroy();
}
#endif

} // namespace
