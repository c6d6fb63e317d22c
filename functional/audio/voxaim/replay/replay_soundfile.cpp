#include "functional/audio/voxaim/replay/replay_soundfile.h"

#include <utility>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/replay/replay_frames.h"

namespace voxaim::replay {

namespace {

// The width at which the samples of an encoding reach the engine; 0 for
// encodings read as floats. Companded and ADPCM encodings decode to 16 bits.
int32_t sampleWidth(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_DPCM_8:
        return 8;
    case SF_FORMAT_ALAC_20:
        return 20;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_DWVW_24:
    case SF_FORMAT_ALAC_24:
        return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_ALAC_32:
        return 32;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return 0;
    default:
        return 16;
    }
}

} // namespace

bool SoundFileReader::fail(std::string message)
{
    error_ = std::move(message);
    return false;
}

bool SoundFileReader::open(const char *path, const VariantConfig &variant)
{
    path_ = path;
    SF_INFO info{};
    file_.reset(sf_open(path, SFM_READ, &info));
    if (!file_)
        return fail(path_ + ": cannot read as a sound file: " + sf_strerror(nullptr));
    if (info.samplerate != kEngineSampleRate)
        return fail(path_ + ": sample rate " + std::to_string(info.samplerate) + " Hz, the engine runs at " +
                    std::to_string(kEngineSampleRate) + " Hz");
    if (info.channels != variant.channels)
        return fail(path_ + ": " + std::to_string(info.channels) + " channels, but product type " +
                    std::to_string(variant.type) + " (" + variant.name + ") has " + std::to_string(variant.channels) +
                    " microphones");
    channels_ = variant.channels;
    const int32_t width = sampleWidth(info.format);
    floats_ = width == 0;
    bits_ = floats_ ? kFloatSampleWidth : width;
    const std::size_t samples = static_cast<std::size_t>(channels_) * VOXAIM_FRAME_LENGTH;
    if (floats_)
        doubles_.resize(samples);
    else
        integers_.resize(samples);
    frame_ = 0;
    return true;
}

SoundFileReader::Next SoundFileReader::next(std::vector<float> &frame)
{
    frame.resize(static_cast<std::size_t>(channels_) * VOXAIM_FRAME_LENGTH);
    const sf_count_t got = floats_ ? sf_readf_double(file_.get(), doubles_.data(), VOXAIM_FRAME_LENGTH)
                                   : sf_readf_int(file_.get(), integers_.data(), VOXAIM_FRAME_LENGTH);
    if (got < VOXAIM_FRAME_LENGTH && sf_error(file_.get()) != SF_ERR_NO_ERROR) {
        fail(path_ + ": read error at frame " + std::to_string(frame_) + ": " + sf_strerror(file_.get()));
        return Next::Error;
    }
    if (got == 0)
        return Next::End;
    if (got < VOXAIM_FRAME_LENGTH) {
        fail(path_ + ": truncated last frame " + std::to_string(frame_) + ": " + std::to_string(got) + " of " +
             std::to_string(VOXAIM_FRAME_LENGTH) + " samples per channel, ignored");
        return Next::Truncated;
    }
    if (floats_)
        deinterleaveFloats(doubles_, channels_, frame);
    else
        deinterleaveIntegers(integers_, channels_, bits_, frame);
    ++frame_;
    return Next::Frame;
}

bool WavWriter::open(const char *path, int32_t channels, int32_t bits)
{
    path_ = path;
    channels_ = channels;
    SF_INFO info{};
    info.samplerate = kEngineSampleRate;
    info.channels = channels;
    // RF64 that libsndfile writes as plain WAV as long as the file stays below
    // 4 GiB (25 minutes of 8 channels of 32-bit samples): a long capture
    // keeps every sample instead of overflowing the WAV header's sizes.
    info.format = SF_FORMAT_RF64 | (bits == 16 ? SF_FORMAT_PCM_16 : bits == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_32);
    file_.reset(sf_open(path, SFM_WRITE, &info));
    if (!file_) {
        error_ = path_ + ": cannot write: " + sf_strerror(nullptr);
        return false;
    }
    sf_command(file_.get(), SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    // The header is rewritten after every write, so that even a capture that
    // is killed or loses power leaves a file that reads to its last frame.
    sf_command(file_.get(), SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    return true;
}

bool WavWriter::write(std::span<const int32_t> interleaved)
{
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size() / channels_);
    if (sf_writef_int(file_.get(), interleaved.data(), frames) != frames) {
        error_ = path_ + ": write error: " + sf_strerror(file_.get());
        return false;
    }
    return true;
}

bool WavWriter::close()
{
    if (!file_)
        return true;
    const int status = sf_close(file_.release());
    if (status != 0) {
        error_ = path_ + ": cannot complete the file: " + sf_error_number(status);
        return false;
    }
    return true;
}

} // namespace voxaim::replay
