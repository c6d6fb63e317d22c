// The engine's and the detectors' element loops (voxaim_kernels.h), written
// once against a vector layer S of the DSP library (simd_*.h). Each loop
// runs whole vectors with S and the elements left over with the one-lane
// layer, through the same code: every element gets the same operations, in
// the order the scalar formulas give them.
//
// Each translation unit that includes this file instantiates it for its own
// layer inside its own namespace (VOXAIM_KERNELS_NAMESPACE), so code compiled
// for different instruction sets never merges.
#include <algorithm>
#include <cmath>

#include "functional/audio/libraries/dsplib/arm/simd_scalar.h"
#include "functional/audio/voxaim/cmod/track/voxaim_kernels.h"

namespace VOXAIM_KERNELS_NAMESPACE {

using namespace voxaim;
using Lane = dsplib::simd::Scalar;

// Runs step.template operator()<Layer>(i) for i = first, first + L, ...
// while a whole vector fits before last, then one element at a time.
template <class S, class Step>
[[gnu::always_inline]] inline void forRange(int first, int last, Step &&step)
{
    int i = first;
    for (; i + S::L <= last; i += S::L)
        step.template operator()<S>(i);
    for (; i < last; ++i)
        step.template operator()<Lane>(i);
}

// re^2 + im^2, the sum rounded after both products.
template <class T>
typename T::V power(typename T::V re, typename T::V im)
{
    return T::mulAdd(re * re, im, im);
}

template <class S>
struct Loops {
    static void scale(const float *in, float factor, float *out, size_t n)
    {
        forRange<S>(0, static_cast<int>(n),
                    [&]<class T>(int i) { T::store(out + i, T::load(in + i) * T::set1(factor)); });
    }

    static void multiply(const float *a, const float *b, float *out, size_t n)
    {
        forRange<S>(0, static_cast<int>(n),
                    [&]<class T>(int i) { T::store(out + i, T::load(a + i) * T::load(b + i)); });
    }

    static void multiplyConjugate(const float *a, const float *b, float *out, size_t n)
    {
        forRange<S>(0, static_cast<int>(n / 2), [&]<class T>(int k) {
            typename T::V ar, ai, br, bi;
            T::load2(a + 2 * k, ar, ai);
            T::load2(b + 2 * k, br, bi);
            T::store2(out + 2 * k, T::mulAdd(ar * br, ai, bi), T::mulSub(ai * br, ar, bi));
        });
    }

    static void trackNoiseAndWeights(std::span<const float> spectrum, std::span<float> noisePower,
                                     std::span<float> weight)
    {
        forRange<S>(0, static_cast<int>(noisePower.size()), [&]<class T>(int k) {
            using V = typename T::V;
            V re, im;
            T::load2(spectrum.data() + 2 * k, re, im);
            const V p = power<T>(re, im), n = T::load(noisePower.data() + k);
            const V alpha = T::select(T::atMost(p, n), T::set1(kNoiseFall), T::set1(kNoiseRise));
            const V updated = T::mulAdd(n, p - n, alpha);
            T::store(noisePower.data() + k, updated);
            const V excess = T::mulSub(p, updated, T::set1(9.0f)) * T::set1(1.25f);
            const V w = T::min(T::max(T::divide(excess, p), T::set1(0.0f)), T::set1(0.5f));
            // A silent bin's quotient may be inf or NaN: it is replaced here.
            T::store(weight.data() + k, T::select(T::atMost(p, T::set1(kSilentPower)), T::set1(0.0f), w));
        });
    }

    static void smoothPairNumerator(std::span<float> current, std::span<const float> previous,
                                    std::span<uint8_t> timeout, std::span<const float> weightA,
                                    std::span<const float> weightB, int lowerBin, int upperBin, float gain,
                                    uint8_t timeoutLimit)
    {
        const int bins = static_cast<int>(timeout.size());
        const int low = std::clamp(lowerBin, 0, bins);
        const int high = std::clamp(upperBin + 1, 0, bins - 1); // last bin the loop writes
        std::fill(current.begin(), current.begin() + 2 * low, 0.0f);
        std::fill(current.begin() + 2 * high, current.end(), 0.0f);
        float *out = current.data();
        // The counters are small integers, exact as floats. A cleared bin is
        // 0 x value (keep is 1.0 or 0.0), as the scalar formula has it.
        forRange<S>(low, high + 1, [&]<class T>(int k) {
            using V = typename T::V;
            const V zero = T::set1(0.0f);
            const V w = T::min(T::load(weightA.data() + k), T::load(weightB.data() + k)) * T::set1(gain);
            const V silent =
                T::select(T::less(w, T::set1(kSilentWeight)), T::loadBytes(timeout.data() + k) + T::set1(1.0f), zero);
            const auto keep = T::less(silent, T::set1(static_cast<float>(timeoutLimit)));
            T::storeBytes(timeout.data() + k, T::select(keep, silent, zero));
            const V kept = T::select(keep, T::set1(1.0f), zero), rest = T::set1(1.0f) - w;
            V oldRe, oldIm, nowRe, nowIm;
            T::load2(previous.data() + 2 * k, oldRe, oldIm);
            T::load2(out + 2 * k, nowRe, nowIm);
            T::store2(out + 2 * k, kept * T::mulAdd(rest * oldRe, w, nowRe), kept * T::mulAdd(rest * oldIm, w, nowIm));
        });
    }

    static void phaseTransform(const float *numerator, float *spectrum, int bins)
    {
        forRange<S>(0, bins, [&]<class T>(int k) {
            using V = typename T::V;
            V re, im;
            T::load2(numerator + 2 * k, re, im);
            const V m = power<T>(re, im), zero = T::set1(0.0f);
            // Bins without magnitude are cleared: their factor may be inf or NaN.
            const auto carries = T::greater(m, T::set1(kSmallestMagnitude));
            T::store2(spectrum + 2 * k, T::select(carries, T::divideBySqrt(re, m), zero),
                      T::select(carries, T::divideBySqrt(im, m), zero));
        });
    }

    // Pairs known at compile time (Pairs > 0) or given (Pairs = 0): each
    // group's sums stay in registers over the pairs, added in pair order,
    // its offsets read as one stream.
    template <int Pairs>
    static void accumulateGroups(const float *windows, const uint32_t *offsets, int pairs, float *cells, int n)
    {
        constexpr int G = kGridGroup, L = S::L;
        static_assert(G % L == 0);
        const int count = Pairs > 0 ? Pairs : pairs;
        int i = 0;
        for (; i + G <= n; i += G) {
            typename S::V sum[G / L];
            for (int v = 0; v < G / L; ++v)
                sum[v] = S::gatherNext(windows, offsets);
#pragma GCC unroll 8
            for (int p = 1; p < count; ++p)
                for (int v = 0; v < G / L; ++v)
                    sum[v] = sum[v] + S::gatherNext(windows, offsets);
            for (int v = 0; v < G / L; ++v)
                S::store(cells + i + v * L, sum[v]);
        }
        for (int c = 0; i + c < n; ++c) {
            float sum = Lane::gather(windows, offsets + c);
            for (int p = 1; p < count; ++p)
                sum = sum + Lane::gather(windows, offsets + p * G + c);
            cells[i + c] = sum;
        }
    }

    static void accumulateGrid(const float *windows, const uint32_t *offsets, int pairs, std::span<float> accumulator)
    {
        float *cells = accumulator.data();
        const int n = static_cast<int>(accumulator.size());
        switch (pairs) {
        case 1:
            return accumulateGroups<1>(windows, offsets, pairs, cells, n);
        case 2:
            return accumulateGroups<2>(windows, offsets, pairs, cells, n);
        case 3:
            return accumulateGroups<3>(windows, offsets, pairs, cells, n);
        case 4:
            return accumulateGroups<4>(windows, offsets, pairs, cells, n);
        case 5:
            return accumulateGroups<5>(windows, offsets, pairs, cells, n);
        default:
            return accumulateGroups<0>(windows, offsets, pairs, cells, n);
        }
    }

    static float largestAt(const float *windows, const uint32_t *offsets, int count)
    {
        typename S::V best = S::set1(kLowest);
        float largest = kLowest;
        forRange<S>(0, count, [&]<class T>(int i) {
            if constexpr (T::L == S::L)
                best = S::max(best, S::gather(windows, offsets + i));
            else
                largest = std::max(largest, Lane::gather(windows, offsets + i));
        });
        float lanes[S::L];
        S::store(lanes, best);
        for (float v : lanes)
            largest = std::max(largest, v);
        return largest;
    }

    static int32_t bestCell(std::span<const float> accumulator, std::span<const float> azimuthAngles,
                            std::span<const float> rowAngles)
    {
        const int columns = static_cast<int>(azimuthAngles.size());
        const int rows = columns == 0 ? 0 : static_cast<int>(accumulator.size()) / columns;
        // Each lane keeps the first cell of its largest value (strictly
        // larger values replace it), the cells counted in floats (exact up
        // to 2^24); the lanes and the cells beyond whole rows are then merged
        // by the same rule, the lower cell winning ties.
        using V = typename S::V;
        V best = S::set1(kLowest), cell = S::set1(0.0f);
        float laneOffsets[S::L];
        for (int i = 0; i < S::L; ++i)
            laneOffsets[i] = static_cast<float>(i);
        float bestValue = kLowest;
        int32_t index = 0;
        const auto consider = [&](float value, int32_t at) {
            if (value > bestValue || (value == bestValue && at < index && bestValue > kLowest)) {
                bestValue = value;
                index = at;
            }
        };
        for (int row = 0; row < rows; ++row) {
            if (!rowAngles.empty() && std::isnan(rowAngles[row]))
                continue;
            const float *values = accumulator.data() + row * columns;
            const int rowStart = row * columns;
            V cells = S::set1(static_cast<float>(rowStart)) + S::load(laneOffsets);
            int c = 0;
            for (; c + S::L <= columns; c += S::L, cells = cells + S::set1(static_cast<float>(S::L))) {
                const V v = S::load(values + c);
                const auto better = S::both(S::greater(v, best), S::isNumber(S::load(azimuthAngles.data() + c)));
                best = S::select(better, v, best);
                cell = S::select(better, cells, cell);
            }
            for (; c < columns; ++c)
                if (!std::isnan(azimuthAngles[c]))
                    consider(values[c], rowStart + c);
        }
        float laneBest[S::L], laneCell[S::L];
        S::store(laneBest, best);
        S::store(laneCell, cell);
        for (int i = 0; i < S::L; ++i)
            consider(laneBest[i], static_cast<int32_t>(laneCell[i]));
        // Cells of an incomplete last row.
        for (int at = rows * columns; at < static_cast<int>(accumulator.size()); ++at)
            if (!std::isnan(azimuthAngles[at % columns]) && (rowAngles.empty() || !std::isnan(rowAngles[at / columns])))
                consider(accumulator[at], at);
        return index;
    }

    // Bins k .. k+L-1 of a split step. Z holds the bins k.., and M the bins
    // n-k-L+1 .. n-k (reversed here so that lane i pairs bin k+i with n-k-i),
    // each product rounded before it is added, left to right.
    template <class T, bool Inverse>
    static void splitBins(const float *Z, const float *M, const float *A, const float *B, float *G)
    {
        typename T::V zr, zi, mr, mi, ar, ai, br, bi;
        T::load2(Z, zr, zi);
        T::load2(M, mr, mi);
        mr = T::reverse(mr);
        mi = T::reverse(mi);
        T::load2(A, ar, ai);
        T::load2(B, br, bi);
        if constexpr (!Inverse)
            T::store2(G, T::mulAdd(T::mulAdd(T::mulSub(zr * ar, zi, ai), mr, br), mi, bi),
                      T::mulSub(T::mulAdd(T::mulAdd(zi * ar, zr, ai), mr, bi), mi, br));
        else
            T::store2(G, T::mulSub(T::mulAdd(T::mulAdd(zr * ar, zi, ai), mr, br), mi, bi),
                      T::mulSub(T::mulSub(T::mulSub(zi * ar, zr, ai), mr, bi), mi, br));
    }

    template <bool Inverse>
    static void split(int n, const float *Z, const float *A, const float *B, float *G)
    {
        constexpr int L = S::L;
        int k = 0;
        // Walking pointers, so that ARM code can use post-incrementing loads.
        const float *z = Z, *m = Z + 2 * (n - L + 1), *a = A, *b = B;
        float *g = G;
        for (; k + L <= n; k += L, z += 2 * L, m -= 2 * L, a += 2 * L, b += 2 * L, g += 2 * L)
            splitBins<S, Inverse>(z, m, a, b, g);
        for (; k < n; ++k)
            splitBins<Lane, Inverse>(Z + 2 * k, Z + 2 * (n - k), A + 2 * k, B + 2 * k, G + 2 * k);
    }

    // The inverse split where one of the two bins is zero: the same
    // products, rounded and added in the same order, without the zero ones.
    //   G[k]   = S[k] conj(A[k])                 k = 0 .. band
    //   G[n-k] = conj(S[k]) conj(B[n-k])         k = 1 .. band
    // The second runs over i = n - k ascending, reading S[n-i-L+1 .. n-i]
    // reversed so that lane j pairs i + j with n - i - j.
    static void splitInverseBand(int n, const float *Sp, int band, const float *A, const float *B, float *G)
    {
        forRange<S>(0, band + 1, [&]<class T>(int k) {
            typename T::V sr, si, ar, ai;
            T::load2(Sp + 2 * k, sr, si);
            T::load2(A + 2 * k, ar, ai);
            T::store2(G + 2 * k, T::mulAdd(sr * ar, si, ai), T::mulSub(si * ar, sr, ai));
        });
        forRange<S>(n - band, n, [&]<class T>(int i) {
            typename T::V mr, mi, br, bi;
            T::load2(Sp + 2 * (n - i - T::L + 1), mr, mi);
            mr = T::reverse(mr);
            mi = T::reverse(mi);
            T::load2(B + 2 * i, br, bi);
            T::store2(G + 2 * i, T::mulSub(mr * br, mi, bi), T::mulSub(T::mulSub(T::set1(0.0f), mr, bi), mi, br));
        });
    }

    static void smoothLevels(const float *a, const float *b, float *fast, float *slow, int bins, const float gains[4])
    {
        forRange<S>(0, bins, [&]<class T>(int k) {
            using V = typename T::V;
            V ar, ai, br, bi;
            T::load2(a + 2 * k, ar, ai);
            T::load2(b + 2 * k, br, bi);
            const V m = (T::sqrt(power<T>(ar, ai)) + T::sqrt(power<T>(br, bi))) * T::set1(0.5f);
            T::store(fast + k, T::mulAdd(T::load(fast + k) * T::set1(gains[0]), m, T::set1(gains[1])));
            T::store(slow + k, T::mulAdd(T::load(slow + k) * T::set1(gains[2]), m, T::set1(gains[3])));
        });
    }

    static void followLevel(float *level, const float *target, int bins, float share)
    {
        forRange<S>(0, bins, [&]<class T>(int k) {
            const typename T::V l = T::load(level + k);
            T::store(level + k, T::mulAdd(l, T::load(target + k) - l, T::set1(share)));
        });
    }

    static void creepLevel(float *level, const float *target, int bins, float up, float down)
    {
        forRange<S>(0, bins, [&]<class T>(int k) {
            using V = typename T::V;
            const V l = T::load(level + k), d = T::load(target + k) - l;
            T::store(level + k, T::mulAdd(l, d, T::select(T::atMost(T::set1(0.0f), d), T::set1(up), T::set1(down))));
        });
    }

    static void meanPowers(const float *a, const float *b, float *out, int bins)
    {
        forRange<S>(0, bins, [&]<class T>(int k) {
            typename T::V ar, ai, br, bi;
            T::load2(a + 2 * k, ar, ai);
            T::load2(b + 2 * k, br, bi);
            T::store(out + k, (power<T>(ar, ai) + power<T>(br, bi)) * T::set1(0.5f));
        });
    }

    static void binPowers(const float *spectrum, float *out, int bins)
    {
        forRange<S>(0, bins, [&]<class T>(int k) {
            typename T::V re, im;
            T::load2(spectrum + 2 * k, re, im);
            T::store(out + k, power<T>(re, im));
        });
    }

    static constexpr Kernels table(const char *name)
    {
        return {name,
                scale,
                multiply,
                multiplyConjugate,
                trackNoiseAndWeights,
                smoothPairNumerator,
                phaseTransform,
                accumulateGrid,
                largestAt,
                bestCell,
                split<false>,
                split<true>,
                splitInverseBand,
                smoothLevels,
                followLevel,
                creepLevel,
                meanPowers,
                binPowers};
    }
};

} // namespace VOXAIM_KERNELS_NAMESPACE
