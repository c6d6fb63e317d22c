// The raw-input recording: every frame voxaim_calculate is given, with its
// sample width and input flags, after a 4-byte header.
#include <bit>
#include <cstdio>
#include <memory>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/cmod/track/voxaim_internal.h"

namespace {

struct CloseFile {
    void operator()(std::FILE *file) const noexcept { std::fclose(file); }
};
// The raw-input recording, when one is open.
std::unique_ptr<std::FILE, CloseFile> recording;

static_assert(std::endian::native == std::endian::little,
              "the recording format is little-endian, written in native order");

} // namespace

extern "C" int voxaim_record_start(const char *path)
{
    voxaim_record_stop();
    if (path == nullptr)
        return 0;
    recording.reset(std::fopen(path, "wb"));
    if (!recording)
        return 0;
    const unsigned char header[4] = {0xAC, 0x01, static_cast<unsigned char>(ProductType & 0xFF),
                                     static_cast<unsigned char>(NumberOfChannels & 0xFF)};
    if (std::fwrite(header, sizeof header, 1, recording.get()) != 1) {
        recording.reset();
        return 0;
    }
    return 1;
}

extern "C" void voxaim_record_stop(void) { recording.reset(); }

void recordRawFrame(const float *frame, int32_t bitsPerSample, uint32_t inputFlags)
{
    if (!recording)
        return;
    std::FILE *file = recording.get();
    std::fwrite(&bitsPerSample, sizeof bitsPerSample, 1, file);
    std::fwrite(&inputFlags, sizeof inputFlags, 1, file);
    std::fwrite(frame, sizeof(float), static_cast<std::size_t>(NumberOfChannels) * voxaim::kFrameLength, file);
}
