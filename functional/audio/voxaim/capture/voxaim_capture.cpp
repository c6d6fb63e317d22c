// voxaim_capture: runs the engine live on an ALSA capture device and prints
// its answer for every frame as the replay's CSV, as the frames arrive.
//
//   voxaim_capture --type <variant> [-D device] [-f S32_LE|S24_LE|S16_LE]
//                  [-w FILE] [-n frames] [--format csv|jsonl] [--serve [ADDR:]PORT]
//
// The device is opened at 48000 Hz with the variant's channel count (channel
// i is microphone i) and 2048-frame periods, in the given sample format or
// the first of S32_LE, S24_LE, S16_LE it offers; the samples reach the engine
// at that width. -w also writes the captured audio as a WAV file of that
// width, whole frames only, so that voxaim_replay --type prints the same
// lines from it. -n stops after that many frames; SIGINT or SIGTERM stop
// after the frame in progress is dropped, with the WAV file complete.
// Overruns are recovered, counted and reported on standard error. --serve
// shows every frame in the live view (live_server.h) as it is captured; a
// slow viewer loses frames, the capture none. --format jsonl prints JSON
// lines instead of the CSV (tools_common/result_csv.h).
#include <signal.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "functional/audio/voxaim/capture/capture_pcm.h"
#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/live/live_view.h"
#include "functional/audio/voxaim/tools_common/command_line.h"
#include "functional/audio/voxaim/tools_common/frames.h"
#include "functional/audio/voxaim/tools_common/result_csv.h"
#include "functional/audio/voxaim/tools_common/sound_file.h"
#include "functional/audio/voxaim/tools_common/variants.h"

namespace {

using namespace voxaim::tools;
using voxaim::capture::CapturePcm;
using voxaim::capture::kPeriodFrames;

constexpr Tool kTool{"voxaim_capture", "usage: voxaim_capture --type <variant> [-D device] [-f S32_LE|S24_LE|S16_LE]\n"
                                       "                      [-w FILE] [-n frames] [--format csv|jsonl]\n"
                                       "                      [--serve [ADDR:]PORT]"};

volatile sig_atomic_t StopRequested = 0;

void requestStop(int) { StopRequested = 1; }

struct Options {
    const VariantInfo *variant = nullptr;
    const char *device = "default";
    snd_pcm_format_t format = SND_PCM_FORMAT_UNKNOWN;
    const char *wav = nullptr;
    uint64_t frames = 0; // 0: until stopped
    std::optional<voxaim::live::Endpoint> serve;
    ResultFormat output = ResultFormat::Csv; // --format
};

// Without SA_RESTART, so that a blocking read returns at once.
void catchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

Problem takeFormat(const char *value, Options &options)
{
    options.format = voxaim::capture::parseCaptureFormat(value);
    if (options.format == SND_PCM_FORMAT_UNKNOWN)
        return std::string("unknown sample format '") + value + "' (S32_LE, S24_LE or S16_LE)";
    return std::nullopt;
}

Problem takeFrames(const char *value, Options &options)
{
    return parseCount(value, "-n", 1, UINT64_MAX, options.frames);
}

constexpr ToolOption<Options> kOptions[] = {{.name = "type", .take = takeVariant<Options>},
                                            {.letter = 'D', .text = &Options::device},
                                            {.letter = 'f', .take = takeFormat},
                                            {.letter = 'w', .text = &Options::wav},
                                            {.letter = 'n', .take = takeFrames},
                                            {.name = "format", .take = takeResultFormat<Options>},
                                            {.name = "serve", .take = voxaim::live::takeServe<Options>}};

Problem takeOperands(std::span<const char *const> operands, Options &options)
{
    if (options.variant == nullptr)
        return "--type <variant> is needed";
    if (!operands.empty())
        return std::string("no operands, not '") + operands[0] + "'";
    return std::nullopt;
}

int capture(const Options &options)
{
    catchStopSignals();
    const int32_t channels = options.variant->channels;
    CapturePcm pcm;
    if (!pcm.open(options.device, static_cast<unsigned>(channels), options.format))
        return failure(kTool, pcm.error());
    std::fprintf(stderr, "%s: %s\n", kTool.program, pcm.description().c_str());

    std::optional<SoundFileWriter> wav;
    if (options.wav != nullptr) {
        wav.emplace();
        if (!wav->open(options.wav, channels, pcm.bits()))
            return failure(kTool, wav->error());
    }

    voxaim_initialize(options.variant->type);
    struct Destroy {
        ~Destroy() { voxaim_destroy(); }
    } destroy;

    voxaim::live::LiveView live;
    if (!live.start(kTool.program, options.serve, options.variant->name, options.variant->type, options.device))
        return failure(kTool, live.error());

    const std::size_t samples = static_cast<std::size_t>(channels) * kPeriodFrames;
    std::vector<int32_t> interleaved(samples);
    std::vector<float> frame(samples);
    const ResultPrinter printer(options.output);
    printer.header(stdout);
    std::fflush(stdout);
    uint64_t index = 0;
    for (; options.frames == 0 || index < options.frames; ++index) {
        const CapturePcm::Read read = pcm.read(interleaved, kPeriodFrames, StopRequested);
        if (read == CapturePcm::Read::Interrupted)
            break;
        if (read == CapturePcm::Read::Error)
            return failure(kTool, pcm.error());
        if (wav && !wav->write(std::span<const int32_t>(interleaved)))
            return failure(kTool, wav->error());
        deinterleaveIntegers(interleaved, channels, pcm.bits(), frame);
        VoxaimResult result{};
        voxaim_calculate(frame.data(), pcm.bits(), 0, &result);
        printer.line(stdout, index, result);
        if (std::fflush(stdout) != 0)
            return failure(kTool, std::string("write error on standard output: ") + std::strerror(errno));
        live.publish(index, result);
    }
    live.finish(index);
    if (wav && !wav->close())
        return failure(kTool, wav->error());
    std::fprintf(stderr, "%s: %" PRIu64 " frames, %" PRIu64 " overruns%s\n", kTool.program, index, pcm.overruns(),
                 StopRequested ? ", stopped by a signal" : "");
    return 0;
}

} // namespace

int main(int argc, char **argv) { return runTool<Options>(kTool, kOptions, argc, argv, takeOperands, capture); }
