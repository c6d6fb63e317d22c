// voxaim_capture: runs the engine live on an ALSA capture device and prints
// its answer for every frame as the replay's CSV, as the frames arrive.
//
//   voxaim_capture --type <variant> [-D device] [-f S32_LE|S24_LE|S16_LE]
//                  [-w FILE] [-n frames] [--serve [ADDR:]PORT]
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
// slow viewer loses frames, the capture none.
#include <getopt.h>
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
#include "functional/audio/voxaim/live/live_event.h"
#include "functional/audio/voxaim/live/live_server.h"
#include "functional/audio/voxaim/replay/replay_csv.h"
#include "functional/audio/voxaim/replay/replay_frames.h"
#include "functional/audio/voxaim/replay/replay_soundfile.h"

namespace {

using namespace voxaim::replay;
using voxaim::VariantConfig;
using voxaim::capture::CapturePcm;
using voxaim::capture::kPeriodFrames;

constexpr const char *kProgram = "voxaim_capture";
constexpr const char *kUsage = "usage: voxaim_capture --type <variant> [-D device] [-f S32_LE|S24_LE|S16_LE]\n"
                               "                      [-w FILE] [-n frames] [--serve [ADDR:]PORT]";

volatile sig_atomic_t StopRequested = 0;

void requestStop(int) { StopRequested = 1; }

int failure(const std::string &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return 1;
}

int usage()
{
    std::fprintf(stderr, "%s\n", kUsage);
    return 1;
}

struct Options {
    const VariantConfig *variant = nullptr;
    const char *device = "default";
    snd_pcm_format_t format = SND_PCM_FORMAT_UNKNOWN;
    const char *wav = nullptr;
    uint64_t frames = 0; // 0: until stopped
    std::optional<voxaim::live::Endpoint> serve;
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

int capture(const Options &options)
{
    const int32_t channels = options.variant->channels;
    CapturePcm pcm;
    if (!pcm.open(options.device, static_cast<unsigned>(channels), options.format))
        return failure(pcm.error());
    std::fprintf(stderr, "%s: %s\n", kProgram, pcm.description().c_str());

    std::optional<WavWriter> wav;
    if (options.wav != nullptr) {
        wav.emplace();
        if (!wav->open(options.wav, channels, pcm.bits()))
            return failure(wav->error());
    }

    voxaim_initialize(options.variant->type);
    struct Destroy {
        ~Destroy() { voxaim_destroy(); }
    } destroy;

    voxaim::live::LiveServer live;
    if (options.serve) {
        if (!live.start(*options.serve, voxaim::live::helloJson(kProgram, options.variant->name, options.variant->type,
                                                                options.device)))
            return failure(live.error());
        std::fprintf(stderr, "%s: live view on %s\n", kProgram, live.url().c_str());
    }

    const std::size_t samples = static_cast<std::size_t>(channels) * kPeriodFrames;
    std::vector<int32_t> interleaved(samples);
    std::vector<float> frame(samples);
    printCsvHeader(stdout);
    std::fflush(stdout);
    uint64_t index = 0;
    for (; options.frames == 0 || index < options.frames; ++index) {
        const CapturePcm::Read read = pcm.read(interleaved, kPeriodFrames, StopRequested);
        if (read == CapturePcm::Read::Interrupted)
            break;
        if (read == CapturePcm::Read::Error)
            return failure(pcm.error());
        if (wav && !wav->write(interleaved))
            return failure(wav->error());
        deinterleaveIntegers(interleaved, channels, pcm.bits(), frame);
        VoxaimResult result{};
        voxaim_calculate(frame.data(), pcm.bits(), 0, &result);
        printCsvLine(stdout, index, result);
        if (std::fflush(stdout) != 0)
            return failure(std::string("write error on standard output: ") + std::strerror(errno));
        if (options.serve)
            live.publish(voxaim::live::frameJson(index, result));
    }
    if (options.serve) {
        live.finish(voxaim::live::endJson(index));
        std::fprintf(stderr, "%s: %s\n", kProgram, voxaim::live::describe(live.stats()).c_str());
    }
    if (wav && !wav->close())
        return failure(wav->error());
    std::fprintf(stderr, "%s: %" PRIu64 " frames, %" PRIu64 " overruns%s\n", kProgram, index, pcm.overruns(),
                 StopRequested ? ", stopped by a signal" : "");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    enum { kType = 't', kServe = 's', kHelp = 'h' };
    static const option longOptions[] = {{"type", required_argument, nullptr, kType},
                                         {"serve", required_argument, nullptr, kServe},
                                         {"help", no_argument, nullptr, kHelp},
                                         {nullptr, 0, nullptr, 0}};
    Options options;
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, "+D:f:w:n:h", longOptions, nullptr)) != -1;) {
        switch (c) {
        case kType:
            options.variant = parseVariant(optarg);
            if (options.variant == nullptr)
                return failure(std::string("unknown variant '") + optarg + "' (valid: " + variantList() + ")");
            break;
        case 'D':
            options.device = optarg;
            break;
        case 'f':
            options.format = voxaim::capture::parseCaptureFormat(optarg);
            if (options.format == SND_PCM_FORMAT_UNKNOWN)
                return failure(std::string("unknown sample format '") + optarg + "' (S32_LE, S24_LE or S16_LE)");
            break;
        case 'w':
            options.wav = optarg;
            break;
        case 'n': {
            char *end = nullptr;
            options.frames = std::strtoull(optarg, &end, 10);
            if (end == optarg || *end != '\0' || options.frames == 0 || *optarg == '-')
                return failure(std::string("-n takes a frame count, not '") + optarg + "'");
            break;
        }
        case kServe:
            options.serve = voxaim::live::parseEndpoint(optarg);
            if (!options.serve)
                return failure(std::string("--serve takes [ADDR:]PORT, not '") + optarg + "'");
            break;
        case kHelp:
            std::printf("%s\n", kUsage);
            return 0;
        default:
            return usage();
        }
    }
    if (optind != argc || options.variant == nullptr)
        return usage();
    catchStopSignals();
    return capture(options);
}
