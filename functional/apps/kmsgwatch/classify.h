// The incident classification table, and the one classification of a record
// that the position keeping and the actions both take. Nothing here starts a
// process, sleeps or touches a file: that is actions.cpp's.
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
    // The MESSAGE_ID of the rule's journal entry, explained in the message
    // catalog (platform/fleet/voxaim-platform.catalog). An ID never changes
    // once released: queries and alerts select on it.
    const char *messageId;
    // A level of 4, 5 or 7 at which the kernel itself prints this incident, so
    // the rule acts on it although other records of that level are ignored;
    // -1: none.
    int kernelLevel = -1;
};

// Everything the watcher does for a rule follows from its entry here: the
// handler names counted (counters.h), the metrics series (statistics.cpp) and
// the journal entry. Each rule also has its lines in kmsgwatch.8 and in the
// README's table, and its catalog entry (kmsgwatch_rule_docs_test checks them).
inline constexpr Rule Rules[] = {
    {Match::BeginsWith, "\"echo 0 > /proc/sys/kernel/hung_task_timeout_secs\" disables this message.", nullptr,
     "kmsgwatch: Got hung task\n", "hung-task", ACTION_HARD_REBOOT, nullptr, "a777dcab71d7465da1e3868b3bc99105"},
    {Match::BeginsWith, "Out of memory", nullptr, "kmsgwatch: Process out of memory\n", "oom", ACTION_REBOOT, nullptr,
     "936d8e5461e54f1f9c24ce50bfd2409a"},
    {Match::BeginsWith, "Internal error: Oops:", nullptr, "kmsgwatch: Got oops\n", "oops", ACTION_HARD_REBOOT, nullptr,
     "d17c414830574785980137de1987fec2"},
    {Match::BeginsWith, "Unable to handle kernel NULL pointer dereference", nullptr,
     "kmsgwatch: Got null pointer dereference\n", "null-pointer", ACTION_HARD_REBOOT, nullptr,
     "62d9f55b1c9d4fbd80c8462f960991f6"},
    {Match::BeginsWith, "end_request: critical target error", nullptr, "kmsgwatch: Got SCSI error\n", "scsi-error",
     ACTION_CONTINUE, nullptr, "cd7b1dd687434d24ac8ec0bc4bb400bb"},
    // The kernel's audit code prints two blanks after the colon.
    {Match::ContainsEither, "avc: denied", "avc:  denied", "kmsgwatch: Got AVC violation: %s\n", "avc", ACTION_CONTINUE,
     nullptr, "a11a3fa2467946b8b378613d4e6e1c85", 5},
    {Match::BeginsWithAndContains, "arm-smmu", "Unhandled context fault", "kmsgwatch: Found SMMU error: %s\n", "smmu",
     ACTION_CONTINUE, "/run/metrics/smmu_errors", "699b575c17cd4fda9c044ce5e1242632"},
    {Match::Contains, "csr_nvdisplayr: EMEM address decode error", nullptr,
     "kmsgwatch: Found csr_nvdisplayr error: %s\n", nullptr, ACTION_CONTINUE, "/run/metrics/csr_nvdisplayr",
     "89dcae7425f941dcacea7621e804f7b0"},
    {Match::BeginsWith, "sched: RT throttling activated", nullptr, "kmsgwatch: Found RT Throttling incident: %s\n",
     nullptr, ACTION_CONTINUE, "/run/metrics/rt_throttle", "01b52d79fecd4538b62476a9638debbb", 4},
    {Match::Contains, "Inter byte i2c xfer time LIMIT reached", nullptr,
     "kmsgwatch: Found I2C xfer limit reached incident: %s\n", nullptr, ACTION_CONTINUE,
     "/run/metrics/i2c_xfer_limit_reached", "49a207bccad542569c85c4429a3bc653"},
};
inline constexpr unsigned RuleCount = sizeof Rules / sizeof Rules[0];
static_assert(RuleCount <= 32, "a rule mask holds 32 rules");

// The index of the rule with this handler name (RuleCount: none).
constexpr unsigned ruleWithIncident(const char *name)
{
    for (unsigned i = 0; i < RuleCount; ++i) {
        const char *a = Rules[i].incident;
        const char *b = name;
        if (a == nullptr) {
            continue;
        }
        while (*a != '\0' && *a == *b) {
            ++a;
            ++b;
        }
        if (*a == *b) {
            return i;
        }
    }
    return RuleCount;
}
// The rules with an action of their own besides the report.
inline constexpr unsigned HungTaskRule = ruleWithIncident("hung-task");
inline constexpr unsigned OutOfMemoryRule = ruleWithIncident("oom");
static_assert(HungTaskRule < RuleCount && OutOfMemoryRule < RuleCount);

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

// What a record asks of the watcher, worked out once per record.
struct Classification {
    bool testText = false;   // test mode: the text begins with the test text (at any level)
    std::uint32_t rules = 0; // bit i: Rules[i] matches the text and acts at the record's level
};

// The classification of a record (testText null outside test mode). The
// position keeping looks at `rules` only: the test text is not considered.
Classification classify(const kmsg_record &record, const char *testText);

} // namespace kmsgwatch
