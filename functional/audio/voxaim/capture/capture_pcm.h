#ifndef FUNCTIONAL_AUDIO_VOXAIM_CAPTURE_CAPTURE_PCM_H
#define FUNCTIONAL_AUDIO_VOXAIM_CAPTURE_CAPTURE_PCM_H
// An ALSA capture device set up for the engine: interleaved samples at
// 48000 Hz, the variant's channel count, 2048-frame periods and one of the
// sample formats S32_LE, S24_LE (24 bits in 32) or S16_LE.
#include <alsa/asoundlib.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace voxaim::capture {

inline constexpr unsigned kPeriodFrames = 2048;

class CapturePcm {
public:
    // Opens and configures `device`. `format` is the one to use, or
    // SND_PCM_FORMAT_UNKNOWN for the first of S32_LE, S24_LE, S16_LE that the
    // device offers. False with error() set when the device cannot be opened
    // or cannot capture that way.
    bool open(const char *device, unsigned channels, snd_pcm_format_t format);

    enum class Read { Frames, Interrupted, Error };

    // Reads exactly `frames` frames into `samples` (channels x frames, each
    // left-justified in 32 bits, so that the top `bits()` bits carry the
    // sample). Overruns are recovered, counted and reported on standard
    // error; the samples they lost are missing from the frames. Interrupted
    // when `stop` becomes set (by a signal) before the frames are complete.
    Read read(std::span<int32_t> samples, unsigned frames, const volatile int &stop);

    snd_pcm_format_t format() const { return format_; }
    int32_t bits() const { return bits_; }
    uint64_t overruns() const { return overruns_; }
    const std::string &description() const { return description_; }
    const std::string &error() const { return error_; }

private:
    struct ClosePcm {
        void operator()(snd_pcm_t *pcm) const noexcept { snd_pcm_close(pcm); }
    };

    bool fail(std::string message);

    std::unique_ptr<snd_pcm_t, ClosePcm> pcm_;
    std::string device_;
    unsigned channels_ = 0;
    snd_pcm_format_t format_ = SND_PCM_FORMAT_UNKNOWN;
    int32_t bits_ = 0;
    uint64_t overruns_ = 0;
    uint64_t framesRead_ = 0;
    std::vector<unsigned char> raw_;
    std::string description_;
    std::string error_;
};

// "S32_LE" etc. as a format this tool captures; SND_PCM_FORMAT_UNKNOWN else.
snd_pcm_format_t parseCaptureFormat(const char *name);

} // namespace voxaim::capture

#endif
