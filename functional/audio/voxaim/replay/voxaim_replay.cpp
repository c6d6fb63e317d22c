// voxaim_replay: runs a raw-input recording from the field through the engine
// and prints the engine's answer for every frame as CSV on standard output.
//
//   voxaim_replay <recording>
//
// The engine is initialised for the product type in the recording's header;
// every frame record goes to voxaim_calculate with its own sample width and
// input flags, exactly as the device passed them. Problems with the file are
// reported on standard error with exit status 1; lines already printed for
// the frames before a damaged record stay valid.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/replay/replay_csv.h"
#include "functional/audio/voxaim/replay/replay_recording.h"

namespace {

constexpr const char *kProgram = "voxaim_replay";
constexpr const char *kUsage = "usage: voxaim_replay <recording>";

// The engine for one variant, destroyed on every way out.
class EngineSession {
public:
    explicit EngineSession(uint32_t type) { voxaim_initialize(type); }
    ~EngineSession() { voxaim_destroy(); }
    EngineSession(const EngineSession &) = delete;
    EngineSession &operator=(const EngineSession &) = delete;
};

int failure(const std::string &message)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return 1;
}

int replay(const char *path)
{
    using namespace voxaim::replay;
    RecordingReader reader;
    if (!reader.open(path))
        return failure(reader.error());

    EngineSession engine(reader.variant().type);
    if (voxaim_getNumberOfChannels() != reader.channels())
        return failure("the engine runs " + std::to_string(voxaim_getNumberOfChannels()) +
                       " channels for product type " + std::to_string(reader.variant().type) +
                       ", the recording holds " + std::to_string(reader.channels()));

    printCsvHeader(stdout);
    FrameRecord record;
    for (;;) {
        const uint64_t frame = reader.frameIndex();
        const RecordingReader::Next next = reader.next(record);
        if (next == RecordingReader::Next::End)
            break;
        if (next == RecordingReader::Next::Error) {
            std::fflush(stdout); // the frames before the damage come out first
            return failure(reader.error());
        }
        VoxaimResult result{};
        voxaim_calculate(record.samples.data(), record.bitsPerSample, record.inputFlags, &result);
        printCsvLine(stdout, frame, result);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return failure(std::string("write error on standard output: ") + std::strerror(errno));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::printf("%s\n", kUsage);
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "%s\n", kUsage);
        return 1;
    }
    return replay(argv[1]);
}
