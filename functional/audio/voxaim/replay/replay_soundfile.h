#ifndef FUNCTIONAL_AUDIO_VOXAIM_REPLAY_REPLAY_SOUNDFILE_H
#define FUNCTIONAL_AUDIO_VOXAIM_REPLAY_REPLAY_SOUNDFILE_H
// Multichannel sound files (anything libsndfile reads: WAV, WAVE_FORMAT_
// EXTENSIBLE, FLAC, ...) as engine frames, and WAV files written from them.
//
// Channel i of the file is microphone i of the variant; the file must be at
// 48000 Hz with exactly the variant's channel count. Integer samples reach the
// engine at their own width (bitsPerSample 8, 16, 24 or 32), float samples at
// the 24-bit scale.
#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "functional/audio/voxaim/cmod/track/voxaim_variants.h"

namespace voxaim::replay {

inline constexpr int kEngineSampleRate = 48000;

struct CloseSoundFile {
    void operator()(SNDFILE *file) const noexcept { sf_close(file); }
};
using SoundFileHandle = std::unique_ptr<SNDFILE, CloseSoundFile>;

class SoundFileReader {
public:
    enum class Next { Frame, End, Truncated, Error };

    // Opens `path` for `variant`. False with error() set when libsndfile
    // cannot read it or its rate or channel count do not fit.
    bool open(const char *path, const VariantConfig &variant);

    // Reads the next 2048 samples of every channel into `frame` (sized once
    // and reused). End after the last whole frame; Truncated when the file
    // ends inside a frame (error() tells how much was left, and that frame
    // is not passed on); Error for a read error.
    Next next(std::vector<float> &frame);

    // The bitsPerSample to pass with every frame.
    int32_t bitsPerSample() const { return bits_; }
    uint64_t frameIndex() const { return frame_; }
    const std::string &error() const { return error_; }

private:
    bool fail(std::string message);

    SoundFileHandle file_;
    std::string path_;
    int32_t channels_ = 0;
    int32_t bits_ = 0;
    bool floats_ = false;
    uint64_t frame_ = 0;
    std::vector<int32_t> integers_;
    std::vector<double> doubles_;
    std::string error_;
};

// A WAV file of integer samples at 48000 Hz, written frame by frame (RF64
// once it grows past 4 GiB). The samples come left-justified in 32 bits, as
// SoundFileReader reads them; the file stores `bits` (16, 24 or 32) of each.
// Its header is kept up to date after every write.
class WavWriter {
public:
    bool open(const char *path, int32_t channels, int32_t bits);
    // Appends interleaved samples (a multiple of the channel count).
    bool write(std::span<const int32_t> interleaved);
    // Completes the header; also done by the destructor.
    bool close();
    const std::string &error() const { return error_; }

private:
    SoundFileHandle file_;
    std::string path_;
    int32_t channels_ = 0;
    std::string error_;
};

} // namespace voxaim::replay

#endif
