#include "functional/audio/voxaim/live/live_ring.h"

#include <algorithm>
#include <utility>

namespace voxaim::live {

void EventRing::publish(std::string event, std::string history)
{
    Event next = std::make_shared<const std::string>(std::move(event));
    Event past = std::make_shared<const std::string>(std::move(history));
    {
        const std::lock_guard lock(mutex_);
        slots_[count_ % kCapacity].swap(next);
        history_[count_ % kHistory].swap(past);
        ++count_;
    }
    published_.notify_all();
    // `next` and `past` now hold the overwritten events, freed here outside
    // the lock unless a reader still sends them.
}

void EventRing::close()
{
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
    }
    published_.notify_all();
}

EventRing::Start EventRing::start() const
{
    const std::lock_guard lock(mutex_);
    const uint64_t live = count_ > 0 ? count_ - 1 : 0;
    return {live + 1 > kHistory ? live + 1 - kHistory : 0, live};
}

std::vector<EventRing::Event> EventRing::history(uint64_t &cursor, uint64_t live, uint64_t &lost) const
{
    std::vector<Event> events;
    events.reserve(kHistory); // not under the lock
    const std::lock_guard lock(mutex_);
    const uint64_t held = count_ > kHistory ? count_ - kHistory : 0;
    if (cursor < held) {
        lost += std::min(held, live) - cursor;
        cursor = held;
    }
    for (; cursor < live; ++cursor)
        events.push_back(history_[cursor % kHistory]);
    cursor = std::max(cursor, live);
    return events;
}

uint64_t EventRing::published() const
{
    const std::lock_guard lock(mutex_);
    return count_;
}

EventRing::Read EventRing::next(uint64_t &cursor, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    published_.wait_for(lock, timeout, [&] { return closed_ || count_ > cursor; });
    Read read;
    if (count_ <= cursor) {
        read.next = closed_ ? Next::End : Next::Idle;
        return read;
    }
    if (count_ - cursor > kCapacity) {
        read.lost = count_ - 1 - cursor;
        cursor = count_ - 1;
    }
    read.next = Next::Event;
    read.event = slots_[cursor % kCapacity];
    ++cursor;
    return read;
}

} // namespace voxaim::live
