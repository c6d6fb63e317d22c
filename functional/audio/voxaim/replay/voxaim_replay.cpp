// voxaim_replay: runs a recording through the engine and prints the engine's
// answer for every frame as CSV on standard output.
//
//   voxaim_replay [--map N:FILE]... [--serve [ADDR:]PORT [--speed X]] <recording>
//   voxaim_replay --type <variant> [--flags FILE] [--map N:FILE]...
//                 [--serve [ADDR:]PORT [--speed X]] <sound file>
//
// Without --type the file is a raw-input recording from the field: the engine
// is initialised for the product type in its header and every frame record
// goes to voxaim_calculate with its own sample width and input flags, exactly
// as the device passed them. With --type (a variant's number or name) the
// file is a multichannel sound file (replay_soundfile.h), replayed with input
// flags 0 or, with --flags, one hex flag word per line and frame. --map N:FILE
// writes the search map of frame N, --map FIRST-LAST/STEP:FILE%d those of a
// series of frames (replay_map.h); it may be given several times. --serve shows the frames in the live view (live_server.h) at the
// recording's pace, one frame per 42.67 ms, or X times that with --speed X.
//
// Problems with the input are reported on standard error with exit status 1;
// lines already printed for the frames before a damaged one stay valid.
#include <getopt.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/live/live_event.h"
#include "functional/audio/voxaim/live/live_server.h"
#include "functional/audio/voxaim/replay/replay_csv.h"
#include "functional/audio/voxaim/replay/replay_flags.h"
#include "functional/audio/voxaim/replay/replay_frames.h"
#include "functional/audio/voxaim/replay/replay_map.h"
#include "functional/audio/voxaim/replay/replay_recording.h"
#include "functional/audio/voxaim/replay/replay_soundfile.h"

namespace {

using namespace voxaim::replay;
using voxaim::VariantConfig;

constexpr const char *kProgram = "voxaim_replay";
constexpr const char *kUsage = "usage: voxaim_replay [--map N:FILE]... [--serve [ADDR:]PORT [--speed X]] <recording>\n"
                               "       voxaim_replay --type <variant> [--flags FILE] [--map N:FILE]...\n"
                               "                     [--serve [ADDR:]PORT [--speed X]] <sound file>";

// The engine for one variant, destroyed on every way out.
class EngineSession {
public:
    explicit EngineSession(uint32_t type) { voxaim_initialize(type); }
    ~EngineSession() { voxaim_destroy(); }
    EngineSession(const EngineSession &) = delete;
    EngineSession &operator=(const EngineSession &) = delete;
};

struct Options {
    const char *type = nullptr;
    const char *flags = nullptr;
    std::vector<MapRequest> maps;
    std::optional<voxaim::live::Endpoint> serve;
    double speed = 0.0; // 0: not given (1 with --serve)
    const char *input = nullptr;
};

int failure(const std::string &message)
{
    std::fflush(stdout); // the lines of the frames before come out first
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return 1;
}

int usage()
{
    std::fprintf(stderr, "%s\n", kUsage);
    return 1;
}

// One frame for the engine, from either kind of input.
class Input {
public:
    enum class Next { Frame, End, Error };

    bool openRecording(const char *path)
    {
        if (!recording_.open(path))
            return fail(recording_.error());
        variant_ = &recording_.variant();
        return true;
    }

    bool openSoundFile(const char *path, const VariantConfig &variant, const char *flagsPath)
    {
        soundFile_.emplace();
        if (!soundFile_->open(path, variant))
            return fail(soundFile_->error());
        if (flagsPath != nullptr) {
            flags_.emplace();
            if (!flags_->open(flagsPath))
                return fail(flags_->error());
        }
        variant_ = &variant;
        return true;
    }

    Next next(FrameRecord &frame)
    {
        if (!soundFile_) {
            const RecordingReader::Next next = recording_.next(frame);
            if (next == RecordingReader::Next::Error)
                error_ = recording_.error();
            return next == RecordingReader::Next::Frame ? Next::Frame
                   : next == RecordingReader::Next::End ? Next::End
                                                        : Next::Error;
        }
        const SoundFileReader::Next next = soundFile_->next(frame.samples);
        if (next == SoundFileReader::Next::End)
            return Next::End;
        if (next != SoundFileReader::Next::Frame) {
            error_ = soundFile_->error();
            return Next::Error;
        }
        frame.bitsPerSample = soundFile_->bitsPerSample();
        frame.inputFlags = 0;
        if (flags_ && !flags_->next(frame.inputFlags)) {
            error_ = flags_->error();
            return Next::Error;
        }
        return Next::Frame;
    }

    const VariantConfig &variant() const { return *variant_; }
    const std::string &error() const { return error_; }

private:
    bool fail(const std::string &message)
    {
        error_ = message;
        return false;
    }

    RecordingReader recording_;
    std::optional<SoundFileReader> soundFile_;
    std::optional<FlagsReader> flags_;
    const VariantConfig *variant_ = nullptr;
    std::string error_;
};

// Replays every frame of `input`, counting them in `index`; the message of
// the problem that stopped it early, or empty.
std::string replayFrames(Input &input, const Options &options, voxaim::live::LiveServer &live, uint64_t &index)
{
    // With --serve, frame n is shown n frame periods (at --speed) after the first.
    const std::chrono::duration<double> period(VOXAIM_FRAME_LENGTH / 48000.0 /
                                               (options.speed > 0 ? options.speed : 1.0));
    const auto started = std::chrono::steady_clock::now();
    FrameRecord frame;
    for (index = 0;; ++index) {
        const Input::Next next = input.next(frame);
        if (next == Input::Next::End)
            return {};
        if (next == Input::Next::Error)
            return input.error();
        if (firstNonFinite(frame.samples))
            return std::string(options.input) + ": frame " + std::to_string(index) + ": sample not finite";
        VoxaimResult result{};
        voxaim_calculate(frame.samples.data(), frame.bitsPerSample, frame.inputFlags, &result);
        printCsvLine(stdout, index, result);
        for (const MapRequest &map : options.maps) {
            std::string error;
            if (map.wants(index) && !writeSearchMap(map.pathFor(index).c_str(), error))
                return error;
        }
        if (options.serve) {
            std::fflush(stdout);
            live.publish(voxaim::live::frameJson(index, result));
            std::this_thread::sleep_until(started + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                        period * static_cast<double>(index + 1)));
        }
    }
}

int replay(const Options &options)
{
    Input input;
    if (options.type != nullptr) {
        const VariantConfig *variant = parseVariant(options.type);
        if (variant == nullptr)
            return failure(std::string("unknown variant '") + options.type + "' (valid: " + variantList() + ")");
        if (!input.openSoundFile(options.input, *variant, options.flags))
            return failure(input.error());
    } else if (!input.openRecording(options.input)) {
        return failure(input.error());
    }

    EngineSession engine(input.variant().type);
    if (voxaim_getNumberOfChannels() != input.variant().channels)
        return failure("the engine runs " + std::to_string(voxaim_getNumberOfChannels()) +
                       " channels for product type " + std::to_string(input.variant().type) + ", the input holds " +
                       std::to_string(input.variant().channels));

    voxaim::live::LiveServer live;
    if (options.serve) {
        if (!live.start(*options.serve,
                        voxaim::live::helloJson(kProgram, input.variant().name, input.variant().type, options.input)))
            return failure(live.error());
        std::fprintf(stderr, "%s: live view on %s\n", kProgram, live.url().c_str());
    }
    printCsvHeader(stdout);
    uint64_t index = 0;
    const std::string error = replayFrames(input, options, live, index);
    if (options.serve) {
        live.finish(voxaim::live::endJson(index));
        std::fprintf(stderr, "%s: %s\n", kProgram, voxaim::live::describe(live.stats()).c_str());
    }
    if (!error.empty())
        return failure(error);
    for (const MapRequest &map : options.maps) {
        if (map.first >= index || map.lastNamed().value_or(0) >= index)
            return failure("--map " + map.frames() + ": the input has " + std::to_string(index) + " frames");
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return failure(std::string("write error on standard output: ") + std::strerror(errno));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    enum { kType = 't', kFlags = 'f', kMap = 'm', kServe = 's', kSpeed = 'S', kHelp = 'h' };
    static const option longOptions[] = {{"type", required_argument, nullptr, kType},
                                         {"flags", required_argument, nullptr, kFlags},
                                         {"map", required_argument, nullptr, kMap},
                                         {"serve", required_argument, nullptr, kServe},
                                         {"speed", required_argument, nullptr, kSpeed},
                                         {"help", no_argument, nullptr, kHelp},
                                         {nullptr, 0, nullptr, 0}};
    Options options;
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, "+h", longOptions, nullptr)) != -1;) {
        switch (c) {
        case kType:
            options.type = optarg;
            break;
        case kFlags:
            options.flags = optarg;
            break;
        case kMap: {
            const std::optional<MapRequest> map = parseMapRequest(optarg);
            if (!map)
                return failure(std::string("--map takes N:FILE, FIRST-[LAST][/STEP]:FILE (frame indexes, an ") +
                               "output file with %d for the frame when there are several), not '" + optarg + "'");
            options.maps.push_back(*map);
            break;
        }
        case kServe:
            options.serve = voxaim::live::parseEndpoint(optarg);
            if (!options.serve)
                return failure(std::string("--serve takes [ADDR:]PORT, not '") + optarg + "'");
            break;
        case kSpeed: {
            char *end = nullptr;
            options.speed = std::strtod(optarg, &end);
            if (end == optarg || *end != '\0' || !std::isfinite(options.speed) || options.speed <= 0)
                return failure(std::string("--speed takes a factor above 0 (1: the recording's pace), not '") + optarg +
                               "'");
            break;
        }
        case kHelp:
            std::printf("%s\n", kUsage);
            return 0;
        default:
            return usage();
        }
    }
    if (optind + 1 != argc)
        return usage();
    options.input = argv[optind];
    if (options.flags != nullptr && options.type == nullptr)
        return failure("--flags is for sound files (with --type); a raw-input recording carries its own flags");
    if (options.speed > 0 && !options.serve)
        return failure("--speed paces the live view: give --serve too");
    return replay(options);
}
