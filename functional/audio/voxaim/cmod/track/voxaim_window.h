#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_WINDOW_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_WINDOW_H
/* The analysis window of the engine's 4096-sample blocks. */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Number of points of the engine's analysis window. */
#define VOXAIM_WINDOW_LENGTH 4096

/* Fills window[0 ... 4095] with the 4096-point Hamming window
 * w[n] = 0.54 - 0.46 cos(2 pi n / 4095) (so w[0] = w[4095] = 0.08), computed
 * in double precision and stored as float. The buffer must hold 4096 floats;
 * the length argument is ignored. */
void voxaim_generateHammingWindow(float *window, int32_t length);

#ifdef __cplusplus
}
#endif

#endif
