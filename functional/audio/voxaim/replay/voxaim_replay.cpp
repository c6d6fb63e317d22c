// voxaim_replay: runs a recording through the engine and prints the engine's
// answer for every frame as CSV (or JSON lines) on standard output.
//
//   voxaim_replay [-q] [--format csv|jsonl] [--map N:FILE]...
//                 [--serve [ADDR:]PORT [--speed X] [--no-wait] [--exit]] <recording>
//   voxaim_replay --type <variant> [-q] [--format csv|jsonl] [--flags FILE] [--map N:FILE]...
//                 [--serve [ADDR:]PORT [--speed X] [--no-wait] [--exit]] <sound file>
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
// --speed X, from the moment the first viewer has come (at once with
// --no-wait); after the last frame the final state is served until SIGINT
// or SIGTERM (status 0), or not at all with --exit. --format jsonl prints
// JSON lines instead of the CSV (tools_common/result_csv.h).
//
// Problems with the input are reported on standard error with exit status 1,
// and so is a signal that stops a live view before the last frame; lines
// already printed for the frames before stay valid.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
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
                     "                     [--serve [ADDR:]PORT [--speed X] [--no-wait] [--exit]] <recording>\n"
                     "       voxaim_replay --type <variant> [-q] [--format csv|jsonl] [--flags FILE] [--map N:FILE]...\n"
                     "                     [--serve [ADDR:]PORT [--speed X] [--no-wait] [--exit]] <sound file>"};

using Clock = std::chrono::steady_clock;

// With --serve, SIGINT and SIGTERM are held back from every thread (the live
// view's start with this mask) and taken by the frame loop where it waits:
// for the first viewer, between frames and while the final state is served.
class StopSignals {
public:
    StopSignals()
    {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    }
    ~StopSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // Waits for a stop signal until `deadline`: its number, or 0 when none came.
    int waitUntil(Clock::time_point deadline) const
    {
        for (;;) {
            const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
            const timespec timeout{static_cast<time_t>(seconds.count()),
                                   static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
            const int signal = sigtimedwait(&set_, nullptr, &timeout);
            if (signal > 0 || errno == EAGAIN)
                return std::max(signal, 0);
        }
    }

    // Waits for a stop signal: its number.
    int wait() const
    {
        int signal = 0;
        while (sigwait(&set_, &signal) != 0) {
        }
        return signal;
    }

    static std::string name(int signal) { return signal == SIGINT ? "SIGINT" : "SIGTERM"; }

private:
    sigset_t set_{}, previous_{};
};

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
    bool noWait = false; // --no-wait: the frames start without a viewer
    bool exitAtEnd = false; // --exit: no final state served
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
                                            {.name = "no-wait", .flag = &Options::noWait},
                                            {.name = "exit", .flag = &Options::exitAtEnd},
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
                         voxaim::live::LiveView &live, const StopSignals *stop, Progress &progress, uint64_t &index)
{
    // With --serve, frame n is shown n frame periods (at --speed) after the first.
    const std::chrono::duration<double> period(VOXAIM_FRAME_LENGTH / 48000.0 /
                                               (options.speed > 0 ? options.speed : 1.0));
    const auto started = Clock::now();
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
            const Clock::time_point due =
                started + std::chrono::duration_cast<Clock::duration>(period * static_cast<double>(index + 1));
            if (const int signal = stop->waitUntil(due)) {
                ++index; // this frame was replayed and shown
                return "stopped by " + StopSignals::name(signal) + " after " + std::to_string(index) + " frames";
            }
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
    if (options.noWait && !options.serve)
        return "--no-wait is for the live view: give --serve too";
    if (options.exitAtEnd && !options.serve)
        return "--exit is for the live view: give --serve too";
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

    std::optional<StopSignals> stop; // before the live view's threads start
    if (options.serve)
        stop.emplace();
    voxaim::live::LiveView live;
    if (!live.start(kTool.program, options.serve, input.variant().name, input.variant().type, options.input))
        return failure(kTool, live.error());
    if (live.serving() && !options.noWait) {
        std::fprintf(stderr, "%s: waiting for the first viewer\n", kTool.program);
        while (!live.viewed()) {
            using namespace std::chrono_literals;
            if (const int signal = stop->waitUntil(Clock::now() + 100ms)) {
                live.finish(0);
                return failure(kTool, "stopped by " + StopSignals::name(signal) + " before any viewer came");
            }
        }
    }
    const ResultPrinter printer(options.output);
    printer.header(stdout);
    uint64_t index = 0;
    Progress progress(kTool.program, options.quiet, input.frameCount(options.input));
    const std::string error = replayFrames(input, options, printer, live, stop ? &*stop : nullptr, progress, index);
    progress.summary();
    const auto fail = [&](const std::string &message) {
        live.finish(index);
        return failure(kTool, message);
    };
    if (!error.empty())
        return fail(error);
    for (const MapRequest &map : options.maps) {
        if (map.first >= index || map.lastNamed().value_or(0) >= index)
            return fail("--map " + map.frames() + ": the input has " + std::to_string(index) + " frames");
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return fail(std::string("write error on standard output: ") + std::strerror(errno));
    if (live.serving() && !options.exitAtEnd) {
        // The output is whole (flushed above): a pipe's reader gets its end now.
        if (const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC); null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::close(null);
        }
        live.end(index);
        std::fprintf(stderr, "%s: %llu frames replayed; the live view stays until interrupted\n", kTool.program,
                     static_cast<unsigned long long>(index));
        stop->wait();
    }
    live.finish(index);
    return 0;
}

} // namespace

int main(int argc, char **argv) { return runTool<Options>(kTool, kOptions, argc, argv, takeOperands, replay); }
