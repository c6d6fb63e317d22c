/* A user of the installed engine library, in C: prints the library's version
 * (after checking it against the header's), initialises the engine for
 * product type 0, feeds it frames of a noise burst that reaches every
 * microphone with a delay of its own, prints the answer for every frame and
 * destroys the engine. Built against the shared and the static library, and
 * with OWN_HAMMING_WINDOW a program that defines a global of the same name as
 * one of the engine's internals: it must link, and the engine must neither
 * use nor touch it. Every build prints the same lines. */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <voxaim/voxaim.h>

#ifdef OWN_HAMMING_WINDOW
float HammingWindow[4096];
#endif

enum { FRAMES = 12 };

static float frame[VOXAIM_MAX_CHANNELS * VOXAIM_FRAME_LENGTH];

/* A fixed pseudo-random sequence (the same on every platform). */
static float noise(uint32_t index)
{
    uint32_t x = (index + 1u) * 2654435761u;
    x ^= x >> 13;
    x *= 2246822519u;
    x ^= x >> 16;
    return (float)((int32_t)(x & 0xffffu) - 0x8000) * 16.0f;
}

int main(void)
{
    char headerVersion[32];
    snprintf(headerVersion, sizeof headerVersion, "%d.%d.%d", VOXAIM_VERSION_MAJOR, VOXAIM_VERSION_MINOR,
             VOXAIM_VERSION_PATCH);
    if (strcmp(voxaim_versionString(), headerVersion) != 0) {
        fprintf(stderr, "consumer: library %s, header %s\n", voxaim_versionString(), headerVersion);
        return 1;
    }
    printf("voxaim %s\n", voxaim_versionString());
#ifdef OWN_HAMMING_WINDOW
    for (int i = 0; i < 4096; ++i)
        HammingWindow[i] = 7.0f;
#endif
    voxaim_initialize(0);
    const int channels = voxaim_getNumberOfChannels();
    int failures = 0;
    if (channels < 1 || channels > VOXAIM_MAX_CHANNELS) {
        fprintf(stderr, "consumer: %d channels\n", channels);
        return 1;
    }
    for (int f = 0; f < FRAMES; ++f) {
        for (int c = 0; c < channels; ++c) {
            const float *position = voxaim_getMicrophoneCoordinates(c);
            /* A talker ahead and to the side: earlier where y is larger. */
            const long delay = 20 - lround(position[1] * 48000.0 / 343.0);
            for (int n = 0; n < VOXAIM_FRAME_LENGTH; ++n) {
                const long t = (long)f * VOXAIM_FRAME_LENGTH + n - delay;
                frame[c * VOXAIM_FRAME_LENGTH + n] = t >= 0 && t % 9600 < 4800 ? noise((uint32_t)t) : 0.0f;
            }
        }
        VoxaimResult result;
        voxaim_calculate(frame, 24, 0, &result);
        if (!isfinite(result.azimuth) || !isfinite(result.elevation) || !isfinite(result.range) ||
            !isfinite(result.quality) || voxaim_getFlag(6, result.flags) != 0)
            ++failures;
        printf("%d %.6g %.6g %.6g %.6g 0x%x\n", f, result.azimuth, result.elevation, result.range, result.quality,
               (unsigned)result.flags);
    }
    voxaim_destroy();
#ifdef OWN_HAMMING_WINDOW
    for (int i = 0; i < 4096; ++i)
        if (HammingWindow[i] != 7.0f) {
            fprintf(stderr, "consumer: the engine wrote into the program's HammingWindow[%d]\n", i);
            return 1;
        }
#endif
    return failures == 0 ? 0 : 1;
}
