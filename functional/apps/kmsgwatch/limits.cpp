// The storm limit and the count of lost records.
#include "platform/fleet/journal.h"
#include "platform/fleet/message_ids.h"
#include "functional/apps/kmsgwatch/limits.h"

#include "functional/apps/kmsgwatch/counters.h"

#include <cstdio>
#include <ctime>

namespace kmsgwatch {

Millis monotonicMillis()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<Millis>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool StormLimit::allow(Millis now)
{
    if (count_ < MaxRuns) {
        runs_[count_++] = now;
        return true;
    }
    if (now - runs_[oldest_] >= Window) {
        runs_[oldest_] = now;
        oldest_ = (oldest_ + 1) % MaxRuns;
        return true;
    }
    if (heldBack_ == 0) {
        closes_ = runs_[oldest_] + Window; // the window of the last MaxRuns runs
    }
    ++heldBack_;
    return false;
}

std::uint64_t StormLimit::takeHeldBack(Millis now, bool force)
{
    if (heldBack_ == 0 || (!force && now < closes_)) {
        return 0;
    }
    const std::uint64_t count = heldBack_;
    heldBack_ = 0;
    return count;
}

void LostRecords::sequence(unsigned long long sequence)
{
    std::uint64_t lost = known_ && sequence > last_ + 1 ? sequence - last_ - 1 : 0;
    if (overrun_ && lost == 0) {
        lost = 1; // the kernel said so, though the numbers do not show it
    }
    overrun_ = false;
    known_ = true;
    last_ = sequence;
    pending_ += lost;
    counters().recordsLost += lost;
}

Millis LostRecords::due() const
{
    if (pending_ == 0) {
        return NoDeadline;
    }
    return reported_ ? lastReport_ + MinInterval : 0;
}

void LostRecords::report(Millis now, bool force)
{
    if (pending_ == 0 || (!force && now < due())) {
        return;
    }
    fleet::logLine(fleet::Warning,
                   fleet::format("kmsgwatch: %llu kernel log records lost (overwritten before they were read)\n",
                                 static_cast<unsigned long long>(pending_)),
                   {{"MESSAGE_ID", fleet::message_id::RecordsLost}, {"LOST", std::to_string(pending_)}});
    if (!addToMetricsFile(file_, pending_)) {
        fleet::logLine(fleet::Error, fleet::format("kmsgwatch: updating metrics file (%s) failed\n", file_));
    }
    pending_ = 0;
    reported_ = true;
    lastReport_ = now;
}

} // namespace kmsgwatch
