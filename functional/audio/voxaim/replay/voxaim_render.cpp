// voxaim_render: a sound file of the built-in clips for a talker at a known
// position, for trying the tuning tools on input whose answer is known.
//
//   voxaim_render --type <variant> [-a azimuth] [-e elevation] [-r range]
//                 [--clip speech|noise] [-n frames] [-s 16|24|32|float]
//                 [--extensible] [--record RAW] [--truth FILE] <out.wav|out.flac>
//
// The test signal generator renders each frame (degrees, metres; defaults
// 30, 10, 2; 20 frames of speech). The file holds it as 16-, 24- or 32-bit
// integers (rounded to that width) or as floats (full scale 1.0, exact), in a
// WAV (WAVE_FORMAT_EXTENSIBLE with --extensible) or, by its name, FLAC file.
// The engine is run on exactly the frames the file holds, at the file's
// width, and its answers are printed as the replay's CSV; with --record it
// also writes them as a raw-input recording. Replaying the sound file with
// voxaim_replay --type prints the same lines. --truth writes the rendered
// position as a small JSON document for voxaim-plot --truth:
//
//   {"variant":"tovak","clip":"speech","azimuth":30,"elevation":10,"range":2,"frames":20}
#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "functional/audio/voxaim/cmod/track/unittestGenerator.h"
#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/replay/replay_csv.h"
#include "functional/audio/voxaim/replay/replay_file.h"
#include "functional/audio/voxaim/replay/replay_frames.h"
#include "functional/audio/voxaim/replay/replay_soundfile.h"

namespace {

using namespace voxaim::replay;
using voxaim::VariantConfig;

constexpr const char *kProgram = "voxaim_render";
constexpr const char *kUsage = "usage: voxaim_render --type <variant> [-a azimuth] [-e elevation] [-r range]\n"
                               "                     [--clip speech|noise] [-n frames] [-s 16|24|32|float]\n"
                               "                     [--extensible] [--record RAW] [--truth FILE] <out.wav|out.flac>";

int failure(const std::string &message)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return 1;
}

struct Options {
    const VariantConfig *variant = nullptr;
    float position[3] = {30.0f, 10.0f, 2.0f}; // degrees, degrees, metres
    uint32_t clip = UNITTEST_CLIP_FEMALE_SPEECH;
    long frames = 20;
    int32_t bits = 24; // 0: float
    bool extensible = false;
    const char *record = nullptr;
    const char *truth = nullptr;
    const char *output = nullptr;
};

bool parseNumber(const char *text, float &value)
{
    char *end = nullptr;
    value = std::strtof(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

// The --truth document: where the talker was, in the results' units.
bool writeTruth(const Options &options)
{
    std::string json = std::string("{\"variant\":\"") + options.variant->name + "\",\"clip\":\"" +
                       (options.clip == UNITTEST_CLIP_ROOM_NOISE ? "noise" : "speech") + "\"";
    const char *names[] = {"azimuth", "elevation", "range"};
    for (int i = 0; i < 3; ++i) {
        json += std::string(",\"") + names[i] + "\":";
        appendFloat(json, options.position[i]);
    }
    json += ",\"frames\":" + std::to_string(options.frames) + "}\n";
    FilePtr file(std::fopen(options.truth, "w"));
    if (!file)
        return false;
    const bool written = std::fputs(json.c_str(), file.get()) >= 0;
    return std::fclose(file.release()) == 0 && written;
}

class Generator {
public:
    Generator() : generator_(createAudioGenerator(voxaim_getNumberOfChannels, voxaim_getMicrophoneCoordinates, false))
    {}
    ~Generator() { destroyAudioGenerator(generator_); }
    Generator(const Generator &) = delete;
    Generator &operator=(const Generator &) = delete;
    const float *next(const float *position, uint32_t clip) { return getNextFrame(position, clip, generator_); }

private:
    AudioGenerator *generator_;
};

int render(const Options &options)
{
    const int32_t channels = options.variant->channels;
    SF_INFO info{};
    info.samplerate = kEngineSampleRate;
    info.channels = channels;
    const std::string name = options.output;
    const bool flac = name.size() >= 5 && name.compare(name.size() - 5, 5, ".flac") == 0;
    info.format = (flac                 ? SF_FORMAT_FLAC
                   : options.extensible ? SF_FORMAT_WAVEX
                                        : SF_FORMAT_WAV) |
                  (options.bits == 0    ? SF_FORMAT_FLOAT
                   : options.bits == 16 ? SF_FORMAT_PCM_16
                   : options.bits == 24 ? SF_FORMAT_PCM_24
                                        : SF_FORMAT_PCM_32);
    if (!sf_format_check(&info))
        return failure(name + ": this file type cannot hold " +
                       (options.bits == 0 ? std::string("float") : std::to_string(options.bits) + "-bit") + " samples");
    SoundFileHandle file(sf_open(options.output, SFM_WRITE, &info));
    if (!file)
        return failure(name + ": cannot write: " + sf_strerror(nullptr));

    voxaim_initialize(options.variant->type);
    struct Destroy {
        ~Destroy() { voxaim_destroy(); }
    } destroy;
    if (options.record != nullptr && voxaim_record_start(options.record) != 1)
        return failure(std::string("cannot record to ") + options.record);

    const float radians = std::numbers::pi_v<float> / 180.0f;
    const float position[3] = {options.position[0] * radians, options.position[1] * radians, options.position[2]};
    const int32_t width = options.bits == 0 ? kFloatSampleWidth : options.bits;
    const double scale = options.bits == 0 ? 1.0 : std::ldexp(1.0, options.bits - 24); // of the 24-bit clips
    const double limit = options.bits == 0 ? 0.0 : std::ldexp(1.0, options.bits - 1);
    const std::size_t samples = static_cast<std::size_t>(channels) * VOXAIM_FRAME_LENGTH;
    std::vector<float> frame(samples), floats(samples);
    std::vector<int32_t> integers(samples);
    Generator generator;

    printCsvHeader(stdout);
    for (long f = 0; f < options.frames; ++f) {
        const float *rendered = generator.next(position, options.clip);
        for (int32_t c = 0; c < channels; ++c) {
            for (int i = 0; i < VOXAIM_FRAME_LENGTH; ++i) {
                const float sample = rendered[c * VOXAIM_FRAME_LENGTH + i];
                const std::size_t at = static_cast<std::size_t>(i) * channels + c;
                if (options.bits == 0) {
                    floats[at] = static_cast<float>(sample / kFloatFullScale);
                    frame[c * VOXAIM_FRAME_LENGTH + i] = sample;
                } else {
                    const double value = std::clamp(std::nearbyint(sample * scale), -limit, limit - 1.0);
                    integers[at] = static_cast<int32_t>(static_cast<int64_t>(value) << (32 - options.bits));
                    frame[c * VOXAIM_FRAME_LENGTH + i] = static_cast<float>(value);
                }
            }
        }
        const sf_count_t written = options.bits == 0 ? sf_writef_float(file.get(), floats.data(), VOXAIM_FRAME_LENGTH)
                                                     : sf_writef_int(file.get(), integers.data(), VOXAIM_FRAME_LENGTH);
        if (written != VOXAIM_FRAME_LENGTH)
            return failure(name + ": write error: " + sf_strerror(file.get()));
        VoxaimResult result{};
        voxaim_calculate(frame.data(), width, 0, &result);
        printCsvLine(stdout, static_cast<uint64_t>(f), result);
    }
    voxaim_record_stop();
    if (sf_close(file.release()) != 0)
        return failure(name + ": cannot complete the file");
    if (options.truth != nullptr && !writeTruth(options))
        return failure(std::string("cannot write ") + options.truth + ": " + std::strerror(errno));
    return std::fflush(stdout) == 0 ? 0 : failure("write error on standard output");
}

} // namespace

int main(int argc, char **argv)
{
    enum { kType = 't', kClip = 'c', kExtensible = 'x', kRecord = 'R', kTruth = 'T', kHelp = 'h' };
    static const option longOptions[] = {{"type", required_argument, nullptr, kType},
                                         {"clip", required_argument, nullptr, kClip},
                                         {"extensible", no_argument, nullptr, kExtensible},
                                         {"record", required_argument, nullptr, kRecord},
                                         {"truth", required_argument, nullptr, kTruth},
                                         {"help", no_argument, nullptr, kHelp},
                                         {nullptr, 0, nullptr, 0}};
    Options options;
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, "+a:e:r:n:s:h", longOptions, nullptr)) != -1;) {
        bool ok = true;
        switch (c) {
        case kType:
            options.variant = parseVariant(optarg);
            if (options.variant == nullptr)
                return failure(std::string("unknown variant '") + optarg + "' (valid: " + variantList() + ")");
            break;
        case 'a':
        case 'e':
        case 'r':
            ok = parseNumber(optarg, options.position[c == 'a' ? 0 : c == 'e' ? 1 : 2]);
            break;
        case 'n':
            options.frames = std::strtol(optarg, nullptr, 10);
            ok = options.frames > 0 && options.frames <= 100000;
            break;
        case 's':
            options.bits = std::strcmp(optarg, "float") == 0 ? 0 : std::atoi(optarg);
            ok = options.bits == 0 || options.bits == 16 || options.bits == 24 || options.bits == 32;
            break;
        case kClip:
            ok = std::strcmp(optarg, "speech") == 0 || std::strcmp(optarg, "noise") == 0;
            options.clip = std::strcmp(optarg, "noise") == 0 ? UNITTEST_CLIP_ROOM_NOISE : UNITTEST_CLIP_FEMALE_SPEECH;
            break;
        case kExtensible:
            options.extensible = true;
            break;
        case kRecord:
            options.record = optarg;
            break;
        case kTruth:
            options.truth = optarg;
            break;
        case kHelp:
            std::printf("%s\n", kUsage);
            return 0;
        default:
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "%s\n", kUsage);
            return 1;
        }
    }
    if (optind + 1 != argc || options.variant == nullptr) {
        std::fprintf(stderr, "%s\n", kUsage);
        return 1;
    }
    options.output = argv[optind];
    return render(options);
}
