#ifndef FUNCTIONAL_AUDIO_VOXAIM_LIVE_LIVE_VIEW_H
#define FUNCTIONAL_AUDIO_VOXAIM_LIVE_LIVE_VIEW_H
// The live view as the tools use it (--serve [ADDR:]PORT): nothing at all
// unless the option was given; otherwise the server of live_server.h, its
// address and, at the end, what it served reported on standard error under
// the tool's name.
#include <cstdint>
#include <optional>
#include <string>

#include "functional/audio/voxaim/cmod/track/voxaim.h"
#include "functional/audio/voxaim/live/live_server.h"

namespace voxaim::live {

// --serve's value into `endpoint`: the message of a usage error, or nullopt.
std::optional<std::string> parseServeOption(const char *text, std::optional<Endpoint> &endpoint);

// --serve as an option of the tools' command line (tools_common/command_line.h),
// for options with a `serve` member.
template <class Options>
std::optional<std::string> takeServe(const char *text, Options &options)
{
    return parseServeOption(text, options.serve);
}

class LiveView {
public:
    // Serves on `endpoint` when it is set, for the engine initialised for
    // `variant`, printing "<program>: live view on http://...". False with
    // error() set when it cannot.
    bool start(const char *program, const std::optional<Endpoint> &endpoint, const char *variant, uint32_t type,
               const char *source);
    bool serving() const { return program_ != nullptr; }

    // The engine's last frame, `result` its answer; never waits for a viewer.
    void publish(uint64_t frame, const VoxaimResult &result);

    // Whether a viewer has come (an event stream was served).
    bool viewed() const;

    // The input has ended after `frames` frames: the streams end, and the
    // final state is served to every viewer that comes until finish().
    void end(uint64_t frames);

    // Ends the streams after `frames` frames (unless end() did), stops
    // serving and reports what was served.
    void finish(uint64_t frames);

    const std::string &error() const { return server_.error(); }

private:
    const char *program_ = nullptr;
    LiveServer server_;
};

} // namespace voxaim::live

#endif
