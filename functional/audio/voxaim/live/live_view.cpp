#include "functional/audio/voxaim/live/live_view.h"

#include <cstdio>

#include "functional/audio/voxaim/live/live_event.h"

namespace voxaim::live {

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
        server_.publish(frameJson(frame, result));
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
