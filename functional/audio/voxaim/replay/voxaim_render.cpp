// voxaim_render: a sound file of the built-in clips for a talker at a known
// position, for trying the tuning tools on input whose answer is known.
//
//   voxaim_render --type <variant> [-a azimuth] [-e elevation] [-r range]
//                 [--clip speech|noise|FILE] [-n frames] [-s 16|24|32|float]
//                 [--noise white|FILE --snr DB] [--delay whole|fractional]
//                 [--extensible] [--record RAW] [--truth FILE] [-q] <out.wav|out.flac>
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
//
// On a terminal, standard error shows the render's progress and a summary
// at the end (tools_common/progress.h); -q silences them.
//
// Every output file is written to a temporary file beside it and takes its
// path only when all of them are complete: a failed run leaves none.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <numbers>
#include <string>
#include <random>
#include <variant>
#include <vector>

#include "functional/audio/voxaim/cmod/track/unittestGenerator.h"
#include "functional/audio/voxaim/cmod/track/voxaim_geometry.h"
#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/tools_common/command_line.h"
#include "functional/audio/voxaim/tools_common/file.h"
#include "functional/audio/voxaim/tools_common/frames.h"
#include "functional/audio/voxaim/tools_common/progress.h"
#include "functional/audio/voxaim/tools_common/result_csv.h"
#include "functional/audio/voxaim/tools_common/sound_file.h"
#include "functional/audio/voxaim/tools_common/variants.h"
#include "platform/publish/publish.h"

#include <sys/stat.h>

namespace {

using namespace voxaim::tools;

constexpr Tool kTool{"voxaim_render",
                     "usage: voxaim_render --type <variant> [-a azimuth] [-e elevation] [-r range]\n"
                     "                     [--clip speech|noise|FILE] [-n frames] [-s 16|24|32|float]\n"
                     "                     [--noise white|FILE --snr DB] [--delay whole|fractional]\n"
                     "                     [--extensible] [--record RAW]\n"
                     "                     [--truth FILE] [-q] <out.wav|out.flac>"};

struct Options {
    const VariantInfo *variant = nullptr;
    float position[3] = {30.0f, 10.0f, 2.0f}; // degrees, degrees, metres
    uint32_t clip = UNITTEST_CLIP_FEMALE_SPEECH;
    const char *clipFile = nullptr; // --clip FILE: the talker's own dry signal
    uint64_t frames = 20;
    bool framesGiven = false;
    bool fractional = false; // --delay fractional
    const char *noise = nullptr; // --noise white|FILE
    std::optional<double> snr;   // --snr DB
    int32_t bits = 24; // or kFloatSamples
    bool extensible = false;
    const char *record = nullptr;
    const char *truth = nullptr;
    const char *output = nullptr;
    bool quiet = false; // -q: no progress line nor summary
    std::string texts[3] = {"30", "10", "2"}; // -a, -e, -r as given, for messages
};

// -a, -e, -r: the position in degrees and metres. Their limits are the
// variant's grids, checked in render().
template <int kAxis>
Problem takePosition(const char *value, Options &options)
{
    constexpr const char *kNames[] = {"azimuth", "elevation", "range"};
    constexpr double kLimits[] = {180, 90, std::numeric_limits<double>::max()};
    double number = 0;
    const Problem problem = parseNumber(value, kNames[kAxis], -kLimits[kAxis], kLimits[kAxis], number);
    options.position[kAxis] = static_cast<float>(number);
    options.texts[kAxis] = value;
    return problem;
}

Problem takeFrames(const char *value, Options &options)
{
    options.framesGiven = true;
    return parseCount(value, "-n", 1, 100000, options.frames);
}

Problem takeSamples(const char *value, Options &options)
{
    options.bits = std::strcmp(value, "float") == 0 ? kFloatSamples : std::atoi(value);
    if (options.bits != kFloatSamples && options.bits != 16 && options.bits != 24 && options.bits != 32)
        return std::string("-s takes 16, 24, 32 or float, not '") + value + "'";
    return std::nullopt;
}

Problem takeClip(const char *value, Options &options)
{
    options.clipFile = nullptr;
    if (std::strcmp(value, "speech") != 0 && std::strcmp(value, "noise") != 0) {
        if (*value == '\0')
            return "--clip takes speech, noise or a sound file, not ''";
        options.clipFile = value;
        return std::nullopt;
    }
    options.clip = std::strcmp(value, "noise") == 0 ? UNITTEST_CLIP_ROOM_NOISE : UNITTEST_CLIP_FEMALE_SPEECH;
    return std::nullopt;
}

Problem takeSnr(const char *value, Options &options)
{
    double number = 0;
    const Problem problem = parseNumber(value, "--snr", -60, 120, number);
    options.snr = number;
    return problem;
}

Problem takeDelay(const char *value, Options &options)
{
    if (std::strcmp(value, "whole") != 0 && std::strcmp(value, "fractional") != 0)
        return std::string("--delay takes whole or fractional, not '") + value + "'";
    options.fractional = std::strcmp(value, "fractional") == 0;
    return std::nullopt;
}

constexpr ToolOption<Options> kOptions[] = {
    {.name = "type", .take = takeVariant<Options>},
    {.letter = 'a', .take = takePosition<0>},
    {.letter = 'e', .take = takePosition<1>},
    {.letter = 'r', .take = takePosition<2>},
    {.name = "clip", .take = takeClip},
    {.letter = 'n', .take = takeFrames},
    {.letter = 's', .take = takeSamples},
    {.name = "extensible", .flag = &Options::extensible},
    {.name = "record", .text = &Options::record},
    {.name = "truth", .text = &Options::truth},
    {.name = "noise", .text = &Options::noise},
    {.name = "snr", .take = takeSnr},
    {.name = "delay", .take = takeDelay},
    {.letter = 'q', .flag = &Options::quiet},
};

// The output files, each written to its temporary file until commit() puts
// them all in place; what is not committed is removed.
class Outputs {
public:
    Outputs() = default;
    Outputs(const Outputs &) = delete;
    Outputs &operator=(const Outputs &) = delete;
    ~Outputs()
    {
        for (publish_file &file : files_) {
            if (file.out != nullptr)
                publish_abandon(&file);
        }
    }

    // The temporary file for `path`, or nullptr (error() set).
    publish_file *add(const char *path)
    {
        publish_file &file = files_.emplace_back();
        if (publish_open(&file, path) == 0)
            return &file;
        error_ = std::string("cannot write ") + path + ": " + std::strerror(errno);
        files_.pop_back();
        return nullptr;
    }

    // Syncs every file and renames each over its path; on a failure the
    // files already renamed are removed again.
    bool commit()
    {
        std::vector<const char *> done;
        for (publish_file &file : files_) {
            if (publish_commit(&file) == PUBLISH_DONE) {
                done.push_back(file.path);
                continue;
            }
            error_ = std::string("cannot write ") + file.path + ": " + std::strerror(errno);
            for (const char *path : done)
                std::remove(path);
            return false;
        }
        return true;
    }

    const std::string &error() const { return error_; }

private:
    std::deque<publish_file> files_; // stays in place as it grows
    std::string error_;
};

// The --truth document: where the talker was, in the results' units.
bool writeTruth(const Options &options, std::FILE *file)
{
    std::string clip = options.clipFile != nullptr ? options.clipFile
                       : options.clip == UNITTEST_CLIP_ROOM_NOISE ? "noise"
                                                                   : "speech";
    std::string json = std::string("{\"variant\":\"") + options.variant->name + "\",\"clip\":";
    appendJsonString(json, clip);
    const char *names[] = {"azimuth", "elevation", "range"};
    for (int i = 0; i < 3; ++i) {
        json += std::string(",\"") + names[i] + "\":";
        appendFloat(json, options.position[i]);
    }
    json += ",\"frames\":" + std::to_string(options.frames) + "}\n";
    return std::fputs(json.c_str(), file) >= 0;
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

// A mono sound file at 48000 Hz in the built-in clips' 24-bit scale, or an
// error message.
std::variant<std::vector<float>, std::string> readClip(const char *path, const char *option = "--clip")
{
    const std::string what = std::string(option) + " " + path + ": ";
    SF_INFO info{};
    const SoundFileHandle file(sf_open(path, SFM_READ, &info));
    if (!file)
        return what + sf_strerror(nullptr);
    if (info.channels != 1 || info.samplerate != kEngineSampleRate)
        return what + "a clip is one channel at 48000 Hz, not " +
               std::to_string(info.channels) + " at " + std::to_string(info.samplerate) + " Hz";
    std::vector<float> samples(static_cast<std::size_t>(info.frames));
    if (sf_readf_float(file.get(), samples.data(), info.frames) != info.frames)
        return what + "read error: " + sf_strerror(file.get());
    for (float &sample : samples)
        sample *= static_cast<float>(kFloatFullScale);
    return samples;
}

// A windowed-sinc fractional delay: kSincTaps taps (a Hann window over
// +-kSincTaps/2 samples), normalised to unit gain at 0 Hz.
constexpr int kSincTaps = 32;

// Frames of a clip, each microphone hearing it with the delay of its extra
// path from the talker relative to microphone 0 (348 m/s): in whole samples
// (the rule of the engine tests' generator: floor(metres x 137.93103 + 0.5)),
// or fractional through the windowed sinc. A file is played once (silence
// before and after it); the built-in clips loop, as the generator's do.
class ClipRenderer {
public:
    ClipRenderer(std::span<const float> clip, bool loop, bool fractional, const float *position, int32_t channels)
        : clip_(clip), loop_(loop), delays_(static_cast<std::size_t>(channels)),
          taps_(fractional ? static_cast<std::size_t>(channels) * kSincTaps : 0), frame_(channels * VOXAIM_FRAME_LENGTH)
    {
        float talker[3];
        voxaim_sphericalToCartesian(position, talker);
        const auto metres = [&talker](int32_t microphone) {
            return voxaim_calculateDistance(talker, voxaim_getMicrophoneCoordinates(microphone));
        };
        const auto whole = [](float distance) { return static_cast<int64_t>(std::floor(distance * 137.93103f + 0.5f)); };
        for (int32_t c = 0; c < channels; ++c) {
            if (!fractional) {
                delays_[c] = whole(metres(c)) - whole(metres(0));
                continue;
            }
            // Output sample n is the clip at n - delay: taps over the clip
            // samples floor(n - delay) - kSincTaps/2 + 1 ... + kSincTaps/2.
            const double delay = (static_cast<double>(metres(c)) - metres(0)) * 48000.0 / 348.0;
            const double lag = std::ceil(delay);
            const double fraction = lag - delay; // 0 <= fraction < 1: n - delay = n - lag + fraction
            delays_[c] = static_cast<int64_t>(lag);
            double sum = 0;
            float *taps = &taps_[static_cast<std::size_t>(c) * kSincTaps];
            for (int j = 0; j < kSincTaps; ++j) {
                const double u = (j - kSincTaps / 2 + 1) - fraction; // tap's distance from the wanted point
                const double sinc = u == 0 ? 1.0 : std::sin(std::numbers::pi * u) / (std::numbers::pi * u);
                const double window = 0.5 * (1 + std::cos(std::numbers::pi * u / (kSincTaps / 2)));
                taps[j] = static_cast<float>(sinc * window);
                sum += sinc * window;
            }
            for (int j = 0; j < kSincTaps; ++j)
                taps[j] = static_cast<float>(taps[j] / sum);
        }
    }

    const float *next()
    {
        for (std::size_t c = 0; c < delays_.size(); ++c) {
            for (int k = 0; k < VOXAIM_FRAME_LENGTH; ++k) {
                const int64_t at = start_ + k - delays_[c];
                float &out = frame_[c * VOXAIM_FRAME_LENGTH + k];
                if (taps_.empty()) {
                    out = sample(at);
                    continue;
                }
                double sum = 0;
                const float *taps = &taps_[c * kSincTaps];
                for (int j = 0; j < kSincTaps; ++j)
                    sum += static_cast<double>(taps[j]) * sample(at + j - kSincTaps / 2 + 1);
                out = static_cast<float>(sum);
            }
        }
        start_ += VOXAIM_FRAME_LENGTH;
        return frame_.data();
    }

private:
    float sample(int64_t at) const
    {
        const auto length = static_cast<int64_t>(clip_.size());
        if (loop_)
            return clip_[static_cast<std::size_t>(((at % length) + length) % length)];
        return at >= 0 && at < length ? clip_[static_cast<std::size_t>(at)] : 0.0f;
    }

    std::span<const float> clip_;
    bool loop_;
    std::vector<int64_t> delays_;
    std::vector<float> taps_;
    std::vector<float> frame_;
    int64_t start_ = 0;
};

// The frames in which the talker counts as active for --snr: a mean square
// at least this share of the loudest frame's (30 dB below it).
constexpr double kActiveShare = 1e-3;

// Noise for every microphone, independent per microphone, at unit scale:
// white (normal, a generator of its own per microphone) or a mono clip
// looped, each microphone starting it at a different offset.
class NoiseSource {
public:
    NoiseSource(std::span<const float> clip, int32_t channels) : clip_(clip)
    {
        for (int32_t c = 0; c < channels; ++c) {
            white_.emplace_back(static_cast<std::mt19937::result_type>(1000 + c));
            at_.push_back(clip.empty() ? 0 : clip.size() * static_cast<std::size_t>(c) / channels);
        }
    }

    // The next frame's noise, channel after channel.
    void next(std::span<float> frame)
    {
        for (std::size_t c = 0; c < at_.size(); ++c) {
            for (int k = 0; k < VOXAIM_FRAME_LENGTH; ++k) {
                float &sample = frame[c * VOXAIM_FRAME_LENGTH + k];
                if (clip_.empty()) {
                    sample = normal_(white_[c]);
                } else {
                    sample = clip_[at_[c]];
                    at_[c] = (at_[c] + 1) % clip_.size();
                }
            }
        }
    }

private:
    std::span<const float> clip_;
    std::vector<std::mt19937> white_;
    std::vector<std::size_t> at_;
    std::normal_distribution<float> normal_{0.0f, 1.0f};
};

Problem takeOperands(std::span<const char *const> operands, Options &options)
{
    if (options.noise != nullptr && !options.snr)
        return "--noise needs --snr DB";
    if (options.snr && options.noise == nullptr)
        return "--snr needs --noise white|FILE";
    if (options.variant == nullptr)
        return "--type <variant> is needed";
    if (operands.size() != 1)
        return operands.empty() ? "no output file" : "one output file, not " + std::to_string(operands.size());
    options.output = operands[0];
    return std::nullopt;
}

int render(const Options &given)
{
    Options options = given;
    std::vector<float> clip;
    if (options.clipFile != nullptr) {
        auto read = readClip(options.clipFile);
        if (std::holds_alternative<std::string>(read))
            return failure(kTool, std::get<std::string>(read));
        clip = std::move(std::get<std::vector<float>>(read));
        if (!options.framesGiven)
            options.frames = clip.size() / VOXAIM_FRAME_LENGTH;
        if (options.frames == 0)
            return failure(kTool, std::string("--clip ") + options.clipFile + ": shorter than one frame (2048 samples)");
    } else if (options.frames * VOXAIM_FRAME_LENGTH > 48000) {
        std::fprintf(stderr, "voxaim_render: the built-in %s clip is 1 s (23.4 frames) and repeats over the %llu "
                             "frames\n", options.clip == UNITTEST_CLIP_ROOM_NOISE ? "noise" : "speech",
                     static_cast<unsigned long long>(options.frames));
    }
    voxaim_initialize(options.variant->type);
    struct Destroy {
        ~Destroy() { voxaim_destroy(); }
    } destroy;
    // A talker outside the grids is no test of them: the engine would answer
    // the nearest cell.
    VoxaimSearchMap ranges{};
    voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_RANGE, &ranges);
    const float nearest = ranges.rows[0], farthest = ranges.rows[ranges.rowCount - 1];
    if (options.position[2] < nearest || options.position[2] > farthest) {
        char limits[64];
        std::snprintf(limits, sizeof limits, " is outside %g..%g (the range grid)", static_cast<double>(nearest),
                      static_cast<double>(farthest));
        return usageError(kTool, "range " + options.texts[2] + limits);
    }
    constexpr double kDegrees = 57.2957763671875; // the results' degrees per radian
    // Azimuths: those of either grid; elevations: the elevation grid's, when
    // the variant has one.
    VoxaimSearchMap elevations{};
    const bool elevationGrid = voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_ELEVATION, &elevations) == 1;
    const auto outsideGrid = [&](int axis, std::initializer_list<std::span<const float>> grids) -> Problem {
        double lo = std::numeric_limits<double>::max(), hi = -lo;
        for (const std::span<const float> grid : grids) {
            for (const float angle : grid) {
                if (std::isfinite(angle)) {
                    lo = std::min(lo, angle * kDegrees);
                    hi = std::max(hi, angle * kDegrees);
                }
            }
        }
        constexpr double kSlack = 0.05; // the limits are printed to 0.1 degree
        if (lo > hi || (options.position[axis] >= lo - kSlack && options.position[axis] <= hi + kSlack))
            return std::nullopt;
        char limits[96];
        std::snprintf(limits, sizeof limits, " is outside %s's grid, %.1f..%.1f", options.variant->name, lo, hi);
        return (axis == 0 ? "azimuth " : "elevation ") + options.texts[axis] + limits;
    };
    const auto cells = [](const float *values, int32_t count) {
        return std::span<const float>(values, static_cast<std::size_t>(count));
    };
    Problem outside = outsideGrid(0, {cells(ranges.azimuths, ranges.columnCount),
                                      elevationGrid ? cells(elevations.azimuths, elevations.columnCount)
                                                    : std::span<const float>()});
    if (!outside && elevationGrid)
        outside = outsideGrid(1, {cells(elevations.rows, elevations.rowCount)});
    if (outside)
        return usageError(kTool, *outside);

    const int32_t channels = options.variant->channels;
    Outputs outputs;
    publish_file *const sound = outputs.add(options.output);
    publish_file *const record = sound != nullptr && options.record != nullptr ? outputs.add(options.record) : nullptr;
    publish_file *const truth = sound != nullptr && options.truth != nullptr ? outputs.add(options.truth) : nullptr;
    if (sound == nullptr || (options.record != nullptr && record == nullptr) ||
        (options.truth != nullptr && truth == nullptr))
        return failure(kTool, outputs.error());
    SoundFileWriter file;
    if (!file.open(options.output, channels, options.bits, options.extensible, options.frames * VOXAIM_FRAME_LENGTH,
                   fileno(sound->out)))
        return failure(kTool, file.error());
    struct StopRecording {
        ~StopRecording() { voxaim_record_stop(); }
    } stopRecording;
    if (record != nullptr && voxaim_record_start(record->temporary) != 1)
        return failure(kTool, std::string("cannot record to ") + options.record);

    const float radians = std::numbers::pi_v<float> / 180.0f;
    const float position[3] = {options.position[0] * radians, options.position[1] * radians, options.position[2]};
    const bool floating = options.bits == kFloatSamples;
    const int32_t width = floating ? kFloatSampleWidth : options.bits;
    const double scale = floating ? 1.0 : std::ldexp(1.0, options.bits - 24); // of the 24-bit clips
    const double limit = floating ? 0.0 : std::ldexp(1.0, options.bits - 1);
    const std::size_t samples = static_cast<std::size_t>(channels) * VOXAIM_FRAME_LENGTH;
    std::vector<float> frame(samples), floats(samples);
    std::vector<int32_t> integers(samples);
    // The talker, rendered again for each pass over the frames.
    struct Talker {
        Talker(std::span<const float> clip, bool loop, bool fractional, const float *position, int32_t channels)
            : clipRenderer(clip, loop, fractional, position, channels)
        {}
        Generator generator;
        ClipRenderer clipRenderer;
    };
    // The built-in clips with whole delays are the generator's own frames.
    const bool ownRender = options.clipFile != nullptr || options.fractional;
    const ClipInfo &builtIn = options.clip == UNITTEST_CLIP_ROOM_NOISE ? roomNoiseInfo : femaleSpeechInfo;
    const std::span<const float> played =
        options.clipFile != nullptr ? std::span<const float>(clip) : std::span(builtIn.samples, builtIn.numberOfSamples);
    const auto talker = [&] {
        return std::make_unique<Talker>(played, options.clipFile == nullptr, options.fractional, position, channels);
    };
    const auto nextFrame = [&options, &position, ownRender](Talker &source) {
        return ownRender ? source.clipRenderer.next() : source.generator.next(position, options.clip);
    };

    // Noise at the SNR asked for: a first pass measures the talker's frames
    // and the noise, the second adds the noise scaled.
    std::vector<float> noiseClip, noise(options.noise != nullptr ? samples : 0);
    float noiseGain = 0;
    if (options.noise != nullptr) {
        if (std::strcmp(options.noise, "white") != 0) {
            auto read = readClip(options.noise, "--noise");
            if (std::holds_alternative<std::string>(read))
                return failure(kTool, std::get<std::string>(read));
            noiseClip = std::move(std::get<std::vector<float>>(read));
            if (noiseClip.empty())
                return failure(kTool, std::string("--noise ") + options.noise + ": the file is empty");
        }
        const auto source = talker();
        NoiseSource noiseSource(noiseClip, channels);
        std::vector<double> powers(options.frames);
        double noiseEnergy = 0;
        for (uint64_t f = 0; f < options.frames; ++f) {
            const float *rendered = nextFrame(*source);
            noiseSource.next(noise);
            for (std::size_t i = 0; i < samples; ++i) {
                powers[f] += static_cast<double>(rendered[i]) * rendered[i];
                noiseEnergy += static_cast<double>(noise[i]) * noise[i];
            }
        }
        const double loudest = *std::max_element(powers.begin(), powers.end());
        double active = 0, activeFrames = 0;
        for (const double power : powers) {
            if (power > 0 && power >= loudest * kActiveShare) {
                active += power;
                ++activeFrames;
            }
        }
        if (activeFrames == 0 || noiseEnergy == 0)
            return failure(kTool, "--snr: the talker or the noise is silent throughout");
        const double signalPower = active / (activeFrames * static_cast<double>(samples));
        const double noisePower = noiseEnergy / (static_cast<double>(options.frames) * static_cast<double>(samples));
        noiseGain = static_cast<float>(std::sqrt(signalPower / (noisePower * std::pow(10.0, *options.snr / 10))));
    }
    const auto source = talker();
    NoiseSource noiseSource(noiseClip, channels);
    std::vector<float> noisy(options.noise != nullptr ? samples : 0);

    printCsvHeader(stdout);
    Progress progress(kTool.program, options.quiet, options.frames);
    for (uint64_t f = 0; f < options.frames; ++f) {
        const float *rendered = nextFrame(*source);
        if (options.noise != nullptr) {
            noiseSource.next(noise);
            for (std::size_t i = 0; i < samples; ++i)
                noisy[i] = rendered[i] + noiseGain * noise[i];
            rendered = noisy.data();
        }
        for (int32_t c = 0; c < channels; ++c) {
            for (int i = 0; i < VOXAIM_FRAME_LENGTH; ++i) {
                const float sample = rendered[c * VOXAIM_FRAME_LENGTH + i];
                const std::size_t at = static_cast<std::size_t>(i) * channels + c;
                if (floating) {
                    floats[at] = static_cast<float>(sample / kFloatFullScale);
                    frame[c * VOXAIM_FRAME_LENGTH + i] = sample;
                } else {
                    const double value = std::clamp(std::nearbyint(sample * scale), -limit, limit - 1.0);
                    integers[at] = static_cast<int32_t>(static_cast<int64_t>(value) << (32 - options.bits));
                    frame[c * VOXAIM_FRAME_LENGTH + i] = static_cast<float>(value);
                }
            }
        }
        if (!(floating ? file.write(std::span<const float>(floats)) : file.write(std::span<const int32_t>(integers))))
            return failure(kTool, file.error());
        VoxaimResult result{};
        voxaim_calculate(frame.data(), width, 0, &result);
        printCsvLine(stdout, f, result);
        progress.frame(f, result);
    }
    progress.summary();
    voxaim_record_stop();
    if (!file.close())
        return failure(kTool, file.error());
    // The recording reports no write error: its length tells.
    struct stat recorded {};
    const auto recordBytes = 4 + options.frames * (8 + samples * sizeof(float));
    if (record != nullptr &&
        (stat(record->temporary, &recorded) != 0 || static_cast<uint64_t>(recorded.st_size) != recordBytes))
        return failure(kTool, std::string("cannot record to ") + options.record + ": the recording is incomplete");
    if (truth != nullptr && !writeTruth(options, truth->out))
        return failure(kTool, std::string("cannot write ") + options.truth + ": " + std::strerror(errno));
    if (!outputs.commit())
        return failure(kTool, outputs.error());
    return std::fflush(stdout) == 0 ? 0 : failure(kTool, "write error on standard output");
}

} // namespace

int main(int argc, char **argv) { return runTool<Options>(kTool, kOptions, argc, argv, takeOperands, render); }
