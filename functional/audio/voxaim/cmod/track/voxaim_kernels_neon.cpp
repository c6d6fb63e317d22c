// The engine's per-frame element loops on NEON q registers (ARM builds).
// Each main loop handles whole vectors; the few elements left over go
// through the portable loop or the same scalar steps, so every result equals
// the portable one apart from what voxaim_kernels.h lists.
#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"

#if defined(__ARM_NEON)

#include "functional/audio/voxaim/cmod/track/voxaim_neon.h"

#include <algorithm>
#include <cstring>

namespace voxaim::neon {
namespace {

/* The bits of the correlation value at one lag. */
inline uint32_t bitsAt(const float *correlation, uint32_t lag)
{
    uint32_t bits;
    std::memcpy(&bits, correlation + lag, sizeof bits);
    return bits;
}

/* The correlation values at lags[from ... from + 3]. NEON has no gather:
 * the values are loaded through core registers (one load takes the scaled
 * lag) and moved into a q register two at a time. The two moves are
 * written out because GCC, given vcombine_u32 of vcreate_u32, moves every
 * value twice. */
template <int From>
inline float32x4_t gather4(const float *correlation, uint16x8_t lags)
{
    uint32x4_t values;
    asm("vmov %e0, %1, %2\n\tvmov %f0, %3, %4"
        : "=w"(values)
        : "r"(bitsAt(correlation, vgetq_lane_u16(lags, From))),
          "r"(bitsAt(correlation, vgetq_lane_u16(lags, From + 1))),
          "r"(bitsAt(correlation, vgetq_lane_u16(lags, From + 2))),
          "r"(bitsAt(correlation, vgetq_lane_u16(lags, From + 3))));
    return vreinterpretq_f32_u32(values);
}

/* Stores zeros into out[0 ... n - 1]. */
void zero(float *out, size_t n)
{
    const float32x4_t z = vdupq_n_f32(0.0f);
    for (; n >= 16; n -= 16, out += 16) {
        vst1q_f32(out, z);
        vst1q_f32(out + 4, z);
        vst1q_f32(out + 8, z);
        vst1q_f32(out + 12, z);
    }
    std::fill_n(out, n, 0.0f);
}

template <bool First>
float accumulateInto(const float *__restrict correlation, const int16_t *__restrict lookupTable,
                     float *__restrict cells, size_t n)
{
    float32x4_t best0 = vdupq_n_f32(kLowest), best1 = best0;
    // The mask keeps every table entry inside the correlation.
    const uint16x8_t lagMask = vdupq_n_u16(kUpsampledLength - 1);
    for (; n >= 8; n -= 8, lookupTable += 8, cells += 8) {
        const uint16x8_t lags = vandq_u16(vreinterpretq_u16_s16(vld1q_s16(lookupTable)), lagMask);
        const float32x4_t v0 = gather4<0>(correlation, lags);
        const float32x4_t v1 = gather4<4>(correlation, lags);
        vst1q_f32(cells, First ? v0 : vaddq_f32(vld1q_f32(cells), v0));
        vst1q_f32(cells + 4, First ? v1 : vaddq_f32(vld1q_f32(cells + 4), v1));
        best0 = vmaxq_f32(best0, v0);
        best1 = vmaxq_f32(best1, v1);
    }
    const float32x4_t best = vmaxq_f32(best0, best1);
    float32x2_t pairMax = vpmax_f32(vget_low_f32(best), vget_high_f32(best));
    pairMax = vpmax_f32(pairMax, pairMax);
    float largest = vget_lane_f32(pairMax, 0);
    for (size_t i = 0; i < n; ++i) {
        const float v = correlation[static_cast<uint16_t>(lookupTable[i]) & (kUpsampledLength - 1)];
        cells[i] = First ? v : cells[i] + v;
        largest = std::max(largest, v);
    }
    return largest;
}

} // namespace

void scale(const float *in, float factor, float *out, size_t n)
{
    const float32x4_t f = vdupq_n_f32(factor);
    for (; n >= 8; n -= 8, in += 8, out += 8) {
        vst1q_f32(out, vmulq_f32(vld1q_f32(in), f));
        vst1q_f32(out + 4, vmulq_f32(vld1q_f32(in + 4), f));
    }
    portable::scale(in, factor, out, n);
}

void multiply(const float *a, const float *b, float *out, size_t n)
{
    for (; n >= 8; n -= 8, a += 8, b += 8, out += 8) {
        vst1q_f32(out, vmulq_f32(vld1q_f32(a), vld1q_f32(b)));
        vst1q_f32(out + 4, vmulq_f32(vld1q_f32(a + 4), vld1q_f32(b + 4)));
    }
    portable::multiply(a, b, out, n);
}

void multiplyConjugate(const float *a, const float *b, float *out, size_t n)
{
    for (; n >= 8; n -= 8, a += 8, b += 8, out += 8) {
        const float32x4x2_t x = vld2q_f32(a), y = vld2q_f32(b);
        float32x4x2_t product;
        product.val[0] = vmlaq_f32(vmulq_f32(x.val[0], y.val[0]), x.val[1], y.val[1]);
        product.val[1] = vmlsq_f32(vmulq_f32(x.val[1], y.val[0]), x.val[0], y.val[1]);
        vst2q_f32(out, product);
    }
    portable::multiplyConjugate(a, b, out, n);
}

void trackNoiseAndWeights(std::span<const float> spectrum, std::span<float> noisePower, std::span<float> weight)
{
    const size_t bins = noisePower.size();
    const float32x4_t fall = vdupq_n_f32(kNoiseFall), rise = vdupq_n_f32(kNoiseRise);
    const float32x4_t zero = vdupq_n_f32(0.0f), half = vdupq_n_f32(0.5f), silent = vdupq_n_f32(kSilentPower);
    size_t k = 0;
    for (; k + 4 <= bins; k += 4) {
        const float32x4_t p = power(vld2q_f32(spectrum.data() + 2 * k));
        const float32x4_t n = vld1q_f32(noisePower.data() + k);
        const float32x4_t alpha = vbslq_f32(atMostNonNegative(p, n), fall, rise);
        const float32x4_t updated = vmlaq_f32(n, vsubq_f32(p, n), alpha);
        vst1q_f32(noisePower.data() + k, updated);
        const float32x4_t excess = vmulq_n_f32(vmlsq_n_f32(p, updated, 9.0f), 1.25f);
        const float32x4_t w = vminq_f32(vmaxq_f32(vmulq_f32(excess, reciprocal(p)), zero), half);
        // A silent bin's quotient may be inf or NaN: it is replaced here.
        vst1q_f32(weight.data() + k, vbslq_f32(atMostNonNegative(p, silent), zero, w));
    }
    portable::trackNoiseAndWeights(spectrum.subspan(2 * k), noisePower.subspan(k), weight.subspan(k));
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

    float *__restrict out = current.data();
    const float *__restrict before = previous.data();
    uint8_t *__restrict count = timeout.data();
    const float *__restrict a = weightA.data();
    const float *__restrict b = weightB.data();
    const float32x4_t one = vdupq_n_f32(1.0f), quiet = vdupq_n_f32(kSilentWeight), g = vdupq_n_f32(gain);
    const uint32x4_t oneBits = vreinterpretq_u32_f32(one);
    const uint16x8_t limit = vdupq_n_u16(timeoutLimit), step = vdupq_n_u16(1);
    // Four bins: keep x ((1 - w) x previous + w x current), keep 1.0 or 0.0
    // (a cleared bin is 0 x value, as in the portable loop).
    const auto smoothFour = [&](int bin, float32x4_t w, float32x4_t keep) {
        const float32x4_t rest = vsubq_f32(one, w);
        const float32x4x2_t old = vld2q_f32(before + 2 * bin), now = vld2q_f32(out + 2 * bin);
        float32x4x2_t smoothed;
        smoothed.val[0] = vmulq_f32(keep, vmlaq_f32(vmulq_f32(rest, old.val[0]), w, now.val[0]));
        smoothed.val[1] = vmulq_f32(keep, vmlaq_f32(vmulq_f32(rest, old.val[1]), w, now.val[1]));
        vst2q_f32(out + 2 * bin, smoothed);
    };
    int k = low;
    // Eight bins a step: their counters are one 8-byte load.
    for (; k + 8 <= high + 1; k += 8) {
        const float32x4_t w0 = vmulq_f32(vminq_f32(vld1q_f32(a + k), vld1q_f32(b + k)), g);
        const float32x4_t w1 = vmulq_f32(vminq_f32(vld1q_f32(a + k + 4), vld1q_f32(b + k + 4)), g);
        const uint16x8_t isQuiet = vcombine_u16(vmovn_u32(below(w0, quiet)), vmovn_u32(below(w1, quiet)));
        const uint16x8_t silent = vandq_u16(vaddq_u16(vmovl_u8(vld1_u8(count + k)), step), isQuiet);
        const uint16x8_t keep = vcltq_u16(silent, limit);
        vst1_u8(count + k, vmovn_u16(vandq_u16(silent, keep)));
        // The all-ones lanes of keep, widened by sign, select 1.0.
        const int16x8_t keepMask = vreinterpretq_s16_u16(keep);
        smoothFour(k, w0,
                   vreinterpretq_f32_u32(vandq_u32(vreinterpretq_u32_s32(vmovl_s16(vget_low_s16(keepMask))), oneBits)));
        smoothFour(
            k + 4, w1,
            vreinterpretq_f32_u32(vandq_u32(vreinterpretq_u32_s32(vmovl_s16(vget_high_s16(keepMask))), oneBits)));
    }
    for (; k <= high; ++k) {
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
    static_assert((kSpectrumBins - 1) % 4 == 0);
    const float32x4_t smallest = vdupq_n_f32(kSmallestMagnitude);
    for (int k = 0; k < kSpectrumBins - 1; k += 4) {
        const float32x4x2_t bins = vld2q_f32(numerator.data() + 2 * k);
        const float32x4_t m = power(bins);
        // Bins without magnitude are cleared: their factor may be inf or NaN.
        const uint32x4_t carries = greaterNonNegative(m, smallest);
        const float32x4_t factor = reciprocalSqrt(m);
        float32x4x2_t unit;
        unit.val[0] = vreinterpretq_f32_u32(vandq_u32(vreinterpretq_u32_f32(vmulq_f32(bins.val[0], factor)), carries));
        unit.val[1] = vreinterpretq_f32_u32(vandq_u32(vreinterpretq_u32_f32(vmulq_f32(bins.val[1], factor)), carries));
        vst2q_f32(spectrum.data() + 2 * k, unit);
    }
    zero(spectrum.data() + 2 * (kSpectrumBins - 1), spectrum.size() - 2 * (kSpectrumBins - 1));
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
    const size_t rows = columns == 0 ? 0 : accumulator.size() / columns;
    // Each lane of two vectors keeps the first cell of its largest value
    // (strictly larger values replace it); the lanes and the cells beyond
    // whole vectors are then merged by the same rule, the lower cell
    // winning ties.
    struct Lanes {
        float32x4_t best = vdupq_n_f32(kLowest);
        uint32x4_t cell = vdupq_n_u32(0);
        /* Takes the four values at cells where they are larger and at a
         * column with an azimuth (an angle equals itself unless it is
         * NaN); a NaN value is never larger. */
        void take(const float *values, const float *angles, uint32x4_t cells)
        {
            const float32x4_t v = vld1q_f32(values), angle = vld1q_f32(angles);
            const uint32x4_t better = vandq_u32(greater(v, best), vceqq_f32(angle, angle));
            best = vbslq_f32(better, v, best);
            cell = vbslq_u32(better, cells, cell);
        }
    };
    Lanes even, odd;
    float best = kLowest;
    uint32_t index = 0;
    const auto consider = [&](float value, uint32_t cell) {
        if (value > best || (value == best && cell < index && best > kLowest)) {
            best = value;
            index = cell;
        }
    };
    const uint32x4_t laneOffsets = {0, 1, 2, 3}, four = vdupq_n_u32(4), eight = vdupq_n_u32(8);
    for (size_t row = 0; row < rows; ++row) {
        if (!rowAngles.empty() && std::isnan(rowAngles[row]))
            continue;
        const float *values = accumulator.data() + row * columns;
        const uint32_t rowStart = static_cast<uint32_t>(row * columns);
        uint32x4_t cells = vaddq_u32(vdupq_n_u32(rowStart), laneOffsets);
        size_t c = 0;
        for (; c + 8 <= columns; c += 8, cells = vaddq_u32(cells, eight)) {
            even.take(values + c, azimuthAngles.data() + c, cells);
            odd.take(values + c + 4, azimuthAngles.data() + c + 4, vaddq_u32(cells, four));
        }
        for (; c < columns; ++c)
            if (!std::isnan(azimuthAngles[c]))
                consider(values[c], rowStart + static_cast<uint32_t>(c));
    }
    for (const Lanes &lanes : {even, odd}) {
        float values[4];
        uint32_t cells[4];
        vst1q_f32(values, lanes.best);
        vst1q_u32(cells, lanes.cell);
        for (int lane = 0; lane < 4; ++lane)
            consider(values[lane], cells[lane]);
    }
    // Cells of an incomplete last row.
    for (size_t cell = rows * columns; cell < accumulator.size(); ++cell)
        if (!std::isnan(azimuthAngles[cell % columns]) && (rowAngles.empty() || !std::isnan(rowAngles[cell / columns])))
            consider(accumulator[cell], static_cast<uint32_t>(cell));
    return static_cast<int32_t>(index);
}

} // namespace voxaim::neon

#endif
