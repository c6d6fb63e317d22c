// Real FFT speed and accuracy beside FFTW3 single precision: the engine's
// 4096-point forward (one per channel and frame) and 16384-point inverse
// (one per microphone pair and frame). FFTW plans are made with
// FFTW_MEASURE before timing. Counters "err_ours" and "err_fftw": RMS error
// relative to a double-precision DFT (forward: the n + 1 bins; inverse: the
// N samples).
#include "functional/audio/voxaim/cmod/track/voxaim_fft.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

namespace {

// With --benchmark_repetitions, the fastest repetition: on a shared machine
// the least disturbed one (reported beside mean and median).
double minimum(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

using Cd = std::complex<double>;

std::vector<float> randomValues(size_t count, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    std::vector<float> x(count);
    for (float &v : x)
        v = d(gen);
    return x;
}

struct Tables {
    std::vector<float> A, B;
    explicit Tables(int N) : A(N), B(N) { voxaim_generateAbTables(A.data(), B.data(), N / 2); }
};

// Double-precision DFT of a real signal, bins 0 .. N/2.
std::vector<Cd> realDft(const std::vector<float> &x)
{
    const int N = static_cast<int>(x.size());
    std::vector<Cd> w(N), out(N / 2 + 1);
    for (int m = 0; m < N; ++m)
        w[m] = std::polar(1.0, -2.0 * M_PI * m / N);
    for (int k = 0; k <= N / 2; ++k) {
        Cd acc = 0;
        for (int t = 0, m = 0; t < N; ++t, m = (m + k) & (N - 1))
            acc += static_cast<double>(x[t]) * w[m];
        out[k] = acc;
    }
    return out;
}

// Double-precision inverse of a half-spectrum with real DC and Nyquist bins.
std::vector<double> realIdft(const float *S, int N)
{
    std::vector<Cd> w(N);
    for (int m = 0; m < N; ++m)
        w[m] = std::polar(1.0, 2.0 * M_PI * m / N);
    std::vector<double> x(N);
    for (int t = 0; t < N; ++t) {
        double acc = S[0] + S[N] * ((t & 1) ? -1.0 : 1.0);
        for (int k = 1, m = t; k < N / 2; ++k, m = (m + t) & (N - 1))
            acc += 2.0 * (Cd(S[2 * k], S[2 * k + 1]) * w[m]).real();
        x[t] = acc / N;
    }
    return x;
}

template <class Get>
double relativeRms(size_t count, Get get)
{
    double err = 0, norm = 0;
    for (size_t i = 0; i < count; ++i) {
        const auto [ours, ref] = get(i);
        err += std::norm(ours - ref);
        norm += std::norm(ref);
    }
    return std::sqrt(err / norm);
}

constexpr int kForwardN = 4096, kInverseN = 16384;

void BM_RealFft4096Forward(benchmark::State &state)
{
    const int N = kForwardN;
    const Tables t(N);
    const std::vector<float> x = randomValues(N, 1);
    std::vector<float> out(N + 2), scratch(N + 2);
    for (auto _ : state) {
        voxaim_realFft(N, x.data(), nullptr, out.data(), 2, t.A.data(), t.B.data(), scratch.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    static const std::vector<Cd> ref = realDft(x);
    state.counters["err_ours"] = relativeRms(ref.size(), [&](size_t k) {
        return std::pair{Cd(out[2 * k], out[2 * k + 1]), ref[k]};
    });
}

void BM_FftwReal4096Forward(benchmark::State &state)
{
    const int N = kForwardN;
    float *in = fftwf_alloc_real(N);
    fftwf_complex *out = fftwf_alloc_complex(N / 2 + 1);
    const fftwf_plan plan = fftwf_plan_dft_r2c_1d(N, in, out, FFTW_MEASURE);
    const std::vector<float> x = randomValues(N, 1);
    std::memcpy(in, x.data(), N * sizeof(float));
    for (auto _ : state) {
        fftwf_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    static const std::vector<Cd> ref = realDft(x);
    state.counters["err_fftw"] = relativeRms(ref.size(), [&](size_t k) {
        return std::pair{Cd(out[k][0], out[k][1]), ref[k]};
    });
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
}

// A half-spectrum with real DC and Nyquist bins, in memory from FFTW's
// allocator like every buffer of the inverse benchmarks: the restoring
// copies then run with the same alignment in both (the speed of a 64 KiB
// copy depends on it).
struct Spectrum {
    float *bins;
    explicit Spectrum(int N) : bins(fftwf_alloc_real(N + 2))
    {
        const std::vector<float> S = randomValues(N + 2, 2);
        std::copy(S.begin(), S.end(), bins);
        bins[1] = bins[N + 1] = 0.0f;
    }
    ~Spectrum() { fftwf_free(bins); }
    Spectrum(const Spectrum &) = delete;
    Spectrum &operator=(const Spectrum &) = delete;
};

// Both inverses consume their input (ours writes the samples over the
// spectrum, FFTW's complex-to-real destroys it), so each iteration restores
// the spectrum first.
void BM_RealIfft16384Inverse(benchmark::State &state)
{
    const int N = kInverseN;
    const Tables t(N);
    const Spectrum spectrum(N);
    float *S = fftwf_alloc_real(N + 2), *y = fftwf_alloc_real(N + 2);
    for (auto _ : state) {
        std::memcpy(S, spectrum.bins, (N + 2) * sizeof(float));
        voxaim_realIfft(N, S, nullptr, y, 2, t.A.data(), t.B.data());
        benchmark::DoNotOptimize(S);
        benchmark::ClobberMemory();
    }
    static const std::vector<double> ref = realIdft(spectrum.bins, N);
    state.counters["err_ours"] = relativeRms(ref.size(), [&](size_t i) { return std::pair{Cd(S[i]), Cd(ref[i])}; });
    fftwf_free(S);
    fftwf_free(y);
}

void BM_FftwReal16384Inverse(benchmark::State &state)
{
    const int N = kInverseN;
    fftwf_complex *in = fftwf_alloc_complex(N / 2 + 1);
    float *out = fftwf_alloc_real(N);
    const fftwf_plan plan = fftwf_plan_dft_c2r_1d(N, in, out, FFTW_MEASURE);
    const Spectrum spectrum(N);
    for (auto _ : state) {
        std::memcpy(in, spectrum.bins, (N + 2) * sizeof(float));
        fftwf_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    // FFTW's inverse is unscaled.
    static const std::vector<double> ref = realIdft(spectrum.bins, N);
    state.counters["err_fftw"] = relativeRms(ref.size(), [&](size_t i) {
        return std::pair{Cd(out[i] / double(N)), Cd(ref[i])};
    });
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
}

BENCHMARK(BM_RealFft4096Forward)->ComputeStatistics("min", minimum);
BENCHMARK(BM_FftwReal4096Forward)->ComputeStatistics("min", minimum);
BENCHMARK(BM_RealIfft16384Inverse)->ComputeStatistics("min", minimum);
BENCHMARK(BM_FftwReal16384Inverse)->ComputeStatistics("min", minimum);

} // namespace
