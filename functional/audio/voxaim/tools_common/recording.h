#ifndef FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_RECORDING_H
#define FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_RECORDING_H
// Reading a raw-input recording as the engine writes it (voxaim_record_start):
// a 4-byte header (0xAC, 0x01, product type, channel count; low bytes), then
// one record per frame: bits per sample (int32), input flags (uint32) and the
// frame's channels x 2048 float samples, all little-endian.
//
// The header is checked against the engine's own variant table before anyone
// initialises the engine with it: voxaim_initialize stops the process on an
// invalid product type, so a damaged file must be refused here instead.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "functional/audio/voxaim/tools_common/file.h"
#include "functional/audio/voxaim/tools_common/variants.h"

namespace voxaim::tools {

// One frame record, exactly as it was passed to voxaim_calculate.
struct FrameRecord {
    int32_t bitsPerSample = 0;
    uint32_t inputFlags = 0;
    std::vector<float> samples; // channels x 2048, channel after channel
};

class RecordingReader {
public:
    enum class Next { Frame, End, Error };

    // Opens `path` and checks its header: magic bytes, a valid product type and
    // the channel count of that variant. False with error() set on failure.
    bool open(const char *path);

    // Reads the next frame record into `record` (its sample buffer is sized
    // once and reused). End after the last complete record; Error, with error()
    // set, for a truncated record, a sample width outside 1 ... 32 bits (a
    // damaged record) or a read error.
    Next next(FrameRecord &record);

    const VariantInfo &variant() const { return *variant_; }
    int32_t channels() const { return variant_->channels; }
    // Index of the record the next call to next() reads.
    uint64_t frameIndex() const { return frame_; }
    const std::string &error() const { return error_; }

private:
    bool fail(std::string message);

    FilePtr file_;
    std::string path_;
    const VariantInfo *variant_ = nullptr;
    uint64_t frame_ = 0;
    std::string error_;
};

} // namespace voxaim::tools

#endif
