// End-to-end routines of the engine test suite: built-in clips rendered for
// known talker positions, or synthetic frames, against fixed expectations.
#include "functional/audio/voxaim/cmod/track/test/voxaimTestRoutines.h"

#include <math.h>
#include <stddef.h>

#include "functional/audio/voxaim/cmod/track/unittestGenerator.h"
#include "platform/audio/audtest/eventlog.h"

namespace {

enum ProductType : uint32_t {
    kMirel = 0,
    kTovak = 1,
    kLumo = 2,
    kZandor = 4,
    kValdrun = 5,
    kFeyla = 6,
    kBrannt = 7,
};

constexpr int32_t kBitsPerSample = 24;
constexpr float kRadiansToDegrees = 57.295776f;

bool IsInitialized = false;
AudioGenerator *AudioData = nullptr;
VoxaimResult LastResult;

// A talker position for the generator: degrees to radians, range in metres.
struct Position {
    float value[3];
    Position(double azimuthDegrees, double elevationDegrees, float range)
        : value{static_cast<float>(azimuthDegrees * M_PI / 180.0), static_cast<float>(elevationDegrees * M_PI / 180.0),
                range}
    {}
};

const Position kCommonPosition(0.0, -2.0, 3.0f);

void newGenerator()
{
    if (AudioData != nullptr)
        destroyAudioGenerator(AudioData);
    AudioData = createAudioGenerator(voxaim_getNumberOfChannels, voxaim_getMicrophoneCoordinates, true);
}

void teardown()
{
    if (IsInitialized)
        voxaim_destroy();
    if (AudioData != nullptr) {
        destroyAudioGenerator(AudioData);
        AudioData = nullptr;
    }
    IsInitialized = false;
}

void freshStart(uint32_t type)
{
    teardown();
    voxaim_initialize(type);
    newGenerator();
    IsInitialized = true;
}

void speechFrames(const Position &position, int count, uint32_t inputFlags = 0)
{
    for (int i = 0; i < count; ++i)
        voxaim_calculate(getNextFrame(position.value, UNITTEST_CLIP_FEMALE_SPEECH, AudioData), kBitsPerSample,
                         inputFlags, &LastResult);
}

void noiseFrame(const Position &position)
{
    voxaim_calculate(getNextFrame(position.value, UNITTEST_CLIP_ROOM_NOISE, AudioData), kBitsPerSample, 0, &LastResult);
}

// Silent frames: the all-zero buffer of a brand-new generator, passed as
// often as asked.
void silentFrames(int count)
{
    newGenerator();
    for (int i = 0; i < count; ++i)
        voxaim_calculate(AudioData->buffer, kBitsPerSample, 0, &LastResult);
}

uint32_t checkFlagWord(uint32_t bit, uint32_t expected, uint32_t flags)
{
    const uint32_t calculated = voxaim_getFlag(bit, flags);
    if (calculated == expected)
        return 0;
    eventlog("Flag failed\n");
    eventlog("Bit position: %d Calculated: %d Expected: %d\n", static_cast<int>(bit), static_cast<int>(calculated),
             static_cast<int>(expected));
    return 1;
}

uint32_t checkFlag(uint32_t bit, uint32_t expected) { return checkFlagWord(bit, expected, LastResult.flags); }

// Bits 0 (voice activity) and 1 (time-domain answer) of LastResult.
uint32_t checkVoiceFlags(uint32_t voice, uint32_t timeDomain)
{
    return checkFlag(VOXAIM_OUT_VOICE_ACTIVITY, voice) + checkFlag(VOXAIM_OUT_TIME_DOMAIN_ANSWER, timeDomain);
}

uint32_t checkQuality(float low, float high)
{
    if (LastResult.quality >= low && LastResult.quality <= high)
        return 0;
    eventlog("Quality check failed\n");
    eventlog("Quality = %f\b", static_cast<double>(LastResult.quality));
    return 1;
}

struct StableSpeakerCase {
    uint32_t type;
    Position first;
    Position second;
    float elevationTolerance;
};

// Ten frames at each of two places; the position is checked after each block
// (and the quality for mirel).
uint32_t stableSpeaker(const StableSpeakerCase &test, bool checkMirelQuality)
{
    uint32_t failures = 0;
    freshStart(test.type);
    Position first = test.first;
    speechFrames(first, 10);
    failures += verifyPosition(&LastResult, first.value, test.elevationTolerance);
    if (checkMirelQuality)
        failures += checkQuality(0.865f, 0.875f);
    Position second = test.second;
    speechFrames(second, 10);
    failures += verifyPosition(&LastResult, second.value, test.elevationTolerance);
    if (checkMirelQuality)
        failures += checkQuality(0.67f, 0.68f);
    teardown();
    return failures;
}

// Replaces channel `channel` of `frame` with amplitude * sinf(k * step).
void replaceWithTone(float *frame, int channel, float amplitude, float step)
{
    float *samples = frame + channel * VOXAIM_FRAME_LENGTH;
    for (int k = 0; k < VOXAIM_FRAME_LENGTH; ++k)
        samples[k] = amplitude * sinf(static_cast<float>(k) * step);
}

} // namespace

extern "C" {

uint32_t verifyPosition(const VoxaimResult *calculated, float *expected, float elevationTolerance)
{
    expected[0] *= kRadiansToDegrees;
    expected[1] *= kRadiansToDegrees;
    if (fabsf(calculated->azimuth - expected[0]) > 0.5f ||
        fabsf(calculated->elevation - expected[1]) > elevationTolerance ||
        fabsf(calculated->range - expected[2]) > 0.5f) {
        eventlog("Position failed\n");
        eventlog("Calculated results:\n");
        eventlog("Azimuth = %f, elevation = %f, range = %f\n", static_cast<double>(calculated->azimuth),
                 static_cast<double>(calculated->elevation), static_cast<double>(calculated->range));
        eventlog("Expected results:\n");
        eventlog("Azimuth = %f, elevation = %f, range = %f\n", static_cast<double>(expected[0]),
                 static_cast<double>(expected[1]), static_cast<double>(expected[2]));
        return 1;
    }
    return 0;
}

uint32_t stableSpeakerTestMirel(void)
{
    return stableSpeaker({kMirel, {-1.0, -7.4, 6.0f}, {15.0, 4.2, 5.6f}, 0.35f}, true);
}

uint32_t stableSpeakerTestTovak(void)
{
    return stableSpeaker({kTovak, {-0.5, -7.4, 6.5f}, {15.0, 2.2, 5.6f}, 0.35f}, false);
}

uint32_t stableSpeakerTestLumo(void)
{
    return stableSpeaker({kLumo, {0.8, -7.5, 1.8f}, {-23.0, -12.5, 4.0f}, 1.0f}, false);
}

uint32_t stableSpeakerTestValdrun(void)
{
    return stableSpeaker({kValdrun, {8.8, -4.5, 1.8f}, {-14.2, 10.0, 7.5f}, 1.0f}, false);
}

uint32_t stableSpeakerTestZandor(void)
{
    return stableSpeaker({kZandor, {0.82, -5.5, 1.9f}, {-25.0, 4.9, 3.6f}, 0.5f}, false);
}

uint32_t stableSpeakerTestFeyla(void)
{
    // The feyla array has no elevation pairs: any elevation within 90 degrees passes.
    return stableSpeaker({kFeyla, {4.0, 0.0, 2.9f}, {-25.0, 0.0, 4.6f}, 90.0f}, false);
}

uint32_t stableSpeakerTestBrannt(void)
{
    return stableSpeaker({kBrannt, {10.0, -15.0, 2.0f}, {-12.0, -20.0, 4.5f}, 3.0f}, false);
}

uint32_t vadOnTest(void)
{
    uint32_t failures = 0;
    freshStart(kMirel);
    silentFrames(1);
    failures += checkVoiceFlags(0, 1);
    speechFrames(kCommonPosition, 7);
    failures += checkVoiceFlags(0, 1);
    speechFrames(kCommonPosition, 1);
    failures += checkVoiceFlags(1, 1);
    teardown();
    return failures;
}

uint32_t vadHangoverTest(void)
{
    uint32_t failures = 0;
    freshStart(kMirel);
    speechFrames(kCommonPosition, 10);
    failures += checkVoiceFlags(1, 1);
    silentFrames(34);
    failures += checkVoiceFlags(1, 1);
    silentFrames(1);
    failures += checkVoiceFlags(0, 1);
    teardown();
    return failures;
}

uint32_t timeDomainVadTest(void)
{
    uint32_t failures = 0;
    freshStart(kMirel);
    speechFrames(kCommonPosition, 15);
    failures += checkVoiceFlags(1, 1);

    // One frame with the loudest sample of channel 2 five times as large.
    float *frame = getNextFrame(kCommonPosition.value, UNITTEST_CLIP_FEMALE_SPEECH, AudioData);
    float *channel = frame + 2 * VOXAIM_FRAME_LENGTH;
    int loudest = 0;
    for (int k = 1; k < VOXAIM_FRAME_LENGTH; ++k) {
        if (fabsf(channel[k]) > fabsf(channel[loudest]))
            loudest = k;
    }
    channel[loudest] *= 5.0f;
    voxaim_calculate(frame, kBitsPerSample, 0, &LastResult);
    failures += checkVoiceFlags(1, 1);

    for (int i = 0; i < 2; ++i) {
        speechFrames(kCommonPosition, 1);
        failures += checkVoiceFlags(1, 0);
    }
    speechFrames(kCommonPosition, 1);
    failures += checkVoiceFlags(1, 1);
    teardown();
    return failures;
}

uint32_t soundActivityTest(void)
{
    uint32_t failures = 0;
    freshStart(kMirel);
    speechFrames(kCommonPosition, 10);
    failures += checkFlag(VOXAIM_OUT_SOUND_ACTIVITY, 1);
    silentFrames(3);
    failures += checkFlag(VOXAIM_OUT_SOUND_ACTIVITY, 0);
    teardown();
    return failures;
}

uint32_t signalEnergyTest(void)
{
    static const float kExpected[6] = {10.22f, 40.9f, 92.05f, 163.64f, 255.68f, 368.18f};
    uint32_t failures = 0;
    // No engine: the generator only provides the buffer.
    newGenerator();
    float *frame = AudioData->buffer;
    for (int c = 0; c < 6; ++c)
        replaceWithTone(frame, c, 838860.8f + static_cast<float>(c) * 838860.8f, 0.1308997f);
    // The engine writes all VOXAIM_MAX_CHANNELS energies, so the array holds
    // eight even though six channels are measured.
    float energies[VOXAIM_MAX_CHANNELS];
    voxaim_calculateSignalEnergy(frame, kBitsPerSample, 6, energies);
    for (int c = 0; c < 6; ++c) {
        if (energies[c] < kExpected[c] - 0.3f || energies[c] > kExpected[c] + 0.3f) {
            eventlog("SignalEnergy: Channel %d failed. Current = %f, correct = %f", c, static_cast<double>(energies[c]),
                     static_cast<double>(kExpected[c]));
            ++failures;
        }
    }
    teardown();
    return failures;
}

uint32_t inputFlagTest(void)
{
    struct Step {
        uint32_t bit;
        uint32_t value;
        uint32_t farEnd;
        uint32_t noiseHold;
    };
    // The input word before the first frame is 0; each later step sets or
    // clears one bit.
    static const Step kSteps[5] = {
        {VOXAIM_IN_FAR_END_ACTIVITY, 0, 0, 0}, {VOXAIM_IN_FAR_END_ACTIVITY, 1, 1, 0}, {VOXAIM_IN_NOISE_HOLD, 1, 1, 1},
        {VOXAIM_IN_NOISE_HOLD, 0, 1, 0},       {VOXAIM_IN_FAR_END_ACTIVITY, 0, 0, 0},
    };
    uint32_t failures = 0;
    freshStart(kMirel);
    newGenerator();
    uint32_t input = 0;
    for (const Step &step : kSteps) {
        voxaim_setFlag(step.bit, step.value, &input);
        VoxaimResult result;
        voxaim_calculate(AudioData->buffer, kBitsPerSample, input, &result);
        failures += checkFlagWord(VOXAIM_OUT_FAR_END_ACTIVITY, step.farEnd, result.flags);
        failures += checkFlagWord(VOXAIM_OUT_NOISE_HOLD, step.noiseHold, result.flags);
    }
    teardown();
    return failures;
}

uint32_t farEndVadTest(void)
{
    uint32_t failures = 0;
    uint32_t farEnd = 0;
    voxaim_setFlag(VOXAIM_IN_FAR_END_ACTIVITY, 1, &farEnd);
    freshStart(kMirel);
    speechFrames(kCommonPosition, 10);
    const float q10 = LastResult.quality;
    speechFrames(kCommonPosition, 1, farEnd);
    if (!(LastResult.quality >= 1e-07f && LastResult.quality < q10)) {
        eventlog("FE VAD test failed: Quality = %f", static_cast<double>(LastResult.quality));
        ++failures;
    }
    speechFrames(kCommonPosition, 1, farEnd);
    if (!(LastResult.quality <= 1e-07f)) {
        eventlog("FE VAD test failed: Quality = %f", static_cast<double>(LastResult.quality));
        ++failures;
    }
    teardown();
    return failures;
}

uint32_t ultraSoundDistortionTest(void)
{
    constexpr float kToneAmplitude = 529321.2f; // about -24 dB of the 24-bit full scale
    constexpr float kStep21000Hz = 2.7488937f;
    constexpr float kStep22500Hz = 2.9452434f;
    uint32_t failures = 0;

    // A: speech alone.
    freshStart(kMirel);
    speechFrames(kCommonPosition, 20);
    failures += checkFlag(VOXAIM_OUT_ULTRASOUND_DISTORTION, 0);

    // B: speech with a click (one sample of channel 1 times 25) in every frame.
    freshStart(kMirel);
    for (int i = 0; i < 20; ++i) {
        float *frame = getNextFrame(kCommonPosition.value, UNITTEST_CLIP_FEMALE_SPEECH, AudioData);
        frame[2648] *= 25.0f;
        voxaim_calculate(frame, kBitsPerSample, 0, &LastResult);
    }
    failures += checkFlag(VOXAIM_OUT_ULTRASOUND_DISTORTION, 0);

    // C: a 21000 Hz tone on channel 3 is reported at its 20th frame.
    freshStart(kMirel);
    for (int i = 1; i <= 20; ++i) {
        float *frame = getNextFrame(kCommonPosition.value, UNITTEST_CLIP_FEMALE_SPEECH, AudioData);
        replaceWithTone(frame, 3, kToneAmplitude, kStep21000Hz);
        voxaim_calculate(frame, kBitsPerSample, 0, &LastResult);
        if (i == 19)
            failures += checkFlag(VOXAIM_OUT_ULTRASOUND_DISTORTION, 0);
    }
    failures += checkFlag(VOXAIM_OUT_ULTRASOUND_DISTORTION, 1);

    // D: plain speech again, same engine.
    speechFrames(kCommonPosition, 20);
    failures += checkFlag(VOXAIM_OUT_ULTRASOUND_DISTORTION, 0);

    // E: a 22500 Hz tone lies outside the watched band.
    freshStart(kMirel);
    for (int i = 0; i < 40; ++i) {
        float *frame = getNextFrame(kCommonPosition.value, UNITTEST_CLIP_FEMALE_SPEECH, AudioData);
        replaceWithTone(frame, 3, kToneAmplitude, kStep22500Hz);
        voxaim_calculate(frame, kBitsPerSample, 0, &LastResult);
    }
    failures += checkFlag(VOXAIM_OUT_ULTRASOUND_DISTORTION, 0);
    teardown();
    return failures;
}

uint32_t roomNoiseTest(void)
{
    uint32_t failures = 0;
    freshStart(kMirel);
    for (int frame = 1; frame <= 80; ++frame) {
        noiseFrame(kCommonPosition);
        if (frame >= 62)
            failures += checkVoiceFlags(0, 1);
    }
    teardown();
    return failures;
}

uint32_t ultraSoundLevelTest(void)
{
    freshStart(kMirel);
    for (int frame = 0; frame < 25; ++frame)
        noiseFrame(kCommonPosition);
    const float level = voxaim_getUltraSoundLevel();
    eventlog("Ultra sound level = %f", static_cast<double>(level));
    teardown();
    return level >= -35.0f && level <= -30.0f ? 0 : 1;
}

uint32_t lumoElevationTest(void)
{
    uint32_t failures = 0;
    freshStart(kLumo);
    speechFrames(Position(-0.2, -39.5, 6.2f), 10);
    if (LastResult.elevation > -39.0f) {
        eventlog("Lumo elevation test failed, elevation = %f\n", static_cast<double>(LastResult.elevation));
        failures = 1;
    }
    teardown();
    return failures;
}

uint32_t runAllUnitTests(void)
{
    struct Entry {
        uint32_t (*routine)(void);
        const char *running;
        const char *finished; // null: no closing line
    };
    static const Entry kEntries[] = {
        {stableSpeakerTestMirel, "Running stable speaker test\n", "Finished stable speaker test\n"},
        {stableSpeakerTestTovak, "Running stable speaker tovak test\n", "Finished stable speaker tovak test\n"},
        {stableSpeakerTestLumo, "Running stable speaker lumo test\n", "Finished stable speaker lumo test\n"},
        {stableSpeakerTestValdrun, "Running stable speaker valdrun test\n", nullptr},
        {stableSpeakerTestZandor, "Running stable speaker zandor test\n", "Finished stable speaker zandor test\n"},
        {stableSpeakerTestFeyla, "Running stable speaker feyla test\n", "Finished stable speaker feyla test\n"},
        {stableSpeakerTestBrannt, "Running stable speaker brannt test\n", "Finished stable speaker brannt test\n"},
        {vadOnTest, "Running VAD on test\n", "Finished VAD on test\n"},
        {vadHangoverTest, "Running VAD hangover test\n", "Finished VAD hangover test\n"},
        {timeDomainVadTest, "Running TD VAD test\n", "Finished TD VAD test\n"},
        {soundActivityTest, "Running SAD test\n", "Finished SAD test\n"},
        {signalEnergyTest, "Running signal energy test\n", "Finished signal energy test\n"},
        {inputFlagTest, "Running input flag test\n", "Finished input flag test\n"},
        {farEndVadTest, "Running FE VAD test\n", "Finished FE VAD test\n"},
        {ultraSoundDistortionTest, "Running ultrasound test\n", "Finished ultrasound test\n"},
        {roomNoiseTest, "Running room noise test\n", "Finished room noise test\n"},
        {ultraSoundLevelTest, "Running ultra sound level test\n", "Finished ultra sound level test\n"},
        {lumoElevationTest, "Running lumo elevation test\n", "Finished lumo elevation test\n"},
    };
    freshStart(kMirel);
    uint32_t errors = 0;
    for (const Entry &entry : kEntries) {
        eventlogputs(entry.running);
        errors += entry.routine();
        if (entry.finished != nullptr)
            eventlogputs(entry.finished);
    }
    eventlog("\n\nTest summary: %d error(s)\n\n", static_cast<int>(errors));
    freshStart(kMirel);
    return errors;
}

} // extern "C"
