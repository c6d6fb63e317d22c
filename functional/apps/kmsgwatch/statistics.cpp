// The watcher's counts and its metrics file.
#include "functional/apps/kmsgwatch/statistics.h"

#include "functional/apps/kmsgwatch/classify.h"
#include "functional/apps/kmsgwatch/counters.h"
#include "platform/fleet/exposition.h"
#include "platform/publish/publish.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

namespace kmsgwatch {

namespace {

// The names of the incidents that are counted, in rule order: the handler
// name, or the metrics file's name for the rules counted only.
constexpr std::array<const char *, RuleCount> RuleIncidentNames = [] {
    std::array<const char *, RuleCount> names{};
    for (unsigned i = 0; i < RuleCount; ++i) {
        const char *name = Rules[i].incident;
        if (name == nullptr) {
            name = Rules[i].metrics;
            for (const char *p = name; *p != '\0'; ++p) {
                if (*p == '/') {
                    name = p + 1;
                }
            }
        }
        names[i] = name;
    }
    return names;
}();

struct Counts {
    std::uint64_t records = 0;
    std::uint64_t lost = 0;
    std::uint64_t parseErrors = 0;
    std::array<std::uint64_t, RuleCount> incidents{};
    std::array<std::uint64_t, RuleCount> handlerFailures{};
    std::array<std::uint64_t, RuleCount> handlerTimeouts{};
    std::array<std::uint64_t, RuleCount> suppressed{};
};

struct State {
    Counts counts;
    fleet::MetricsFile metrics{"kmsgwatch", nullptr, ""};
    const char *countsPath = nullptr;
    char boot[64] = {};
    bool sequenceKnown = false;
    // A restarted watcher reads again what an earlier one counted, up to
    // the first record after the kept sequence number: records that cannot
    // be parsed among them were counted then.
    bool replaying = false;
    unsigned long long lastSequence = 0;
    double startTime = 0;
    timespec lastWrite{};
    bool written = false;
    bool pending = false;
};

State S;

std::optional<unsigned> ruleOf(const char *incident)
{
    for (unsigned i = 0; i < RuleCount; ++i) {
        if (std::strcmp(RuleIncidentNames[i], incident) == 0) {
            return i;
        }
    }
    return std::nullopt;
}

timespec monotonicNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

long long millisecondsSince(const timespec &then)
{
    const timespec now = monotonicNow();
    return (now.tv_sec - then.tv_sec) * 1000LL + (now.tv_nsec - then.tv_nsec) / 1000000;
}

// The counts file: "<boot id> <last sequence>" then one "<key> <count>"
// line per count; keys of per-incident counts are "<kind>:<incident>".
void loadCounts()
{
    std::FILE *in = std::fopen(S.countsPath, "re");
    if (in == nullptr) {
        return;
    }
    char boot[sizeof S.boot];
    unsigned long long sequence = 0;
    if (std::fscanf(in, "%63s %llu\n", boot, &sequence) != 2 || std::strcmp(boot, S.boot) != 0) {
        std::fclose(in);
        return;
    }
    Counts counts;
    char key[128];
    unsigned long long value = 0;
    while (std::fscanf(in, "%127s %llu\n", key, &value) == 2) {
        const std::string_view k(key);
        if (k == "records") {
            counts.records = value;
        } else if (k == "lost") {
            counts.lost = value;
        } else if (k == "parse_errors") {
            counts.parseErrors = value;
        } else if (const auto colon = k.find(':'); colon != std::string_view::npos) {
            const std::string incident(k.substr(colon + 1));
            const std::string_view kind = k.substr(0, colon);
            if (const auto rule = ruleOf(incident.c_str())) {
                auto *target = kind == "incidents"         ? &counts.incidents
                               : kind == "handler_failures" ? &counts.handlerFailures
                               : kind == "handler_timeouts" ? &counts.handlerTimeouts
                               : kind == "suppressed"       ? &counts.suppressed
                                                            : nullptr;
                if (target != nullptr) {
                    (*target)[*rule] = value;
                }
            }
        }
    }
    std::fclose(in);
    S.counts = counts;
    S.sequenceKnown = true;
    S.lastSequence = sequence;
    S.replaying = true;
}

Counts current();

void saveCounts()
{
    if (S.countsPath == nullptr || S.boot[0] == '\0') {
        return;
    }
    const Counts c = current();
    publish_file file;
    if (publish_open(&file, S.countsPath) != 0) {
        return; // no folder for it: the counts start again with the next watcher
    }
    std::fprintf(file.out, "%s %llu\nrecords %llu\nlost %llu\nparse_errors %llu\n", S.boot, S.lastSequence,
                 static_cast<unsigned long long>(c.records), static_cast<unsigned long long>(c.lost),
                 static_cast<unsigned long long>(c.parseErrors));
    for (unsigned i = 0; i < RuleCount; ++i) {
        const auto value = [](std::uint64_t v) { return static_cast<unsigned long long>(v); };
        std::fprintf(file.out, "incidents:%s %llu\nhandler_failures:%s %llu\nhandler_timeouts:%s %llu\nsuppressed:%s %llu\n",
                     RuleIncidentNames[i], value(c.incidents[i]), RuleIncidentNames[i],
                     value(c.handlerFailures[i]), RuleIncidentNames[i], value(c.handlerTimeouts[i]),
                     RuleIncidentNames[i], value(c.suppressed[i]));
    }
    publish_commit(&file);
}

// One family with a sample per incident.
void perIncident(fleet::Exposition &out, const char *name, const char *help,
                 const std::array<std::uint64_t, RuleCount> &values, bool handlersOnly)
{
    out.family(name, help, fleet::MetricType::Counter);
    for (unsigned i = 0; i < RuleCount; ++i) {
        if (!handlersOnly || Rules[i].incident != nullptr) {
            out.sample(name, {{"incident", RuleIncidentNames[i]}}, values[i]);
        }
    }
}

// What earlier watchers of this boot counted, and what this one counted
// (counters.h) for the handler outcomes and lost records.
Counts current()
{
    Counts c = S.counts;
    const Counters &mine = counters();
    for (unsigned i = 0; i < RuleCount; ++i) {
        if (Rules[i].incident == nullptr) {
            continue;
        }
        const IncidentCounts &n = mine.incidents[incidentIndex(Rules[i].incident)];
        c.handlerFailures[i] += n.handlerFailures;
        c.handlerTimeouts[i] += n.handlerTimeouts;
        c.suppressed[i] += n.handlersSuppressed;
    }
    c.lost += mine.recordsLost;
    return c;
}

std::string exposition()
{
    fleet::Exposition out;
    const Counts c = current();
    perIncident(out, "kmsgwatch_incidents_total", "Kernel incidents recognised since boot, by incident.",
                c.incidents, false);
    out.family("kmsgwatch_records_total", "Kernel log records read since boot.", fleet::MetricType::Counter);
    out.sample("kmsgwatch_records_total", {}, c.records);
    out.family("kmsgwatch_records_lost_total", "Kernel log records overwritten before they were read, since boot.",
               fleet::MetricType::Counter);
    out.sample("kmsgwatch_records_lost_total", {}, c.lost);
    out.family("kmsgwatch_parse_errors_total", "Kernel log records that could not be parsed, since boot.",
               fleet::MetricType::Counter);
    out.sample("kmsgwatch_parse_errors_total", {}, c.parseErrors);
    perIncident(out, "kmsgwatch_handler_failures_total",
                "Incident handlers that were missing, aborted or ended with a non-zero status, by incident.",
                c.handlerFailures, true);
    perIncident(out, "kmsgwatch_handler_timeouts_total", "Incident handlers ended at their time limit, by incident.",
                c.handlerTimeouts, true);
    perIncident(out, "kmsgwatch_handlers_suppressed_total",
                "Incidents not handed to their handler because of the rate limit, by incident.", c.suppressed, true);
    out.family("kmsgwatch_start_time_seconds", "Start of this watcher, seconds since the epoch.",
               fleet::MetricType::Gauge);
    out.sample("kmsgwatch_start_time_seconds", {}, S.startTime);
    return out.text();
}

void write()
{
    S.pending = false;
    S.written = true;
    S.lastWrite = monotonicNow();
    saveCounts();
    if (S.metrics.enabled()) {
        S.metrics.publish(exposition());
    }
}

} // namespace

void statisticsStart(const char *folder, const char *countsPath, const char *bootIdPath)
{
    S = State{};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    S.startTime = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec / 1000000) / 1000.0;
    S.metrics = fleet::MetricsFile("kmsgwatch", folder, MetricsFileName);
    S.metrics.removeStale();
    if (countsPath != nullptr) {
        if (std::FILE *in = std::fopen(bootIdPath, "re")) {
            if (std::fscanf(in, "%63s", S.boot) != 1) {
                S.boot[0] = '\0';
            }
            std::fclose(in);
        }
        if (S.boot[0] != '\0') {
            S.countsPath = countsPath;
            publish_remove_stale(countsPath);
            loadCounts();
        }
    }
    if (S.metrics.enabled()) {
        S.metrics.publish(exposition());
        S.written = true;
        S.lastWrite = monotonicNow();
    }
}

bool countRecord(unsigned long long sequence)
{
    if (S.countsPath != nullptr) {
        if (S.sequenceKnown && sequence <= S.lastSequence) {
            return false;
        }
        S.replaying = false;
        S.sequenceKnown = true;
        S.lastSequence = sequence;
    }
    ++S.counts.records;
    S.pending = true;
    return true;
}

void countLogRecord()
{
    ++S.counts.records;
    S.pending = true;
}

void countParseError()
{
    if (S.replaying) {
        return;
    }
    ++S.counts.parseErrors;
    S.pending = true;
}

void countIncident(unsigned rule)
{
    ++S.counts.incidents[rule];
    S.pending = true;
}

void keepCounts(bool publishNow)
{
    if (publishNow) {
        write();
    } else {
        saveCounts();
    }
}

const char *ruleIncidentName(unsigned rule) { return RuleIncidentNames[rule]; }

void statisticsChanged()
{
    S.pending = true;
    if (!S.written || millisecondsSince(S.lastWrite) >= 1000) {
        write();
    }
}

int statisticsDueInMs()
{
    if (!S.pending) {
        return -1;
    }
    const long long left = 1000 - millisecondsSince(S.lastWrite);
    return left > 0 ? static_cast<int>(left) : 0;
}

void statisticsFlush()
{
    if (S.pending) {
        write();
    }
}

} // namespace kmsgwatch
