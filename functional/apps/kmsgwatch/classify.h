// The incident classification table.
#pragma once

#include "functional/apps/kmsgwatch/kmsgwatch.h"

#include <cstdint>

namespace kmsgwatch {

enum class Match { BeginsWith, Contains, BeginsWithAndContains, ContainsEither };

struct Rule {
    Match match;
    const char *text;      // begins-with or contains text
    const char *alsoText;  // BeginsWithAndContains: the contained text; ContainsEither: the other text
    const char *logFormat; // standard error line; "%s" takes the record text
    const char *incident;  // handler name, or null: counted only
    unsigned action;       // for the report (oom: see oomContinue); counted only: unused
    const char *metrics;   // metrics file, or null
    // A level of 4, 5 or 7 at which the kernel itself prints this incident, so
    // the rule acts on it although other records of that level are ignored;
    // -1: none.
    int kernelLevel = -1;
};

inline constexpr Rule Rules[] = {
    {Match::BeginsWith, "\"echo 0 > /proc/sys/kernel/hung_task_timeout_secs\" disables this message.", nullptr,
     "kmsgwatch: Got hung task\n", "hung-task", ACTION_HARD_REBOOT, nullptr},
    {Match::BeginsWith, "Out of memory", nullptr, "kmsgwatch: Process out of memory\n", "oom", ACTION_REBOOT, nullptr},
    {Match::BeginsWith, "Internal error: Oops:", nullptr, "kmsgwatch: Got oops\n", "oops", ACTION_HARD_REBOOT, nullptr},
    {Match::BeginsWith, "Unable to handle kernel NULL pointer dereference", nullptr,
     "kmsgwatch: Got null pointer dereference\n", "null-pointer", ACTION_HARD_REBOOT, nullptr},
    {Match::BeginsWith, "end_request: critical target error", nullptr, "kmsgwatch: Got SCSI error\n", "scsi-error",
     ACTION_CONTINUE, nullptr},
    // The kernel's audit code prints two blanks after the colon.
    {Match::ContainsEither, "avc: denied", "avc:  denied", "kmsgwatch: Got AVC violation: %s\n", "avc", ACTION_CONTINUE,
     nullptr, 5},
    {Match::BeginsWithAndContains, "arm-smmu", "Unhandled context fault", "kmsgwatch: Found SMMU error: %s\n", "smmu",
     ACTION_CONTINUE, "/run/metrics/smmu_errors"},
    {Match::Contains, "csr_nvdisplayr: EMEM address decode error", nullptr,
     "kmsgwatch: Found csr_nvdisplayr error: %s\n", nullptr, ACTION_CONTINUE, "/run/metrics/csr_nvdisplayr"},
    {Match::BeginsWith, "sched: RT throttling activated", nullptr, "kmsgwatch: Found RT Throttling incident: %s\n",
     nullptr, ACTION_CONTINUE, "/run/metrics/rt_throttle", 4},
    {Match::Contains, "Inter byte i2c xfer time LIMIT reached", nullptr,
     "kmsgwatch: Found I2C xfer limit reached incident: %s\n", nullptr, ACTION_CONTINUE,
     "/run/metrics/i2c_xfer_limit_reached"},
};
inline constexpr unsigned RuleCount = sizeof Rules / sizeof Rules[0];
// The MESSAGE_ID of each rule's journal entry (platform/fleet/message_ids.h).
extern const char *const RuleMessageIds[RuleCount];
inline constexpr unsigned HungTaskRule = 0;
inline constexpr unsigned OutOfMemoryRule = 1;

// Levels 4, 5 and 7 (warning, notice, debug) are not acted on.
bool isIgnoredLevel(int level);

// True when `rule` acts on a record of `level`: any level that is not
// ignored, and the kernel's own level for the incident (audit records such as
// AVC denials come at level 5, "sched: RT throttling activated" at level 4).
bool actsAtLevel(const Rule &rule, int level);

// Bit i set when Rules[i] matches the text (the level is not considered).
std::uint32_t matchingRules(const char *text);

// True when the test text is set and the record text begins with it.
bool matchesTestText(const char *text, const char *testText);

} // namespace kmsgwatch
