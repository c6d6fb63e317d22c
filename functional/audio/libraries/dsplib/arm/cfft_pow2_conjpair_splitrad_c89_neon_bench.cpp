// Complex FFT speed and accuracy beside FFTW3 single precision.
//
// Speed: 2048-point forward and 8192-point inverse, ours (the drivers and
// each vector build) and FFTW (plans made with FFTW_MEASURE before timing).
// Accuracy: RMS error relative to a double-precision DFT, as counters
// "err_ours" and "err_fftw" on the speed benchmarks, and for every size
// 2 .. 8192 in BM_CfftAccuracy (counter "ratio" = worse of forward and
// inverse, ours over FFTW).
#include "functional/audio/libraries/dsplib/arm/cfft_pow2_conjpair_splitrad_c89_neon.h"

#include "functional/audio/libraries/dsplib/arm/variants.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <map>
#include <random>
#include <vector>

namespace {

// With --benchmark_repetitions, the fastest repetition: on a shared machine
// the least disturbed one (reported beside mean and median).
double minimum(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

using Cd = std::complex<double>;

std::vector<float> randomSignal(int N, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    std::vector<float> x(2 * static_cast<size_t>(N));
    for (float &v : x)
        v = d(gen);
    return x;
}

// Direct DFT in double precision; sign +1 is the inverse with 1/N.
std::vector<Cd> dft(const std::vector<float> &x, int N, int sign)
{
    std::vector<Cd> w(N), out(N);
    for (int m = 0; m < N; ++m)
        w[m] = std::polar(1.0, sign * 2.0 * M_PI * m / N);
    for (int k = 0; k < N; ++k) {
        Cd acc = 0;
        for (int n = 0, m = 0; n < N; ++n, m = (m + k) & (N - 1))
            acc += Cd(x[2 * n], x[2 * n + 1]) * w[m];
        out[k] = sign > 0 ? acc / static_cast<double>(N) : acc;
    }
    return out;
}

double relativeRms(const float *y, const std::vector<Cd> &ref, double scale = 1.0)
{
    double err = 0, norm = 0;
    for (size_t k = 0; k < ref.size(); ++k) {
        err += std::norm(Cd(y[2 * k], y[2 * k + 1]) * scale - ref[k]);
        norm += std::norm(ref[k]);
    }
    return std::sqrt(err / norm);
}

struct Fftw {
    fftwf_complex *in, *out;
    fftwf_plan plan;
    Fftw(int N, int sign)
    {
        in = fftwf_alloc_complex(N);
        out = fftwf_alloc_complex(N);
        plan = fftwf_plan_dft_1d(N, in, out, sign, FFTW_MEASURE);
    }
    ~Fftw()
    {
        fftwf_destroy_plan(plan);
        fftwf_free(in);
        fftwf_free(out);
    }
    Fftw(const Fftw &) = delete;
    Fftw &operator=(const Fftw &) = delete;
};

// Errors of ours and FFTW at size N, direction inverse or not (cached).
struct Errors {
    double ours, fftw;
};
Errors errorsAt(int N, bool inverse)
{
    static std::map<std::pair<int, bool>, Errors> cache;
    const auto key = std::make_pair(N, inverse);
    if (auto it = cache.find(key); it != cache.end())
        return it->second;
    const std::vector<float> x = randomSignal(N, 1000 + N);
    const std::vector<Cd> ref = dft(x, N, inverse ? +1 : -1);
    std::vector<float> y(2 * N);
    (inverse ? cifft_pow2_conjpair_splitrad_c89 : cfft_pow2_conjpair_splitrad_c89)(N, __builtin_ctz(N), x.data(),
                                                                                   y.data());
    Fftw f(N, inverse ? FFTW_BACKWARD : FFTW_FORWARD);
    std::memcpy(f.in, x.data(), x.size() * sizeof(float));
    fftwf_execute(f.plan);
    const Errors e{relativeRms(y.data(), ref), relativeRms(&f.out[0][0], ref, inverse ? 1.0 / N : 1.0)};
    cache[key] = e;
    return e;
}

void setErrorCounters(benchmark::State &state, int N, bool inverse)
{
    const Errors e = errorsAt(N, inverse);
    state.counters["err_ours"] = e.ours;
    state.counters["err_fftw"] = e.fftw;
}

void runOurs(benchmark::State &state, int N, bool inverse, void (*fn)(int, int, const float *, float *))
{
    const std::vector<float> x = randomSignal(N, 1);
    std::vector<float> y(2 * N);
    for (auto _ : state) {
        fn(N, __builtin_ctz(N), x.data(), y.data());
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    setErrorCounters(state, N, inverse);
}

void runFftw(benchmark::State &state, int N, bool inverse)
{
    Fftw f(N, inverse ? FFTW_BACKWARD : FFTW_FORWARD);
    const std::vector<float> x = randomSignal(N, 1);
    std::memcpy(f.in, x.data(), x.size() * sizeof(float));
    for (auto _ : state) {
        fftwf_execute(f.plan);
        benchmark::DoNotOptimize(f.out);
        benchmark::ClobberMemory();
    }
    setErrorCounters(state, N, inverse);
}

void BM_Cfft2048Forward(benchmark::State &state) { runOurs(state, 2048, false, cfft_pow2_conjpair_splitrad_c89); }
void BM_Fftw2048Forward(benchmark::State &state) { runFftw(state, 2048, false); }
void BM_Cifft8192Inverse(benchmark::State &state) { runOurs(state, 8192, true, cifft_pow2_conjpair_splitrad_c89); }
void BM_Fftw8192Inverse(benchmark::State &state) { runFftw(state, 8192, true); }
BENCHMARK(BM_Cfft2048Forward)->ComputeStatistics("min", minimum);
BENCHMARK(BM_Fftw2048Forward)->ComputeStatistics("min", minimum);
BENCHMARK(BM_Cifft8192Inverse)->ComputeStatistics("min", minimum);
BENCHMARK(BM_Fftw8192Inverse)->ComputeStatistics("min", minimum);

// Each vector build at both sizes, for comparing the code paths.
void BM_CfftBuild(benchmark::State &state)
{
    const auto v = dsplib::variants();
    if (static_cast<size_t>(state.range(0)) >= v.size()) {
        state.SkipWithError("build not available on this processor");
        return;
    }
    const dsplib::Variant &b = v[state.range(0)];
    const bool inverse = state.range(1) != 0;
    const int N = inverse ? 8192 : 2048;
    state.SetLabel(std::string(b.name) + (inverse ? " inverse 8192" : " forward 2048"));
    runOurs(state, N, inverse, inverse ? b.cfftInverse : b.cfftForward);
}
BENCHMARK(BM_CfftBuild)->ArgsProduct({{0, 1, 2}, {0, 1}});

// Accuracy at every size (one evaluation; no timing of interest).
void BM_CfftAccuracy(benchmark::State &state)
{
    const int N = static_cast<int>(state.range(0));
    for (auto _ : state) {
    }
    const Errors f = errorsAt(N, false), i = errorsAt(N, true);
    state.counters["fwd_ours"] = f.ours;
    state.counters["fwd_fftw"] = f.fftw;
    state.counters["inv_ours"] = i.ours;
    state.counters["inv_fftw"] = i.fftw;
    state.counters["ratio"] = std::max(f.ours / std::max(f.fftw, 1e-30), i.ours / std::max(i.fftw, 1e-30));
}
BENCHMARK(BM_CfftAccuracy)->RangeMultiplier(2)->Range(2, 8192)->Iterations(1);

} // namespace
