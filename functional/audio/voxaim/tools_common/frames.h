#ifndef FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_FRAMES_H
#define FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_FRAMES_H
// Turning multichannel audio as sound files and sound cards deliver it
// (interleaved: one sample of every channel, then the next) into the engine's
// frames (channel after channel, 2048 samples each), and the checks every
// frame passes before it reaches the engine.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace voxaim::tools {

// The scale of float audio (full scale 1.0) in the engine's 24-bit frames.
inline constexpr int32_t kFloatSampleWidth = 24;
inline constexpr double kFloatFullScale = 8388608.0;

// Integer samples left-justified in 32 bits (the top `bits` bits carry the
// sample, as libsndfile delivers them) into the engine frame at their own
// width: the frame holds the integers of that width, passed with
// bitsPerSample = bits. `interleaved` holds frame.size() samples.
void deinterleaveIntegers(std::span<const int32_t> interleaved, int32_t channels, int32_t bits, std::span<float> frame);

// Float samples (full scale 1.0) into the engine frame at the 24-bit scale.
void deinterleaveFloats(std::span<const double> interleaved, int32_t channels, std::span<float> frame);

// Index of the first NaN or infinite sample, if any. Such a sample would
// poison the engine's smoothed spectra for many frames after it.
std::optional<std::size_t> firstNonFinite(std::span<const float> frame);

} // namespace voxaim::tools

#endif
