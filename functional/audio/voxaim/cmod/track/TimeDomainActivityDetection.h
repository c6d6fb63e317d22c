#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_TIMEDOMAINACTIVITYDETECTION_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_TIMEDOMAINACTIVITYDETECTION_H
/*
 * Time-domain voice activity detector: watches one microphone channel for
 * sudden jumps (clicks) of its high-frequency envelope.
 *
 * Each call band-passes (about 10 ... 19 kHz), rectifies and smooths
 * (32-sample moving average) the channel into a 2048-sample envelope, tracks
 * the envelope's running median sample by sample (a sign-step tracker moving
 * by 0.5 % of the median per sample), and measures the largest rise of the
 * envelope above the median, relative to the median. A rise of more than
 * 1.7 is a jump. The answer is 1 while no jump is seen, and 0 in the frame
 * whose analysis window holds a jump and in the frame after it.
 *
 * The analysis lags the input by one frame: each call analyses the previous
 * frame of the channel plus 43 samples before it and the first 44 samples of
 * the new frame. Fixed module buffers; nothing allocates.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Clears the channel history, the filter buffers and the median; the next
 * answer is 1 whatever the input. The watched channel is kept. */
void initializeTimeDomainActivityDetector(void);

/* Watches channel (0-based) of the frames handed to detectTimeDomainActivity.
 * Not range checked. */
void setTimeDomainVadChannel(unsigned int channel);

/* Analyses one frame: audio is the engine's normalised frame (2048 samples
 * per channel, channel after channel, see voxaim_spectrum.h), read only.
 * Writes 0 or 1 to *result. */
void detectTimeDomainActivity(const float *audio, uint8_t *result);

#ifdef __cplusplus
}

#include <span>

/* The last two steps of detectTimeDomainActivity, for diagnostics and tests:
 * the jump measure max((E[i] - M[i]) / M[i]) over the samples whose median
 * M[i] exceeds 1e-7 (0 when there is none), and the decision that turns a
 * measure into the frame's answer (updating the carried previous result). */
float timeDomainJumpMeasure(std::span<const float> envelope, std::span<const float> median);
uint8_t timeDomainDecision(float jump);
#endif

#endif
