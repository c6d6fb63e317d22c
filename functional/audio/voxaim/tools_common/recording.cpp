#include "functional/audio/voxaim/tools_common/recording.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "functional/audio/voxaim/cmod/track/voxaim.h"

namespace voxaim::tools {

namespace {

constexpr std::array<unsigned char, 2> kMagic{0xAC, 0x01};
constexpr std::size_t kHeaderBytes = 4;
constexpr std::size_t kRecordPrefixBytes = sizeof(int32_t) + sizeof(uint32_t);

// Sample widths a record may carry. The engine scales by 2^(1 - width), so
// any width of integer samples in a float goes through unchanged; a width
// outside this range only comes from a damaged file (and the most negative
// one overflows the engine's exponent).
constexpr int32_t kMinimumWidth = 1;
constexpr int32_t kMaximumWidth = 32;

// The samples are read straight into floats, the prefix words straight into
// integers: the file's byte order is the host's.
static_assert(std::endian::native == std::endian::little, "raw-input recordings are little-endian");

// printf into a string; messages are short, longer ones are cut.
__attribute__((format(printf, 1, 2))) std::string format(const char *fmt, ...)
{
    std::array<char, 512> text{};
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text.data(), text.size(), fmt, args);
    va_end(args);
    return text.data();
}

// Reads up to `size` bytes; the count actually read is short only at end of
// file or on an error, which ferror tells apart.
std::size_t readBytes(std::FILE *file, void *into, std::size_t size) { return std::fread(into, 1, size, file); }

} // namespace

bool RecordingReader::fail(std::string message)
{
    error_ = std::move(message);
    return false;
}

bool RecordingReader::open(const char *path)
{
    path_ = path;
    errno = 0;
    file_.reset(std::fopen(path, "rb"));
    if (!file_)
        return fail(format("cannot open %s: %s", path, std::strerror(errno)));

    std::array<unsigned char, kHeaderBytes> header{};
    errno = 0;
    const std::size_t got = readBytes(file_.get(), header.data(), header.size());
    if (std::ferror(file_.get()))
        return fail(format("cannot read %s: %s", path, std::strerror(errno)));
    if (got == 0)
        return fail(format("%s: empty file, no recording header", path));
    if (got < header.size())
        return fail(format("%s: file too short for a recording header (%zu of 4 bytes)", path, got));
    if (header[0] != kMagic[0] || header[1] != kMagic[1])
        return fail(format("%s: not a raw-input recording: header begins 0x%02x 0x%02x, "
                           "expected 0xac 0x01",
                           path, header[0], header[1]));

    const uint32_t type = header[2];
    variant_ = findVariant(type);
    if (variant_ == nullptr)
        return fail(format("%s: invalid product type %u in the header (valid: %s)", path, type, typeList().c_str()));
    const unsigned channels = header[3];
    if (channels != static_cast<unsigned>(variant_->channels)) {
        const int32_t expected = variant_->channels;
        const char *name = variant_->name;
        variant_ = nullptr;
        return fail(format("%s: the header gives %u channels, but product type %u (%s) has %d", path, channels, type,
                           name, expected));
    }
    frame_ = 0;
    return true;
}

RecordingReader::Next RecordingReader::next(FrameRecord &record)
{
    const std::size_t sampleCount = static_cast<std::size_t>(channels()) * VOXAIM_FRAME_LENGTH;
    const std::size_t recordBytes = kRecordPrefixBytes + sampleCount * sizeof(float);
    record.samples.resize(sampleCount);

    std::FILE *file = file_.get();
    errno = 0;
    std::size_t got = readBytes(file, &record.bitsPerSample, sizeof record.bitsPerSample);
    if (got == sizeof record.bitsPerSample)
        got += readBytes(file, &record.inputFlags, sizeof record.inputFlags);
    if (got == kRecordPrefixBytes)
        got += readBytes(file, record.samples.data(), sampleCount * sizeof(float));

    if (std::ferror(file)) {
        fail(format("%s: read error at frame %llu: %s", path_.c_str(), static_cast<unsigned long long>(frame_),
                    std::strerror(errno)));
        return Next::Error;
    }
    if (got == 0)
        return Next::End;
    if (got < recordBytes) {
        fail(format("%s: truncated record at frame %llu (%zu of %zu bytes)", path_.c_str(),
                    static_cast<unsigned long long>(frame_), got, recordBytes));
        return Next::Error;
    }
    if (record.bitsPerSample < kMinimumWidth || record.bitsPerSample > kMaximumWidth) {
        fail(format("%s: damaged record at frame %llu: sample width %d bits, not %d ... %d", path_.c_str(),
                    static_cast<unsigned long long>(frame_), record.bitsPerSample, kMinimumWidth, kMaximumWidth));
        return Next::Error;
    }
    ++frame_;
    return Next::Frame;
}

} // namespace voxaim::tools
