#include "functional/audio/voxaim/tools_common/frames.h"

#include <cassert>
#include <cmath>
#include <cstring>

namespace voxaim::tools {

void deinterleaveIntegers(std::span<const int32_t> interleaved, int32_t channels, int32_t bits, std::span<float> frame)
{
    assert(interleaved.size() == frame.size() && bits >= 1 && bits <= 32);
    const std::size_t length = frame.size() / channels;
    const int shift = 32 - bits;
    for (int32_t c = 0; c < channels; ++c) {
        float *out = frame.data() + c * length;
        for (std::size_t i = 0; i < length; ++i)
            out[i] = static_cast<float>(interleaved[i * channels + c] >> shift);
    }
}

void deinterleaveFloats(std::span<const double> interleaved, int32_t channels, std::span<float> frame)
{
    assert(interleaved.size() == frame.size());
    const std::size_t length = frame.size() / channels;
    for (int32_t c = 0; c < channels; ++c) {
        float *out = frame.data() + c * length;
        for (std::size_t i = 0; i < length; ++i)
            out[i] = static_cast<float>(interleaved[i * channels + c] * kFloatFullScale);
    }
}

std::optional<std::size_t> firstNonFinite(std::span<const float> frame)
{
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (!std::isfinite(frame[i]))
            return i;
    }
    return std::nullopt;
}

} // namespace voxaim::tools
