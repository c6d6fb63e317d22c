#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_TEST_VOXAIMTESTROUTINES_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_TEST_VOXAIMTESTROUTINES_H
/*
 * End-to-end routines of the engine test suite. Each starts the engine afresh
 * for a product variant, feeds it frames rendered by the test signal
 * generator (or synthetic frames), compares the results with fixed
 * expectations, logs every deviation through the event log and returns the
 * number of failed checks (0 = pass). All routines share one engine, one
 * generator and one result record (module state); each leaves the engine
 * destroyed and no generator behind, except runAllUnitTests.
 */
#include <stdint.h>

#include "functional/audio/voxaim/cmod/track/voxaim.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 0 when `calculated` lies within 0.5 degree of azimuth, `elevationTolerance`
 * degrees of elevation and 0.5 m of range of `expected` (azimuth and
 * elevation in radians, range in metres), else 1 with a log of both
 * positions. The expected angles are converted to degrees in place. */
uint32_t verifyPosition(const VoxaimResult *calculated, float *expected, float elevationTolerance);

uint32_t stableSpeakerTestMirel(void);
uint32_t stableSpeakerTestTovak(void);
uint32_t stableSpeakerTestLumo(void);
uint32_t stableSpeakerTestValdrun(void);
uint32_t stableSpeakerTestZandor(void);
uint32_t stableSpeakerTestFeyla(void);
uint32_t stableSpeakerTestBrannt(void);
uint32_t vadOnTest(void);
uint32_t vadHangoverTest(void);
uint32_t timeDomainVadTest(void);
uint32_t soundActivityTest(void);
uint32_t signalEnergyTest(void);
uint32_t inputFlagTest(void);
uint32_t farEndVadTest(void);
uint32_t ultraSoundDistortionTest(void);
uint32_t roomNoiseTest(void);
uint32_t ultraSoundLevelTest(void);
uint32_t lumoElevationTest(void);

/* Runs the eighteen routines in a row with a log line before and after each
 * and a summary; leaves the engine initialised for mirel with a generator.
 * Returns the sum of their failures. */
uint32_t runAllUnitTests(void);

#ifdef __cplusplus
}
#endif

#endif
