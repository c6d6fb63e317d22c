// Tests of the complex FFT: every size and every vector build against a
// double-precision DFT, identities, round trips, tables and the checks.
#include "functional/audio/libraries/dsplib/arm/cfft_pow2_conjpair_splitrad_c89_neon.h"

#include "functional/audio/libraries/dsplib/arm/cfft_tables.h"
#include "functional/audio/libraries/dsplib/arm/variants.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using dsplib::Variant;
using Cd = std::complex<double>;

// Buffers of N complex values with 8-byte alignment (std::vector<float> of
// the default allocator gives at least 16).
using Buf = std::vector<float>;

Buf randomSignal(int N, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    Buf x(2 * static_cast<size_t>(N));
    for (float &v : x)
        v = d(gen);
    return x;
}

// Direct DFT in double precision of the chosen bins, with a table of
// e^(sign j 2 pi m / N) so that each term is one table read. Inverse
// (sign = +1) includes the 1/N.
std::vector<Cd> dft(const Buf &x, int N, int sign, const std::vector<int> &bins)
{
    std::vector<Cd> w(N);
    for (int m = 0; m < N; ++m)
        w[m] = std::polar(1.0, sign * 2.0 * M_PI * m / N);
    std::vector<Cd> out;
    for (int k : bins) {
        Cd acc = 0;
        for (int n = 0, m = 0; n < N; ++n, m = (m + k) & (N - 1))
            acc += Cd(x[2 * n], x[2 * n + 1]) * w[m];
        out.push_back(sign > 0 ? acc / static_cast<double>(N) : acc);
    }
    return out;
}

// Builds where the O(N^2) reference is slow: emulated ARM, sanitizers.
#if defined(__arm__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSlowBuild = true;
#else
constexpr bool kSlowBuild = false;
#endif

// All bins, except that slow builds check about 256 bins (and the last one)
// of the largest sizes, with an odd step so that every residue of the
// power-of-two index structure is met.
std::vector<int> binsToCheck(int N)
{
    const int step = kSlowBuild && N >= 2048 ? N / 256 + 1 : 1;
    std::vector<int> bins;
    for (int k = 0; k < N; k += step)
        bins.push_back(k);
    if (bins.back() != N - 1)
        bins.push_back(N - 1);
    return bins;
}

// RMS error relative to the RMS of the reference, over the checked bins.
double relativeRms(const Buf &y, const std::vector<Cd> &ref, const std::vector<int> &bins)
{
    double err = 0, norm = 0;
    for (size_t i = 0; i < bins.size(); ++i) {
        err += std::norm(Cd(y[2 * bins[i]], y[2 * bins[i] + 1]) - ref[i]);
        norm += std::norm(ref[i]);
    }
    return std::sqrt(err / norm);
}

// Single-precision split radix: error grows slowly with log2 N.
double errorBound(int log2N) { return 6e-8 * std::sqrt(1.0 + log2N); }

using Fn = void (*)(int, int, const float *, float *);

struct Path {
    std::string name;
    int minN;
    Fn forward, inverse;
};

// The public drivers plus every vector build of the general transform.
std::vector<Path> paths()
{
    std::vector<Path> p{{"driver", 1, cfft_pow2_conjpair_splitrad_c89, cifft_pow2_conjpair_splitrad_c89}};
    for (const Variant &v : dsplib::variants())
        p.push_back({v.name, v.cfftMinN, v.cfftForward, v.cfftInverse});
    return p;
}

TEST(ComplexFft, EverySizeAndBuildMatchesDoubleDft)
{
    for (int log2N = 0; log2N <= 13; ++log2N) {
        const int N = 1 << log2N;
        const Buf x = randomSignal(N, 100 + log2N);
        const std::vector<int> bins = binsToCheck(N);
        const std::vector<Cd> fwd = dft(x, N, -1, bins), inv = dft(x, N, +1, bins);
        for (const Path &p : paths()) {
            if (N < p.minN)
                continue;
            for (int dir = 0; dir < 2; ++dir) {
                const Buf copy = x;
                Buf y(2 * N, 1e30f);
                (dir ? p.inverse : p.forward)(N, log2N, x.data(), y.data());
                const double e = relativeRms(y, dir ? inv : fwd, bins);
                EXPECT_LT(e, errorBound(log2N)) << p.name << " N=" << N << (dir ? " inverse" : " forward");
                EXPECT_EQ(0, std::memcmp(copy.data(), x.data(), x.size() * sizeof(float))) << "x modified";
            }
        }
    }
}

TEST(ComplexFft, RoundTripsEverySize)
{
    for (int log2N = 0; log2N <= 13; ++log2N) {
        const int N = 1 << log2N;
        const Buf x = randomSignal(N, 7 * log2N + 1);
        Buf X(2 * N), back(2 * N);
        sp_fftSPxSP(N, x.data(), nullptr, X.data(), nullptr, 2, 0, N);
        sp_ifftSPxSP(N, X.data(), nullptr, back.data(), nullptr, 2, 0, N);
        double err = 0, norm = 0;
        for (int i = 0; i < 2 * N; ++i) {
            err += (back[i] - x[i]) * double(back[i] - x[i]);
            norm += x[i] * double(x[i]);
        }
        EXPECT_LT(std::sqrt(err / norm), 2 * errorBound(log2N)) << "N=" << N;
    }
}

TEST(ComplexFft, ImpulseConstantAndToneIdentities)
{
    for (int log2N = 0; log2N <= 13; ++log2N) {
        const int N = 1 << log2N;
        const float tol = 1e-6f * N;
        for (const Path &p : paths()) {
            if (N < p.minN)
                continue;
            const std::string at = p.name + " N=" + std::to_string(N);
            // Impulse <-> all ones.
            Buf impulse(2 * N, 0.0f), y(2 * N), back(2 * N);
            impulse[0] = 1.0f;
            p.forward(N, log2N, impulse.data(), y.data());
            for (int k = 0; k < N; ++k) {
                ASSERT_NEAR(y[2 * k], 1.0f, 1e-6f) << at;
                ASSERT_NEAR(y[2 * k + 1], 0.0f, 1e-6f) << at;
            }
            p.inverse(N, log2N, y.data(), back.data());
            for (int i = 0; i < 2 * N; ++i)
                ASSERT_NEAR(back[i], impulse[i], 1e-6f) << at;
            // Constant c -> (N c, 0) at bin 0.
            const float c = 0.375f;
            Buf constant(2 * N);
            for (int n = 0; n < N; ++n) {
                constant[2 * n] = c;
                constant[2 * n + 1] = 0.0f;
            }
            p.forward(N, log2N, constant.data(), y.data());
            ASSERT_NEAR(y[0], N * c, tol) << at;
            ASSERT_NEAR(y[1], 0.0f, tol) << at;
            for (int i = 2; i < 2 * N; ++i)
                ASSERT_NEAR(y[i], 0.0f, tol) << at;
            // e^(+j 2 pi 3 n / N) -> N at bin 3 (bin 3 mod N for small N).
            Buf tone(2 * N);
            for (int n = 0; n < N; ++n) {
                tone[2 * n] = static_cast<float>(std::cos(2 * M_PI * 3 * n / N));
                tone[2 * n + 1] = static_cast<float>(std::sin(2 * M_PI * 3 * n / N));
            }
            p.forward(N, log2N, tone.data(), y.data());
            for (int k = 0; k < N; ++k) {
                ASSERT_NEAR(y[2 * k], k == 3 % N ? N : 0.0f, tol) << at << " k=" << k;
                ASSERT_NEAR(y[2 * k + 1], 0.0f, tol) << at << " k=" << k;
            }
            p.inverse(N, log2N, y.data(), back.data());
            for (int i = 0; i < 2 * N; ++i)
                ASSERT_NEAR(back[i], tone[i], 2e-6f) << at;
        }
    }
}

TEST(ComplexFft, VectorBuildsAgreeWithPortableReference)
{
    const auto v = dsplib::variants();
    ASSERT_STREQ(v[0].name, "portable");
    // The drivers use the widest build available for the size.
#if defined(__ARM_NEON)
    EXPECT_STREQ(dsplib::cfftVariantFor(32).name, "portable");
    EXPECT_STREQ(dsplib::cfftVariantFor(64).name, "neon");
    EXPECT_STREQ(dsplib::cfftVariantFor(8192).name, "neon");
#elif defined(__SSE2__)
    EXPECT_STREQ(dsplib::cfftVariantFor(32).name, "portable");
    EXPECT_STREQ(dsplib::cfftVariantFor(64).name, "sse2");
    EXPECT_STREQ(dsplib::cfftVariantFor(8192).name, v.back().name);
#endif
    for (int log2N = 5; log2N <= 13; ++log2N) {
        const int N = 1 << log2N;
        const Buf x = randomSignal(N, log2N);
        Buf ref(2 * N), y(2 * N);
        for (int dir = 0; dir < 2; ++dir) {
            (dir ? v[0].cfftInverse : v[0].cfftForward)(N, log2N, x.data(), ref.data());
            for (size_t i = 1; i < v.size(); ++i) {
                if (N < v[i].cfftMinN)
                    continue;
                (dir ? v[i].cfftInverse : v[i].cfftForward)(N, log2N, x.data(), y.data());
                const float scale = dir ? 1.0f / N : 1.0f;
                for (int j = 0; j < 2 * N; ++j)
                    ASSERT_NEAR(y[j], ref[j], 4e-6f * std::sqrt(float(N)) * scale) << v[i].name << " N=" << N;
            }
        }
    }
}

// The windowed inverse gives, in its window, the values of the full inverse
// of the same build: narrow and wide windows, bands that use the sparse
// leaves and bands that do not, windows too wide to prune, and small sizes.
TEST(ComplexFft, BandWindowInverseEqualsTheFullInverseInItsWindow)
{
    struct Shape {
        int N, band, head, tail;
    };
    const Shape shapes[] = {{8192, 1452, 166, 165}, {8192, 1452, 25, 26}, {8192, 4000, 100, 60},
                            {8192, 1452, 5000, 10}, {2048, 300, 40, 41},  {16, 3, 2, 2}};
    for (const Shape &s : shapes) {
        const int log2N = __builtin_ctz(s.N);
        Buf x = randomSignal(s.N, s.N + s.band);
        for (int k = s.band + 1; k < s.N - s.band; ++k)
            x[2 * k] = x[2 * k + 1] = 0.0f;
        std::vector<std::pair<std::string, Fn>> full{{"driver", cifft_pow2_conjpair_splitrad_c89}};
        using WindowFn = void (*)(int, int, const float *, float *, int, int, int);
        std::vector<WindowFn> window{cifft_pow2_band_window};
        for (const Variant &v : dsplib::variants())
            if (s.N >= v.cfftMinN) {
                full.emplace_back(v.name, v.cfftInverse);
                window.push_back(v.cfftInverseWindow);
            }
        for (size_t i = 0; i < full.size(); ++i) {
            Buf ref(2 * s.N), y(2 * s.N, 1e30f);
            full[i].second(s.N, log2N, x.data(), ref.data());
            window[i](s.N, log2N, x.data(), y.data(), s.band, s.head, s.tail);
            for (int m = 0; m < s.N; ++m) {
                if (m >= s.head && m < s.N - s.tail)
                    continue;
                ASSERT_EQ(y[2 * m], ref[2 * m]) << full[i].first << " N=" << s.N << " m=" << m;
                ASSERT_EQ(y[2 * m + 1], ref[2 * m + 1]) << full[i].first << " N=" << s.N << " m=" << m;
            }
        }
    }
}

TEST(ComplexFft, NonPositiveSizeWritesNothingAndUnusedArgumentsAreIgnored)
{
    Buf x = randomSignal(64, 3), y(128, 5.0f);
    for (int N : {0, -1, -64}) {
        sp_fftSPxSP(N, x.data(), nullptr, y.data(), nullptr, 0, 0, 0);
        sp_ifftSPxSP(N, x.data(), nullptr, y.data(), nullptr, 0, 0, 0);
    }
    for (float v : y)
        ASSERT_EQ(v, 5.0f);
    // Twiddle table, bit-reversal table and radix arguments do not matter.
    Buf a(128), b(128), junk(128, 123.0f);
    unsigned char brev[64] = {};
    sp_fftSPxSP(64, x.data(), nullptr, a.data(), nullptr, 2, 0, 64);
    sp_fftSPxSP(64, x.data(), junk.data(), b.data(), brev, 4, 17, 3);
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(float)));
}

TEST(ComplexFftTables, TwiddlesAreRoundedDoubleTrigonometry)
{
    using dsplib::cfft::w_;
    using dsplib::cfft::w_nl;
    EXPECT_EQ(w_[0], 0.0f);
    EXPECT_EQ(w_[1], 0.0f);
    EXPECT_EQ(w_[2], 1.0f);
    EXPECT_EQ(w_[3], 0.0f);
    EXPECT_EQ(w_[16], 1.0f);
    EXPECT_NEAR(w_[17], 0.980785f, 1e-6f);
    EXPECT_EQ(w_[18], 0.0f);
    EXPECT_NEAR(w_[19], 0.195090f, 1e-6f);
    for (int M = 4; M <= 8192; M *= 2) {
        for (int k = 0; k < M / 4; ++k) {
            const int at = M <= 16 ? M / 2 + 2 * k : M / 2 + k / 2 * 4 + k % 2;
            const int sinAt = M <= 16 ? at + 1 : at + 2;
            ASSERT_EQ(w_[at], static_cast<float>(std::cos(6.283185307179586 * k / M))) << M << " " << k;
            ASSERT_EQ(w_[sinAt], static_cast<float>(std::sin(6.283185307179586 * k / M))) << M << " " << k;
        }
    }
    for (int k = 0; k < 8; ++k) {
        const int at = k / 2 * 4 + k % 2;
        EXPECT_EQ(w_nl[at], k == 4 ? 0.0f : static_cast<float>(std::cos(6.283185307179586 * k / 16)));
        EXPECT_EQ(w_nl[at + 2], k == 4 ? 1.0f : static_cast<float>(std::sin(6.283185307179586 * k / 16)));
    }
}

TEST(ComplexFftTables, LeafTable)
{
    using dsplib::cfft::index_lut_;
    const uint16_t first[] = {0, 4096, 2048, 7168, 1024, 5120, 3584, 6656};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(index_lut_[i], first[i]);
    // Each pair covers 16 elements; together they tile the 8192 outputs.
    std::vector<int> hits(8192 / 16);
    for (uint16_t p : index_lut_) {
        ASSERT_EQ(p % 16, 0);
        ++hits[p / 16];
    }
    for (int h : hits)
        ASSERT_EQ(h, 1);
    EXPECT_EQ(dsplib::cfft::leafPairPosition(0, 32, 5), 0);
    EXPECT_EQ(dsplib::cfft::leafPairPosition(1, 32, 5), 16);
}

using ComplexFftDeathTest = ::testing::Test;

TEST_F(ComplexFftDeathTest, BrokenPreconditionsAreFatal)
{
    alignas(16) static float x[2 * 16384 + 2], y[2 * 16384 + 2];
    const char *unit = "functional/audio/libraries/dsplib/arm/cfft_pow2_conjpair_splitrad_c89_neon.cpp";
    EXPECT_DEATH(sp_fftSPxSP(16384, x, nullptr, y, nullptr, 2, 0, 0),
                 std::string(unit) + ".*cfft_pow2_conjpair_splitrad_c89.*Assertion `N <= FFT_MAX' failed");
    EXPECT_DEATH(sp_ifftSPxSP(16384, x, nullptr, y, nullptr, 2, 0, 0),
                 "cifft_pow2_conjpair_splitrad_c89.*Assertion `N <= FFT_MAX' failed");
    EXPECT_DEATH(cfft_pow2_conjpair_splitrad_c89(48, 5, x, y), "Assertion `N <= 0 \\|\\| N == 1 << log2_N' failed");
    EXPECT_DEATH(cifft_pow2_conjpair_splitrad_c89(32, 40, x, y), "Assertion `N <= 0 \\|\\| N == 1 << log2_N' failed");
    EXPECT_DEATH(sp_fftSPxSP(12, x, nullptr, y, nullptr, 2, 0, 0), "Assertion `N <= 0 \\|\\| N == 1 << log2_N' failed");
    EXPECT_DEATH(sp_fftSPxSP(8, x + 1, nullptr, y, nullptr, 2, 0, 0), "Assertion `\\(uintptr_t\\)x % 8 == 0' failed");
    EXPECT_DEATH(sp_ifftSPxSP(8, x, nullptr, y + 1, nullptr, 2, 0, 0), "Assertion `\\(uintptr_t\\)y % 8 == 0' failed");
    // The alignment checks hold even when there is nothing to do.
    EXPECT_DEATH(sp_fftSPxSP(0, x + 1, nullptr, y, nullptr, 2, 0, 0), "Assertion `\\(uintptr_t\\)x % 8 == 0' failed");
    // The largest size passes.
    sp_fftSPxSP(8192, x, nullptr, y, nullptr, 2, 0, 0);
}

} // namespace
