// What the watcher has counted since it started: the handlers it ran, how
// they ended, the reports it held back in storms and the kernel log records
// it never saw. Kept in one place for whoever exports them; the action and
// reading code only add to them.
#pragma once

#include "functional/apps/kmsgwatch/classify.h"

#include <array>
#include <cstdint>

namespace kmsgwatch {

// The incidents with a handler of their own: "test" (test mode), then the
// handler names of the rule table in its order. Any other name (a caller of
// trigger_acr may use one) is counted under OtherIncident.
inline constexpr unsigned IncidentCount = [] {
    unsigned count = 1;
    for (const Rule &rule : Rules) {
        count += rule.incident != nullptr ? 1 : 0;
    }
    return count;
}();
inline constexpr std::array<const char *, IncidentCount> IncidentNames = [] {
    std::array<const char *, IncidentCount> names{"test"};
    unsigned next = 1;
    for (const Rule &rule : Rules) {
        if (rule.incident != nullptr) {
            names[next++] = rule.incident;
        }
    }
    return names;
}();
inline constexpr char OtherIncident[] = "other";

struct IncidentCounts {
    std::uint64_t handlerRuns = 0;        // handlers started
    std::uint64_t handlerFailures = 0;    // ended with a status other than 0 or by a signal (not a timeout);
                                          // a missing handler counts here (its child aborts)
    std::uint64_t handlerTimeouts = 0;    // stopped at the time limit
    std::uint64_t handlersSuppressed = 0; // reports held back by the storm limit: no handler, no note
};

struct Counters {
    IncidentCounts incidents[IncidentCount + 1]; // in IncidentNames order, then OtherIncident
    std::uint64_t rebootCommandTimeouts = 0;     // `reboot` commands stopped at the end of the pause
    std::uint64_t recordsLost = 0;               // records overwritten before they were read
};

// The watcher's counters.
Counters &counters();

// Index of an incident name in Counters::incidents (IncidentCount: any other name).
unsigned incidentIndex(const char *name);

// The name counted at an index (OtherIncident for IncidentCount).
const char *incidentName(unsigned index);

} // namespace kmsgwatch
