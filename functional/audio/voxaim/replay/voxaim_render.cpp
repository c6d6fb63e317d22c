// voxaim_render: a sound file of the built-in clips for a talker at a known
// position, for trying the tuning tools on input whose answer is known.
//
//   voxaim_render --type <variant> [[-a azimuth] [-e elevation] [-r range] | --path FILE]
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
// voxaim_replay --type prints the same lines.
//
// --path FILE moves the talker: a CSV of time,azimuth,elevation,range
// (seconds, degrees, metres), interpolated linearly and held at its first
// row before it and at its last after it. The position is taken anew for
// every block of 32 samples (0.67 ms), at the block's centre, and each
// microphone's delay follows it block by block: whole delays step by one
// sample at a time, fractional ones are the windowed sinc made for the
// block's delay, so that the signal stays continuous.
//
// --truth writes, for voxaim-plot --truth, one JSON line per frame with the
// position the engine should report for it: that of the centre of the two
// frames the engine analyses for frame f, f - 2 and f - 1, i.e. the instant
// (f - 1) x 2048 / 48000 s (the frame before the first holds the first
// position):
//
//   {"frame":5,"time":0.170666665,"azimuth":30,"elevation":10,"range":2}
//
// On a terminal, standard error shows the render's progress and a summary
// at the end (tools_common/progress.h); -q silences them.
//
// Every output file is written to a temporary file beside it and takes its
// path only when all of them are complete: a failed run leaves none.
#include <algorithm>
#include <array>
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
#include <string_view>
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
                     "usage: voxaim_render --type <variant> [[-a azimuth] [-e elevation] [-r range] | --path FILE]\n"
                     "                     [--clip speech|noise|FILE] [-n frames] [-s 16|24|32|float]\n"
                     "                     [--noise white|FILE --snr DB] [--delay whole|fractional]\n"
                     "                     [--extensible] [--record RAW]\n"
                     "                     [--truth FILE] [-q] <out.wav|out.flac>"};

// A talker's position: azimuth and elevation in degrees, range in metres.
using Position = std::array<float, 3>;
constexpr const char *kAxes[] = {"azimuth", "elevation", "range"};
constexpr double kAxisLimits[] = {180, 90, std::numeric_limits<double>::max()}; // +-; range's are its grid's

struct Options {
    const VariantInfo *variant = nullptr;
    Position position = {30.0f, 10.0f, 2.0f};
    bool positionGiven = false; // -a, -e or -r
    const char *path = nullptr; // --path FILE: a moving talker
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
    std::array<std::string, 3> texts = {"30", "10", "2"}; // -a, -e, -r as given, for messages
};

// -a, -e, -r: the position in degrees and metres. Their limits are the
// variant's grids, checked in render().
template <int kAxis>
Problem takePosition(const char *value, Options &options)
{
    double number = 0;
    const Problem problem = parseNumber(value, kAxes[kAxis], -kAxisLimits[kAxis], kAxisLimits[kAxis], number);
    options.position[kAxis] = static_cast<float>(number);
    options.texts[kAxis] = value;
    options.positionGiven = true;
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
    {.name = "path", .text = &Options::path},
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

// One line of --truth: frame `frame`, whose position is that at `seconds`.
std::string truthLine(uint64_t frame, float seconds, const Position &position)
{
    std::string json = "{\"frame\":" + std::to_string(frame) + ",\"time\":";
    appendFloat(json, seconds);
    for (int i = 0; i < 3; ++i) {
        json += ",";
        appendJsonString(json, kAxes[i]);
        json += ':';
        appendFloat(json, position[i]);
    }
    return json + "}\n";
}

// A --path file's row: its time (seconds) and position, with the line and
// the fields' texts for messages.
struct PathRow {
    double time;
    Position position;
    int line;
    std::array<std::string, 3> texts;
};

std::string trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

// The rows of a --path file, times rising, or an error message naming the
// line and the field. Line 1 may be the header time,azimuth,elevation,range;
// blank lines are skipped. The grids are checked by the caller.
std::variant<std::vector<PathRow>, std::string> readPath(const char *path)
{
    const std::string what = std::string("--path ") + path;
    errno = 0;
    const FilePtr file(std::fopen(path, "r"));
    if (!file)
        return what + ": " + std::strerror(errno);
    std::vector<PathRow> rows;
    std::string text;
    int line = 0;
    for (int c = 0; c != EOF;) {
        text.clear();
        while ((c = std::fgetc(file.get())) != EOF && c != '\n')
            text += static_cast<char>(c);
        if (c == EOF && text.empty())
            break;
        ++line;
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (trimmed(text).empty())
            continue;
        std::vector<std::string> fields;
        for (std::size_t at = 0;; ++at) {
            const std::size_t comma = std::min(text.find(',', at), text.size());
            fields.push_back(trimmed(std::string_view(text).substr(at, comma - at)));
            if ((at = comma) == text.size())
                break;
        }
        const std::string where = what + " line " + std::to_string(line) + ": ";
        if (line == 1 && fields == std::vector<std::string>{"time", "azimuth", "elevation", "range"})
            continue;
        if (fields.size() != 4)
            return where + std::to_string(fields.size()) + " fields, not the 4 of time,azimuth,elevation,range";
        PathRow row{.time = 0, .position = {}, .line = line, .texts = {fields[1], fields[2], fields[3]}};
        Problem problem = parseNumber(fields[0].c_str(), "time", 0, 86400, row.time);
        for (int axis = 0; axis < 3 && !problem; ++axis) {
            double number = 0;
            problem = parseNumber(fields[axis + 1].c_str(), kAxes[axis], -kAxisLimits[axis], kAxisLimits[axis],
                                  number);
            row.position[axis] = static_cast<float>(number);
        }
        if (problem)
            return where + *problem + (line == 1 ? " (a header line is time,azimuth,elevation,range)" : "");
        if (!rows.empty() && row.time <= rows.back().time)
            return where + "time " + fields[0] + " is not after line " + std::to_string(rows.back().line) + "'s";
        rows.push_back(std::move(row));
    }
    if (std::ferror(file.get()))
        return what + ": read error";
    if (rows.empty())
        return what + ": no positions (lines of time,azimuth,elevation,range)";
    return rows;
}

// Where the talker is at a time: fixed, or along a path, linear between its
// rows and held before the first and after the last.
class Talker {
public:
    explicit Talker(const Position &fixed) : rows_{{.time = 0, .position = fixed, .line = 0, .texts = {}}} {}
    explicit Talker(std::vector<PathRow> rows) : rows_(std::move(rows)) {}

    bool moves() const { return rows_.size() > 1; }
    double end() const { return rows_.back().time; }

    Position at(double seconds) const
    {
        const auto next = std::upper_bound(rows_.begin(), rows_.end(), seconds,
                                           [](double t, const PathRow &row) { return t < row.time; });
        if (next == rows_.begin())
            return rows_.front().position;
        if (next == rows_.end())
            return rows_.back().position;
        const PathRow &before = *(next - 1);
        const double share = (seconds - before.time) / (next->time - before.time);
        Position position;
        for (int i = 0; i < 3; ++i)
            position[i] = static_cast<float>(before.position[i] + share * (next->position[i] - before.position[i]));
        return position;
    }

private:
    std::vector<PathRow> rows_;
};

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

// Samples per block of a moving talker: its position and the delays are
// taken anew for each (0.67 ms, 64 to a frame).
constexpr int kBlockSamples = 32;

// Frames of a clip, each microphone hearing it with the delay of its extra
// path from the talker relative to microphone 0 (348 m/s): in whole samples
// (the rule of the engine tests' generator: floor(metres x 137.93103 + 0.5)),
// or fractional through the windowed sinc. A file is played once (silence
// before and after it); the built-in clips loop, as the generator's do. A
// moving talker's delays are those of its position at the centre of each
// block of kBlockSamples.
class ClipRenderer {
public:
    ClipRenderer(std::span<const float> clip, bool loop, bool fractional, const Talker &talker, int32_t channels)
        : clip_(clip), loop_(loop), talker_(talker), delays_(static_cast<std::size_t>(channels)),
          taps_(fractional ? static_cast<std::size_t>(channels) * kSincTaps : 0), frame_(channels * VOXAIM_FRAME_LENGTH)
    {
        aim(talker.at(0));
    }

    const float *next()
    {
        for (int block = 0; block < VOXAIM_FRAME_LENGTH; block += kBlockSamples) {
            if (talker_.moves())
                aim(talker_.at((static_cast<double>(start_ + block) + kBlockSamples / 2.0) / kEngineSampleRate));
            for (std::size_t c = 0; c < delays_.size(); ++c) {
                for (int k = block; k < block + kBlockSamples; ++k) {
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
        }
        start_ += VOXAIM_FRAME_LENGTH;
        return frame_.data();
    }

private:
    static_assert(VOXAIM_FRAME_LENGTH % kBlockSamples == 0);

    // The delays (and the taps) for a talker at `degrees`.
    void aim(const Position &degrees)
    {
        const float radians = std::numbers::pi_v<float> / 180.0f;
        const float spherical[3] = {degrees[0] * radians, degrees[1] * radians, degrees[2]};
        float talker[3];
        voxaim_sphericalToCartesian(spherical, talker);
        const auto metres = [&talker](int32_t microphone) {
            return voxaim_calculateDistance(talker, voxaim_getMicrophoneCoordinates(microphone));
        };
        const auto whole = [](float distance) { return static_cast<int64_t>(std::floor(distance * 137.93103f + 0.5f)); };
        for (std::size_t c = 0; c < delays_.size(); ++c) {
            const auto microphone = static_cast<int32_t>(c);
            if (taps_.empty()) {
                delays_[c] = whole(metres(microphone)) - whole(metres(0));
                continue;
            }
            // Output sample n is the clip at n - delay: taps over the clip
            // samples floor(n - delay) - kSincTaps/2 + 1 ... + kSincTaps/2.
            const double delay = (static_cast<double>(metres(microphone)) - metres(0)) * 48000.0 / 348.0;
            const double lag = std::ceil(delay);
            const double fraction = lag - delay; // 0 <= fraction < 1: n - delay = n - lag + fraction
            delays_[c] = static_cast<int64_t>(lag);
            double sum = 0;
            float *taps = &taps_[c * kSincTaps];
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

    float sample(int64_t at) const
    {
        const auto length = static_cast<int64_t>(clip_.size());
        if (loop_)
            return clip_[static_cast<std::size_t>(((at % length) + length) % length)];
        return at >= 0 && at < length ? clip_[static_cast<std::size_t>(at)] : 0.0f;
    }

    std::span<const float> clip_;
    bool loop_;
    const Talker &talker_;
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
    if (options.path != nullptr && options.positionGiven)
        return "--path moves the talker: no -a, -e or -r with it";
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
    }
    std::vector<PathRow> path;
    if (options.path != nullptr) {
        auto read = readPath(options.path);
        if (std::holds_alternative<std::string>(read))
            return failure(kTool, std::get<std::string>(read));
        path = std::move(std::get<std::vector<PathRow>>(read));
        // By default the frames up to the path's last row, unless a clip of
        // one's own says how long the render is.
        const double frames = std::ceil(path.back().time * kEngineSampleRate / VOXAIM_FRAME_LENGTH);
        if (!options.framesGiven && options.clipFile == nullptr)
            options.frames = std::max<uint64_t>(1, static_cast<uint64_t>(frames));
        if (options.frames > 100000)
            return failure(kTool, std::string("--path ") + options.path + ": " + std::to_string(options.frames) +
                                      " frames to its end, more than 100000: give -n");
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
    constexpr double kDegrees = 57.2957763671875; // the results' degrees per radian
    // Azimuths: those of either grid; elevations: the elevation grid's, when
    // the variant has one.
    VoxaimSearchMap elevations{};
    const bool elevationGrid = voxaim_getSearchMap(VOXAIM_GRID_AZIMUTH_ELEVATION, &elevations) == 1;
    const auto outsideGrid = [&](int axis, float value, const std::string &text,
                                 std::initializer_list<std::span<const float>> grids) -> Problem {
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
        if (lo > hi || (value >= lo - kSlack && value <= hi + kSlack))
            return std::nullopt;
        char limits[96];
        std::snprintf(limits, sizeof limits, " is outside %s's grid, %.1f..%.1f", options.variant->name, lo, hi);
        return (axis == 0 ? "azimuth " : "elevation ") + text + limits;
    };
    const auto cells = [](const float *values, int32_t count) {
        return std::span<const float>(values, static_cast<std::size_t>(count));
    };
    const auto outside = [&](const Position &position, const std::array<std::string, 3> &texts) -> Problem {
        if (position[2] < nearest || position[2] > farthest) {
            char limits[64];
            std::snprintf(limits, sizeof limits, " is outside %g..%g (the range grid)", static_cast<double>(nearest),
                          static_cast<double>(farthest));
            return "range " + texts[2] + limits;
        }
        Problem problem = outsideGrid(0, position[0], texts[0],
                                      {cells(ranges.azimuths, ranges.columnCount),
                                       elevationGrid ? cells(elevations.azimuths, elevations.columnCount)
                                                     : std::span<const float>()});
        if (!problem && elevationGrid)
            problem = outsideGrid(1, position[1], texts[1], {cells(elevations.rows, elevations.rowCount)});
        return problem;
    };
    // Every row of a path: between them the position stays within the grids'
    // bounds.
    for (const PathRow &row : path) {
        if (const Problem problem = outside(row.position, row.texts))
            return failure(kTool, std::string("--path ") + options.path + " line " + std::to_string(row.line) + ": " +
                                      *problem);
    }
    if (path.empty()) {
        if (const Problem problem = outside(options.position, options.texts))
            return usageError(kTool, *problem);
    }
    const Talker where = path.empty() ? Talker(options.position) : Talker(std::move(path));
    if (options.clipFile == nullptr && options.frames * VOXAIM_FRAME_LENGTH > 48000) {
        std::fprintf(stderr, "voxaim_render: the built-in %s clip is 1 s (23.4 frames) and repeats over the %llu "
                             "frames\n", options.clip == UNITTEST_CLIP_ROOM_NOISE ? "noise" : "speech",
                     static_cast<unsigned long long>(options.frames));
    }

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
    const Position start = where.at(0);
    const float position[3] = {start[0] * radians, start[1] * radians, start[2]};
    const bool floating = options.bits == kFloatSamples;
    const int32_t width = floating ? kFloatSampleWidth : options.bits;
    const double scale = floating ? 1.0 : std::ldexp(1.0, options.bits - 24); // of the 24-bit clips
    const double limit = floating ? 0.0 : std::ldexp(1.0, options.bits - 1);
    const std::size_t samples = static_cast<std::size_t>(channels) * VOXAIM_FRAME_LENGTH;
    std::vector<float> frame(samples), floats(samples);
    std::vector<int32_t> integers(samples);
    // The talker, rendered again for each pass over the frames.
    struct Source {
        Source(std::span<const float> clip, bool loop, bool fractional, const Talker &talker, int32_t channels)
            : clipRenderer(clip, loop, fractional, talker, channels)
        {}
        Generator generator;
        ClipRenderer clipRenderer;
    };
    // The built-in clips with whole delays for a talker that stays put are
    // the generator's own frames.
    const bool ownRender = options.clipFile != nullptr || options.fractional || where.moves();
    const ClipInfo &builtIn = options.clip == UNITTEST_CLIP_ROOM_NOISE ? roomNoiseInfo : femaleSpeechInfo;
    const std::span<const float> played =
        options.clipFile != nullptr ? std::span<const float>(clip) : std::span(builtIn.samples, builtIn.numberOfSamples);
    const auto talker = [&] {
        return std::make_unique<Source>(played, options.clipFile == nullptr, options.fractional, where, channels);
    };
    const auto nextFrame = [&options, &position, ownRender](Source &source) {
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

    bool truthWritten = true;
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
        if (truth != nullptr) {
            // The centre of the frames analysed for frame f: f - 2 and f - 1.
            const double seconds = (static_cast<double>(f) - 1) * VOXAIM_FRAME_LENGTH / kEngineSampleRate;
            truthWritten = truthWritten &&
                           std::fputs(truthLine(f, static_cast<float>(seconds), where.at(seconds)).c_str(),
                                      truth->out) >= 0;
        }
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
    if (!truthWritten)
        return failure(kTool, std::string("cannot write ") + options.truth + ": " + std::strerror(errno));
    if (!outputs.commit())
        return failure(kTool, outputs.error());
    return std::fflush(stdout) == 0 ? 0 : failure(kTool, "write error on standard output");
}

} // namespace

int main(int argc, char **argv) { return runTool<Options>(kTool, kOptions, argc, argv, takeOperands, render); }
