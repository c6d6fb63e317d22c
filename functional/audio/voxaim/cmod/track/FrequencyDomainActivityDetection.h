#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_FREQUENCYDOMAINACTIVITYDETECTION_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_FREQUENCYDOMAINACTIVITYDETECTION_H
/*
 * Frequency-domain voice activity detector. Once per frame it compares the
 * speech band (bins 13 ... 511, 152 ... 5988 Hz) of two chosen channels with
 * the noise level estimate and gives two answers:
 *  - sound: the band's power exceeds 1.3 times the noise power this frame;
 *  - voice: this is at least the seventh consecutive frame above 1.1 times
 *    the noise and its 211 ... 633 Hz band (bins 18 ... 54) holds more than
 *    half of the weighted total (bins 0 ... 1193, bins 0 ... 7 weighted
 *    0.01); once on, voice is held for 34 further frames (hangover).
 * The spectrum is the engine's FftResult, laid out as voxaim_spectrum.h
 * describes.
 * Nothing allocates.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Clears the hangover and onset counters; the channel selection is kept. */
void initializeFrequencyDomainActivityDetector(void);

/* Selects the two channels (0-based) whose spectra are used; not range checked. */
void setFrequencyDomainVadChannels(unsigned int first, unsigned int second);

/* Judges one frame. noise is the 2049-float estimate calculateNoiseLevel
 * returned for the same frame. Writes 0/1 to *voice and *sound; returns the
 * voice answer. */
uint32_t detectFrequencyDomainActivity(const float *spectrum, const float *noise, uint8_t *voice, uint8_t *sound);

#ifdef __cplusplus
}

/* The detector's module state; exposed for diagnostics and tests. */
struct FrequencyDomainVadState {
    int16_t HangCount = 0;     /* remaining hangover frames */
    int16_t BurstCount = 0;    /* consecutive frames that met the onset condition */
    int16_t TemporalCount = 0; /* consecutive frames with a ratio above 1.1 */
    int32_t FdVadChannel1 = 1;
    int32_t FdVadChannel2 = 2;
};
FrequencyDomainVadState &frequencyDomainVadState();
#endif

#endif
