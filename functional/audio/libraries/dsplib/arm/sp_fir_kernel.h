// The FIR block kernels, written once against a vector layer L of
// sp_fir_vec.h and instantiated per layer by the sp_fir_<variant>.cpp units.
//
// Block filter:      y[i] = sum_{j<nh} h[j] x[i + j],            i < ny
// Decimating filter: y[m] = sum_{j<nh} h[j] x[m step + j],  m <= (ny-1)/step
// Both need nh >= 1, ny >= 1 (and step >= 1); x holds ny + nh - 1 samples.
// The kernels read exactly h[0 .. nh-1] and x[0 .. ny+nh-2]: vector loads
// never run past either array; partial groups of coefficients are copied into
// zero-padded temporaries or handled one tap at a time, and the last outputs
// that do not fill a vector are computed one by one.
//
// Internal linkage throughout (see sp_fir_vec.h).
#pragma once

#include <cstddef>
#include <utility>

#include "functional/audio/libraries/dsplib/arm/sp_fir_vec.h"

namespace sp_fir {
namespace {

// One output from nh taps, in tap order.
inline float dotScalar(const float *x, const float *h, int nh)
{
    float s = 0.0f;
    for (int j = 0; j < nh; ++j)
        s += h[j] * x[j];
    return s;
}

// R vectors of outputs (R * W consecutive outputs) at y from x, tap J of a
// fixed tap count whose coefficient group is c.
template <class L, int J, int R>
inline void fixedTap(typename L::V *acc, const float *x, const typename L::C4 &c)
{
#pragma GCC unroll 4
    for (int r = 0; r < R; ++r)
        acc[r] = L::template mlaLane<J % 4>(acc[r], L::load(x + J + r * L::W), c);
}

template <class L, int NH, int R>
inline void fixedRun(const float *x, const typename L::C4 *c, float *y)
{
    typename L::V acc[R];
#pragma GCC unroll 4
    for (int r = 0; r < R; ++r)
        acc[r] = L::zero();
    [&]<int... J>(std::integer_sequence<int, J...>) { (fixedTap<L, J, R>(acc, x, c[J / 4]), ...); }
    (std::make_integer_sequence<int, NH>{});
#pragma GCC unroll 4
    for (int r = 0; r < R; ++r)
        L::store(y + r * L::W, acc[r]);
}

// Block kernel for a tap count known at compile time (1..16): every tap is
// unrolled and the coefficients stay in registers for the whole block.
template <class L, int NH>
void genFixed(const float *x, const float *h, float *y, int ny)
{
    constexpr int W = L::W;
    constexpr int G = (NH + 3) / 4;
    float padded[4 * G];
    for (int j = 0; j < 4 * G; ++j)
        padded[j] = j < NH ? h[j] : 0.0f;
    typename L::C4 c[G];
    for (int g = 0; g < G; ++g)
        c[g] = L::coefs(padded + 4 * g);

    int i = 0;
    for (; i + 2 * W <= ny; i += 2 * W)
        fixedRun<L, NH, 2>(x + i, c, y + i);
    if (i + W <= ny) {
        fixedRun<L, NH, 1>(x + i, c, y + i);
        i += W;
    }
    for (; i < ny; ++i)
        y[i] = dotScalar(x + i, h, NH);
}

// R vectors of outputs for any tap count: taps in groups of four, the last
// nh % 4 taps one at a time.
template <class L, int R>
inline void generalRun(const float *x, const float *h, int nh, float *y)
{
    using V = typename L::V;
    constexpr int W = L::W;
    V acc[R];
#pragma GCC unroll 4
    for (int r = 0; r < R; ++r)
        acc[r] = L::zero();
    int j = 0;
    for (; j + 4 <= nh; j += 4) {
        const typename L::C4 c = L::coefs(h + j);
        const float *xj = x + j;
#pragma GCC unroll 4
        for (int r = 0; r < R; ++r) {
            acc[r] = L::template mlaLane<0>(acc[r], L::load(xj + r * W), c);
            acc[r] = L::template mlaLane<1>(acc[r], L::load(xj + 1 + r * W), c);
            acc[r] = L::template mlaLane<2>(acc[r], L::load(xj + 2 + r * W), c);
            acc[r] = L::template mlaLane<3>(acc[r], L::load(xj + 3 + r * W), c);
        }
    }
    for (; j < nh; ++j) {
        const V c = L::dup(h[j]);
#pragma GCC unroll 4
        for (int r = 0; r < R; ++r)
            acc[r] = L::mla(acc[r], L::load(x + j + r * W), c);
    }
#pragma GCC unroll 4
    for (int r = 0; r < R; ++r)
        L::store(y + r * W, acc[r]);
}

// Kernel for long filters: twelve outputs per iteration on a four-lane layer
// (three accumulators), taps eight at a time: the 24 multiply-adds of an
// iteration are independent across the three accumulators, so loads and
// arithmetic overlap. Returns
// how many outputs it wrote (a multiple of 3 W); the rest is left to the
// general loop.
template <class L>
int pipelined_unroll12x(const float *x, const float *h, float *y, int nh, int ny)
{
    using V = typename L::V;
    constexpr int W = L::W;
    const int nh8 = nh & ~7;
    int i = 0;
    for (; i + 3 * W <= ny; i += 3 * W) {
        const float *xi = x + i;
        V a0 = L::zero(), a1 = L::zero(), a2 = L::zero();
        int j = 0;
        for (; j < nh8; j += 8) {
            const float *xj = xi + j;
            const typename L::C4 k0 = L::coefs(h + j), k1 = L::coefs(h + j + 4);
            a0 = L::template mlaLane<0>(a0, L::load(xj), k0);
            a1 = L::template mlaLane<0>(a1, L::load(xj + W), k0);
            a2 = L::template mlaLane<0>(a2, L::load(xj + 2 * W), k0);
            a0 = L::template mlaLane<1>(a0, L::load(xj + 1), k0);
            a1 = L::template mlaLane<1>(a1, L::load(xj + 1 + W), k0);
            a2 = L::template mlaLane<1>(a2, L::load(xj + 1 + 2 * W), k0);
            a0 = L::template mlaLane<2>(a0, L::load(xj + 2), k0);
            a1 = L::template mlaLane<2>(a1, L::load(xj + 2 + W), k0);
            a2 = L::template mlaLane<2>(a2, L::load(xj + 2 + 2 * W), k0);
            a0 = L::template mlaLane<3>(a0, L::load(xj + 3), k0);
            a1 = L::template mlaLane<3>(a1, L::load(xj + 3 + W), k0);
            a2 = L::template mlaLane<3>(a2, L::load(xj + 3 + 2 * W), k0);
            a0 = L::template mlaLane<0>(a0, L::load(xj + 4), k1);
            a1 = L::template mlaLane<0>(a1, L::load(xj + 4 + W), k1);
            a2 = L::template mlaLane<0>(a2, L::load(xj + 4 + 2 * W), k1);
            a0 = L::template mlaLane<1>(a0, L::load(xj + 5), k1);
            a1 = L::template mlaLane<1>(a1, L::load(xj + 5 + W), k1);
            a2 = L::template mlaLane<1>(a2, L::load(xj + 5 + 2 * W), k1);
            a0 = L::template mlaLane<2>(a0, L::load(xj + 6), k1);
            a1 = L::template mlaLane<2>(a1, L::load(xj + 6 + W), k1);
            a2 = L::template mlaLane<2>(a2, L::load(xj + 6 + 2 * W), k1);
            a0 = L::template mlaLane<3>(a0, L::load(xj + 7), k1);
            a1 = L::template mlaLane<3>(a1, L::load(xj + 7 + W), k1);
            a2 = L::template mlaLane<3>(a2, L::load(xj + 7 + 2 * W), k1);
        }
        for (; j < nh; ++j) {
            const V c = L::dup(h[j]);
            a0 = L::mla(a0, L::load(xi + j), c);
            a1 = L::mla(a1, L::load(xi + j + W), c);
            a2 = L::mla(a2, L::load(xi + j + 2 * W), c);
        }
        L::store(y + i, a0);
        L::store(y + i + W, a1);
        L::store(y + i + 2 * W, a2);
    }
    return i;
}

template <class L>
using GenFn = void (*)(const float *, const float *, float *, int);

template <class L, class Seq>
struct FixedTable;
template <class L, int... N>
struct FixedTable<L, std::integer_sequence<int, N...>> {
    static constexpr GenFn<L> fn[] = {&genFixed<L, N + 1>...};
};

// The block kernel: nh >= 1, ny >= 1.
template <class L>
void sp_fir_gen_(const float *x, const float *h, float *y, int nh, int ny)
{
    constexpr int W = L::W;
    if (nh <= 16) {
        FixedTable<L, std::make_integer_sequence<int, 16>>::fn[nh - 1](x, h, y, ny);
        return;
    }
    int i = pipelined_unroll12x<L>(x, h, y, nh, ny);
    for (; i + 2 * W <= ny; i += 2 * W)
        generalRun<L, 2>(x + i, h, nh, y + i);
    if (i + W <= ny) {
        generalRun<L, 1>(x + i, h, nh, y + i);
        i += W;
    }
    for (; i < ny; ++i)
        y[i] = dotScalar(x + i, h, nh);
}

// The decimating kernel: nh >= 1, ny >= 1, step >= 1. Each output is a dot
// product over contiguous taps; four outputs run side by side, their W-tap
// vector parts reduced across lanes and the last nh % W taps added singly.
template <class L>
void sp_fir_gen_downsample_(const float *x, const float *h, float *y, int nh, int ny, int step)
{
    using V = typename L::V;
    constexpr int W = L::W;
    const int nout = (ny - 1) / step + 1;
    const int nv = nh - nh % W;
    const std::ptrdiff_t s = step;
    int m = 0;
    for (; m + 4 <= nout; m += 4) {
        const float *x0 = x + m * s;
        const float *x1 = x0 + s;
        const float *x2 = x1 + s;
        const float *x3 = x2 + s;
        V a0 = L::zero(), a1 = L::zero(), a2 = L::zero(), a3 = L::zero();
        for (int j = 0; j < nv; j += W) {
            const V c = L::load(h + j);
            a0 = L::mla(a0, L::load(x0 + j), c);
            a1 = L::mla(a1, L::load(x1 + j), c);
            a2 = L::mla(a2, L::load(x2 + j), c);
            a3 = L::mla(a3, L::load(x3 + j), c);
        }
        float s0 = L::hsum(a0), s1 = L::hsum(a1), s2 = L::hsum(a2), s3 = L::hsum(a3);
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
        V a = L::zero();
        for (int j = 0; j < nv; j += W)
            a = L::mla(a, L::load(xm + j), L::load(h + j));
        float sum = L::hsum(a);
        for (int j = nv; j < nh; ++j)
            sum += h[j] * xm[j];
        y[m] = sum;
    }
}

} // namespace
} // namespace sp_fir
