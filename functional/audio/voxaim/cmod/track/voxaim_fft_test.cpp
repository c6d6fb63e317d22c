// Tests of the engine's transforms: split tables, real FFT identities and
// round trips, against a double-precision DFT.
#include "functional/audio/voxaim/cmod/track/voxaim_fft.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Cd = std::complex<double>;
using Buf = std::vector<float>;

// Split tables for an N-point real transform (n = N/2 entries each).
struct Tables {
    Buf A, B;
    explicit Tables(int N) : A(N), B(N) { voxaim_generateAbTables(A.data(), B.data(), N / 2); }
};

Buf randomReal(int N, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    Buf x(N);
    for (float &v : x)
        v = d(gen);
    return x;
}

// The chosen bins of the DFT of a real signal, in double precision, with a
// table of e^(-j 2 pi m / N).
std::vector<Cd> realDft(const Buf &x, const std::vector<int> &bins)
{
    const int N = static_cast<int>(x.size());
    std::vector<Cd> w(N), out;
    for (int m = 0; m < N; ++m)
        w[m] = std::polar(1.0, -2.0 * M_PI * m / N);
    for (int k : bins) {
        Cd acc = 0;
        for (int t = 0, m = 0; t < N; ++t, m = (m + k) & (N - 1))
            acc += static_cast<double>(x[t]) * w[m];
        out.push_back(acc);
    }
    return out;
}

// Forward real FFT the way the engine calls it; returns the n + 1 bins.
Buf realFft(const Buf &x, const Tables &t)
{
    const int N = static_cast<int>(x.size());
    Buf out(N + 2, 1e30f), scratch(N + 2, 1e30f);
    voxaim_realFft(N, x.data(), nullptr, out.data(), 2, t.A.data(), t.B.data(), scratch.data());
    return out;
}

TEST(GenerateAbTables, ExactEntries)
{
    const int n = 2048;
    std::vector<float> A(2 * n, 7.0f), B(2 * n, 7.0f);
    voxaim_generateAbTables(A.data(), B.data(), n);
    // k = 0 is stored directly.
    EXPECT_EQ(A[0], 0.5f);
    EXPECT_EQ(A[1], -0.5f);
    EXPECT_EQ(B[0], 0.5f);
    EXPECT_EQ(B[1], 0.5f);
    // Quarter turn: the cosine is taken in double precision, not rounded to 0.
    EXPECT_EQ(A[2 * 1024], 0.0f);
    EXPECT_EQ(A[2 * 1024 + 1], static_cast<float>(-0.5 * std::cos(M_PI / 2)));
    EXPECT_NEAR(A[2 * 1024 + 1], -3.0616e-17f, 1e-20f);
    EXPECT_EQ(B[2 * 1024], 1.0f);
    EXPECT_NEAR(B[2 * 1024 + 1], 3.0616e-17f, 1e-20f);
    // Every entry is the float rounding of the double-precision formula.
    for (int k = 1; k < n; ++k) {
        const double t = k * (6.283185307179586 / (2.0 * n));
        ASSERT_EQ(A[2 * k], static_cast<float>(0.5 * (1 - std::sin(t)))) << k;
        ASSERT_EQ(A[2 * k + 1], static_cast<float>(-0.5 * std::cos(t))) << k;
        ASSERT_EQ(B[2 * k], static_cast<float>(0.5 * (1 + std::sin(t)))) << k;
        ASSERT_EQ(B[2 * k + 1], static_cast<float>(0.5 * std::cos(t))) << k;
    }
    EXPECT_EQ(A[2], 0.5f * (1 - static_cast<float>(std::sin(M_PI / 2048))));
}

TEST(GenerateAbTables, SmallCountsWriteOnlyTheirEntries)
{
    std::vector<float> A(8, 7.0f), B(8, 7.0f);
    voxaim_generateAbTables(A.data(), B.data(), 0);
    voxaim_generateAbTables(A.data(), B.data(), -3);
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(A[i] + B[i], 14.0f);
    voxaim_generateAbTables(A.data(), B.data(), 1);
    EXPECT_EQ(A[0], 0.5f);
    EXPECT_EQ(A[1], -0.5f);
    EXPECT_EQ(B[0], 0.5f);
    EXPECT_EQ(B[1], 0.5f);
    for (int i = 2; i < 8; ++i)
        ASSERT_EQ(A[i] + B[i], 14.0f);
}

TEST(RealFft, MatchesDoubleDftAndLeavesInputAlone)
{
    for (int N = 4; N <= 16384; N *= 2) {
        const Buf x = randomReal(N, N);
        const Buf copy = x;
        const Tables t(N);
        const Buf X = realFft(x, t);
        EXPECT_EQ(0, std::memcmp(copy.data(), x.data(), N * sizeof(float))) << "x modified";
        // Every bin up to 8192 points natively; fewer where the O(N^2)
        // reference is slow (emulated ARM, sanitizers).
#if defined(__arm__) || defined(__SANITIZE_ADDRESS__)
        const int step = N >= 4096 ? 13 : 1;
#else
        const int step = N >= 16384 ? 3 : 1;
#endif
        std::vector<int> bins;
        for (int k = 0; k < N / 2; k += step)
            bins.push_back(k);
        bins.push_back(N / 2);
        const std::vector<Cd> ref = realDft(x, bins);
        double err = 0, norm = 0;
        for (size_t i = 0; i < ref.size(); ++i) {
            const int k = bins[i];
            err += std::norm(Cd(X[2 * k], X[2 * k + 1]) - ref[i]);
            norm += std::norm(ref[i]);
        }
        EXPECT_LT(std::sqrt(err / norm), 6e-8 * std::sqrt(1.0 + std::log2(N))) << "N=" << N;
        EXPECT_EQ(X[N + 1], 0.0f) << "Nyquist imaginary part";
        EXPECT_NEAR(X[1], 0.0f, 1e-6f * N) << "DC imaginary part";
    }
}

TEST(RealFft, DcToneAndNyquistIdentities)
{
    const int N = 4096;
    const Tables t(N);
    // Constant c: all energy in bin 0.
    const float c = -0.625f;
    Buf X = realFft(Buf(N, c), t);
    EXPECT_NEAR(X[0], N * c, 1e-3f);
    EXPECT_NEAR(X[1], 0.0f, 1e-3f);
    for (int i = 2; i <= N + 1; ++i)
        ASSERT_NEAR(X[i], 0.0f, 1e-3f) << i;
    // cos(2 pi 5 t / N): bin 5 = (N/2, 0).
    Buf x(N);
    for (int i = 0; i < N; ++i)
        x[i] = static_cast<float>(std::cos(2 * M_PI * 5 * i / N));
    X = realFft(x, t);
    for (int k = 0; k <= N / 2; ++k) {
        ASSERT_NEAR(X[2 * k], k == 5 ? N / 2 : 0.0f, 2e-3f) << k;
        ASSERT_NEAR(X[2 * k + 1], 0.0f, 2e-3f) << k;
    }
    // +1, -1, ...: bin N/2 = (N, 0.0) exactly 0 imaginary, bin 0 = (0, 0).
    for (int i = 0; i < N; ++i)
        x[i] = i % 2 ? -1.0f : 1.0f;
    X = realFft(x, t);
    EXPECT_NEAR(X[N], N, 1e-3f);
    EXPECT_EQ(X[N + 1], 0.0f);
    EXPECT_NEAR(X[0], 0.0f, 1e-3f);
    EXPECT_NEAR(X[1], 0.0f, 1e-3f);
}

TEST(RealFft, InverseOfForwardRestoresTheSignalInTheSpectrumBuffer)
{
    for (int N : {2, 4, 32, 4096, 16384}) {
        const Tables t(N);
        const Buf x = randomReal(N, 3 * N);
        Buf S = realFft(x, t), y(N, 1e30f);
        const Buf spectrum = S;
        voxaim_realIfft(N, S.data(), nullptr, y.data(), 2, t.A.data(), t.B.data());
        double err = 0, norm = 0;
        for (int i = 0; i < N; ++i) {
            err += (S[i] - x[i]) * double(S[i] - x[i]);
            norm += x[i] * double(x[i]);
        }
        EXPECT_LT(std::sqrt(err / norm), 1.2e-7 * std::sqrt(1.0 + std::log2(N))) << "N=" << N;
        // The scratch buffer is left holding the split values.
        Buf split(N);
        splitIfft(N / 2, spectrum.data(), t.A.data(), t.B.data(), split.data());
        EXPECT_EQ(0, std::memcmp(split.data(), y.data(), N * sizeof(float))) << "N=" << N;
    }
}

TEST(RealFft, InverseMatchesConjugateSymmetricSum)
{
    // x[t] = (1/N) sum over all N bins, the upper ones conjugates of the lower.
    const int N = 256, n = N / 2;
    const Tables t(N);
    Buf S(N + 2);
    std::mt19937 gen(5);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (float &v : S)
        v = d(gen);
    S[1] = S[N + 1] = 0.0f;
    std::vector<Cd> full(N);
    for (int k = 0; k <= n; ++k)
        full[k] = Cd(S[2 * k], S[2 * k + 1]);
    for (int k = n + 1; k < N; ++k)
        full[k] = std::conj(full[N - k]);
    Buf y(N);
    Buf in = S;
    voxaim_realIfft(N, in.data(), nullptr, y.data(), 2, t.A.data(), t.B.data());
    for (int s = 0; s < N; ++s) {
        Cd acc = 0;
        for (int k = 0; k < N; ++k)
            acc += full[k] * std::polar(1.0, 2 * M_PI * ((k * s) % N) / N);
        ASSERT_NEAR(in[s], acc.real() / N, 2e-7) << s;
        ASSERT_NEAR(acc.imag(), 0.0, 1e-9);
    }
}

// The windowed inverse of a band-limited spectrum gives the full inverse's
// samples near 0 (odd and even window ends, bands with and without a
// remainder after whole vectors), and writes no element of V off its band.
TEST(RealFft, WindowedInverseEqualsTheFullInverseNearZero)
{
    const int N = 16384, n = N / 2;
    const Tables t(N);
    for (const auto &[band, head, tail] : {std::array{1452, 330, 329}, std::array{1450, 17, 17}}) {
        Buf S = randomReal(N + 2, band);
        std::fill(S.begin() + 2 * (band + 1), S.end(), 0.0f);
        Buf full = S, scratch(N + 2), V(N + 8, 0.0f), out(N, 1e30f);
        voxaim_realIfft(N, full.data(), nullptr, scratch.data(), 2, t.A.data(), t.B.data());
        voxaim_realIfftWindow(N, S.data(), band, t.A.data(), t.B.data(), V.data(), out.data(), head, tail);
        for (int s = 0; s < N; ++s) {
            if (s >= head && s < N - tail)
                continue;
            ASSERT_EQ(out[s], full[s]) << "band " << band << " sample " << s;
        }
        for (int k = band + 1; k < n - band; ++k)
            ASSERT_TRUE(V[2 * k] == 0.0f && V[2 * k + 1] == 0.0f) << k;
    }
}

TEST(SplitFft, WritesElementNFromElementZeroAndNothingBeyondBinN)
{
    const int n = 8;
    const Tables t(2 * n);
    Buf X(2 * n + 2), G(2 * n + 6, 9.0f);
    for (int i = 0; i < 2 * n; ++i)
        X[i] = static_cast<float>(i + 1);
    splitFft(n, X.data(), t.A.data(), t.B.data(), G.data());
    EXPECT_EQ(X[2 * n], 1.0f);
    EXPECT_EQ(X[2 * n + 1], 2.0f);
    EXPECT_EQ(G[2 * n], 1.0f - 2.0f);
    EXPECT_EQ(G[2 * n + 1], 0.0f);
    for (int i = 2 * n + 2; i < 2 * n + 6; ++i)
        EXPECT_EQ(G[i], 9.0f);
    // n < 1 writes nothing.
    Buf none(4, 9.0f);
    splitIfft(0, X.data(), t.A.data(), t.B.data(), none.data());
    splitFft(0, X.data(), t.A.data(), t.B.data(), none.data());
    for (float v : none)
        EXPECT_EQ(v, 9.0f);
}

TEST(ComplexWrappers, ForwardAndScaledInverse)
{
    const int N = 64;
    Buf x(2 * N, 0.0f), y(2 * N), back(2 * N);
    x[2] = 1.0f; // delta at n = 1: Y[k] = e^(-j 2 pi k / N)
    voxaim_fft(N, x.data(), nullptr, y.data(), 2);
    for (int k = 0; k < N; ++k) {
        ASSERT_NEAR(y[2 * k], std::cos(2 * M_PI * k / N), 1e-6);
        ASSERT_NEAR(y[2 * k + 1], -std::sin(2 * M_PI * k / N), 1e-6);
    }
    voxaim_ifft(N, y.data(), nullptr, back.data(), 2);
    for (int i = 0; i < 2 * N; ++i)
        ASSERT_NEAR(back[i], x[i], 1e-7);
}

} // namespace
