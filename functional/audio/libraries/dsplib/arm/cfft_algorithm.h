#ifndef FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_CFFT_ALGORITHM_H
#define FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_CFFT_ALGORITHM_H
// The conjugate-pair split-radix transform for N >= 32, written once against
// a vector layer S (simd_*.h) of S::L float lanes.
//
// Decomposition: the sub-transform of size M and base r is the DFT of
// s[t] = x[(r + t N/M) mod N]. It is built from U (size M/2, s[2t], base r),
// Z (M/4, s[4t+1], base r + N/M) and Z' (M/4, s[4t-1], base r - N/M), stored
// at offsets 0, M/2 and 3M/4 of its own range. Size 16 is a radix-2 step over
// two 8-point leaves, size 8 is a leaf. A Z' and everything down its chain of
// U's are in "odd" orientation: their 16-point step holds the leaf of odd
// samples first.
//
// Workspace: y itself, in the layer's block layout (S::Block = L): each
// group of 2L floats holds elements k .. k+L-1 (k a multiple of L) as L real
// parts then L imaginary parts (for L = 2 the pair-blocked layout). A layer
// whose loads and stores split and join complex values itself (S::Block = 1,
// NEON) keeps the workspace interleaved. Leaves are read straight from x and
// written at the positions of the leaf table; the combining passes work in
// place; the last pass stores interleaved.
//
// Each translation unit that includes this file instantiates it for its own
// vector layer inside its own namespace (DSPLIB_VARIANT_NAMESPACE), so code
// compiled for different instruction sets never merges.
#include "functional/audio/libraries/dsplib/arm/cfft_tables.h"

namespace DSPLIB_VARIANT_NAMESPACE {

using namespace dsplib::cfft;

// Twiddles in the workspace's layout (blocked by B; B = 1 is interleaved);
// shared by all units of the same B.
template <int B>
inline constexpr std::array<float, kMax> twiddles = makeTwiddles<B>();
template <int B>
inline constexpr std::array<float, 16> twiddles16 = makeTwiddles16<B>();

// 8-point leaf of the inputs a[0..7] into y[0..7]; V is a vector or a plain
// float. in(m, re, im) fetches a[m] when it is needed, so that only a few
// inputs are live at a time. The inverse uses e^(+j ...) and multiplies
// every output by scale (1/N), folded into the constant c for the odd bins.
//
// Sparse: only a[0], a[1] and a[7] may be non-zero (the others are zero and
// are not fetched); the steps that would add or subtract those zeros are
// left out, which gives the same values.
template <bool Inv, bool Sparse = false, class V, class In>
[[gnu::always_inline]] inline void leaf8(In &&in, V (&yr)[8], V (&yi)[8], V c, V scale)
{
    // P = 4-point DFT of the even inputs, Q of the odd ones.
    V pr[4], pi[4], qr[4], qi[4];
    if constexpr (Sparse) {
        // P of (a0, 0, 0, 0) is a0 in every bin; Q of (a1, 0, 0, a7) (its
        // inputs in the order a1, a3, a5, a7).
        V a0r, a0i, a1r, a1i, a7r, a7i;
        in(0, a0r, a0i);
        in(1, a1r, a1i);
        in(7, a7r, a7i);
        for (int k = 0; k < 4; ++k) {
            pr[k] = a0r;
            pi[k] = a0i;
        }
        const V d13r = V{} - a7r, d13i = V{} - a7i; // a3 - a7
        qr[0] = a1r + a7r;
        qi[0] = a1i + a7i;
        qr[2] = a1r - a7r;
        qi[2] = a1i - a7i;
        if constexpr (!Inv) {
            qr[1] = a1r + d13i;
            qi[1] = a1i - d13r;
            qr[3] = a1r - d13i;
            qi[3] = a1i + d13r;
        } else {
            qr[1] = a1r - d13i;
            qi[1] = a1i + d13r;
            qr[3] = a1r + d13i;
            qi[3] = a1i - d13r;
        }
    } else {
#pragma GCC unroll 2
        for (int h = 0; h < 2; ++h) {
            V *er = h ? qr : pr, *ei = h ? qi : pi;
            V a0r, a0i, a1r, a1i, a2r, a2i, a3r, a3i;
            in(h, a0r, a0i);
            in(h + 4, a2r, a2i);
            const V s02r = a0r + a2r, s02i = a0i + a2i;
            const V d02r = a0r - a2r, d02i = a0i - a2i;
            in(h + 2, a1r, a1i);
            in(h + 6, a3r, a3i);
            const V s13r = a1r + a3r, s13i = a1i + a3i;
            const V d13r = a1r - a3r, d13i = a1i - a3i;
            er[0] = s02r + s13r;
            ei[0] = s02i + s13i;
            er[2] = s02r - s13r;
            ei[2] = s02i - s13i;
            if constexpr (!Inv) { // bins 1, 3: (e0 - e2) -+ j (e1 - e3)
                er[1] = d02r + d13i;
                ei[1] = d02i - d13r;
                er[3] = d02r - d13i;
                ei[3] = d02i + d13r;
            } else {
                er[1] = d02r - d13i;
                ei[1] = d02i + d13r;
                er[3] = d02r + d13i;
                ei[3] = d02i - d13r;
            }
        }
    }
    // W^k Q[k], W = e^(-j pi/4) (forward) or e^(+j pi/4) (inverse).
    V wr[4], wi[4];
    if constexpr (!Inv) {
        wr[0] = qr[0];
        wi[0] = qi[0];
        wr[1] = (qr[1] + qi[1]) * c;
        wi[1] = (qi[1] - qr[1]) * c;
        wr[2] = qi[2];
        wi[2] = V{} - qr[2];
        wr[3] = (qi[3] - qr[3]) * c;
        wi[3] = V{} - (qr[3] + qi[3]) * c;
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            yr[k] = pr[k] + wr[k];
            yi[k] = pi[k] + wi[k];
            yr[k + 4] = pr[k] - wr[k];
            yi[k + 4] = pi[k] - wi[k];
        }
    } else {
        const V cs = c * scale;
        wr[0] = qr[0] * scale;
        wi[0] = qi[0] * scale;
        wr[1] = (qr[1] - qi[1]) * cs;
        wi[1] = (qr[1] + qi[1]) * cs;
        wr[2] = (V{} - qi[2]) * scale;
        wi[2] = qr[2] * scale;
        wr[3] = (V{} - qr[3] - qi[3]) * cs;
        wi[3] = (qr[3] - qi[3]) * cs;
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            const V sr = pr[k] * scale, si = pi[k] * scale;
            yr[k] = sr + wr[k];
            yi[k] = si + wi[k];
            yr[k + 4] = sr - wr[k];
            yi[k + 4] = si - wi[k];
        }
    }
}

template <class S>
struct Kernels {
    using V = typename S::V;
    static constexpr int L = S::L;
    // Workspace block: L real parts then L imaginary parts, or (B = 1) plain
    // interleaved complex values for layers whose loads de-interleave.
    static constexpr int B = S::Block;

    struct C {
        V r, i;
    };

    // Element k (a multiple of L) of a blocked range starting at b.
    static C ld(const float *b, int k)
    {
        C v;
        if constexpr (B == 1) {
            S::load2(b + 2 * k, v.r, v.i);
        } else {
            v.r = S::load(b + 2 * k);
            v.i = S::load(b + 2 * k + L);
        }
        return v;
    }
    template <bool Interleaved>
    static void st(float *b, int k, C v)
    {
        if constexpr (Interleaved || B == 1) {
            S::store2(b + 2 * k, v.r, v.i);
        } else {
            S::store(b + 2 * k, v.r);
            S::store(b + 2 * k + L, v.i);
        }
    }
    static const float *tw(int M) { return twiddles<B>.data() + M / 2; }

    // v times t (Conj: times conj(t)).
    template <bool Conj>
    static C mul(C v, C t)
    {
        if constexpr (Conj)
            return {S::mla(t.r * v.r, t.i, v.i), S::mls(t.r * v.i, t.i, v.r)};
        else
            return {S::mls(t.r * v.r, t.i, v.i), S::mla(t.r * v.i, t.i, v.r)};
    }

    // One split-radix butterfly of level M: u0 = U[k], u1 = U[k + M/4],
    // z = Z[k], zp = Z'[k], t = t_M[k]; results for k, k+M/4, k+M/2, k+3M/4.
    template <bool Inv>
    static void butterfly(C u0, C u1, C z, C zp, C t, C &o0, C &o1, C &o2, C &o3)
    {
        const C a = mul<!Inv>(z, t), b = mul<Inv>(zp, t);
        const C s{a.r + b.r, a.i + b.i}, d{a.r - b.r, a.i - b.i};
        o0 = {u0.r + s.r, u0.i + s.i};
        o2 = {u0.r - s.r, u0.i - s.i};
        if constexpr (!Inv) { // U -+ j (a - b)
            o1 = {u1.r + d.i, u1.i - d.r};
            o3 = {u1.r - d.i, u1.i + d.r};
        } else {
            o1 = {u1.r - d.i, u1.i + d.r};
            o3 = {u1.r + d.i, u1.i - d.r};
        }
    }

    // 16-point step at block b for k .. k+L-1: results 16[k] and 16[k+8].
    template <bool Inv>
    static void step16(const float *b, int k, bool odd, C &lo, C &hi)
    {
        const C t = ld(twiddles16<B>.data(), k);
        const C first = ld(b, k), second = ld(b, k + 8);
        const C e = odd ? second : first;
        const C o = odd ? mul<!Inv>(first, t) : mul<Inv>(second, t);
        lo = {e.r + o.r, e.i + o.i};
        hi = {e.r - o.r, e.i - o.i};
    }

    // 32-point sub-transform: the 16-point step of its U and the 32 level.
    template <bool Inv, bool Interleaved>
    static void pass32(float *b, bool odd)
    {
        for (int k = 0; k < 8; k += L) {
            C u0, u1, o0, o1, o2, o3;
            step16<Inv>(b, k, odd, u0, u1);
            butterfly<Inv>(u0, u1, ld(b, 16 + k), ld(b, 24 + k), ld(tw(32), k), o0, o1, o2, o3);
            st<Interleaved>(b, k, o0);
            st<Interleaved>(b, k + 8, o1);
            st<Interleaved>(b, k + 16, o2);
            st<Interleaved>(b, k + 24, o3);
        }
    }

    // 64-point sub-transform in one pass: the 16-point steps of U16 (given
    // orientation), Z16 (normal) and Z'16 (odd), the 32 level of U32 and
    // the 64 level.
    template <bool Inv, bool Interleaved>
    static void pass64(float *b, bool odd)
    {
        for (int k = 0; k < 8; k += L) {
            C u0, u1, z0, z1, zp0, zp1, v0, v1, v2, v3, o0, o1, o2, o3;
            step16<Inv>(b, k, odd, u0, u1);
            butterfly<Inv>(u0, u1, ld(b, 16 + k), ld(b, 24 + k), ld(tw(32), k), v0, v1, v2, v3);
            step16<Inv>(b + 64, k, false, z0, z1);
            step16<Inv>(b + 96, k, true, zp0, zp1);
            butterfly<Inv>(v0, v2, z0, zp0, ld(tw(64), k), o0, o1, o2, o3);
            st<Interleaved>(b, k, o0);
            st<Interleaved>(b, k + 16, o1);
            st<Interleaved>(b, k + 32, o2);
            st<Interleaved>(b, k + 48, o3);
            butterfly<Inv>(v1, v3, z1, zp1, ld(tw(64), k + 8), o0, o1, o2, o3);
            st<Interleaved>(b, k + 8, o0);
            st<Interleaved>(b, k + 24, o1);
            st<Interleaved>(b, k + 40, o2);
            st<Interleaved>(b, k + 56, o3);
        }
    }

    // One combining level of size M over b[0 .. M).
    template <bool Inv, bool Interleaved>
    static void butterfly4_combine(int M, float *b)
    {
        const int q = M / 4;
        // Walking pointers, as in butterfly8_combine.
        float *p0 = b, *p1 = b + 2 * q, *p2 = b + 4 * q, *p3 = b + 6 * q;
        const float *t = tw(M);
        for (int k = 0; k < q; k += L) {
            C o0, o1, o2, o3;
            butterfly<Inv>(ld(p0, 0), ld(p1, 0), ld(p2, 0), ld(p3, 0), ld(t, 0), o0, o1, o2, o3);
            st<Interleaved>(p0, 0, o0);
            st<Interleaved>(p1, 0, o1);
            st<Interleaved>(p2, 0, o2);
            st<Interleaved>(p3, 0, o3);
            p0 += 2 * L, p1 += 2 * L, p2 += 2 * L, p3 += 2 * L;
            t += 2 * L;
        }
    }

    // Levels M/2 and M fused into one pass over b[0 .. M).
    template <bool Inv, bool Interleaved>
    static void butterfly8_combine(int M, float *b)
    {
        const int v = M / 2, q = v / 4;
        // One pointer per stream, each read and then written in place: ARM
        // has no offset addressing for vector loads, so this keeps the
        // streams in registers.
        float *p0 = b, *p1 = b + 2 * q, *p2 = b + 4 * q, *p3 = b + 6 * q;
        float *p4 = b + 2 * v, *p5 = p4 + 2 * q, *p6 = p4 + 4 * q, *p7 = p4 + 6 * q;
        const float *tv = tw(v), *tm = tw(M), *tm2 = tm + 2 * q;
        for (int k = 0; k < q; k += L) {
            C u0, u1, u2, u3, o0, o1, o2, o3;
            butterfly<Inv>(ld(p0, 0), ld(p1, 0), ld(p2, 0), ld(p3, 0), ld(tv, 0), u0, u1, u2, u3);
            butterfly<Inv>(u0, u2, ld(p4, 0), ld(p6, 0), ld(tm, 0), o0, o1, o2, o3);
            st<Interleaved>(p0, 0, o0);
            st<Interleaved>(p2, 0, o1);
            st<Interleaved>(p4, 0, o2);
            st<Interleaved>(p6, 0, o3);
            butterfly<Inv>(u1, u3, ld(p5, 0), ld(p7, 0), ld(tm2, 0), o0, o1, o2, o3);
            st<Interleaved>(p1, 0, o0);
            st<Interleaved>(p3, 0, o1);
            st<Interleaved>(p5, 0, o2);
            st<Interleaved>(p7, 0, o3);
            p0 += 2 * L, p1 += 2 * L, p2 += 2 * L, p3 += 2 * L;
            p4 += 2 * L, p5 += 2 * L, p6 += 2 * L, p7 += 2 * L;
            tv += 2 * L;
            tm += 2 * L;
            tm2 += 2 * L;
        }
    }

    // All combining levels of a size-M sub-transform whose leaves are in
    // place at b (M >= 32); odd selects the orientation of its U chain.
    // noleaves<false>(M, b, false) is fft_noleaves, with odd = true
    // fft_noleaves_odd; noleaves<true> gives the ifft_ counterparts.
    template <bool Inv>
    static void noleaves(int M, float *b, bool odd)
    {
        if (M == 32) {
            pass32<Inv, false>(b, odd);
            return;
        }
        pass64<Inv, false>(b, odd);
        int v = 128;
        for (; M > v && v < 2048; v *= 4) {
            noleaves<Inv>(v / 4, b + v, false);
            noleaves<Inv>(v / 4, b + 3 * v / 2, true);
            noleaves<Inv>(v / 2, b + 2 * v, false);
            noleaves<Inv>(v / 2, b + 3 * v, true);
            butterfly8_combine<Inv, false>(2 * v, b);
        }
        for (; M >= v; v *= 2) {
            noleaves<Inv>(v / 4, b + v, false);
            noleaves<Inv>(v / 4, b + 3 * v / 2, true);
            butterfly4_combine<Inv, false>(v, b);
        }
    }

    // The leaf stage: for b = 0 .. N/16 - 1 the leaves of bases b and
    // b - N/16 (together x[b + j N/16], j = 0..15), L values of b at a time
    // in the lanes, transposed into 8-element runs of the workspace layout.
    // Sparse: the input is zero outside the band k < 3N/16, k > 13N/16, so
    // that only the samples j = 0, 1, 2, 13, 14, 15 (in units of N/16) of a
    // leaf pair can be non-zero.
    template <bool Inv, bool Sparse = false>
    static void leaves(int N, int log2N, const float *x, float *y)
    {
        const int n16 = N / 16;
        // Input offsets (in units of N/16) of the eight samples of each leaf.
        static constexpr int evenOff[8] = {0, 2, 4, 6, 8, 10, 12, 14};
        static constexpr int oddOff[8] = {15, 1, 3, 5, 7, 9, 11, 13};
        const V c = S::set1(0.70710677f), scale = S::set1(1.0f / static_cast<float>(N));
        for (int b = 0; b < n16; b += L) {
            int pos[L];
            for (int i = 0; i < L; ++i)
                pos[i] = leafPairPosition(b + i, N, log2N);
            // B = 1: where each lane's pair goes, advanced as it is stored.
            float *out[4] = {};
            if constexpr (B == 1)
                for (int i = 0; i < L; ++i)
                    out[i] = y + 2 * pos[i];
                    // Fully unrolled so that the leaf values stay in registers.
#pragma GCC unroll 2
            for (int g = 0; g < 2; ++g) {
                const int *off = g ? oddOff : evenOff;
                const float *src = x + 2 * b;
                V yr[8], yi[8];
                leaf8<Inv, Sparse>([&](int m, V &re, V &im) { S::load2(src + 2 * off[m] * n16, re, im); }, yr, yi, c,
                                   scale);
                if constexpr (B == 1) {
                    // Interleaved: lane i of (re j, im j, re j+1, im j+1)
                    // is its leaf's elements j, j+1, stored by rows.
                    static_assert(L == 4, "two complex values fill a vector");
#pragma GCC unroll 4
                    for (int j = 0; j < 8; j += 2)
                        S::storeTransposed(out, yr[j], yi[j], yr[j + 1], yi[j + 1]);
                } else {
#pragma GCC unroll 4
                    for (int j = 0; j < 8; j += L) {
                        S::transpose(yr + j);
                        S::transpose(yi + j);
#pragma GCC unroll 8
                        for (int i = 0; i < L; ++i)
                            st<false>(y + 2 * (pos[i] + 8 * g), j, {yr[j + i], yi[j + i]});
                    }
                }
            }
        }
    }

    // Level M of a sub-transform at b whose outputs are wanted only at
    // [0, head) and [M - tail, M) (head, tail multiples of L, at most M/4):
    // the butterflies' first and last outputs there, each computed as in
    // butterfly(), so they equal the full level's.
    template <bool Inv, bool Interleaved>
    static void combineWindow(int M, float *b, int head, int tail)
    {
        const int q = M / 4;
        const float *t = tw(M);
        for (int k = 0; k < head; k += L) {
            const C a = mul<!Inv>(ld(b, k + 2 * q), ld(t, k)), bb = mul<Inv>(ld(b, k + 3 * q), ld(t, k));
            const C u0 = ld(b, k), s{a.r + bb.r, a.i + bb.i};
            st<Interleaved>(b, k, {u0.r + s.r, u0.i + s.i});
        }
        for (int k = q - tail; k < q; k += L) {
            const C a = mul<!Inv>(ld(b, k + 2 * q), ld(t, k)), bb = mul<Inv>(ld(b, k + 3 * q), ld(t, k));
            const C u1 = ld(b, k + q), d{a.r - bb.r, a.i - bb.i};
            if constexpr (!Inv)
                st<Interleaved>(b, k + 3 * q, {u1.r - d.i, u1.i + d.r});
            else
                st<Interleaved>(b, k + 3 * q, {u1.r + d.i, u1.i - d.r});
        }
    }

    static bool prunable(int M, int head, int tail) { return M >= 128 && head + tail <= M / 4; }

    // noleaves() of which only the outputs [0, head) and [M - tail, M) are
    // wanted: the levels whose window is at most a quarter of their size
    // compute only what the window needs (U, Z and Z' need the same window).
    template <bool Inv>
    static void noleavesWindow(int M, float *b, bool odd, int head, int tail)
    {
        if (!prunable(M, head, tail)) {
            noleaves<Inv>(M, b, odd);
            return;
        }
        noleavesWindow<Inv>(M / 2, b, odd, head, tail);
        noleavesWindow<Inv>(M / 4, b + M, false, head, tail);
        noleavesWindow<Inv>(M / 4, b + 3 * M / 2, true, head, tail);
        combineWindow<Inv, false>(M, b, head, tail);
    }

    // The transform of an input that is zero for band < k < N - band, of
    // which only the outputs [0, head) and [N - tail, N) are wanted: equal
    // there to transform() (same operations, less of them), unspecified
    // elsewhere. Elements of x outside the band may be read (as zeros).
    template <bool Inv>
    static void transformWindow(int N, int log2N, const float *x, float *y, int band, int head, int tail)
    {
        head = (head + L - 1) / L * L;
        tail = (tail + L - 1) / L * L;
        if (!prunable(N, head, tail)) {
            transform<Inv>(N, log2N, x, y);
            return;
        }
        if (band < 3 * N / 16)
            leaves<Inv, true>(N, log2N, x, y);
        else
            leaves<Inv>(N, log2N, x, y);
        noleavesWindow<Inv>(N / 2, y, false, head, tail);
        noleavesWindow<Inv>(N / 4, y + N, false, head, tail);
        noleavesWindow<Inv>(N / 4, y + 3 * N / 2, true, head, tail);
        combineWindow<Inv, true>(N, y, head, tail);
    }

    // The whole transform of N = 1 << log2N points, N >= max(32, 16 L).
    template <bool Inv>
    static void transform(int N, int log2N, const float *x, float *y)
    {
        leaves<Inv>(N, log2N, x, y);
        if (N == 32) {
            pass32<Inv, true>(y, false);
        } else if (N == 64) {
            pass64<Inv, true>(y, false);
        } else if (N == 128 || N > 2048) {
            noleaves<Inv>(N / 2, y, false);
            noleaves<Inv>(N / 4, y + N, false);
            noleaves<Inv>(N / 4, y + 3 * N / 2, true);
            butterfly4_combine<Inv, true>(N, y);
        } else {
            noleaves<Inv>(N / 4, y, false);
            noleaves<Inv>(N / 8, y + N / 2, false);
            noleaves<Inv>(N / 8, y + 3 * N / 4, true);
            noleaves<Inv>(N / 4, y + N, false);
            noleaves<Inv>(N / 4, y + 3 * N / 2, true);
            butterfly8_combine<Inv, true>(N, y);
        }
    }
};

} // namespace DSPLIB_VARIANT_NAMESPACE

#endif
