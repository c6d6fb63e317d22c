#ifndef FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_CFFT_TABLES_H
#define FUNCTIONAL_AUDIO_LIBRARIES_DSPLIB_ARM_CFFT_TABLES_H
// Constant tables of the complex FFT, computed by the compiler.
//
// Twiddle factors t_M[k] = e^(+j 2 pi k / M), k = 0 .. M/4 - 1, of every size
// M = 4 .. 8192 occupy floats M/2 .. M-1 of one 8192-float table: sizes 4, 8
// and 16 interleaved (cos, sin), sizes from 32 up in the workspace's blocked
// layout of L elements (L cosines, then L sines). With L = 2 (pair-blocked)
// this is `w_`; the x86 kernels use the same values blocked by 4 or 8.
// All values are the float roundings of double-precision cosines and sines
// (the compiler evaluates the trigonometry when it builds the tables).
//
// `index_lut_` holds, for the 8192-point transform, the output position (in
// complex elements) of each pair of leaves; smaller sizes derive theirs from
// it (see leafPairPosition).
#include <array>
#include <cstdint>

namespace dsplib::cfft {

inline constexpr int kMaxLog2 = 13;
inline constexpr int kMax = 1 << kMaxLog2;

// Cosine and sine of 2 pi k / M (M a power of two, 0 <= k < M/4) in double
// precision, evaluable by the compiler. The angle is folded into the first
// octant with exact integer arithmetic, where Taylor series of 13 terms are
// accurate to the last bit or two of a double; the float roundings match
// the C library's (checked by the tests for every table entry).
constexpr double taylorCos(double x)
{
    double sum = 1.0, term = 1.0;
    for (int i = 1; i <= 13; ++i) {
        term *= -x * x / ((2 * i - 1) * (2 * i));
        sum += term;
    }
    return sum;
}
constexpr double taylorSin(double x)
{
    double sum = x, term = x;
    for (int i = 1; i <= 13; ++i) {
        term *= -x * x / ((2 * i) * (2 * i + 1));
        sum += term;
    }
    return sum;
}
constexpr double cosTurnD(int k, int M)
{
    // 2 pi k / M > pi/4: cos(x) = sin(pi/2 - x), with pi/2 - x = 2 pi (M/4 - k) / M.
    return 8 * k <= M ? taylorCos(6.283185307179586 * k / M) : taylorSin(6.283185307179586 * (M / 4 - k) / M);
}
constexpr double sinTurnD(int k, int M)
{
    return 8 * k <= M ? taylorSin(6.283185307179586 * k / M) : taylorCos(6.283185307179586 * (M / 4 - k) / M);
}
constexpr float cosTurn(int k, int M) { return static_cast<float>(cosTurnD(k, M)); }
constexpr float sinTurn(int k, int M) { return static_cast<float>(sinTurnD(k, M)); }

template <int L>
constexpr std::array<float, kMax> makeTwiddles()
{
    std::array<float, kMax> w{};
    for (int M = 4; M <= kMax; M *= 2) {
        float *t = w.data() + M / 2;
        for (int k = 0; k < M / 4; ++k) {
            if (M <= 16) {
                t[2 * k] = cosTurn(k, M);
                t[2 * k + 1] = sinTurn(k, M);
            } else {
                const int block = k / L * 2 * L, lane = k % L;
                t[block + lane] = cosTurn(k, M);
                t[block + L + lane] = sinTurn(k, M);
            }
        }
    }
    return w;
}

// t_16[k], k = 0..7, blocked by L; k = 4 is exactly (0, 1).
template <int L>
constexpr std::array<float, 16> makeTwiddles16()
{
    std::array<float, 16> w{};
    for (int k = 0; k < 8; ++k) {
        const int block = k / L * 2 * L, lane = k % L;
        w[block + lane] = k == 4 ? 0.0f : cosTurn(k, 16);
        w[block + L + lane] = k == 4 ? 1.0f : sinTurn(k, 16);
    }
    return w;
}

// Where the recursion puts each leaf pair of an N-point transform. A pair
// (b, b - N/16), 0 <= b < N/16, is two 8-point leaves written one after the
// other; positions[b] is the element where the first one starts.
template <int N>
struct LeafPlacement {
    std::array<uint16_t, N / 16> positions{};
    std::array<int, N / 16> filled{};

    static constexpr int wrap(int r) { return ((r % N) + N) % N; }

    constexpr void pair(int b, int p)
    {
        b = wrap(b);
        positions[b] = static_cast<uint16_t>(p);
        ++filled[b];
    }

    // Sub-transform of size M and base r at element p; odd orientation
    // swaps the two leaves of a 16-point step.
    constexpr void place(int M, int r, int p, bool odd)
    {
        if (M == 16) {
            pair(odd ? r + N / 16 : r, p);
        } else if (M == 32) {
            place(16, r, p, odd);
            pair(r + N / 32, p + 16);
        } else {
            place(M / 2, r, p, odd);
            place(M / 4, r + N / M, p + M / 2, false);
            place(M / 4, r - N / M, p + 3 * M / 4, true);
        }
    }

    constexpr LeafPlacement() { place(N, 0, 0, false); }
};

inline constexpr auto index_lut_ = [] {
    constexpr LeafPlacement<kMax> placement;
    static_assert(
        [] {
            constexpr LeafPlacement<kMax> p;
            for (int f : p.filled)
                if (f != 1)
                    return false;
            return true;
        }(),
        "every leaf pair is placed exactly once");
    return placement.positions;
}();

// Position of leaf pair b of an N-point transform (N = 1 << log2N >= 32),
// read from the 8192-point table.
constexpr int leafPairPosition(int b, int N, int log2N)
{
    const int i = b < N / 16 - N / 48 ? b : b + kMax / 16 - N / 16;
    return index_lut_[i] >> (kMaxLog2 - log2N);
}

template <int N, int log2N>
constexpr bool leafRuleHolds()
{
    constexpr LeafPlacement<N> p;
    for (int b = 0; b < N / 16; ++b)
        if (p.positions[b] != leafPairPosition(b, N, log2N))
            return false;
    return true;
}
static_assert(leafRuleHolds<32, 5>() && leafRuleHolds<64, 6>() && leafRuleHolds<128, 7>() && leafRuleHolds<256, 8>() &&
                  leafRuleHolds<512, 9>() && leafRuleHolds<1024, 10>() && leafRuleHolds<2048, 11>() &&
                  leafRuleHolds<4096, 12>() && leafRuleHolds<8192, 13>(),
              "one leaf table serves every size from 32 to 8192");

inline constexpr std::array<float, kMax> w_ = makeTwiddles<2>();
inline constexpr std::array<float, 16> w_nl = makeTwiddles16<2>();

} // namespace dsplib::cfft

#endif
