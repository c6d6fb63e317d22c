// The engine's per-frame element loops, portable version: plain loops that
// the x86 compiler vectorises (the CMake fragment detectors.cmake lets it).
#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"

#include <algorithm>
#include <cmath>

namespace voxaim::portable {
namespace {

/* The accumulation loop of one pair; First writes instead of adding. */
template <bool First>
float accumulateInto(const float *__restrict correlation, const int16_t *__restrict lookupTable,
                     float *__restrict cells, size_t n)
{
    // Two partial maxima keep the comparisons out of one dependency chain.
    float best0 = kLowest, best1 = kLowest;
    size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const float v0 = correlation[static_cast<uint16_t>(lookupTable[i]) & (kUpsampledLength - 1)];
        const float v1 = correlation[static_cast<uint16_t>(lookupTable[i + 1]) & (kUpsampledLength - 1)];
        cells[i] = First ? v0 : cells[i] + v0;
        cells[i + 1] = First ? v1 : cells[i + 1] + v1;
        best0 = std::max(best0, v0);
        best1 = std::max(best1, v1);
    }
    for (; i < n; ++i) {
        const float v = correlation[static_cast<uint16_t>(lookupTable[i]) & (kUpsampledLength - 1)];
        cells[i] = First ? v : cells[i] + v;
        best0 = std::max(best0, v);
    }
    return std::max(best0, best1);
}

bool hasAngle(std::span<const float> angles, size_t index) { return angles.empty() || !std::isnan(angles[index]); }

} // namespace

void scale(const float *in, float factor, float *out, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        out[i] = in[i] * factor;
}

void multiply(const float *a, const float *b, float *out, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        out[i] = a[i] * b[i];
}

void multiplyConjugate(const float *a, const float *b, float *out, size_t n)
{
    for (size_t k = 0; k + 1 < n; k += 2) {
        const float re = a[k] * b[k] + a[k + 1] * b[k + 1];
        const float im = a[k + 1] * b[k] - a[k] * b[k + 1];
        out[k] = re;
        out[k + 1] = im;
    }
}

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

void phaseTransform(std::span<const float, kSpectrumFloats> numerator, std::span<float, kFftScratchFloats> spectrum)
{
    for (int k = 0; k < kSpectrumBins - 1; ++k) {
        const float re = numerator[2 * k], im = numerator[2 * k + 1];
        const float m = re * re + im * im;
        const bool carries = m > kSmallestMagnitude;
        const float norm = std::sqrt(m);
        spectrum[2 * k] = carries ? re / norm : 0.0f;
        spectrum[2 * k + 1] = carries ? im / norm : 0.0f;
    }
    std::fill(spectrum.begin() + 2 * (kSpectrumBins - 1), spectrum.end(), 0.0f);
}

float accumulateCorrelation(std::span<const float, kUpsampledLength> correlation, const int16_t *lookupTable,
                            std::span<float> accumulator, bool first)
{
    return first ? accumulateInto<true>(correlation.data(), lookupTable, accumulator.data(), accumulator.size())
                 : accumulateInto<false>(correlation.data(), lookupTable, accumulator.data(), accumulator.size());
}

int32_t bestCell(std::span<const float> accumulator, std::span<const float> azimuthAngles,
                 std::span<const float> rowAngles)
{
    const size_t columns = azimuthAngles.size();
    float best = kLowest;
    int32_t index = 0;
    for (size_t cell = 0; cell < accumulator.size(); ++cell) {
        if (accumulator[cell] > best && hasAngle(azimuthAngles, cell % columns) &&
            hasAngle(rowAngles, cell / columns)) {
            best = accumulator[cell];
            index = static_cast<int32_t>(cell);
        }
    }
    return index;
}

} // namespace voxaim::portable
