// Tests of the engine's transforms: split tables, real FFT identities and
// round trips, against a double-precision DFT.
#include "functional/audio/voxaim/cmod/track/voxaim_fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

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

}  // namespace
