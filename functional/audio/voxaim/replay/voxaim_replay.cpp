// voxaim_replay: runs a recording through the engine and prints the engine's
// answer for every frame as CSV (or JSON lines) on standard output.
//
//   voxaim_replay [-q] [--format csv|jsonl] [--map N:FILE]... [--serve [ADDR:]PORT [--speed X]] <recording>
//   voxaim_replay --type <variant> [-q] [--format csv|jsonl] [--flags FILE] [--map N:FILE]...
//                 [--serve [ADDR:]PORT [--speed X]] <sound file>
//
// Without --type the file is a raw-input recording from the field: the engine
// is initialised for the product type in its header and every frame record
// goes to voxaim_calculate with its own sample width and input flags, exactly
// as the device passed them. With --type (a variant's number or name) the
// file is a multichannel sound file (tools_common/sound_file.h), replayed
// with input flags 0 or, with --flags, one hex flag word per line and frame.
// --map N:FILE writes the search map of frame N, --map FIRST-LAST/STEP:FILE%d
// those of a series of frames (tools_common/search_map.h); it may be given
// several times. --serve shows the frames in the live view (live/live_view.h)
// at the recording's pace, one frame per 42.67 ms, or X times that with
// --speed X. --format jsonl prints JSON lines instead of the CSV
// (tools_common/result_csv.h).
//
// Problems with the input are reported on standard error with exit status 1;
// lines already printed for the frames before a damaged one stay valid.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
#include "functional/audio/voxaim/live/live_view.h"
#include "functional/audio/voxaim/tools_common/command_line.h"
#include "functional/audio/voxaim/tools_common/flags_file.h"
#include "functional/audio/voxaim/tools_common/frames.h"
#include "functional/audio/voxaim/tools_common/progress.h"
#include "functional/audio/voxaim/tools_common/recording.h"
#include "functional/audio/voxaim/tools_common/result_csv.h"
#include "functional/audio/voxaim/tools_common/search_map.h"
#include "functional/audio/voxaim/tools_common/sound_file.h"
#include "functional/audio/voxaim/tools_common/variants.h"

namespace {

using namespace voxaim::tools;

constexpr Tool kTool{"voxaim_replay",
                     "usage: voxaim_replay [-q] [--format csv|jsonl] [--map N:FILE]...\n"
                     "                     [--serve [ADDR:]PORT [--speed X]] <recording>\n"
                     "       voxaim_replay --type <variant> [-q] [--format csv|jsonl] [--flags FILE]\n"
                     "                     [--map N:FILE]... [--serve [ADDR:]PORT [--speed X]] <sound file>"};

// The engine for one variant, destroyed on every way out.
class EngineSession {
public:
    explicit EngineSession(uint32_t type) { voxaim_initialize(type); }
    ~EngineSession() { voxaim_destroy(); }
    EngineSession(const EngineSession &) = delete;
    EngineSession &operator=(const EngineSession &) = delete;
};

struct Options {
    const VariantInfo *variant = nullptr; // --type: a sound file
    const char *flags = nullptr;
    std::vector<MapRequest> maps;
    std::optional<voxaim::live::Endpoint> serve;
    double speed = 0.0; // 0: not given (1 with --serve)
    bool quiet = false; // -q: no progress line nor summary
    ResultFormat output = ResultFormat::Csv; // --format
    const char *input = nullptr;
};

Problem takeMap(const char *value, Options &options)
{
    const std::optional<MapRequest> map = parseMapRequest(value);
    if (!map)
        return std::string("--map takes N:FILE or FIRST-[LAST][/STEP]:FILE (frame indexes; FILE with %d for the ") +
               "frame when there are several), not '" + value + "'";
    options.maps.push_back(*map);
    return std::nullopt;
}

Problem takeSpeed(const char *value, Options &options)
{
    return parseNumber(value, "--speed", 1e-3, 1e3, options.speed);
}

constexpr ToolOption<Options> kOptions[] = {{.name = "type", .take = takeVariant<Options>},
                                            {.name = "flags", .text = &Options::flags},
                                            {.name = "map", .take = takeMap},
                                            {.name = "serve", .take = voxaim::live::takeServe<Options>},
                                            {.name = "speed", .take = takeSpeed},
                                            {.name = "format", .take = takeResultFormat<Options>},
                                            {.letter = 'q', .flag = &Options::quiet}};

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

    bool openSoundFile(const char *path, const VariantInfo &variant, const char *flagsPath)
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

    const VariantInfo &variant() const { return *variant_; }
    const std::string &error() const { return error_; }

    // The input's frames, as its size or header says.
    uint64_t frameCount(const char *path) const
    {
        if (soundFile_)
            return soundFile_->frameCount();
        struct stat file {};
        const uint64_t record = 8 + static_cast<uint64_t>(variant_->channels) * VOXAIM_FRAME_LENGTH * 4;
        return stat(path, &file) == 0 && file.st_size > 4 ? (static_cast<uint64_t>(file.st_size) - 4) / record : 0;
    }

private:
    bool fail(const std::string &message)
    {
        error_ = message;
        return false;
    }

    RecordingReader recording_;
    std::optional<SoundFileReader> soundFile_;
    std::optional<FlagsReader> flags_;
    const VariantInfo *variant_ = nullptr;
    std::string error_;
};

// Replays every frame of `input`, counting them in `index`; the message of
// the problem that stopped it early, or empty.
std::string replayFrames(Input &input, const Options &options, const ResultPrinter &printer,
                         voxaim::live::LiveView &live, Progress &progress, uint64_t &index)
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
        printer.line(stdout, index, result);
        progress.frame(index, result);
        for (const MapRequest &map : options.maps) {
            std::string error;
            if (map.wants(index) && !writeSearchMap(map.pathFor(index).c_str(), input.variant().name, index, error))
                return error;
        }
        if (live.serving()) {
            std::fflush(stdout);
            live.publish(index, result);
            std::this_thread::sleep_until(started + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                        period * static_cast<double>(index + 1)));
        }
    }
}

Problem takeOperands(std::span<const char *const> operands, Options &options)
{
    if (operands.size() != 1)
        return operands.empty() ? "no input file" : "one input file, not " + std::to_string(operands.size());
    options.input = operands[0];
    if (options.flags != nullptr && options.variant == nullptr)
        return "--flags is for sound files (with --type); a raw-input recording carries its own flags";
    if (options.speed > 0 && !options.serve)
        return "--speed paces the live view: give --serve too";
    return std::nullopt;
}

int replay(const Options &options)
{
    Input input;
    if (options.variant != nullptr ? !input.openSoundFile(options.input, *options.variant, options.flags)
                                   : !input.openRecording(options.input))
        return failure(kTool, input.error());

    EngineSession engine(input.variant().type);
    if (voxaim_getNumberOfChannels() != input.variant().channels)
        return failure(kTool, "the engine runs " + std::to_string(voxaim_getNumberOfChannels()) +
                                  " channels for product type " + std::to_string(input.variant().type) +
                                  ", the input holds " + std::to_string(input.variant().channels));

    voxaim::live::LiveView live;
    if (!live.start(kTool.program, options.serve, input.variant().name, input.variant().type, options.input))
        return failure(kTool, live.error());
    const ResultPrinter printer(options.output);
    printer.header(stdout);
    uint64_t index = 0;
    Progress progress(kTool.program, options.quiet, input.frameCount(options.input));
    const std::string error = replayFrames(input, options, printer, live, progress, index);
    live.finish(index);
    progress.summary();
    if (!error.empty())
        return failure(kTool, error);
    for (const MapRequest &map : options.maps) {
        if (map.first >= index || map.lastNamed().value_or(0) >= index)
            return failure(kTool, "--map " + map.frames() + ": the input has " + std::to_string(index) + " frames");
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return failure(kTool, std::string("write error on standard output: ") + std::strerror(errno));
    return 0;
}

} // namespace

int main(int argc, char **argv) { return runTool<Options>(kTool, kOptions, argc, argv, takeOperands, replay); }
