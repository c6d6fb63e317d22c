// What the watcher has seen since boot, for the fleet's monitoring: the
// counts of records, incidents and handler outcomes, published as
// <folder>/kmsgwatch.prom (-p) for node_exporter's textfile collector.
//
// On the kernel's own record device the counts survive a restart of the
// watcher within one boot: they are kept in CountsFile together with the
// sequence number of the last record counted, so a restarted watcher counts
// only the records after it. The file is rewritten before every action (an
// action may end the process) and with every metrics file.
#pragma once

#include <cstdint>

namespace kmsgwatch {

inline constexpr char CountsFile[] = "/run/kmsgwatch/counts";
inline constexpr char MetricsFileName[] = "kmsgwatch.prom";

// Starts counting: folder is -p's (null: no metrics file); countsPath null
// keeps nothing across restarts. Writes the metrics file at once, every
// series at its kept count or 0.
void statisticsStart(const char *folder, const char *countsPath, const char *bootIdPath);

// The counts below only count; statisticsChanged() publishes them once the
// record that changed them was handled.
// A record was read with this sequence number. False when a watcher of this
// boot counted it already (and handled it: skip it).
bool countRecord(unsigned long long sequence);
// A record of the log file (no sequence numbers).
void countLogRecord();
void countParseError();
// By rule index (classify.h).
void countIncident(unsigned rule);
// Handler outcomes and lost records are those of counters.h, added to what
// earlier watchers of this boot counted.

// The incident label of a rule: its handler name, or the name of its
// /run/metrics file for the rules that are only counted.
const char *ruleIncidentName(unsigned rule);

// Before an action that may end the process: the counts are kept now, and
// with publishNow the metrics file is written at once too.
void keepCounts(bool publishNow);

// The metrics file after a change: written at once unless it was written
// less than a second ago; then the write waits (statisticsDueInMs).
void statisticsChanged();
// Milliseconds until a waiting write is due (0: now), or -1 when none waits.
int statisticsDueInMs();
// Writes a waiting change now.
void statisticsFlush();

} // namespace kmsgwatch
