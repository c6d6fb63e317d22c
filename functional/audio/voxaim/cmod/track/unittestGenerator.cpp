// Test signal generator: whole-sample delayed copies of a built-in clip, one
// per microphone of the engine's active variant.
#include "functional/audio/voxaim/cmod/track/unittestGenerator.h"

#include <assert.h>
#include <math.h>
#include <stdlib.h>

#include "functional/audio/voxaim/cmod/track/voxaim_geometry.h"

namespace {

constexpr float kSamplesPerMetre = 137.93103f; // 48000 / 348 m/s
constexpr float kDcOffset = 838860.8f;         // a tenth of the 24-bit full scale
constexpr float kSpeechAttenuation = 0.1f;

float RawAudioInput[UNITTEST_BUFFER_LENGTH];

const ClipInfo *clipInfoFromId(uint32_t clipId)
{
    switch (clipId) {
    case UNITTEST_CLIP_FEMALE_SPEECH:
        return &femaleSpeechInfo;
    case UNITTEST_CLIP_ROOM_NOISE:
        return &roomNoiseInfo;
    default:
        assert(false);
        return nullptr;
    }
}

// Distance in whole samples, rounded half up in single precision.
int32_t distanceInSamples(const float *talker, const float *microphone)
{
    return static_cast<int32_t>(floorf(voxaim_calculateDistance(talker, microphone) * kSamplesPerMetre + 0.5f));
}

} // namespace

extern "C" {

const ClipInfo femaleSpeechInfo = {femaleSpeech, UNITTEST_CLIP_LENGTH};
const ClipInfo roomNoiseInfo = {roomNoise, UNITTEST_CLIP_LENGTH};

AudioGenerator *createAudioGenerator(GetNumberOfChannelsFunction getNumberOfChannels,
                                     GetMicrophoneCoordinatesFunction getMicrophoneCoordinates, bool dcOffset)
{
    auto *generator = static_cast<AudioGenerator *>(malloc(sizeof(AudioGenerator)));
    generator->buffer = static_cast<float *>(calloc(UNITTEST_BUFFER_LENGTH, sizeof(float)));
    generator->readPosition = 0;
    generator->getNumberOfChannels = getNumberOfChannels;
    generator->getMicrophoneCoordinates = getMicrophoneCoordinates;
    generator->dcOffset = dcOffset;
    return generator;
}

void destroyAudioGenerator(AudioGenerator *generator)
{
    if (generator == nullptr)
        return;
    free(generator->buffer);
    free(generator);
}

float *getNextFrame(const float *position, uint32_t clipId, AudioGenerator *generator)
{
    const int32_t numChannels = generator->getNumberOfChannels();
    const ClipInfo *clip = clipInfoFromId(clipId);
    assert(numChannels > 0 && numChannels <= VOXAIM_MAX_CHANNELS);
    const bool offset = generator->dcOffset && clipId == UNITTEST_CLIP_FEMALE_SPEECH;

    float talker[3];
    voxaim_sphericalToCartesian(position, talker);
    const int32_t d0 = distanceInSamples(talker, generator->getMicrophoneCoordinates(0));
    for (int32_t c = 0; c < numChannels; ++c) {
        const int32_t dc = distanceInSamples(talker, generator->getMicrophoneCoordinates(c));
        // A microphone farther away than microphone 0 hears the same sound later,
        // so it reads earlier clip samples. Before the clip start the position
        // wraps as an unsigned 32-bit number.
        const uint32_t start = generator->readPosition - static_cast<uint32_t>(dc - d0);
        float *out = generator->buffer + c * VOXAIM_FRAME_LENGTH;
        for (uint32_t k = 0; k < VOXAIM_FRAME_LENGTH; ++k) {
            const float sample = clip->samples[(start + k) % clip->numberOfSamples];
            out[k] = offset ? kDcOffset + sample * kSpeechAttenuation : sample;
        }
    }
    generator->readPosition = (generator->readPosition + VOXAIM_FRAME_LENGTH) % clip->numberOfSamples;
    return generator->buffer;
}

float *generateInput(void)
{
    srand(1);
    for (float &value : RawAudioInput)
        value = -0.5f + static_cast<float>(rand()) * 4.656613e-10f;
    return RawAudioInput;
}

} // extern "C"
