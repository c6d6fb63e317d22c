// voxaim_calculate: one frame through the analysis and the position search.
#include <utility>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/cmod/track/voxaim_analysis.h"
#include "functional/audio/voxaim/cmod/track/voxaim_internal.h"
#include "functional/audio/voxaim/cmod/track/voxaim_search.h"

extern "C" void voxaim_calculate(const float *frame, int32_t bitsPerSample, uint32_t inputFlags, VoxaimResult *result)
{
    recordRawFrame(frame, bitsPerSample, inputFlags);

    voxaim::FrameFlags flags;
    flags.farEnd = static_cast<uint8_t>(voxaim_getFlag(VOXAIM_IN_FAR_END_ACTIVITY, inputFlags));
    flags.noiseHold = static_cast<uint8_t>(voxaim_getFlag(VOXAIM_IN_NOISE_HOLD, inputFlags));

    voxaim::analyzeFrame(frame, bitsPerSample, flags);
    voxaim::searchPosition(flags, result);

    // The next frame analyses the last two frames; the numerator and raw
    // buffers just written hold the previous frame's data from now on.
    voxaim_overlapInputChannels(InputAudio.data(), PreviousRawAudioInput.data(), CurrentRawAudioInput.data(),
                                NumberOfChannels);
    std::swap(CurrentNumerator, PreviousNumerator);
    std::swap(CurrentRawAudioInput, PreviousRawAudioInput);
}
