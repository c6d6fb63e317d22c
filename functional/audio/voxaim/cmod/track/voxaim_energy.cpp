// Per-channel energy of one input frame.
#include "functional/audio/voxaim/cmod/track/voxaim_energy.h"

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/cmod/track/voxaim_internal.h"

namespace voxaim {

void signalEnergy(const float *frame, int32_t bitsPerSample, int32_t nchannels, float *energies)
{
    // The scale of voxaim_normalizeInput: full scale becomes 1.0.
    const float scale = inputScale(bitsPerSample);
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

} // namespace voxaim
