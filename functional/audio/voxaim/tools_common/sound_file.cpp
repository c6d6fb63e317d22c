#include "functional/audio/voxaim/tools_common/sound_file.h"

#include <cctype>
#include <cstring>
#include <utility>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/tools_common/frames.h"

namespace voxaim::tools {

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

bool SoundFileReader::open(const char *path, const VariantInfo &variant)
{
    path_ = path;
    SF_INFO info{};
    file_.reset(sf_open(path, SFM_READ, &info));
    if (!file_)
        return fail(path_ + ": cannot read as a sound file: " + sf_strerror(nullptr));
    frameCount_ = info.frames > 0 ? static_cast<uint64_t>(info.frames) / 2048 : 0;
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

bool SoundFileWriter::open(const char *path, int32_t channels, int32_t bits, bool extensible,
                           std::optional<uint64_t> frames, int descriptor)
{
    path_ = path;
    channels_ = channels;
    std::string name = path_;
    for (char &c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto endsWith = [&name](const char *end) {
        return name.size() > std::strlen(end) &&
               name.compare(name.size() - std::strlen(end), std::string::npos, end) == 0;
    };
    SF_INFO info{};
    info.samplerate = kEngineSampleRate;
    info.channels = channels;
    if (endsWith(".flac"))
        info.format = SF_FORMAT_FLAC;
    else if (endsWith(".wav"))
        info.format = extensible ? SF_FORMAT_WAVEX : SF_FORMAT_RF64;
    else
        return fail(path_ + ": a sound file's name ends in .wav or .flac");
    // WAV's sizes are 32-bit; a sample takes at most 4 bytes.
    constexpr uint64_t kWavDataLimit = (uint64_t{1} << 32) - 4096;
    if (info.format == SF_FORMAT_RF64 && frames && *frames <= kWavDataLimit / (static_cast<uint64_t>(channels) * 4))
        info.format = SF_FORMAT_WAV;
    info.format |= bits == kFloatSamples ? SF_FORMAT_FLOAT
                   : bits == 16          ? SF_FORMAT_PCM_16
                   : bits == 24          ? SF_FORMAT_PCM_24
                                         : SF_FORMAT_PCM_32;
    if (!sf_format_check(&info))
        return fail(path_ + ": this file type cannot hold " +
                    (bits == kFloatSamples ? std::string("float") : std::to_string(bits) + "-bit") + " samples");
    file_.reset(descriptor >= 0 ? sf_open_fd(descriptor, SFM_WRITE, &info, SF_FALSE) : sf_open(path, SFM_WRITE, &info));
    if (!file_)
        return fail(path_ + ": cannot write: " + sf_strerror(nullptr));
    sf_command(file_.get(), SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    sf_command(file_.get(), SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    return true;
}

bool SoundFileWriter::written(sf_count_t wrote, std::size_t samples)
{
    if (wrote == static_cast<sf_count_t>(samples / channels_))
        return true;
    return fail(path_ + ": write error: " + sf_strerror(file_.get()));
}

bool SoundFileWriter::write(std::span<const int32_t> interleaved)
{
    return written(sf_writef_int(file_.get(), interleaved.data(), interleaved.size() / channels_), interleaved.size());
}

bool SoundFileWriter::write(std::span<const float> interleaved)
{
    return written(sf_writef_float(file_.get(), interleaved.data(), interleaved.size() / channels_),
                   interleaved.size());
}

bool SoundFileWriter::close()
{
    if (!file_)
        return true;
    const int status = sf_close(file_.release());
    if (status != 0)
        return fail(path_ + ": cannot complete the file: " + sf_error_number(status));
    return true;
}

bool SoundFileWriter::fail(std::string message)
{
    error_ = std::move(message);
    return false;
}

} // namespace voxaim::tools
