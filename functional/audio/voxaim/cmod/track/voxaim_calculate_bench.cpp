// Cost of one voxaim_calculate per product variant. A frame is 2048 samples
// at 48 kHz, so the engine must finish one in 42.67 ms; "x_realtime" reports
// how many frames fit into that budget.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "functional/audio/voxaim/cmod/track/voxaim.h"

namespace {

constexpr double FrameBudgetSeconds = 2048.0 / 48000.0;

void calculate(benchmark::State &state)
{
    const auto type = static_cast<uint32_t>(state.range(0));
    voxaim_initialize(type);
    const int channels = voxaim_getNumberOfChannels();
    // Eight frames of white noise with a talker-like level in 24-bit scale.
    std::vector<std::vector<float>> frames(8, std::vector<float>(channels * VOXAIM_FRAME_LENGTH));
    uint32_t seed = 7;
    for (auto &frame : frames)
        for (float &s : frame) {
            seed = seed * 1664525u + 1013904223u;
            s = 1e6f * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
        }
    VoxaimResult result;
    size_t n = 0;
    for (auto _ : state) {
        voxaim_calculate(frames[n++ % frames.size()].data(), 24, 0, &result);
        benchmark::DoNotOptimize(result);
    }
    state.counters["x_realtime"] =
        benchmark::Counter(FrameBudgetSeconds, benchmark::Counter::kIsIterationInvariantRate);
    voxaim_destroy();
}

} // namespace

BENCHMARK(calculate)->ArgName("type")->Arg(0)->Arg(1)->Arg(2)->Arg(4)->Arg(5)->Arg(6)->Arg(7)->Unit(
    benchmark::kMillisecond);
