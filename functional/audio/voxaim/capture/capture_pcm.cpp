#include "functional/audio/voxaim/capture/capture_pcm.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

namespace voxaim::capture {

namespace {

constexpr unsigned kRate = 48000;
constexpr unsigned kBufferPeriods = 8; // slack for a slow frame or file write
constexpr snd_pcm_format_t kFormats[] = {SND_PCM_FORMAT_S32_LE, SND_PCM_FORMAT_S24_LE, SND_PCM_FORMAT_S16_LE};

struct FreeHwParams {
    void operator()(snd_pcm_hw_params_t *params) const noexcept { snd_pcm_hw_params_free(params); }
};

} // namespace

snd_pcm_format_t parseCaptureFormat(const char *name)
{
    for (snd_pcm_format_t format : kFormats) {
        if (std::strcmp(name, snd_pcm_format_name(format)) == 0)
            return format;
    }
    return SND_PCM_FORMAT_UNKNOWN;
}

bool CapturePcm::fail(std::string message)
{
    error_ = std::move(message);
    return false;
}

bool CapturePcm::open(const char *device, unsigned channels, snd_pcm_format_t format)
{
    device_ = device;
    channels_ = channels;
    snd_pcm_t *pcm = nullptr;
    int err = snd_pcm_open(&pcm, device, SND_PCM_STREAM_CAPTURE, 0);
    if (err < 0)
        return fail("cannot open capture device '" + device_ + "': " + snd_strerror(err));
    pcm_.reset(pcm);

    snd_pcm_hw_params_t *raw = nullptr;
    if ((err = snd_pcm_hw_params_malloc(&raw)) < 0)
        return fail(std::string("cannot allocate hardware parameters: ") + snd_strerror(err));
    const std::unique_ptr<snd_pcm_hw_params_t, FreeHwParams> params(raw);
    snd_pcm_hw_params_any(pcm, raw);
    if ((err = snd_pcm_hw_params_set_access(pcm, raw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
        return fail(device_ + ": no interleaved capture: " + snd_strerror(err));
    if (format == SND_PCM_FORMAT_UNKNOWN) {
        for (snd_pcm_format_t candidate : kFormats) {
            if (snd_pcm_hw_params_test_format(pcm, raw, candidate) == 0) {
                format = candidate;
                break;
            }
        }
        if (format == SND_PCM_FORMAT_UNKNOWN)
            return fail(device_ + ": offers none of the sample formats S32_LE, S24_LE, S16_LE");
    }
    if ((err = snd_pcm_hw_params_set_format(pcm, raw, format)) < 0)
        return fail(device_ + ": cannot capture " + snd_pcm_format_name(format) + ": " + snd_strerror(err));
    if ((err = snd_pcm_hw_params_set_channels(pcm, raw, channels)) < 0)
        return fail(device_ + ": cannot capture " + std::to_string(channels) + " channels: " + snd_strerror(err));
    if ((err = snd_pcm_hw_params_set_rate(pcm, raw, kRate, 0)) < 0)
        return fail(device_ + ": cannot capture at " + std::to_string(kRate) + " Hz: " + snd_strerror(err));
    snd_pcm_uframes_t period = kPeriodFrames;
    int dir = 0;
    if ((err = snd_pcm_hw_params_set_period_size_near(pcm, raw, &period, &dir)) < 0)
        return fail(device_ + ": cannot set the period size: " + snd_strerror(err));
    snd_pcm_uframes_t buffer = std::max<snd_pcm_uframes_t>(period * kBufferPeriods, kPeriodFrames * 2);
    if ((err = snd_pcm_hw_params_set_buffer_size_near(pcm, raw, &buffer)) < 0)
        return fail(device_ + ": cannot set the buffer size: " + snd_strerror(err));
    if ((err = snd_pcm_hw_params(pcm, raw)) < 0)
        return fail(device_ + ": cannot apply the capture parameters: " + snd_strerror(err));

    format_ = format;
    bits_ = format == SND_PCM_FORMAT_S16_LE ? 16 : format == SND_PCM_FORMAT_S24_LE ? 24 : 32;
    description_ = device_ + ": " + snd_pcm_format_name(format) + ", " + std::to_string(channels) + " channels, " +
                   std::to_string(kRate) + " Hz, period " + std::to_string(period) + " frames, buffer " +
                   std::to_string(buffer) + " frames";
    if ((err = snd_pcm_prepare(pcm)) < 0)
        return fail(device_ + ": cannot prepare: " + snd_strerror(err));
    return true;
}

CapturePcm::Read CapturePcm::read(std::span<int32_t> samples, unsigned frames, const volatile int &stop)
{
    const std::size_t bytesPerSample = format_ == SND_PCM_FORMAT_S16_LE ? 2 : 4;
    raw_.resize(static_cast<std::size_t>(frames) * channels_ * bytesPerSample);
    unsigned got = 0;
    while (got < frames) {
        if (stop)
            return Read::Interrupted;
        const snd_pcm_sframes_t n = snd_pcm_readi(
            pcm_.get(), raw_.data() + static_cast<std::size_t>(got) * channels_ * bytesPerSample, frames - got);
        if (n == -EINTR || n == -EAGAIN)
            continue;
        if (n == -EPIPE || n == -ESTRPIPE) {
            ++overruns_;
            const int err = snd_pcm_recover(pcm_.get(), static_cast<int>(n), 1);
            std::fprintf(stderr,
                         "voxaim_capture: overrun after %" PRIu64 " samples per channel (%" PRIu64 " so far)%s\n",
                         framesRead_ + got, overruns_, err < 0 ? "" : ", recovered");
            if (err < 0) {
                fail(device_ + ": cannot recover from an overrun: " + snd_strerror(err));
                return Read::Error;
            }
            continue;
        }
        if (n < 0) {
            fail(device_ + ": read error: " + snd_strerror(static_cast<int>(n)));
            return Read::Error;
        }
        got += static_cast<unsigned>(n);
    }
    framesRead_ += got;

    // Little-endian samples, left-justified in 32 bits: S24_LE carries its 24
    // bits in the low three bytes of four.
    const std::size_t count = static_cast<std::size_t>(frames) * channels_;
    const unsigned char *in = raw_.data();
    for (std::size_t i = 0; i < count; ++i) {
        uint32_t value = 0;
        if (bytesPerSample == 2)
            value = static_cast<uint32_t>(in[2 * i] | in[2 * i + 1] << 8) << 16;
        else
            value = static_cast<uint32_t>(in[4 * i]) | static_cast<uint32_t>(in[4 * i + 1]) << 8 |
                    static_cast<uint32_t>(in[4 * i + 2]) << 16 | static_cast<uint32_t>(in[4 * i + 3]) << 24;
        if (format_ == SND_PCM_FORMAT_S24_LE)
            value <<= 8;
        samples[i] = static_cast<int32_t>(value);
    }
    return Read::Frames;
}

} // namespace voxaim::capture
