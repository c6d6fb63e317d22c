#include "functional/audio/voxaim/live/live_ring.h"

#include <utility>

namespace voxaim::live {

void EventRing::publish(std::string event)
{
    Event next = std::make_shared<const std::string>(std::move(event));
    {
        const std::lock_guard lock(mutex_);
        slots_[count_ % kCapacity].swap(next);
        ++count_;
    }
    published_.notify_all();
    // `next` now holds the overwritten event, freed here outside the lock
    // unless a reader still sends it.
}

void EventRing::close()
{
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
    }
    published_.notify_all();
}

uint64_t EventRing::startCursor() const
{
    const std::lock_guard lock(mutex_);
    return count_ > 0 ? count_ - 1 : 0;
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
