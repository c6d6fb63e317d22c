#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_ENERGY_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_ENERGY_H
// The signal-energy service behind voxaim_calculateSignalEnergy: a stand-alone
// computation that neither reads nor changes the engine state.
#include <cstdint>

namespace voxaim {

// Sum of squared normalised samples (the scale of voxaim_normalizeInput) of
// each of the first nchannels (1 ... VOXAIM_MAX_CHANNELS, checked by the
// caller) channels of one frame, accumulated as four interleaved partial sums
// combined as (s0 + s2) + (s1 + s3). All VOXAIM_MAX_CHANNELS energies are
// written; those of channels from nchannels on are 0.
void signalEnergy(const float *frame, int32_t bitsPerSample, int32_t nchannels, float *energies);

} // namespace voxaim

#endif
