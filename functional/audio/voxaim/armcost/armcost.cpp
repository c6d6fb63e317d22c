// armcost: the calls whose executed ARM instructions armcost.py counts under
// qemu-arm with the insn_count plugin.
//
//   armcost CASE...
//
// Each case is set up outside the counted regions (tables, FFTW plans made
// with FFTW_ESTIMATE, engine initialisation), then its call runs kCalls
// times, each inside its own region between armcost_begin() and
// armcost_end(). For every region the program prints the case's name on a
// line of its own, so the n-th line names the plugin's n-th region. The case
// "empty" is a region with nothing in it: the markers' own cost.
//
// Transform cases: cfft-forward-2048, cfft-inverse-8192, real-forward-4096,
// real-inverse-16384 (ours) and the same names prefixed by "fftw-" (FFTW3f,
// plans made with FFTW_ESTIMATE) or "ne10-" (Ne10's NEON transforms).
// Frame cases: frame-<variant> (mirel, tovak, lumo, zandor, valdrun, feyla,
// brannt): one voxaim_calculate per region over eight frames of the noise
// that the x86 frame benchmark uses.
#include <NE10_dsp.h>
#include <fftw3.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "functional/audio/libraries/dsplib/arm/cfft_pow2_conjpair_splitrad_c89_neon.h"
#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/cmod/track/voxaim_fft.h"

// Region markers: out of line, call-free and distinct, found by the plugin
// through their symbol names.
extern "C" [[gnu::noipa, gnu::used]] void armcost_begin() { __asm__ volatile("nop @ armcost_begin" ::: "memory"); }
extern "C" [[gnu::noipa, gnu::used]] void armcost_end() { __asm__ volatile("nop\n\tnop @ armcost_end" ::: "memory"); }

namespace {

constexpr int kCalls = 3;

// Buffers from FFTW's allocator: 16-byte aligned, as the transforms like.
struct Buffer {
    float *p;
    explicit Buffer(size_t floats) : p(fftwf_alloc_real(floats)) { std::memset(p, 0, floats * sizeof(float)); }
    ~Buffer() { fftwf_free(p); }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
};

// Uniform noise in [-scale, scale) from a linear congruential generator
// whose state carries on from call to call.
void fillNoiseFrom(float *p, size_t n, uint32_t &seed, float scale)
{
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        p[i] = scale * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    }
}

void fillNoise(float *p, size_t n, uint32_t seed, float scale) { fillNoiseFrom(p, n, seed, scale); }

// Runs call kCalls times, each in a region; before runs outside the regions.
void count(const std::string &name, const std::function<void()> &call, const std::function<void()> &before = {})
{
    for (int i = 0; i < kCalls; ++i) {
        if (before)
            before();
        armcost_begin();
        call();
        armcost_end();
        std::printf("%s\n", name.c_str());
    }
}

enum class Peer { Ours, Fftw, Ne10 };

bool complexCase(const std::string &name, Peer peer, bool inverse, int N)
{
    Buffer x(2 * N), y(2 * N);
    fillNoise(x.p, 2 * N, 1, 1.0f);
    if (peer == Peer::Ne10) {
        const ne10_fft_cfg_float32_t cfg = ne10_fft_alloc_c2c_float32_neon(N);
        auto *in = reinterpret_cast<ne10_fft_cpx_float32_t *>(x.p),
             *out = reinterpret_cast<ne10_fft_cpx_float32_t *>(y.p);
        count(name, [&] { ne10_fft_c2c_1d_float32_neon(out, in, cfg, inverse ? 1 : 0); });
        ne10_fft_destroy_c2c_float32(cfg);
        return true;
    }
    if (peer == Peer::Ours) {
        const int log2N = __builtin_ctz(N);
        count(name, [&] {
            (inverse ? cifft_pow2_conjpair_splitrad_c89 : cfft_pow2_conjpair_splitrad_c89)(N, log2N, x.p, y.p);
        });
        return true;
    }
    auto *in = reinterpret_cast<fftwf_complex *>(x.p), *out = reinterpret_cast<fftwf_complex *>(y.p);
    const fftwf_plan plan = fftwf_plan_dft_1d(N, in, out, inverse ? FFTW_BACKWARD : FFTW_FORWARD, FFTW_ESTIMATE);
    fillNoise(x.p, 2 * N, 1, 1.0f); // planning may use the arrays
    count(name, [&] { fftwf_execute(plan); });
    fftwf_destroy_plan(plan);
    return true;
}

bool realForwardCase(const std::string &name, Peer peer, int N)
{
    Buffer x(N), out(N + 2), scratch(N + 2);
    if (peer == Peer::Ne10) {
        const ne10_fft_r2c_cfg_float32_t cfg = ne10_fft_alloc_r2c_float32(N);
        fillNoise(x.p, N, 2, 1.0f);
        count(name, [&] { ne10_fft_r2c_1d_float32_neon(reinterpret_cast<ne10_fft_cpx_float32_t *>(out.p), x.p, cfg); });
        ne10_fft_destroy_r2c_float32(cfg);
        return true;
    }
    if (peer == Peer::Ours) {
        std::vector<float> A(N), B(N);
        voxaim_generateAbTables(A.data(), B.data(), N / 2);
        fillNoise(x.p, N, 2, 1.0f);
        count(name, [&] { voxaim_realFft(N, x.p, nullptr, out.p, 2, A.data(), B.data(), scratch.p); });
        return true;
    }
    const fftwf_plan plan = fftwf_plan_dft_r2c_1d(N, x.p, reinterpret_cast<fftwf_complex *>(out.p), FFTW_ESTIMATE);
    fillNoise(x.p, N, 2, 1.0f);
    count(name, [&] { fftwf_execute(plan); });
    fftwf_destroy_plan(plan);
    return true;
}

// Both inverses consume their input, so each call gets the spectrum afresh
// (outside the region).
bool realInverseCase(const std::string &name, Peer peer, int N)
{
    Buffer spectrum(N + 2), S(N + 2), y(N + 2);
    fillNoise(spectrum.p, N + 2, 3, 1.0f);
    spectrum.p[1] = spectrum.p[N + 1] = 0.0f;
    const auto restore = [&] { std::memcpy(S.p, spectrum.p, (N + 2) * sizeof(float)); };
    if (peer == Peer::Ne10) {
        const ne10_fft_r2c_cfg_float32_t cfg = ne10_fft_alloc_r2c_float32(N);
        count(
            name, [&] { ne10_fft_c2r_1d_float32_neon(y.p, reinterpret_cast<ne10_fft_cpx_float32_t *>(S.p), cfg); },
            restore);
        ne10_fft_destroy_r2c_float32(cfg);
        return true;
    }
    if (peer == Peer::Ours) {
        std::vector<float> A(N), B(N);
        voxaim_generateAbTables(A.data(), B.data(), N / 2);
        count(
            name, [&] { voxaim_realIfft(N, S.p, nullptr, y.p, 2, A.data(), B.data()); }, restore);
        return true;
    }
    const fftwf_plan plan = fftwf_plan_dft_c2r_1d(N, reinterpret_cast<fftwf_complex *>(S.p), y.p, FFTW_ESTIMATE);
    count(
        name, [&] { fftwf_execute(plan); }, restore);
    fftwf_destroy_plan(plan);
    return true;
}

bool frameCase(const std::string &name, const std::string &variant)
{
    static const std::pair<const char *, uint32_t> kTypes[] = {
        {"mirel", 0}, {"tovak", 1}, {"lumo", 2}, {"zandor", 4}, {"valdrun", 5}, {"feyla", 6}, {"brannt", 7}};
    for (const auto &[variantName, type] : kTypes) {
        if (variant != variantName)
            continue;
        voxaim_initialize(type);
        const size_t samples = static_cast<size_t>(voxaim_getNumberOfChannels()) * VOXAIM_FRAME_LENGTH;
        std::vector<std::vector<float>> frames(8, std::vector<float>(samples));
        uint32_t seed = 7;
        for (auto &frame : frames)
            fillNoiseFrom(frame.data(), samples, seed, 1e6f);
        VoxaimResult result;
        for (const auto &frame : frames) {
            armcost_begin();
            voxaim_calculate(frame.data(), 24, 0, &result);
            armcost_end();
            std::printf("%s\n", name.c_str());
        }
        voxaim_destroy();
        return true;
    }
    return false;
}

bool run(const std::string &name)
{
    Peer peer = Peer::Ours;
    std::string what = name;
    for (const auto &[prefix, p] : {std::pair{"fftw-", Peer::Fftw}, std::pair{"ne10-", Peer::Ne10}})
        if (name.rfind(prefix, 0) == 0) {
            peer = p;
            what = name.substr(std::strlen(prefix));
        }
    if (what == "empty" && peer == Peer::Ours) {
        count(name, [] {});
        return true;
    }
    if (what == "cfft-forward-2048")
        return complexCase(name, peer, false, 2048);
    if (what == "cfft-inverse-8192")
        return complexCase(name, peer, true, 8192);
    if (what == "real-forward-4096")
        return realForwardCase(name, peer, 4096);
    if (what == "real-inverse-16384")
        return realInverseCase(name, peer, 16384);
    if (what.rfind("frame-", 0) == 0 && peer == Peer::Ours)
        return frameCase(name, what.substr(6));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (!run(argv[i])) {
            std::fprintf(stderr, "armcost: unknown case %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
