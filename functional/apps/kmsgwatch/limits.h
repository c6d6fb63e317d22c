// What keeps a flood of kernel log records from stalling the watch: the
// storm limit on the reports of one incident, and the count of records the
// kernel overwrote before they were read. Both take the time from the caller
// (milliseconds of the monotonic clock), so they print nothing by themselves
// between records.
#pragma once

#include <cstdint>

namespace kmsgwatch {

using Millis = long long;
inline constexpr Millis NoDeadline = INT64_MAX;

// The monotonic clock in milliseconds.
Millis monotonicMillis();

// Reports of one incident name: at most MaxRuns handler runs (and notes) in
// any Window. A report past that is held back and counted; the count is
// handed out once the window it fell in has closed.
class StormLimit {
public:
    static constexpr unsigned MaxRuns = 10;
    static constexpr Millis Window = 10000;

    // True when a report at `now` may run its handler and write its note;
    // false counts it as held back.
    bool allow(Millis now);

    // The reports held back in the window that has closed by `now` (with
    // `force`, in the open one too), counted once; 0 when there are none.
    std::uint64_t takeHeldBack(Millis now, bool force);

    // When the window with held-back reports closes; NoDeadline without any.
    Millis due() const { return heldBack_ != 0 ? closes_ : NoDeadline; }

private:
    Millis runs_[MaxRuns] = {}; // start times of the last runs, a ring
    unsigned count_ = 0;        // entries of runs_ in use
    unsigned oldest_ = 0;       // index of the oldest once the ring is full
    std::uint64_t heldBack_ = 0;
    Millis closes_ = 0;
};

// Counts the kernel log records lost between reads: the gaps in the
// sequence numbers, and the reads that failed with EPIPE (records overwritten
// before they were read: at least one is lost). The line and the metrics file
// are brought up to date at most once per MinInterval; what comes in between
// is added to the next one.
class LostRecords {
public:
    static constexpr Millis MinInterval = 1000;

    explicit LostRecords(const char *metricsFile) : file_(metricsFile) {}

    // A read failed with EPIPE.
    void overrun() { overrun_ = true; }

    // Every record read, in order, with its sequence number.
    void sequence(unsigned long long sequence);

    // When due at `now` (or with `force`, whenever some are counted): prints
    // "kmsgwatch: N kernel log records lost (overwritten before they were
    // read)" and adds N to the metrics file.
    void report(Millis now, bool force);

    // When the next report is due; NoDeadline when nothing is counted.
    Millis due() const;

private:
    const char *file_;
    bool known_ = false; // a sequence number was seen
    unsigned long long last_ = 0;
    bool overrun_ = false;
    std::uint64_t pending_ = 0;
    bool reported_ = false;
    Millis lastReport_ = 0;
};

// Adds n to the count of a metrics file (one unsigned decimal number and a
// line feed; a missing or unreadable file counts as 0), replacing it as a
// whole. False when it could not be written.
bool addToMetricsFile(const char *path, unsigned long long n);

} // namespace kmsgwatch
