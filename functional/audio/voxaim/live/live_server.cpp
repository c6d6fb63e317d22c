#include "functional/audio/voxaim/live/live_server.h"

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <netdb.h>
#include <poll.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>
#include <utility>
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

// What a client may ask of the live view, which needs nothing but small GET
// requests: a request head whole within kHeadTime of the moment it was
// due, at most kHeadBytes of it and kMaxBody of body (more is answered 413
// unread); a connection that sends nothing for kIdleTime, fresh or between
// requests, is closed; at most kMaxConnections at once (more are closed at
// once). A browser that takes nothing for kWriteTimeout is dropped (an event
// stream's browser reconnects by itself).
constexpr auto kHeadTime = 5s;
constexpr auto kIdleTime = 2s;
constexpr auto kWriteTimeout = 2s;
constexpr std::size_t kHeadBytes = 16 * 1024;
constexpr std::size_t kMaxBody = 1024;
constexpr int kMaxConnections = 16;
constexpr int kMaxRequestsPerConnection = 100;
// How long a refused body is read and dropped, so that the client reads the
// answer instead of a reset connection.
constexpr auto kDiscardTime = 2s;
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

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        reset(std::exchange(other.fd_, -1));
        return *this;
    }
    ~UniqueFd() { reset(); }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_ = -1;
};

using Clock = std::chrono::steady_clock;

// Waits for `events` on `socket` until `deadline`; false on timeout or error.
bool waitFor(int socket, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd poller{socket, events, 0};
        const int ready = ::poll(&poller, 1, static_cast<int>(std::min<long long>(left, 60000)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

// One connection as the HTTP library reads and writes it: first what was
// read ahead (the head), then the socket, each read ending by `readDeadline`
// and each write within kWriteTimeout.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int socket, std::string &readAhead) : socket_(socket), readAhead_(readAhead) {}

    Clock::time_point readDeadline;

    bool is_readable() const override { return !readAhead_.empty() || waitFor(socket_, POLLIN, readDeadline); }
    bool is_writable() const override { return waitFor(socket_, POLLOUT, Clock::now() + kWriteTimeout); }

    ssize_t read(char *data, size_t size) override
    {
        if (!readAhead_.empty()) {
            const std::size_t n = std::min(size, readAhead_.size());
            std::memcpy(data, readAhead_.data(), n);
            readAhead_.erase(0, n);
            return static_cast<ssize_t>(n);
        }
        if (!waitFor(socket_, POLLIN, readDeadline))
            return -1;
        return ::recv(socket_, data, size, 0);
    }

    ssize_t write(const char *data, size_t size) override
    {
        std::size_t done = 0;
        while (done < size) {
            if (!is_writable())
                return -1;
            const ssize_t n = ::send(socket_, data + done, size - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return -1;
            done += static_cast<std::size_t>(n);
        }
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override { address(::getpeername, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { address(::getsockname, ip, port); }
    socket_t socket() const override { return socket_; }

private:
    void address(int (*get)(int, sockaddr *, socklen_t *), std::string &ip, int &port) const
    {
        sockaddr_storage storage{};
        socklen_t length = sizeof storage;
        ip.clear();
        port = 0;
        if (get(socket_, reinterpret_cast<sockaddr *>(&storage), &length) != 0)
            return;
        char host[NI_MAXHOST], service[NI_MAXSERV];
        if (::getnameinfo(reinterpret_cast<sockaddr *>(&storage), length, host, sizeof host, service,
                          sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
            ip = host;
            port = std::atoi(service);
        }
    }

    int socket_;
    std::string &readAhead_;
};

enum class Head { Whole, Closed, TooLarge };

// Reads into `buffer` until it holds a whole request head: the first byte
// within kIdleTime, the whole head within kHeadTime.
Head readHead(int socket, std::string &buffer)
{
    const Clock::time_point start = Clock::now();
    while (buffer.find("\r\n\r\n") == std::string::npos) {
        if (buffer.size() >= kHeadBytes)
            return Head::TooLarge;
        if (!waitFor(socket, POLLIN, buffer.empty() ? start + kIdleTime : start + kHeadTime))
            return Head::Closed;
        char data[4096];
        const ssize_t n = ::recv(socket, data, std::min(sizeof data, kHeadBytes - buffer.size()), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Head::Closed;
        buffer.append(data, static_cast<std::size_t>(n));
    }
    return Head::Whole;
}

// The Content-Length the head announces (the largest, if it gives several).
std::optional<unsigned long long> contentLength(std::string_view head)
{
    std::optional<unsigned long long> length;
    for (std::size_t at = head.find("\r\n"); at != std::string_view::npos; at = head.find("\r\n", at + 2)) {
        std::string_view line = head.substr(at + 2, head.find("\r\n", at + 2) - at - 2);
        constexpr std::string_view name = "content-length:";
        if (line.size() < name.size() ||
            !std::equal(name.begin(), name.end(), line.begin(),
                        [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); }))
            continue;
        line.remove_prefix(name.size());
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        unsigned long long value = 0;
        bool digits = false;
        for (char c : line) {
            if (c < '0' || c > '9')
                break;
            digits = true;
            value = value > (~0ULL - 9) / 10 ? ~0ULL : value * 10 + static_cast<unsigned>(c - '0');
        }
        if (digits)
            length = std::max(length.value_or(0), value);
        else
            length = ~0ULL; // not a number: refused as too large to tell
    }
    return length;
}

// Answers `status` and closes, reading and dropping what the client still
// sends for a moment so that it sees the answer rather than a reset.
void refuse(int socket, int status, const char *reason)
{
    const std::string text = std::string(reason) + "\n";
    const std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                               "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                               std::to_string(text.size()) + "\r\nConnection: close\r\n\r\n" + text;
    std::string none;
    ConnectionStream(socket, none).write(answer.data(), answer.size());
    ::shutdown(socket, SHUT_WR);
    const Clock::time_point end = Clock::now() + kDiscardTime;
    char drop[16384];
    while (waitFor(socket, POLLIN, end) && ::recv(socket, drop, sizeof drop, 0) > 0) {
    }
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

// The connections themselves are ours (Connections below): each one's
// request head is read here, against a deadline, before the HTTP library
// parses it from what was read, so that a client never holds a thread longer
// than the limits below and never makes the server keep more than a head.
class Router : public httplib::Server {
public:
    // One request from `stream`; false when the connection is to be closed.
    bool serve(httplib::Stream &stream, bool lastRequest)
    {
        bool closed = false;
        const bool ok = process_request(stream, lastRequest, closed, [](httplib::Request &) {});
        return ok && !closed;
    }

    // The library ends a chunked response early once it sees no listening
    // socket: the one the connections come from, or -1 when stopping.
    void listeningOn(int socket) { svr_sock_ = socket; }
};

struct LiveServer::Impl {
    Router router;
    std::thread acceptor;
    UniqueFd listener;
    UniqueFd wakeRead, wakeWrite; // finish() wakes the acceptor through it
    EventRing ring;
    std::string hello;
    std::string endEvent = "{}";
    std::string pages[std::size(kPageFiles)];
    std::string url;
    std::string error;
    bool started = false;
    bool ended = false; // end(): the streams end, new ones get the final state
    bool finished = false;

    std::mutex viewersMutex;
    std::condition_variable viewersGone;
    int active = 0;
    std::atomic<uint64_t> viewers{0}, refused{0}, lost{0};

    // Open connections: their sockets (shut down by finish()) and count.
    std::mutex connectionsMutex;
    std::condition_variable connectionsGone;
    std::set<int> connections;
    std::atomic<bool> stopping{false};

    void serveEvents(httplib::Response &response);
    void accept();
    void serveConnection(int socket);
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
    // A viewer that comes late first gets the history of the frames before
    // the newest, in the first write with its hello.
    struct Stream {
        EventRing::Start start;
        uint64_t cursor = start.history;
        bool greeted = false;
    };
    auto stream = std::make_shared<Stream>(Stream{ring.start()});
    response.set_header("Cache-Control", "no-store");
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, stream](std::size_t, httplib::DataSink &sink) {
            std::string text;
            if (!stream->greeted) {
                text = "retry: 2000\n";
                appendEvent(text, "hello", hello);
                uint64_t skipped = 0;
                for (const EventRing::Event &event : ring.history(stream->cursor, stream->start.live, skipped))
                    appendEvent(text, nullptr, *event);
                lost += skipped;
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

void LiveServer::Impl::accept()
{
    for (;;) {
        pollfd pollers[] = {{listener.get(), POLLIN, 0}, {wakeRead.get(), POLLIN, 0}};
        if (::poll(pollers, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (stopping)
            return;
        if ((pollers[0].revents & POLLIN) == 0)
            continue;
        UniqueFd socket(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (socket.get() < 0)
            continue; // the client gave up already, or no descriptor is free for now
        {
            const std::lock_guard lock(connectionsMutex);
            if (static_cast<int>(connections.size()) >= kMaxConnections)
                continue; // closed at once
            connections.insert(socket.get());
        }
        setsockopt(socket.get(), SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes);
        std::thread([this, fd = socket.get()] { serveConnection(fd); }).detach();
        (void)socket.release();
    }
}

void LiveServer::Impl::serveConnection(int socket)
{
    std::string buffer;
    for (int served = 0; served < kMaxRequestsPerConnection && !stopping; ++served) {
        const Head head = readHead(socket, buffer);
        if (head == Head::TooLarge)
            refuse(socket, 431, "Request Header Fields Too Large");
        if (head != Head::Whole)
            break;
        const std::size_t headEnd = buffer.find("\r\n\r\n") + 4;
        if (contentLength(std::string_view(buffer).substr(0, headEnd)).value_or(0) > kMaxBody) {
            refuse(socket, 413, "Payload Too Large");
            break;
        }
        ConnectionStream stream(socket, buffer);
        stream.readDeadline = Clock::now() + kHeadTime; // for the body, if any
        if (!router.serve(stream, served + 1 == kMaxRequestsPerConnection || stopping))
            break;
    }
    ::close(socket);
    const std::lock_guard lock(connectionsMutex); // finish() may end the server once it is released
    connections.erase(socket);
    connectionsGone.notify_all();
}

LiveServer::LiveServer() : impl_(std::make_unique<Impl>()) {}

LiveServer::~LiveServer() { finish(); }

namespace {

// A listening socket on `address`:`port` (0: any free port, set on return).
UniqueFd listenOn(const std::string &address, int &port, std::string &error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    if (const int failed = ::getaddrinfo(address.c_str(), service.c_str(), &hints, &found); failed != 0) {
        error = ::gai_strerror(failed);
        return {};
    }
    const std::unique_ptr<addrinfo, void (*)(addrinfo *)> owned(found, ::freeaddrinfo);
    error = "no address";
    for (const addrinfo *at = found; at != nullptr; at = at->ai_next) {
        UniqueFd socket(::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol));
        const int yes = 1;
        if (socket.get() < 0 ||
            setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 || // a restart need not wait
            ::bind(socket.get(), at->ai_addr, at->ai_addrlen) != 0 || ::listen(socket.get(), 256) != 0) {
            error = std::strerror(errno);
            continue;
        }
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        if (::getsockname(socket.get(), reinterpret_cast<sockaddr *>(&bound), &length) == 0)
            port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 &>(bound).sin6_port
                                                     : reinterpret_cast<sockaddr_in &>(bound).sin_port);
        return socket;
    }
    return {};
}

} // namespace

bool LiveServer::start(const Endpoint &endpoint, std::string hello)
{
    Impl &s = *impl_;
    const std::filesystem::path folder = pageFolder();
    for (std::size_t i = 0; i < std::size(kPageFiles); ++i) {
        if (!readFile(folder / kPageFiles[i].name, s.pages[i], s.error))
            return false;
    }
    s.hello = std::move(hello);

    Router &router = s.router;
    router.set_payload_max_length(kMaxBody); // a chunked body: the head says nothing of its length
    // What the answers' Keep-Alive header says (serveConnection does it).
    router.set_keep_alive_max_count(kMaxRequestsPerConnection);
    router.set_keep_alive_timeout(std::chrono::duration_cast<std::chrono::seconds>(kIdleTime).count());
    for (std::size_t i = 0; i < std::size(kPageFiles); ++i) {
        router.Get(kPageFiles[i].route, [&s, i](const httplib::Request &, httplib::Response &response) {
            response.set_header("Cache-Control", "no-store");
            response.set_header("Content-Security-Policy", "default-src 'self'; img-src 'self' data:");
            response.set_header("X-Content-Type-Options", "nosniff");
            response.set_content(s.pages[i], kPageFiles[i].type);
        });
    }
    router.Get("/events", [&s](const httplib::Request &, httplib::Response &response) { s.serveEvents(response); });
    router.set_error_handler([](const httplib::Request &, httplib::Response &response) {
        if (response.body.empty())
            response.set_content(response.status == 404 ? "not found\n" : "refused\n", "text/plain; charset=utf-8");
    });

    int port = endpoint.port;
    std::string failure;
    s.listener = listenOn(endpoint.address, port, failure);
    const std::string host =
        endpoint.address.find(':') != std::string::npos ? "[" + endpoint.address + "]" : endpoint.address;
    if (s.listener.get() < 0) {
        s.error = "cannot listen on " + host + ":" + std::to_string(endpoint.port) + ": " + failure;
        return false;
    }
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        s.error = std::string("cannot start the live view: ") + std::strerror(errno);
        return false;
    }
    s.wakeRead.reset(wake[0]);
    s.wakeWrite.reset(wake[1]);
    s.url = "http://" + host + ":" + std::to_string(port) + "/";
    router.listeningOn(s.listener.get());
    s.acceptor = std::thread([&s] { s.accept(); });
    s.started = true;
    return true;
}

std::string LiveServer::url() const { return impl_->url; }

void LiveServer::publish(std::string event, std::string history)
{
    impl_->ring.publish(std::move(event), std::move(history));
}

bool LiveServer::viewed() const { return impl_->viewers > 0; }

void LiveServer::end(const std::string &endEvent)
{
    Impl &s = *impl_;
    if (!s.started || s.ended)
        return;
    s.ended = true;
    s.endEvent = endEvent; // read by the streams only after close()
    s.ring.close();
}

void LiveServer::finish(const std::string &endEvent)
{
    Impl &s = *impl_;
    if (!s.started || s.finished)
        return;
    s.finished = true;
    end(endEvent);
    {
        std::unique_lock lock(s.viewersMutex);
        s.viewersGone.wait_for(lock, kDrainTime, [&s] { return s.active == 0; });
    }
    s.stopping = true;
    const char wake = 0;
    (void)!::write(s.wakeWrite.get(), &wake, 1);
    s.acceptor.join();
    s.router.listeningOn(INVALID_SOCKET);
    s.listener.reset();
    std::unique_lock lock(s.connectionsMutex);
    for (const int socket : s.connections)
        ::shutdown(socket, SHUT_RDWR); // every wait of theirs ends now
    s.connectionsGone.wait(lock, [&s] { return s.connections.empty(); });
}

LiveStats LiveServer::stats() const { return {impl_->viewers, impl_->refused, impl_->lost}; }

const std::string &LiveServer::error() const { return impl_->error; }

} // namespace voxaim::live
