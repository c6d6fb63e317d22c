// Frame analysis: the first half of voxaim_calculate.
#include "functional/audio/voxaim/cmod/track/voxaim_analysis.h"

#include <algorithm>
#include <cmath>

#include "functional/audio/voxaim/cmod/track/FrequencyDomainActivityDetection.h"
#include "functional/audio/voxaim/cmod/track/NoiseLevelEstimation.h"
#include "functional/audio/voxaim/cmod/track/TimeDomainActivityDetection.h"
#include "functional/audio/voxaim/cmod/track/UltraSoundDistortionDetection.h"
#include "functional/audio/voxaim/cmod/track/voxaim_fft.h"
#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"

namespace {

using namespace voxaim;

/* The analysis starts at bin 4 (46.9 Hz). */
constexpr int kFirstAnalysedBin = 4;
constexpr uint8_t kSpeechTimeout = 35;
constexpr uint8_t kShortTimeout = 2;

int32_t pairCount() { return NumberOfElevationPairs + NumberOfAzimuthPairs; }

/* The pair with global index g: elevation pairs first, then azimuth pairs. */
const MicrophonePair &pairAt(int32_t g)
{
    return g < NumberOfElevationPairs ? ElevationPairs[g] : AzimuthPairs[g - NumberOfElevationPairs];
}

/* Windows and transforms every channel's analysis block into FftResult. */
void transformChannels()
{
    for (int32_t ch = 0; ch < NumberOfChannels; ++ch) {
        const std::span<float, kSpectrumFloats> spectrum = FftResult.block(ch);
        const std::span<const float, kBlockLength> block = InputAudio.block(ch);
        voxaim_vectorMultiply(HammingWindow.data(), block.data(), FftInput.data(), block.size());
        // The transform takes a twiddle table that it never reads.
        voxaim_realFft(block.size(), FftInput.data(), nullptr, spectrum.data(), 2, ATable.data(), BTable.data(),
                       FftOutput.data());
        std::fill_n(spectrum.begin(), 2 * kFirstAnalysedBin, 0.0f);
    }
}

void runSpectralDetectors(FrameFlags &flags)
{
    const float *noise = calculateNoiseLevel(FftResult.data(), flags.noiseHold);
    detectFrequencyDomainActivity(FftResult.data(), noise, &flags.voiceActivity, &flags.soundActivity);
    detectUltraSoundDistortion(FftResult.data(), NumberOfChannels, &flags.ultraSoundDistortion);
}

/* Cross-spectrum first x conj(second) of every pair into CurrentNumerator. */
void formCrossSpectra()
{
    for (int32_t g = 0; g < pairCount(); ++g) {
        const MicrophonePair &pair = pairAt(g);
        const std::span<float, kSpectrumFloats> numerator = CurrentNumerator.block(g);
        voxaim_multiplyWithComplexConjugate(FftResult.block(pair.firstMicrophone).data(),
                                            FftResult.block(pair.secondMicrophone).data(), numerator.data(),
                                            numerator.size());
    }
}

void smoothNumerators(float gain)
{
    for (int32_t g = 0; g < pairCount(); ++g) {
        const MicrophonePair &pair = pairAt(g);
        smoothPairNumerator(CurrentNumerator.block(g), PreviousNumerator.block(g), TimeoutCounter.block(g),
                            FrequencyWeight.block(pair.firstMicrophone), FrequencyWeight.block(pair.secondMicrophone),
                            pair.lowerBin, pair.upperBin, gain, TimeoutLimit);
    }
}

} // namespace

extern "C" void voxaim_normalizeInput(const float *in, float *out, int32_t bitsPerSample, int32_t channels)
{
    if (channels > 0)
        kernels().scale(in, inputScale(bitsPerSample), out, static_cast<size_t>(channels) * kFrameLength);
}

extern "C" void voxaim_vectorMultiply(const float *a, const float *b, float *out, int32_t n)
{
    if (n > 0)
        kernels().multiply(a, b, out, static_cast<size_t>(n));
}

extern "C" void voxaim_overlapInputChannels(float *block, const float *previous, const float *current, int32_t channels)
{
    for (int32_t ch = 0; ch < channels; ++ch) {
        std::copy_n(previous + ch * kFrameLength, kFrameLength, block + ch * kBlockLength);
        std::copy_n(current + ch * kFrameLength, kFrameLength, block + ch * kBlockLength + kFrameLength);
    }
}

extern "C" void voxaim_multiplyWithComplexConjugate(const float *a, const float *b, float *out, int32_t n)
{
    if (n > 0)
        kernels().multiplyConjugate(a, b, out, static_cast<size_t>(n));
}

namespace voxaim {

void trackNoiseAndWeights(std::span<const float> spectrum, std::span<float> noisePower, std::span<float> weight)
{
    kernels().trackNoiseAndWeights(spectrum, noisePower, weight);
}

void smoothPairNumerator(std::span<float> current, std::span<const float> previous, std::span<uint8_t> timeout,
                         std::span<const float> weightA, std::span<const float> weightB, int lowerBin, int upperBin,
                         float gain, uint8_t timeoutLimit)
{
    kernels().smoothPairNumerator(current, previous, timeout, weightA, weightB, lowerBin, upperBin, gain, timeoutLimit);
}

void analyzeFrame(const float *frame, int32_t bitsPerSample, FrameFlags &flags)
{
    voxaim_normalizeInput(frame, CurrentRawAudioInput.data(), bitsPerSample, NumberOfChannels);
    detectTimeDomainActivity(CurrentRawAudioInput.data(), &flags.timeDomainAnswer);

    transformChannels();
    trackNoiseAndWeights(FftResult.span(), NoisePowerEstimate.span(), FrequencyWeight.span());
    runSpectralDetectors(flags);

    TimeoutLimit = flags.voiceActivity && !flags.farEnd ? kSpeechTimeout : kShortTimeout;
    formCrossSpectra();
    // The numerators follow the spectra only while the time-domain detector
    // has seen no click and the far end is silent.
    const float gain = static_cast<float>(flags.timeDomainAnswer) * static_cast<float>(1 - flags.farEnd);
    smoothNumerators(gain);
}

} // namespace voxaim
