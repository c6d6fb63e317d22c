#ifndef FUNCTIONAL_AUDIO_VOXAIM_LIVE_LIVE_RING_H
#define FUNCTIONAL_AUDIO_VOXAIM_LIVE_LIVE_RING_H
// The hand-over between the frame loop and the live view's connections: the
// frame loop publishes each frame's event into a ring of the last kCapacity
// events, and its history (the same frame without what only the current
// frame needs) into a ring of the last kHistory; every connection reads from
// them at its own pace with a cursor of its own.
//
// A new reader first takes the history of the frames before the newest, all
// at once, then the events from the newest on: a viewer that comes late still
// has the timeline of the frames it missed, each frame once.
//
// Publishing never waits for a reader: it takes the ring's lock, which
// readers hold only to copy pointers and never while they write to the
// network, stores the event and wakes the readers. A reader that has fallen
// more than kCapacity events behind (a slow or stalled browser) skips to the
// newest event; the events it skipped are counted as lost.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace voxaim::live {

class EventRing {
public:
    static constexpr std::size_t kCapacity = 32;  // 1.4 s of frames
    static constexpr std::size_t kHistory = 704;  // 30 s of frames

    using Event = std::shared_ptr<const std::string>;

    // Stores `event` and its `history` as the newest and wakes the readers.
    void publish(std::string event, std::string history);

    // No event follows: readers get the rest, then End.
    void close();

    // Where a new reader starts: `history`, the oldest frame whose history is
    // still held, and `live`, the newest event (the first to read in full).
    struct Start {
        uint64_t history = 0;
        uint64_t live = 0;
    };
    Start start() const;

    // The history held from `cursor` up to `live` (not included), at once;
    // `cursor` ends at `live`. `lost` counts what was no longer held.
    std::vector<Event> history(uint64_t &cursor, uint64_t live, uint64_t &lost) const;

    // The number of events published so far.
    uint64_t published() const;

    enum class Next { Event, Idle, End };
    struct Read {
        Next next = Next::Idle;
        Event event;
        uint64_t lost = 0; // events skipped before this one
    };

    // The event at `cursor` (advanced past it), waiting up to `timeout` for
    // one; Idle when none came, End after close() and the last event.
    Read next(uint64_t &cursor, std::chrono::milliseconds timeout);

private:
    mutable std::mutex mutex_;
    std::condition_variable published_;
    std::vector<Event> slots_ = std::vector<Event>(kCapacity);
    std::vector<Event> history_ = std::vector<Event>(kHistory);
    uint64_t count_ = 0; // events published
    bool closed_ = false;
};

} // namespace voxaim::live

#endif
