#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_ULTRASOUNDDISTORTIONDETECTION_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_ULTRASOUNDDISTORTIONDETECTION_H
/*
 * Ultrasound distortion detector. Per channel it smooths the power of the
 * ultrasound band (bins 1728 ... 1844, 20.25 ... 21.6 kHz) and of the
 * neighbour band below it (bins 1536 ... 1705, 18.0 ... 19.98 kHz) over
 * blocks of 20 frames. On every 20th frame it judges the channel with the
 * largest ultrasound level (the lowest index on ties): distortion is reported
 * on that frame when the level is above -25 dB and more than 15 dB above its
 * neighbour band. A warning is logged when the condition starts and an "ok"
 * line when it ends; the judged level is published through
 * voxaim_getUltraSoundLevel (-100 dB until the first judgement).
 *
 * The spectrum is the engine's FftResult, laid out as voxaim_spectrum.h
 * describes. The two per-channel level arrays are allocated by the
 * initialisation and released by destroyUltraSoundDistortionDetector; the
 * per-frame call does not allocate.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Allocates the level arrays for `channels` channels (zero-filled; a failed
 * allocation is a fatal assertion naming the array), and resets the block
 * counter, the warning state and the published levels. Arrays of an
 * earlier initialisation that was not destroyed are released. */
void initializeUltraSoundDistortionDetector(int32_t channels);

/* Releases the level arrays. */
void destroyUltraSoundDistortionDetector(void);

/* Accumulates one frame of a spectrum of `channels` channels (at most the
 * count given at initialisation: a larger one is a fatal assertion); on
 * every 20th call judges the block. Writes 0/1 to *distortion (1 only on a
 * judging frame that found distortion). */
void detectUltraSoundDistortion(const float *spectrum, int32_t channels, uint8_t *distortion);

/* The published ultrasound level in dB. */
float voxaim_getUltraSoundLevel(void);

#ifdef __cplusplus
}
#endif

#endif
