#include "functional/audio/voxaim/tools_common/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace voxaim::tools {

namespace {
constexpr double kFrameSeconds = VOXAIM_FRAME_LENGTH / 48000.0;
}

Progress::Progress(const char *program, bool quiet, uint64_t total)
    : program_(program), shown_(!quiet && isatty(STDERR_FILENO) == 1), total_(total)
{
}

void Progress::frame(uint64_t index, const VoxaimResult &result)
{
    if (!shown_)
        return;
    qualities_.push_back(result.quality);
    voiced_ += voxaim_getFlag(VOXAIM_OUT_VOICE_ACTIVITY, result.flags);
    const auto now = Clock::now();
    if (now - lastShown_ < std::chrono::milliseconds(100))
        return;
    lastShown_ = now;
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    std::fprintf(stderr, "\r%s: frame %llu of %llu, %.1f s, %.1fx real time\033[K", program_,
                 static_cast<unsigned long long>(index + 1), static_cast<unsigned long long>(total_), elapsed,
                 elapsed > 0 ? (index + 1) * kFrameSeconds / elapsed : 0.0);
}

void Progress::summary()
{
    if (!shown_)
        return;
    const std::size_t frames = qualities_.size();
    double median = 0;
    if (frames > 0) {
        std::nth_element(qualities_.begin(), qualities_.begin() + frames / 2, qualities_.end());
        median = qualities_[frames / 2];
    }
    std::fprintf(stderr, "\r%s: %zu frames, %.1f s of input in %.1f s, voice activity in %.0f%% of "
                         "frames, median quality %.3f\033[K\n",
                 program_, frames, frames * kFrameSeconds,
                 std::chrono::duration<double>(Clock::now() - started_).count(),
                 frames > 0 ? 100.0 * static_cast<double>(voiced_) / static_cast<double>(frames) : 0.0, median);
}

} // namespace voxaim::tools
