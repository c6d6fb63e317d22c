// voxaim_calculateSignalEnergy: per-channel energy of one input frame, a
// stand-alone service that neither reads nor changes the engine state.
#include <cassert>
#include <cmath>
#include <cstdint>

#include "functional/audio/voxaim/cmod/track/voxaim.h"

extern "C" void voxaim_calculateSignalEnergy(const float *frame, int32_t bitsPerSample,
                                             int32_t nchannels, float *energies)
{
    assert(nchannels <= VOXAIM_MAX_CHANNELS);
    assert(nchannels > 0);

    // The scale of voxaim_normalizeInput: full scale becomes 1.0.
    const float scale = std::ldexp(1.0f, 1 - bitsPerSample);
    for (int ch = 0; ch < VOXAIM_MAX_CHANNELS; ++ch)
        energies[ch] = 0.0f;

    for (int ch = 0; ch < nchannels; ++ch) {
        const float *samples = frame + ch * VOXAIM_FRAME_LENGTH;
        // Four interleaved partial sums, as a four-lane vector accumulates them.
        float sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        for (int i = 0; i < VOXAIM_FRAME_LENGTH; i += 4) {
            for (int lane = 0; lane < 4; ++lane) {
                const float s = samples[i + lane] * scale;
                sum[lane] += s * s;
            }
        }
        energies[ch] = (sum[0] + sum[2]) + (sum[1] + sum[3]);
    }
}
