#include "functional/audio/voxaim/live/live_view.h"

#include <cstdio>

#include "functional/audio/voxaim/live/live_event.h"
#include "functional/audio/voxaim/live/live_ring.h"

namespace voxaim::live {

// A late viewer's history covers the page's timeline.
static_assert(EventRing::kHistory * VOXAIM_FRAME_LENGTH >= 30 * 48000, "30 s of frames");

std::optional<std::string> parseServeOption(const char *text, std::optional<Endpoint> &endpoint)
{
    endpoint = parseEndpoint(text);
    if (!endpoint)
        return std::string("--serve takes [ADDR:]PORT, not '") + text + "'";
    return std::nullopt;
}

bool LiveView::start(const char *program, const std::optional<Endpoint> &endpoint, const char *variant, uint32_t type,
                     const char *source)
{
    if (!endpoint)
        return true;
    if (!server_.start(*endpoint, helloJson(program, variant, type, source)))
        return false;
    program_ = program;
    std::fprintf(stderr, "%s: live view on %s\n", program_, server_.url().c_str());
    return true;
}

void LiveView::publish(uint64_t frame, const VoxaimResult &result)
{
    if (serving())
        server_.publish(frameJson(frame, result), historyJson(frame, result));
}

bool LiveView::viewed() const { return serving() && server_.viewed(); }

void LiveView::end(uint64_t frames)
{
    if (serving())
        server_.end(endJson(frames));
}

void LiveView::finish(uint64_t frames)
{
    if (!serving())
        return;
    server_.finish(endJson(frames));
    std::fprintf(stderr, "%s: %s\n", program_, describe(server_.stats()).c_str());
    program_ = nullptr;
}

} // namespace voxaim::live
