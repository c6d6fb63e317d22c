#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_UNITTESTGENERATOR_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_UNITTESTGENERATOR_H
/*
 * Test signal generator: renders multichannel microphone frames of a talker
 * at a known place from the two built-in one-second clips (female speech and
 * room noise, 48000 Hz, 24-bit integer scale stored as floats).
 *
 * For each microphone the clip is read with a whole-sample delay equal to
 * the extra path from the talker to that microphone relative to microphone 0
 * (48000 / 348 samples per metre). No level change with distance and no
 * fractional delay: only the arrival-time differences are simulated. The
 * generator asks the engine for the channel count and the microphone
 * positions through two function pointers.
 */
#include <stdbool.h>
#include <stdint.h>

#include "functional/audio/voxaim/cmod/track/voxaim.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Clip identifiers of getNextFrame. */
#define UNITTEST_CLIP_FEMALE_SPEECH 0
#define UNITTEST_CLIP_ROOM_NOISE 1

/* Samples of each built-in clip (one second at 48000 Hz). */
#define UNITTEST_CLIP_LENGTH 48000

/* Elements of a generator buffer: VOXAIM_MAX_CHANNELS channels of 2048 samples. */
#define UNITTEST_BUFFER_LENGTH (VOXAIM_MAX_CHANNELS * VOXAIM_FRAME_LENGTH)

/* One built-in clip. */
typedef struct ClipInfo {
    const float *samples;
    uint32_t numberOfSamples;
} ClipInfo;

extern const float femaleSpeech[UNITTEST_CLIP_LENGTH];
extern const float roomNoise[UNITTEST_CLIP_LENGTH];
extern const ClipInfo femaleSpeechInfo;
extern const ClipInfo roomNoiseInfo;

typedef int32_t (*GetNumberOfChannelsFunction)(void);
typedef const float *(*GetMicrophoneCoordinatesFunction)(int32_t index);

typedef struct AudioGenerator {
    float *buffer;         /* UNITTEST_BUFFER_LENGTH floats, zero-filled at creation */
    uint32_t readPosition; /* clip index of the first sample of the next frame */
    GetNumberOfChannelsFunction getNumberOfChannels;
    GetMicrophoneCoordinatesFunction getMicrophoneCoordinates;
    bool dcOffset; /* speech written as 838860.8 + 0.1 * sample */
} AudioGenerator;

/* A new generator at clip position 0 with a zeroed buffer; the caller owns it
 * until destroyAudioGenerator. Allocation failures are not checked. */
AudioGenerator *createAudioGenerator(GetNumberOfChannelsFunction getNumberOfChannels,
                                     GetMicrophoneCoordinatesFunction getMicrophoneCoordinates, bool dcOffset);
void destroyAudioGenerator(AudioGenerator *generator);

/*
 * Fills the generator's buffer with the next frame of clip `clipId` for a
 * talker at position (azimuth and elevation in radians, range in metres) and
 * returns the buffer: getNumberOfChannels() channels of 2048 floats, channel
 * after channel; channels above the count are left as they were. The clip
 * loops; a lagging channel read before the clip start indexes the clip with
 * its position taken as an unsigned 32-bit number (modulo 48000, so position
 * -d reads sample 23296 - d). Fatal assertion for a channel count outside
 * 1 ... 8 or an unknown clip.
 */
float *getNextFrame(const float *position, uint32_t clipId, AudioGenerator *generator);

/* A module buffer of UNITTEST_BUFFER_LENGTH uniform pseudo-random values in
 * [-0.5, 0.5), the same sequence on every call (srand(1)). */
float *generateInput(void);

#ifdef __cplusplus
}
#endif

#endif
