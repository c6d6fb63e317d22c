// Frame analysis: the first half of voxaim_calculate.
#include "functional/audio/voxaim/cmod/track/voxaim_analysis.h"

#include <algorithm>
#include <cmath>

#include "functional/audio/voxaim/cmod/track/FrequencyDomainActivityDetection.h"
#include "functional/audio/voxaim/cmod/track/NoiseLevelEstimation.h"
#include "functional/audio/voxaim/cmod/track/TimeDomainActivityDetection.h"
#include "functional/audio/voxaim/cmod/track/UltraSoundDistortionDetection.h"
#include "functional/audio/voxaim/cmod/track/voxaim_fft.h"

namespace {

using namespace voxaim;

/* The analysis starts at bin 4 (46.9 Hz). */
constexpr int kFirstAnalysedBin = 4;
constexpr float kNoiseFall = 0.59813082f;
constexpr float kNoiseRise = 0.014121801f;
constexpr float kSilentPower = 1e-7f;
constexpr float kSilentWeight = 1e-7f;
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
        float *spectrum = FftResult + ch * kSpectrumFloats;
        voxaim_vectorMultiply(HammingWindow.data(), InputAudio + ch * kBlockLength, FftInput.data(), kBlockLength);
        voxaim_realFft(kBlockLength, FftInput.data(), TwiddleFactors.data(), spectrum, 2, ATable.data(), BTable.data(),
                       FftOutput.data());
        std::fill_n(spectrum, 2 * kFirstAnalysedBin, 0.0f);
    }
}

void runSpectralDetectors(FrameFlags &flags)
{
    const float *noise = calculateNoiseLevel(FftResult, flags.noiseHold);
    detectFrequencyDomainActivity(FftResult, noise, &flags.voiceActivity, &flags.soundActivity);
    detectUltraSoundDistortion(FftResult, &flags.ultraSoundDistortion);
}

/* Cross-spectrum first x conj(second) of every pair into CurrentNumerator. */
void formCrossSpectra()
{
    for (int32_t g = 0; g < pairCount(); ++g) {
        const MicrophonePair &pair = pairAt(g);
        voxaim_multiplyWithComplexConjugate(FftResult + pair.firstMicrophone * kSpectrumFloats,
                                            FftResult + pair.secondMicrophone * kSpectrumFloats,
                                            CurrentNumerator + g * kSpectrumFloats, kSpectrumFloats);
    }
}

void smoothNumerators(float gain)
{
    for (int32_t g = 0; g < pairCount(); ++g) {
        const MicrophonePair &pair = pairAt(g);
        smoothPairNumerator(
            std::span<float>(CurrentNumerator + g * kSpectrumFloats, kSpectrumFloats),
            std::span<const float>(PreviousNumerator + g * kSpectrumFloats, kSpectrumFloats),
            std::span<uint8_t>(TimeoutCounter + g * kSpectrumBins, kSpectrumBins),
            std::span<const float>(FrequencyWeight + pair.firstMicrophone * kSpectrumBins, kSpectrumBins),
            std::span<const float>(FrequencyWeight + pair.secondMicrophone * kSpectrumBins, kSpectrumBins),
            pair.lowerBin, pair.upperBin, gain, TimeoutLimit);
    }
}

} // namespace

extern "C" void voxaim_normalizeInput(const float *in, float *out, int32_t bitsPerSample, int32_t channels)
{
    const float scale = inputScale(bitsPerSample);
    const int32_t n = channels * kFrameLength;
    for (int32_t i = 0; i < n; ++i)
        out[i] = in[i] * scale;
}

extern "C" void voxaim_vectorMultiply(const float *a, const float *b, float *out, int32_t n)
{
    for (int32_t i = 0; i < n; ++i)
        out[i] = a[i] * b[i];
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
    for (int32_t k = 0; k + 1 < n; k += 2) {
        const float re = a[k] * b[k] + a[k + 1] * b[k + 1];
        const float im = a[k + 1] * b[k] - a[k] * b[k + 1];
        out[k] = re;
        out[k + 1] = im;
    }
}

namespace voxaim {

void trackNoiseAndWeights(std::span<const float> spectrum, std::span<float> noisePower, std::span<float> weight)
{
    // Written without branches (selects, min and max) so that the loop
    // vectorises: the comparisons differ from bin to bin unpredictably.
    for (size_t k = 0; k < noisePower.size(); ++k) {
        const float re = spectrum[2 * k], im = spectrum[2 * k + 1];
        const float p = re * re + im * im;
        const float n = noisePower[k];
        const float alpha = p <= n ? kNoiseFall : kNoiseRise;
        const float updated = n + (p - n) * alpha;
        noisePower[k] = updated;
        const float w = std::min(std::max(1.25f * (p - 9.0f * updated) / p, 0.0f), 0.5f);
        weight[k] = p <= kSilentPower ? 0.0f : w;
    }
}

void smoothPairNumerator(std::span<float> current, std::span<const float> previous, std::span<uint8_t> timeout,
                         std::span<const float> weightA, std::span<const float> weightB, int lowerBin, int upperBin,
                         float gain, uint8_t timeoutLimit)
{
    const int bins = static_cast<int>(timeout.size());
    const int low = std::clamp(lowerBin, 0, bins);
    const int high = std::clamp(upperBin + 1, 0, bins - 1); // last bin the loop writes
    std::fill(current.begin(), current.begin() + 2 * low, 0.0f);
    std::fill(current.begin() + 2 * high, current.end(), 0.0f);

    // The buffers never overlap, and the loop has no branches (the counter
    // and keep are computed arithmetically): the compiler vectorises it.
    float *__restrict out = current.data();
    const float *__restrict before = previous.data();
    uint8_t *__restrict count = timeout.data();
    const float *__restrict a = weightA.data();
    const float *__restrict b = weightB.data();
    for (int k = low; k <= high; ++k) {
        const float w = std::min(a[k], b[k]) * gain;
        const int silent = (count[k] + 1) * static_cast<int>(w < kSilentWeight);
        const int keep = static_cast<int>(silent < timeoutLimit);
        const float re = (1.0f - w) * before[2 * k] + w * out[2 * k];
        const float im = (1.0f - w) * before[2 * k + 1] + w * out[2 * k + 1];
        out[2 * k] = static_cast<float>(keep) * re;
        out[2 * k + 1] = static_cast<float>(keep) * im;
        count[k] = static_cast<uint8_t>(silent * keep);
    }
}

void analyzeFrame(const float *frame, int32_t bitsPerSample, FrameFlags &flags)
{
    voxaim_normalizeInput(frame, CurrentRawAudioInput, bitsPerSample, NumberOfChannels);
    detectTimeDomainActivity(CurrentRawAudioInput, &flags.timeDomainAnswer);

    transformChannels();
    trackNoiseAndWeights(std::span<const float>(FftResult, NumberOfChannels * kSpectrumFloats),
                         std::span<float>(NoisePowerEstimate, NumberOfChannels * kSpectrumBins),
                         std::span<float>(FrequencyWeight, NumberOfChannels * kSpectrumBins));
    runSpectralDetectors(flags);

    TimeoutLimit = flags.voiceActivity && !flags.farEnd ? kSpeechTimeout : kShortTimeout;
    formCrossSpectra();
    // The numerators follow the spectra only while the time-domain detector
    // has seen no click and the far end is silent.
    const float gain = static_cast<float>(flags.timeDomainAnswer) * static_cast<float>(1 - flags.farEnd);
    smoothNumerators(gain);
}

} // namespace voxaim
