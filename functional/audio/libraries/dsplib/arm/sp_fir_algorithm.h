#ifndef FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SP_FIR_ALGORITHM_H
#define FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_SP_FIR_ALGORITHM_H
// The FIR block kernels, written once against a vector layer S (simd_*.h)
// of S::L float lanes and instantiated per layer by the variant_*.cpp units.
//
// Block filter:      y[i] = sum_{j<nh} h[j] x[i + j],            i < ny
// Decimating filter: y[m] = sum_{j<nh} h[j] x[m step + j],  m <= (ny-1)/step
// Both need nh >= 1, ny >= 1 (and step >= 1); x holds ny + nh - 1 samples.
// The kernels read exactly h[0 .. nh-1] and x[0 .. ny+nh-2]: vector loads
// never run past either array; partial groups of coefficients are copied into
// zero-padded temporaries or handled one tap at a time, and the last outputs
// that do not fill a vector are computed one by one.
//
// Each translation unit that includes this file instantiates it for its own
// vector layer inside its own namespace (DSPLIB_VARIANT_NAMESPACE), so code
// compiled for different instruction sets never merges.
#include <cstddef>
#include <utility>

namespace DSPLIB_VARIANT_NAMESPACE {

// One output from nh taps, in tap order.
inline float dotScalar(const float *x, const float *h, int nh)
{
    float s = 0.0f;
    for (int j = 0; j < nh; ++j)
        s += h[j] * x[j];
    return s;
}

// R vectors of outputs (R * S::L consecutive outputs) at y from x, tap J of a
// fixed tap count whose coefficient group is c.
template <class S, int J, int R>
inline void fixedTap(typename S::V *acc, const float *x, const typename S::C4 &c)
{
#pragma GCC unroll 4
    for (int r = 0; r < R; ++r)
        acc[r] = S::template mlaLane<J % 4>(acc[r], S::load(x + J + r * S::L), c);
}

template <class S, int NH, int R>
inline void fixedRun(const float *x, const typename S::C4 *c, float *y)
{
    typename S::V acc[R];
#pragma GCC unroll 4
    for (int r = 0; r < R; ++r)
        acc[r] = S::set1(0.0f);
    [&]<int... J>(std::integer_sequence<int, J...>) { (fixedTap<S, J, R>(acc, x, c[J / 4]), ...); }
    (std::make_integer_sequence<int, NH>{});
#pragma GCC unroll 4
    for (int r = 0; r < R; ++r)
        S::store(y + r * S::L, acc[r]);
}

// Block kernel for a tap count known at compile time (1..16): every tap is
// unrolled and the coefficients stay in registers for the whole block.
template <class S, int NH>
void genFixed(const float *x, const float *h, float *y, int ny)
{
    constexpr int W = S::L;
    constexpr int G = (NH + 3) / 4;
    float padded[4 * G];
    for (int j = 0; j < 4 * G; ++j)
        padded[j] = j < NH ? h[j] : 0.0f;
    typename S::C4 c[G];
    for (int g = 0; g < G; ++g)
        c[g] = S::coefs(padded + 4 * g);

    int i = 0;
    for (; i + 2 * W <= ny; i += 2 * W)
        fixedRun<S, NH, 2>(x + i, c, y + i);
    if (i + W <= ny) {
        fixedRun<S, NH, 1>(x + i, c, y + i);
        i += W;
    }
    for (; i < ny; ++i)
        y[i] = dotScalar(x + i, h, NH);
}

// R vectors of outputs for any tap count: taps in groups of four, the last
// nh % 4 taps one at a time.
template <class S, int R>
inline void generalRun(const float *x, const float *h, int nh, float *y)
{
    using V = typename S::V;
    constexpr int W = S::L;
    V acc[R];
#pragma GCC unroll 4
    for (int r = 0; r < R; ++r)
        acc[r] = S::set1(0.0f);
    int j = 0;
    for (; j + 4 <= nh; j += 4) {
        const typename S::C4 c = S::coefs(h + j);
        const float *xj = x + j;
#pragma GCC unroll 4
        for (int r = 0; r < R; ++r) {
            acc[r] = S::template mlaLane<0>(acc[r], S::load(xj + r * W), c);
            acc[r] = S::template mlaLane<1>(acc[r], S::load(xj + 1 + r * W), c);
            acc[r] = S::template mlaLane<2>(acc[r], S::load(xj + 2 + r * W), c);
            acc[r] = S::template mlaLane<3>(acc[r], S::load(xj + 3 + r * W), c);
        }
    }
    for (; j < nh; ++j) {
        const V c = S::set1(h[j]);
#pragma GCC unroll 4
        for (int r = 0; r < R; ++r)
            acc[r] = S::mla(acc[r], S::load(x + j + r * W), c);
    }
#pragma GCC unroll 4
    for (int r = 0; r < R; ++r)
        S::store(y + r * W, acc[r]);
}

// Kernel for long filters: twelve outputs per iteration on a four-lane layer
// (three accumulators), taps eight at a time: the 24 multiply-adds of an
// iteration are independent across the three accumulators, so loads and
// arithmetic overlap. Returns
// how many outputs it wrote (a multiple of 3 W); the rest is left to the
// general loop.
template <class S>
int pipelined_unroll12x(const float *x, const float *h, float *y, int nh, int ny)
{
    using V = typename S::V;
    constexpr int W = S::L;
    const int nh8 = nh & ~7;
    int i = 0;
    for (; i + 3 * W <= ny; i += 3 * W) {
        const float *xi = x + i;
        V a0 = S::set1(0.0f), a1 = S::set1(0.0f), a2 = S::set1(0.0f);
        int j = 0;
        for (; j < nh8; j += 8) {
            const float *xj = xi + j;
            const typename S::C4 k0 = S::coefs(h + j), k1 = S::coefs(h + j + 4);
            a0 = S::template mlaLane<0>(a0, S::load(xj), k0);
            a1 = S::template mlaLane<0>(a1, S::load(xj + W), k0);
            a2 = S::template mlaLane<0>(a2, S::load(xj + 2 * W), k0);
            a0 = S::template mlaLane<1>(a0, S::load(xj + 1), k0);
            a1 = S::template mlaLane<1>(a1, S::load(xj + 1 + W), k0);
            a2 = S::template mlaLane<1>(a2, S::load(xj + 1 + 2 * W), k0);
            a0 = S::template mlaLane<2>(a0, S::load(xj + 2), k0);
            a1 = S::template mlaLane<2>(a1, S::load(xj + 2 + W), k0);
            a2 = S::template mlaLane<2>(a2, S::load(xj + 2 + 2 * W), k0);
            a0 = S::template mlaLane<3>(a0, S::load(xj + 3), k0);
            a1 = S::template mlaLane<3>(a1, S::load(xj + 3 + W), k0);
            a2 = S::template mlaLane<3>(a2, S::load(xj + 3 + 2 * W), k0);
            a0 = S::template mlaLane<0>(a0, S::load(xj + 4), k1);
            a1 = S::template mlaLane<0>(a1, S::load(xj + 4 + W), k1);
            a2 = S::template mlaLane<0>(a2, S::load(xj + 4 + 2 * W), k1);
            a0 = S::template mlaLane<1>(a0, S::load(xj + 5), k1);
            a1 = S::template mlaLane<1>(a1, S::load(xj + 5 + W), k1);
            a2 = S::template mlaLane<1>(a2, S::load(xj + 5 + 2 * W), k1);
            a0 = S::template mlaLane<2>(a0, S::load(xj + 6), k1);
            a1 = S::template mlaLane<2>(a1, S::load(xj + 6 + W), k1);
            a2 = S::template mlaLane<2>(a2, S::load(xj + 6 + 2 * W), k1);
            a0 = S::template mlaLane<3>(a0, S::load(xj + 7), k1);
            a1 = S::template mlaLane<3>(a1, S::load(xj + 7 + W), k1);
            a2 = S::template mlaLane<3>(a2, S::load(xj + 7 + 2 * W), k1);
        }
        for (; j < nh; ++j) {
            const V c = S::set1(h[j]);
            a0 = S::mla(a0, S::load(xi + j), c);
            a1 = S::mla(a1, S::load(xi + j + W), c);
            a2 = S::mla(a2, S::load(xi + j + 2 * W), c);
        }
        S::store(y + i, a0);
        S::store(y + i + W, a1);
        S::store(y + i + 2 * W, a2);
    }
    return i;
}

template <class S>
using GenFn = void (*)(const float *, const float *, float *, int);

template <class S, class Seq>
struct FixedTable;
template <class S, int... N>
struct FixedTable<S, std::integer_sequence<int, N...>> {
    static constexpr GenFn<S> fn[] = {&genFixed<S, N + 1>...};
};

// The block kernel: nh >= 1, ny >= 1.
template <class S>
void sp_fir_gen_(const float *x, const float *h, float *y, int nh, int ny)
{
    constexpr int W = S::L;
    if (nh <= 16) {
        FixedTable<S, std::make_integer_sequence<int, 16>>::fn[nh - 1](x, h, y, ny);
        return;
    }
    int i = pipelined_unroll12x<S>(x, h, y, nh, ny);
    for (; i + 2 * W <= ny; i += 2 * W)
        generalRun<S, 2>(x + i, h, nh, y + i);
    if (i + W <= ny) {
        generalRun<S, 1>(x + i, h, nh, y + i);
        i += W;
    }
    for (; i < ny; ++i)
        y[i] = dotScalar(x + i, h, nh);
}

// The decimating kernel: nh >= 1, ny >= 1, step >= 1. Each output is a dot
// product over contiguous taps; four outputs run side by side, their W-tap
// vector parts reduced across lanes and the last nh % W taps added singly.
template <class S>
void sp_fir_gen_downsample_(const float *x, const float *h, float *y, int nh, int ny, int step)
{
    using V = typename S::V;
    constexpr int W = S::L;
    const int nout = (ny - 1) / step + 1;
    const int nv = nh - nh % W;
    const std::ptrdiff_t s = step;
    int m = 0;
    for (; m + 4 <= nout; m += 4) {
        const float *x0 = x + m * s;
        const float *x1 = x0 + s;
        const float *x2 = x1 + s;
        const float *x3 = x2 + s;
        V a0 = S::set1(0.0f), a1 = S::set1(0.0f), a2 = S::set1(0.0f), a3 = S::set1(0.0f);
        for (int j = 0; j < nv; j += W) {
            const V c = S::load(h + j);
            a0 = S::mla(a0, S::load(x0 + j), c);
            a1 = S::mla(a1, S::load(x1 + j), c);
            a2 = S::mla(a2, S::load(x2 + j), c);
            a3 = S::mla(a3, S::load(x3 + j), c);
        }
        float s0 = S::hsum(a0), s1 = S::hsum(a1), s2 = S::hsum(a2), s3 = S::hsum(a3);
        for (int j = nv; j < nh; ++j) {
            s0 += h[j] * x0[j];
            s1 += h[j] * x1[j];
            s2 += h[j] * x2[j];
            s3 += h[j] * x3[j];
        }
        y[m] = s0;
        y[m + 1] = s1;
        y[m + 2] = s2;
        y[m + 3] = s3;
    }
    for (; m < nout; ++m) {
        const float *xm = x + m * s;
        V a = S::set1(0.0f);
        for (int j = 0; j < nv; j += W)
            a = S::mla(a, S::load(xm + j), S::load(h + j));
        float sum = S::hsum(a);
        for (int j = nv; j < nh; ++j)
            sum += h[j] * xm[j];
        y[m] = sum;
    }
}

} // namespace DSPLIB_VARIANT_NAMESPACE

#endif
