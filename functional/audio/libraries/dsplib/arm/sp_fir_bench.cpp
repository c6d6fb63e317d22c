// The engine's three FIR passes of the time-domain activity detector
// (32 taps x 2104 outputs, 24 x 2080, 32 x 2048), each measured through the
// public entry, through every code path this machine runs, and as a naive
// double loop, in the same run. Compare medians:
//   dsplib_bench --benchmark_filter=Fir --benchmark_repetitions=9
//                --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "functional/audio/libraries/dsplib/arm/sp_fir_neon.h"
#include "functional/audio/libraries/dsplib/arm/variants.h"

namespace {

struct FirPass {
    int nh;
    int ny;
};
constexpr FirPass kEnginePasses[] = {{32, 2104}, {24, 2080}, {32, 2048}};

struct FirData {
    std::vector<float> x, h, y;
    FirData(int nh, int ny)
        : x(static_cast<std::size_t>(ny + nh - 1)), h(static_cast<std::size_t>(nh)), y(static_cast<std::size_t>(ny))
    {
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        for (float &v : x)
            v = u(rng);
        for (float &v : h)
            v = u(rng);
    }
};

void finish(benchmark::State &state, const FirData &data, FirPass p)
{
    state.SetItemsProcessed(state.iterations() * p.ny);
    benchmark::DoNotOptimize(data.y.data());
}

void firNaive(benchmark::State &state, FirPass p)
{
    FirData data(p.nh, p.ny);
    for (auto _ : state) {
        const float *x = data.x.data();
        const float *h = data.h.data();
        float *y = data.y.data();
        for (int i = 0; i < p.ny; ++i) {
            float s = 0.0f;
            for (int j = 0; j < p.nh; ++j)
                s += h[j] * x[i + j];
            y[i] = s;
        }
        benchmark::ClobberMemory();
    }
    finish(state, data, p);
}

void firPublic(benchmark::State &state, FirPass p)
{
    FirData data(p.nh, p.ny);
    for (auto _ : state) {
        voxaim_firFilter(data.x.data(), data.h.data(), data.y.data(), p.nh, p.ny);
        benchmark::ClobberMemory();
    }
    finish(state, data, p);
}

void firVariant(benchmark::State &state, FirPass p, const dsplib::Variant *k)
{
    FirData data(p.nh, p.ny);
    for (auto _ : state) {
        k->firGen(data.x.data(), data.h.data(), data.y.data(), p.nh, p.ny);
        benchmark::ClobberMemory();
    }
    finish(state, data, p);
}

const bool kRegistered = [] {
    for (FirPass p : kEnginePasses) {
        const std::string shape = std::to_string(p.nh) + "x" + std::to_string(p.ny);
        benchmark::RegisterBenchmark(("Fir/" + shape + "/naive").c_str(), firNaive, p);
        benchmark::RegisterBenchmark(("Fir/" + shape + "/voxaim_firFilter").c_str(), firPublic, p);
        for (const dsplib::Variant &k : dsplib::variants())
            benchmark::RegisterBenchmark(("Fir/" + shape + "/" + k.name).c_str(), firVariant, p, &k);
    }
    return true;
}();

} // namespace
