#include "functional/audio/voxaim/live/live_server.h"

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "functional/audio/voxaim/live/live_ring.h"

#ifndef VX_LIVE_PAGE_FROM_PROGRAM
#error "VX_LIVE_PAGE_FROM_PROGRAM: the page folder relative to the programs' folder, set by the build"
#endif

namespace voxaim::live {

namespace {

using namespace std::chrono_literals;

// Requests are small and local; a connection that sends nothing, or a
// browser that takes nothing for this long, is dropped (an event stream's
// browser reconnects by itself).
constexpr time_t kReadTimeoutSeconds = 2;
constexpr time_t kWriteTimeoutSeconds = 2;
// Each connection's send buffer: about a second of frame events, so that a
// slow browser is shown recent frames instead of a long queue of old ones.
constexpr int kSendBufferBytes = 64 * 1024;
// How often an idle stream says it is alive, and how long finish() lets the
// viewers take the last events.
constexpr auto kIdleComment = 5s;
constexpr auto kDrainTime = 1s;

struct PageFile {
    const char *name;
    const char *route;
    const char *type;
};
constexpr PageFile kPageFiles[] = {{"index.html", "/", "text/html; charset=utf-8"},
                                   {"live.css", "/live\\.css", "text/css; charset=utf-8"},
                                   {"live.js", "/live\\.js", "text/javascript; charset=utf-8"}};

bool readFile(const std::filesystem::path &path, std::string &text, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    if (!in || !(content << in.rdbuf())) {
        error = "cannot read the live page " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    text = content.str();
    return true;
}

bool parsePort(const std::string &text, int &port)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(text);
    return port <= 65535;
}

} // namespace

std::optional<Endpoint> parseEndpoint(const char *text)
{
    const std::string spec = text;
    Endpoint endpoint;
    std::string port = spec;
    const std::size_t colon = spec.rfind(':');
    if (colon != std::string::npos) {
        std::string address = spec.substr(0, colon);
        port = spec.substr(colon + 1);
        if (address.size() > 2 && address.front() == '[' && address.back() == ']')
            address = address.substr(1, address.size() - 2);
        else if (address.find_first_of("[]:") != std::string::npos)
            return std::nullopt; // an IPv6 address needs its brackets
        if (address.empty())
            return std::nullopt;
        endpoint.address = address;
    }
    if (!parsePort(port, endpoint.port))
        return std::nullopt;
    return endpoint;
}

std::string pageFolder()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return (program.parent_path() / VX_LIVE_PAGE_FROM_PROGRAM).lexically_normal().string();
}

std::string describe(const LiveStats &stats)
{
    return "live view: " + std::to_string(stats.viewers) + (stats.viewers == 1 ? " viewer, " : " viewers, ") +
           std::to_string(stats.refused) + " refused, " + std::to_string(stats.lost) + " frames lost to slow viewers";
}

struct LiveServer::Impl {
    httplib::Server server;
    std::thread thread;
    EventRing ring;
    std::string hello;
    std::string endEvent = "{}";
    std::string pages[std::size(kPageFiles)];
    std::string url;
    std::string error;
    bool started = false;
    bool finished = false;
    std::atomic<bool> listenReturned{false};

    std::mutex viewersMutex;
    std::condition_variable viewersGone;
    int active = 0;
    std::atomic<uint64_t> viewers{0}, refused{0}, lost{0};

    void serveEvents(httplib::Response &response);
};

namespace {

// The text of one stream event.
void appendEvent(std::string &text, const char *type, const std::string &data)
{
    if (type != nullptr)
        text.append("event: ").append(type).append("\n");
    text.append("data: ").append(data).append("\n\n");
}

} // namespace

void LiveServer::Impl::serveEvents(httplib::Response &response)
{
    {
        const std::lock_guard lock(viewersMutex);
        if (active >= kMaxViewers) {
            ++refused;
            response.status = 503;
            response.set_content("the live view has " + std::to_string(kMaxViewers) + " viewers already\n",
                                 "text/plain; charset=utf-8");
            return;
        }
        ++active;
        ++viewers;
    }
    struct Stream {
        uint64_t cursor;
        bool greeted = false;
    };
    auto stream = std::make_shared<Stream>(Stream{ring.startCursor()});
    response.set_header("Cache-Control", "no-store");
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, stream](std::size_t, httplib::DataSink &sink) {
            std::string text;
            if (!stream->greeted) {
                text = "retry: 2000\n";
                appendEvent(text, "hello", hello);
                stream->greeted = true;
            }
            const EventRing::Read read = ring.next(stream->cursor, text.empty() ? kIdleComment : 0ms);
            switch (read.next) {
            case EventRing::Next::Event:
                lost += read.lost;
                appendEvent(text, nullptr, *read.event);
                break;
            case EventRing::Next::Idle:
                if (text.empty())
                    text = ": idle\n\n";
                break;
            case EventRing::Next::End:
                appendEvent(text, "end", endEvent);
                if (sink.write(text.data(), text.size()))
                    sink.done();
                return true;
            }
            return sink.write(text.data(), text.size());
        },
        [this, stream](bool) {
            // What was published while the stream was stuck sending is lost
            // to it; so are the events it skipped (counted as it read).
            lost += ring.published() - stream->cursor;
            {
                const std::lock_guard lock(viewersMutex);
                --active;
            }
            viewersGone.notify_all();
        });
}

LiveServer::LiveServer() : impl_(std::make_unique<Impl>()) {}

LiveServer::~LiveServer() { finish(); }

bool LiveServer::start(const Endpoint &endpoint, std::string hello)
{
    Impl &s = *impl_;
    const std::filesystem::path folder = pageFolder();
    for (std::size_t i = 0; i < std::size(kPageFiles); ++i) {
        if (!readFile(folder / kPageFiles[i].name, s.pages[i], s.error))
            return false;
    }
    s.hello = std::move(hello);

    httplib::Server &server = s.server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kMaxViewers + 4); };
    server.set_socket_options([](socket_t socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes); // a restart need not wait
        setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes);
    });
    server.set_keep_alive_max_count(1);
    server.set_read_timeout(kReadTimeoutSeconds);
    server.set_write_timeout(kWriteTimeoutSeconds);
    for (std::size_t i = 0; i < std::size(kPageFiles); ++i) {
        server.Get(kPageFiles[i].route, [&s, i](const httplib::Request &, httplib::Response &response) {
            response.set_header("Cache-Control", "no-store");
            response.set_header("Content-Security-Policy", "default-src 'self'; img-src 'self' data:");
            response.set_header("X-Content-Type-Options", "nosniff");
            response.set_content(s.pages[i], kPageFiles[i].type);
        });
    }
    server.Get("/events", [&s](const httplib::Request &, httplib::Response &response) { s.serveEvents(response); });
    server.set_error_handler([](const httplib::Request &, httplib::Response &response) {
        if (response.body.empty())
            response.set_content(response.status == 404 ? "not found\n" : "refused\n", "text/plain; charset=utf-8");
    });

    errno = 0;
    int port = endpoint.port;
    const bool bound = port == 0 ? (port = server.bind_to_any_port(endpoint.address)) > 0
                                 : server.bind_to_port(endpoint.address, port);
    const std::string host =
        endpoint.address.find(':') != std::string::npos ? "[" + endpoint.address + "]" : endpoint.address;
    if (!bound) {
        s.error = "cannot listen on " + host + ":" + std::to_string(endpoint.port) +
                  (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
        return false;
    }
    s.url = "http://" + host + ":" + std::to_string(port) + "/";
    s.thread = std::thread([&s] {
        s.server.listen_after_bind();
        s.listenReturned = true;
    });
    // stop() has no effect before the accept loop runs: wait for it.
    while (!server.is_running() && !s.listenReturned)
        std::this_thread::sleep_for(1ms);
    s.started = true;
    return true;
}

std::string LiveServer::url() const { return impl_->url; }

void LiveServer::publish(std::string event) { impl_->ring.publish(std::move(event)); }

void LiveServer::finish(const std::string &endEvent)
{
    Impl &s = *impl_;
    if (!s.started || s.finished)
        return;
    s.finished = true;
    s.endEvent = endEvent; // read by the streams only after close()
    s.ring.close();
    {
        std::unique_lock lock(s.viewersMutex);
        s.viewersGone.wait_for(lock, kDrainTime, [&s] { return s.active == 0; });
    }
    s.server.stop();
    s.thread.join();
}

LiveStats LiveServer::stats() const { return {impl_->viewers, impl_->refused, impl_->lost}; }

const std::string &LiveServer::error() const { return impl_->error; }

} // namespace voxaim::live
