#ifndef FUNCTIONAL_AUDIO_VOXAIM_LIVE_LIVE_SERVER_H
#define FUNCTIONAL_AUDIO_VOXAIM_LIVE_LIVE_SERVER_H
// The live view of the engine tools (--serve [ADDR:]PORT): an HTTP server on
// threads of its own that serves
//
//   /          the page (index.html with live.css and live.js, read once at
//              start from the page folder installed with the tools),
//   /events    a Server-Sent Events stream: "hello", then one event per frame
//              (live_event.h), "end" when the input has ended,
//
// and 404 for anything else; no request path ever reaches the file system.
// At most kMaxViewers event streams at once; more are refused with 503. The
// connections are accepted and their request heads read by the server
// itself, against limits (live_server.cpp) that keep any client from holding
// more than a small share of it; the HTTP library parses what was read.
//
// The frame loop hands each frame's event to publish(), which never waits for
// the network (live_ring.h): a browser too slow for the frames loses some,
// counted on both sides, and never holds up the frames. A stream that starts
// late gets the last 30 s of history first (live_ring.h), and one that starts
// after end() the history and the last frame, then "end": the final state.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace voxaim::live {

inline constexpr int kMaxViewers = 8;

struct Endpoint {
    std::string address = "127.0.0.1";
    int port = 0; // 0: any free port
};

// "PORT", "ADDR:PORT" or "[IPv6]:PORT"; nullopt for anything else.
std::optional<Endpoint> parseEndpoint(const char *text);

// The page folder: <the program's folder>/kPageFromProgram (set by the build:
// the installed data folder relative to the installed programs, and the same
// layout in the build tree), so that a relocated installation finds it too.
std::string pageFolder();

struct LiveStats {
    uint64_t viewers = 0; // event streams served
    uint64_t refused = 0; // event streams refused: too many at once
    uint64_t lost = 0;    // frame events skipped for viewers too slow for them
};

// "live view: 2 viewers, 0 refused, 14 frames lost to slow viewers".
std::string describe(const LiveStats &stats);

class LiveServer {
public:
    LiveServer();
    ~LiveServer(); // finish()
    LiveServer(const LiveServer &) = delete;
    LiveServer &operator=(const LiveServer &) = delete;

    // Reads the page, listens on `endpoint` and serves; `hello` is the first
    // event of every stream. False with error() set when the page is missing
    // or the address cannot be used.
    bool start(const Endpoint &endpoint, std::string hello);

    // "http://ADDR:PORT/" as listened on.
    std::string url() const;

    // The event of the next frame, and `history`, what late viewers get of
    // it. Never waits for a viewer.
    void publish(std::string event, std::string history);

    // Whether an event stream has been served (the first viewer has come).
    bool viewed() const;

    // No frame follows: every stream, and every one that starts later, ends
    // with "end" and `endEvent` once it has the events published before;
    // the server goes on serving.
    void end(const std::string &endEvent);

    // end() unless it was called, then once the viewers have the events
    // published before (at most about a second) stops serving.
    void finish(const std::string &endEvent = "{}");

    LiveStats stats() const;
    const std::string &error() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace voxaim::live

#endif
