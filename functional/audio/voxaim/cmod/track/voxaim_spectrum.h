#ifndef FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_SPECTRUM_H
#define FUNCTIONAL_AUDIO_VOXAIM_CMOD_TRACK_VOXAIM_SPECTRUM_H
/*
 * The layout of the engine's frames and spectra, shared by the engine and
 * every detector.
 *
 * A frame holds 2048 samples per channel at 48000 Hz, channel after channel.
 * Each channel is analysed in blocks of two frames (4096 samples); the
 * block's half-spectrum has 2049 complex bins, bin k at k * 11.71875 Hz,
 * stored as (real, imaginary) float pairs from bin 0 to bin 2048: 4098
 * floats per channel. A multichannel spectrum (the engine's FftResult) holds
 * the channels one after another.
 */
#include <cstddef>
#include <span>

namespace voxaim {

inline constexpr int kFrameLength = 2048;                  // samples per channel and frame
inline constexpr int kBlockLength = 2 * kFrameLength;      // analysis block (two frames)
inline constexpr int kSpectrumBins = kBlockLength / 2 + 1; // 2049 bins, 11.71875 Hz apart
inline constexpr int kSpectrumFloats = 2 * kSpectrumBins;  // 4098: complex bins, re first

static_assert(kSpectrumBins == 2049 && kSpectrumFloats == 4098);

// The spectrum of channel `channel` in a multichannel spectrum.
inline std::span<const float, kSpectrumFloats> channelSpectrum(const float *spectrum, int channel)
{
    return std::span<const float, kSpectrumFloats>(spectrum + static_cast<std::ptrdiff_t>(channel) * kSpectrumFloats,
                                                   kSpectrumFloats);
}

// re^2 + im^2 of bin k of one channel's spectrum.
inline float binPower(std::span<const float, kSpectrumFloats> channel, int k)
{
    return channel[2 * k] * channel[2 * k] + channel[2 * k + 1] * channel[2 * k + 1];
}

} // namespace voxaim

#endif
