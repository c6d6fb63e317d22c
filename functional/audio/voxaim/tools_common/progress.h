#ifndef FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_PROGRESS_H
#define FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_PROGRESS_H
// The progress of a tool that runs many frames, on standard error when it is
// a terminal (nothing otherwise, or with -q): one line rewritten at most 10
// times a second,
//
//   voxaim_replay: frame 1200 of 12000, 0.4 s, 121.3x real time
//
// and at the end one summary line: the frames, their duration and the time
// taken, the share of frames with voice activity and the median quality.
#include <chrono>
#include <cstdint>
#include <vector>

#include "functional/audio/voxaim/cmod/track/voxaim.h"

namespace voxaim::tools {

class Progress {
public:
    Progress(const char *program, bool quiet, uint64_t total);

    // Frame `index` is done with `result`.
    void frame(uint64_t index, const VoxaimResult &result);
    void summary();

private:
    using Clock = std::chrono::steady_clock;
    const char *program_;
    bool shown_;
    uint64_t total_;
    uint64_t voiced_ = 0;
    std::vector<float> qualities_;
    Clock::time_point started_ = Clock::now(), lastShown_{};
};

} // namespace voxaim::tools

#endif
