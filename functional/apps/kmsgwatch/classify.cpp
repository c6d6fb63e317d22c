// Classifying a record: the test text, the level filter and the rule table.
#include "functional/apps/kmsgwatch/classify.h"

#include "functional/apps/kmsgwatch/kmsgwatch.h"
#include "functional/apps/kmsgwatch/statistics.h"
#include "platform/fleet/journal.h"
#include "platform/fleet/message_ids.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace kmsgwatch {

const char *const RuleMessageIds[RuleCount] = {
    fleet::message_id::HungTask,      fleet::message_id::OutOfMemory, fleet::message_id::Oops,
    fleet::message_id::NullPointer,   fleet::message_id::ScsiError,   fleet::message_id::Avc,
    fleet::message_id::Smmu,          fleet::message_id::CsrNvdisplayr, fleet::message_id::RtThrottle,
    fleet::message_id::I2cXferLimit,
};

namespace {

bool beginsWith(const char *text, const char *prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

bool matches(const Rule &rule, const char *text)
{
    switch (rule.match) {
    case Match::BeginsWith:
        return beginsWith(text, rule.text);
    case Match::Contains:
        return std::strstr(text, rule.text) != nullptr;
    case Match::BeginsWithAndContains:
        return beginsWith(text, rule.text) && std::strstr(text, rule.alsoText) != nullptr;
    case Match::ContainsEither:
        return std::strstr(text, rule.text) != nullptr || std::strstr(text, rule.alsoText) != nullptr;
    }
    return false;
}

// The record's text for a message line: without the line feed that ends
// it, so that each incident is one line.
void copyAsOneLine(const char *text, char (&line)[KMSG_TEXT_MAX + 1])
{
    std::size_t length = strnlen(text, KMSG_TEXT_MAX);
    if (length > 0 && text[length - 1] == '\n') {
        --length;
    }
    std::memcpy(line, text, length);
    line[length] = '\0';
}

// Before a hung-task report: give the kernel's own report time to reach the
// log, then leave the marker the watchdog side looks for.
void markHungTask()
{
    SleepSeconds(3);
    const int fd = open(HungTaskMarker, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        close(fd);
    }
}

// The incident's line, with the fields a query selects on.
void logIncident(unsigned rule, unsigned action, const kmsg_record &record, const char *text)
{
    const Rule &r = Rules[rule];
    const fleet::Priority priority = r.incident == nullptr     ? fleet::Notice
                                     : action == ACTION_CONTINUE ? fleet::Warning
                                                                 : fleet::Critical;
    const std::string line = fleet::format(r.logFormat, text);
    const std::string incident = ruleIncidentName(rule);
    if (r.incident != nullptr) {
        fleet::logLine(priority, line,
                       {{"MESSAGE_ID", RuleMessageIds[rule]},
                        {"INCIDENT", incident},
                        {"ACTION", actionWords(action)},
                        {"KERNEL_SEQNUM", std::to_string(record.sequence)},
                        {"KERNEL_LEVEL", std::to_string(record.level)},
                        {"KERNEL_TEXT", text}});
    } else {
        fleet::logLine(priority, line,
                       {{"MESSAGE_ID", RuleMessageIds[rule]},
                        {"INCIDENT", incident},
                        {"KERNEL_SEQNUM", std::to_string(record.sequence)},
                        {"KERNEL_LEVEL", std::to_string(record.level)},
                        {"KERNEL_TEXT", text}});
    }
}

} // namespace

bool isIgnoredLevel(int level) { return level == 4 || level == 5 || level == 7; }

bool actsAtLevel(const Rule &rule, int level) { return !isIgnoredLevel(level) || level == rule.kernelLevel; }

std::uint32_t matchingRules(const char *text)
{
    std::uint32_t found = 0;
    for (unsigned i = 0; i < RuleCount; ++i) {
        if (matches(Rules[i], text)) {
            found |= 1u << i;
        }
    }
    return found;
}

bool matchesTestText(const char *text, const char *testText)
{
    return testText != nullptr && beginsWith(text, testText);
}

} // namespace kmsgwatch

using namespace kmsgwatch;

extern "C" void act_on_message(const kmsg_record *record, const char *testText, int oomContinue)
{
    if (matchesTestText(record->text, testText)) {
        fleet::logLine(fleet::Info, "kmsgwatch: Found test string\n");
        trigger_acr("test", ACTION_EXIT);
    }
    const std::uint32_t found = matchingRules(record->text);
    for (unsigned i = 0; i < RuleCount; ++i) {
        const Rule &rule = Rules[i];
        if ((found & (1u << i)) == 0 || !actsAtLevel(rule, record->level)) {
            continue;
        }
        char line[KMSG_TEXT_MAX + 1];
        copyAsOneLine(record->text, line);
        unsigned action = rule.action;
        if (i == OutOfMemoryRule && oomContinue) {
            action = ACTION_CONTINUE;
        }
        logIncident(i, action, *record, line);
        countIncident(i);
        if (rule.metrics != nullptr) {
            increment_instance_of(rule.metrics);
        }
        if (i == HungTaskRule) {
            markHungTask();
        }
        if (rule.incident != nullptr) {
            // The report may end the process: what was counted is kept first.
            keepCounts(action != ACTION_CONTINUE);
            trigger_acr(rule.incident, action);
        }
    }
}
