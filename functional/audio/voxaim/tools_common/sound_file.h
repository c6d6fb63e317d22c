#ifndef FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_SOUND_FILE_H
#define FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_SOUND_FILE_H
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
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "functional/audio/voxaim/tools_common/variants.h"

namespace voxaim::tools {

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
    bool open(const char *path, const VariantInfo &variant);

    // Reads the next 2048 samples of every channel into `frame` (sized once
    // and reused). End after the last whole frame; Truncated when the file
    // ends inside a frame (error() tells how much was left, and that frame
    // is not passed on); Error for a read error.
    Next next(std::vector<float> &frame);

    // The bitsPerSample to pass with every frame.
    int32_t bitsPerSample() const { return bits_; }
    uint64_t frameIndex() const { return frame_; }
    // Whole engine frames in the file, as its header says.
    uint64_t frameCount() const { return frameCount_; }
    const std::string &error() const { return error_; }

private:
    bool fail(std::string message);

    uint64_t frameCount_ = 0;
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

// The encoding of floats (full scale 1.0) for SoundFileWriter; integers are
// given by their width, 16, 24 or 32.
inline constexpr int32_t kFloatSamples = 0;

// A sound file at 48000 Hz, written frame by frame, of the kind its name
// ends in (in any case): ".wav", WAVE_FORMAT_EXTENSIBLE with `extensible`,
// or ".flac". The header is kept up to date after every write, so that a
// writer that is killed still leaves a file that reads to its last frame.
class SoundFileWriter {
public:
    // `frames`, samples per channel, when the length is known: a plain WAV
    // file of that length below 4 GiB is written as such. Any other is RF64,
    // which libsndfile writes as WAV (with room for the RF64 sizes) as long
    // as it stays below 4 GiB (25 minutes of 8 channels of 32-bit samples),
    // so that a long capture keeps every sample. False with error() set for
    // a name of another kind, an encoding that kind cannot hold (FLAC: no
    // floats, no 32 bits), or a file that cannot be created. With a
    // `descriptor` (an empty file open for reading and writing, left open),
    // the file is written there; `path` names it and gives its kind.
    bool open(const char *path, int32_t channels, int32_t bits, bool extensible = false,
              std::optional<uint64_t> frames = std::nullopt, int descriptor = -1);
    // Appends interleaved samples (a multiple of the channel count): integers
    // left-justified in 32 bits, as SoundFileReader reads them, of which the
    // file stores the top `bits`; or floats.
    bool write(std::span<const int32_t> interleaved);
    bool write(std::span<const float> interleaved);
    // Completes the header; also done by the destructor.
    bool close();
    const std::string &error() const { return error_; }

private:
    bool fail(std::string message);
    bool written(sf_count_t wrote, std::size_t samples);

    SoundFileHandle file_;
    std::string path_;
    int32_t channels_ = 0;
    std::string error_;
};

} // namespace voxaim::tools

#endif
