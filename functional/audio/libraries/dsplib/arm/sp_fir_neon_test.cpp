// Every FIR code path against a naive double-precision reference, the
// streaming rules (block splits, delay line, positions, decimation phase) and
// the public entry points' argument handling and assertions.
#include "functional/audio/libraries/dsplib/arm/sp_fir_neon.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "functional/audio/libraries/dsplib/arm/sp_fir_internal.h"

namespace {

using dsplib::Variant;
using Vec = std::vector<float>;

Vec randomVec(std::mt19937 &rng, int n)
{
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    Vec v(static_cast<std::size_t>(n));
    for (float &f : v)
        f = u(rng);
    return v;
}

// y[i] = sum_j h[j] s[i + j], and a bound for float rounding of that sum.
void reference(const Vec &s, const Vec &h, int ny, std::vector<double> &y, std::vector<double> &tol)
{
    const int nh = static_cast<int>(h.size());
    y.assign(static_cast<std::size_t>(ny), 0.0);
    tol.assign(static_cast<std::size_t>(ny), 0.0);
    for (int i = 0; i < ny; ++i) {
        double sum = 0.0, mag = 0.0;
        for (int j = 0; j < nh; ++j) {
            sum += double(h[j]) * s[i + j];
            mag += std::fabs(double(h[j]) * s[i + j]);
        }
        y[i] = sum;
        tol[i] = 1e-5 * mag + 1e-30;
    }
}

// Outputs with NaN guards behind them: nothing may be written past n.
constexpr int kGuard = 9;
Vec guarded(int n) { return Vec(static_cast<std::size_t>(n + kGuard), std::nanf("")); }
void expectGuardIntact(const Vec &y, int n)
{
    for (int i = n; i < n + kGuard; ++i)
        ASSERT_TRUE(std::isnan(y[i])) << "written past output " << n;
}

class FirVariant : public ::testing::TestWithParam<const Variant *> {
protected:
    const Variant &k = *GetParam();
    std::mt19937 rng{12345};
};

// Tap counts 1..40 (around the unrolled / pipelined switch at 16/17) with
// block sizes around every vector run length. x and h are allocated at their
// exact sizes so that the sanitizer build catches any read past their ends.
TEST_P(FirVariant, BlockKernelMatchesReference)
{
    const int sizes[] = {1, 2, 3, 4, 5, 7, 8, 9, 11, 12, 13, 16, 17, 23, 24, 25, 31, 36, 37, 49, 100, 2104};
    std::vector<double> ref, tol;
    for (int nh = 1; nh <= 40; ++nh) {
        for (int ny : sizes) {
            const Vec h = randomVec(rng, nh), x = randomVec(rng, ny + nh - 1);
            Vec y = guarded(ny);
            sp_fir::firGen(k, x.data(), h.data(), y.data(), nh, ny);
            reference(x, h, ny, ref, tol);
            for (int i = 0; i < ny; ++i)
                ASSERT_NEAR(y[i], ref[i], tol[i]) << "nh " << nh << " ny " << ny << " i " << i;
            expectGuardIntact(y, ny);
        }
    }
}

TEST_P(FirVariant, DecimatingKernelKeepsEveryStepthOutput)
{
    std::vector<double> ref, tol;
    std::uniform_int_distribution<int> nyDist(1, 120);
    for (int nh = 1; nh <= 40; ++nh) {
        for (int step = 1; step <= 6; ++step) {
            const int ny = nyDist(rng);
            const int nout = (ny - 1) / step + 1;
            const Vec h = randomVec(rng, nh), x = randomVec(rng, ny + nh - 1);
            Vec y = guarded(nout);
            sp_fir::firGenDownsample(k, x.data(), h.data(), y.data(), nh, ny, step);
            reference(x, h, ny, ref, tol);
            for (int m = 0; m < nout; ++m)
                ASSERT_NEAR(y[m], ref[m * step], tol[m * step]) << "nh " << nh << " step " << step << " m " << m;
            expectGuardIntact(y, nout);
        }
    }
}

// Chronological history of a delay line: the nh - 1 samples from d[pos] on.
Vec history(const Vec &d, int pos)
{
    const int nh = static_cast<int>(d.size());
    Vec hist;
    for (int k = 0; k < nh - 1; ++k)
        hist.push_back(d[(pos + k) % nh]);
    return hist;
}

// A stream cut into random blocks (from single samples to several delay
// lines long, so that all three delay-line updates occur) gives the outputs
// of one block filter over the whole stream behind a zero lead-in, and after
// every block the delay line holds the latest nh - 1 samples in order and
// the sample before them in slot pos - 1.
TEST_P(FirVariant, StreamingInBlocksEqualsOnePiece)
{
    std::vector<double> ref, tol;
    for (int nh = 1; nh <= 40; nh += (nh < 18 ? 1 : 5)) {
        const int total = 400;
        const Vec h = randomVec(rng, nh), in = randomVec(rng, total);
        Vec s(static_cast<std::size_t>(nh - 1), 0.0f);
        s.insert(s.end(), in.begin(), in.end());
        reference(s, h, total, ref, tol);

        Vec d(static_cast<std::size_t>(nh), 0.0f), out;
        int pos = std::uniform_int_distribution<int>(0, nh - 1)(rng); // zero d: any pos is a zero history
        std::uniform_int_distribution<int> blockDist(1, 2 * nh + 3);
        for (int done = 0; done < total;) {
            const int ny = std::min(blockDist(rng), total - done);
            const Vec x(in.begin() + done, in.begin() + done + ny);
            Vec y = guarded(ny);
            pos = sp_fir::firFilter(k, x.data(), h.data(), d.data(), pos, y.data(), nh, ny);
            ASSERT_GE(pos, 0);
            ASSERT_LT(pos, nh);
            expectGuardIntact(y, ny);
            out.insert(out.end(), y.begin(), y.begin() + ny);
            done += ny;
            const Vec want(s.begin() + done, s.begin() + done + nh - 1);
            ASSERT_EQ(history(d, pos), want) << "nh " << nh << " after " << done;
            ASSERT_EQ(d[(pos + nh - 1) % nh], s[done - 1]) << "slot before the history, nh " << nh;
        }
        for (int i = 0; i < total; ++i)
            ASSERT_NEAR(out[i], ref[i], tol[i]) << "nh " << nh << " i " << i;
    }
}

// Decimating stream with the phase carried from block to block keeps exactly
// every step-th output of the whole stream.
TEST_P(FirVariant, DecimatingStreamCarriesPhase)
{
    std::vector<double> ref, tol;
    for (int nh : {1, 2, 3, 7, 16, 17, 24, 32, 40}) {
        for (int step = 2; step <= 5; ++step) {
            const int total = 300;
            const Vec h = randomVec(rng, nh), in = randomVec(rng, total);
            Vec s(static_cast<std::size_t>(nh - 1), 0.0f);
            s.insert(s.end(), in.begin(), in.end());
            reference(s, h, total, ref, tol);

            Vec d(static_cast<std::size_t>(nh), 0.0f), out;
            int pos = 0, phase = 0;
            std::uniform_int_distribution<int> blockDist(1, 2 * nh + 7);
            for (int done = 0; done < total;) {
                const int ny = std::min(blockDist(rng), total - done);
                const int begin = phase;
                const int nout = begin < ny ? (ny - begin - 1) / step + 1 : 0;
                const Vec x(in.begin() + done, in.begin() + done + ny);
                Vec y = guarded(nout);
                pos = sp_fir::firFilterDownsample(k, x.data(), h.data(), d.data(), pos, y.data(), nh, ny, &phase, begin,
                                                  step);
                expectGuardIntact(y, nout);
                ASSERT_EQ(phase, ((begin - ny) % step + step) % step);
                out.insert(out.end(), y.begin(), y.begin() + nout);
                done += ny;
            }
            ASSERT_EQ(out.size(), static_cast<std::size_t>((total - 1) / step + 1));
            for (std::size_t m = 0; m < out.size(); ++m)
                ASSERT_NEAR(out[m], ref[m * step], tol[m * step]) << "nh " << nh << " step " << step << " m " << m;
        }
    }
}

std::vector<const Variant *> allVariants()
{
    std::vector<const Variant *> all;
    for (const Variant &v : dsplib::variants())
        all.push_back(&v);
    return all;
}
std::string variantName(const ::testing::TestParamInfo<const Variant *> &info) { return info.param->name; }
INSTANTIATE_TEST_SUITE_P(AllCodePaths, FirVariant, ::testing::ValuesIn(allVariants()), variantName);

TEST(FirDispatch, EntryPointsUseTheWidestVariant)
{
#if defined(__ARM_NEON) || defined(__ARM_NEON__)
    ASSERT_NE(dsplib::neonVariant(), nullptr);
    EXPECT_STREQ(dsplib::firVariant().name, "neon");
    EXPECT_GE(dsplib::variants().size(), 2u);
#elif defined(__x86_64__)
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    EXPECT_STREQ(dsplib::firVariant().name, avx2 ? "avx2" : "sse2");
#endif
}

// Small filters with known answers, through the public entries.
TEST(FirPublic, KnownSmallFilters)
{
    const Vec x = {1, 2, 3, 4, 5, 6, 7};
    Vec y(5);
    const float two = 2.0f;
    sp_fir_gen(x.data(), &two, y.data(), 1, 5);
    EXPECT_EQ(y, (Vec{2, 4, 6, 8, 10}));
    const float oldest[] = {1, 0, 0}, newest[] = {0, 0, 1};
    sp_fir_gen(x.data(), oldest, y.data(), 3, 5);
    EXPECT_EQ(y, (Vec{1, 2, 3, 4, 5}));
    voxaim_firFilter(x.data(), newest, y.data(), 3, 5);
    EXPECT_EQ(y, (Vec{3, 4, 5, 6, 7}));

    // One-slot delay line: outputs are twice the inputs, position stays 0.
    float d = 0.0f;
    EXPECT_EQ(sp_fir_filter(x.data(), &two, &d, 0, y.data(), 1, 3), 0);
    EXPECT_EQ(d, 3.0f);
    EXPECT_EQ(sp_fir_filter(x.data() + 3, &two, &d, 0, y.data(), 1, 1), 0);
    EXPECT_EQ(y[0], 8.0f);
}

// An out-of-range position behaves as its remainder mod nh.
TEST(FirPublic, PositionIsReducedModTaps)
{
    const Vec h = {0.5f, -1.0f, 2.0f, 0.25f, 3.0f}, x = {1, -2, 4, 8};
    const Vec d0 = {10, 20, 30, 40, 50};
    for (auto [given, reduced] : {std::pair{7, 2}, std::pair{-1, 4}, std::pair{-11, 4}, std::pair{5, 0}}) {
        Vec da = d0, db = d0, ya(4), yb(4);
        const int pa = sp_fir_filter(x.data(), h.data(), da.data(), given, ya.data(), 5, 4);
        const int pb = sp_fir_filter(x.data(), h.data(), db.data(), reduced, yb.data(), 5, 4);
        EXPECT_EQ(pa, pb) << given;
        EXPECT_EQ(ya, yb) << given;
        EXPECT_EQ(da, db) << given;
    }
    // The invariant's reading of d: with pos 2, history is d[2], d[3], d[4], d[0].
    Vec d = d0, y(1);
    const float newest[] = {0, 0, 0, 1, 0}; // picks s[-1], the newest history sample
    sp_fir_filter(x.data(), newest, d.data(), 2, y.data(), 5, 1);
    EXPECT_EQ(y[0], 10.0f);
}

// The three delay-line layouts: whole replacement, linear shift for blocks of
// about half the line or more from position 0, circular write otherwise.
TEST(FirDelayLine, UpdateLayouts)
{
    const Vec x = {101, 102, 103, 104, 105, 106, 107, 108, 109, 110};
    Vec d = {0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(sp_fir::update_delay_line(x.data(), d.data(), 5, 8, 10), 0);
    EXPECT_EQ(d, (Vec{104, 105, 106, 107, 108, 109, 110, 103}));

    d = {0, 1, 2, 3, 4, 5, 6, 7}; // 4 * (8 / 8) <= 4: stays linear
    EXPECT_EQ(sp_fir::update_delay_line(x.data(), d.data(), 0, 8, 4), 0);
    EXPECT_EQ(d, (Vec{4, 5, 6, 101, 102, 103, 104, 3}));

    d = {0, 1, 2, 3, 4, 5, 6, 7}; // too short a block: circular from slot 7
    EXPECT_EQ(sp_fir::update_delay_line(x.data(), d.data(), 0, 8, 3), 3);
    EXPECT_EQ(d, (Vec{102, 103, 2, 3, 4, 5, 6, 101}));

    d = {0, 1, 2, 3, 4, 5, 6, 7}; // not at position 0: circular, wrapping
    EXPECT_EQ(sp_fir::update_delay_line(x.data(), d.data(), 6, 8, 5), 3);
    EXPECT_EQ(d, (Vec{104, 105, 2, 3, 4, 101, 102, 103}));
}

TEST(FirPublic, ZeroAndNegativeCounts)
{
    const Vec x(20, 1.0f), h(4, 1.0f);
    Vec y = guarded(0);
    sp_fir_gen(x.data(), h.data(), y.data(), 4, 0);
    sp_fir_gen(x.data(), h.data(), y.data(), 4, -3);
    sp_fir_gen_downsample(x.data(), h.data(), y.data(), 4, 0, 0);
    expectGuardIntact(y, 0);

    y = guarded(5);
    sp_fir_gen(x.data(), h.data(), y.data(), 0, 5);
    EXPECT_EQ(Vec(y.begin(), y.begin() + 5), Vec(5, 0.0f));
    expectGuardIntact(y, 5);
    y = guarded(3);
    sp_fir_gen_downsample(x.data(), h.data(), y.data(), -2, 10, 4); // positions 0, 4, 8
    EXPECT_EQ(Vec(y.begin(), y.begin() + 3), Vec(3, 0.0f));
    expectGuardIntact(y, 3);

    Vec d = {9, 9, 9, 9};
    y = guarded(0);
    EXPECT_EQ(sp_fir_filter(x.data(), h.data(), d.data(), 77, y.data(), 4, 0), 77);
    EXPECT_EQ(sp_fir_filter_downsample(x.data(), h.data(), d.data(), -5, y.data(), 4, 0, nullptr, 0), -5);
    expectGuardIntact(y, 0);
    y = guarded(6);
    EXPECT_EQ(sp_fir_filter(x.data(), h.data(), d.data(), 77, y.data(), 0, 6), 77);
    EXPECT_EQ(Vec(y.begin(), y.begin() + 6), Vec(6, 0.0f));
    expectGuardIntact(y, 6);

    // No taps, decimating: begin 1, step 3, ny 8 keeps 1, 4, 7; next phase 2.
    int phase = 1;
    y = guarded(3);
    EXPECT_EQ(sp_fir_filter_downsample(x.data(), h.data(), d.data(), 13, y.data(), 0, 8, &phase, 3), 13);
    EXPECT_EQ(Vec(y.begin(), y.begin() + 3), Vec(3, 0.0f));
    expectGuardIntact(y, 3);
    EXPECT_EQ(phase, 2);
    // begin beyond the block: nothing kept, phase moves on.
    phase = 4;
    y = guarded(0);
    sp_fir_filter_downsample(x.data(), h.data(), d.data(), 0, y.data(), 0, 3, &phase, 5);
    expectGuardIntact(y, 0);
    EXPECT_EQ(phase, 1);
    EXPECT_EQ(d, (Vec{9, 9, 9, 9}));
}

TEST(FirPublic, DecimatingPhaseAndStepOne)
{
    Vec x(10), h = {1.0f}, d = {0.0f}, y = guarded(4);
    for (int i = 0; i < 10; ++i)
        x[i] = float(i);
    int phase = 0;
    sp_fir_filter_downsample(x.data(), h.data(), d.data(), 0, y.data(), 1, 10, &phase, 3);
    EXPECT_EQ(Vec(y.begin(), y.begin() + 4), (Vec{0, 3, 6, 9}));
    expectGuardIntact(y, 4);
    EXPECT_EQ(phase, 2);
    // Null phase starts at 0; step 1 filters every sample and leaves *phase alone.
    y = guarded(4);
    sp_fir_filter_downsample(x.data(), h.data(), d.data(), 0, y.data(), 1, 10, nullptr, 3);
    EXPECT_EQ(Vec(y.begin(), y.begin() + 4), (Vec{0, 3, 6, 9}));
    phase = 0;
    Vec y1(10);
    sp_fir_filter_downsample(x.data(), h.data(), d.data(), 0, y1.data(), 1, 10, &phase, 1);
    EXPECT_EQ(y1, x);
}

using FirDeathTest = ::testing::Test;

TEST_F(FirDeathTest, BrokenStepOrPhaseIsFatal)
{
    const Vec x(16, 1.0f), h(4, 1.0f);
    Vec d(4, 0.0f), y(16);
    const std::string unit = "functional/audio/libraries/dsplib/arm/sp_fir_neon\\.cpp:[0-9]+: ";
    EXPECT_DEATH(sp_fir_gen_downsample(x.data(), h.data(), y.data(), 4, 8, 0),
                 unit + ".*sp_fir_gen_downsample.*: Assertion `step > 0' failed\\.");
    EXPECT_DEATH(sp_fir_gen_downsample(x.data(), h.data(), y.data(), 4, 8, -2), "Assertion `step > 0' failed");
    EXPECT_DEATH(sp_fir_filter_downsample(x.data(), h.data(), d.data(), 0, y.data(), 4, 8, nullptr, 0),
                 unit + ".*sp_fir_filter_downsample.*: Assertion `step > 0' failed\\.");
    int phase = 3;
    EXPECT_DEATH(sp_fir_filter_downsample(x.data(), h.data(), d.data(), 0, y.data(), 4, 8, &phase, 3),
                 unit + ".*sp_fir_filter_downsample.*: Assertion `begin >= 0 && begin < step' failed\\.");
    phase = -1;
    EXPECT_DEATH(sp_fir_filter_downsample(x.data(), h.data(), d.data(), 0, y.data(), 0, 8, &phase, 3),
                 "Assertion `begin >= 0 && begin < step' failed");
}

} // namespace
