// voxaim_replay_recorder: the reference side of the replay test. Initialises
// the engine for a product type, opens a raw-input recording, feeds a few
// frames of deterministic synthetic input straight to voxaim_calculate and
// prints the answers in the replay's CSV. Replaying the recording must print
// the very same text.
//
//   voxaim_replay_recorder <product type> <recording> <frames>
//
// Input: a noise burst from a talker 2 m away (azimuth 30, elevation 10
// degrees) reaching every microphone with its own whole-sample delay, over a
// faint independent noise floor per channel. The input flags step through
// far-end activity and noise hold and carry an ignored high bit on odd
// frames; every third frame is passed as 16-bit samples (scaled to match), so
// the sample width of each record matters.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/tools_common/variants.h"
#include "functional/audio/voxaim/tools_common/result_csv.h"

namespace {

constexpr int kFrame = VOXAIM_FRAME_LENGTH;
constexpr double kSampleRate = 48000.0;
constexpr double kSpeedOfSound = 343.0;
constexpr double kPi = 3.14159265358979323846;

// A fixed pseudo-random sequence, uniform in -1 ... 1, the same on every
// host and target.
class Noise {
public:
    explicit Noise(uint32_t seed) : state_(seed) {}
    float next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<int32_t>(state_ >> 8) - (1 << 23)) / 8388608.0f;
    }

private:
    uint32_t state_;
};

// Whole-sample delay of every microphone for the talker, earliest mic at 0.
std::vector<int> talkerDelays(int channels)
{
    const double az = 30.0 * kPi / 180.0, el = 10.0 * kPi / 180.0, r = 2.0;
    const double source[3] = {r * std::cos(el) * std::cos(az), r * std::cos(el) * std::sin(az), r * std::sin(el)};
    std::vector<double> distance(channels);
    for (int m = 0; m < channels; ++m) {
        const float *mic = voxaim_getMicrophoneCoordinates(m);
        distance[m] = std::hypot(source[0] - mic[0], source[1] - mic[1], source[2] - mic[2]);
    }
    const double nearest = *std::min_element(distance.begin(), distance.end());
    std::vector<int> delays(channels);
    for (int m = 0; m < channels; ++m)
        delays[m] = static_cast<int>(std::lround((distance[m] - nearest) / kSpeedOfSound * kSampleRate));
    return delays;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: voxaim_replay_recorder <product type> <recording> <frames>\n");
        return 1;
    }
    const auto type = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
    const int frames = std::atoi(argv[3]);
    if (voxaim::tools::findVariant(type) == nullptr || frames < 1) {
        std::fprintf(stderr, "voxaim_replay_recorder: bad product type or frame count\n");
        return 1;
    }

    voxaim_initialize(type);
    if (voxaim_record_start(argv[2]) != 1) {
        std::fprintf(stderr, "voxaim_replay_recorder: cannot record to %s\n", argv[2]);
        voxaim_destroy();
        return 1;
    }
    const int channels = voxaim_getNumberOfChannels();
    const std::vector<int> delays = talkerDelays(channels);
    const int maxDelay = *std::max_element(delays.begin(), delays.end());

    // The talker's signal over the whole run (24-bit scale, about -12 dBFS).
    const int length = frames * kFrame + maxDelay;
    std::vector<float> talker(length, 0.0f);
    Noise source(12345);
    for (float &sample : talker)
        sample = 2.0e6f * source.next();

    Noise floor(777);
    std::vector<float> frame(static_cast<std::size_t>(channels) * kFrame);
    voxaim::tools::printCsvHeader(stdout);
    for (int f = 0; f < frames; ++f) {
        const bool sixteenBit = f % 3 == 1;
        const float scale = sixteenBit ? 1.0f / 256.0f : 1.0f;
        for (int m = 0; m < channels; ++m) {
            for (int i = 0; i < kFrame; ++i) {
                const int n = f * kFrame + i + maxDelay - delays[m];
                frame[m * kFrame + i] = (talker[n] + 2000.0f * floor.next()) * scale;
            }
        }
        const uint32_t inputFlags =
            static_cast<uint32_t>(f == 4) | static_cast<uint32_t>(f == 2) << 1 | (f % 2 ? 0x100u : 0u);
        VoxaimResult result{};
        voxaim_calculate(frame.data(), sixteenBit ? 16 : 24, inputFlags, &result);
        voxaim::tools::printCsvLine(stdout, static_cast<uint64_t>(f), result);
    }
    voxaim_record_stop();
    voxaim_destroy();
    return std::fflush(stdout) == 0 ? 0 : 1;
}
