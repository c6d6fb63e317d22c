// Classifying a record: the test text, the level filter and the rule table.
#include "functional/apps/kmsgwatch/classify.h"

#include "functional/apps/kmsgwatch/kmsgwatch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace kmsgwatch {

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
        std::fputs("kmsgwatch: Found test string\n", stderr);
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
        std::fprintf(stderr, rule.logFormat, line);
        if (rule.metrics != nullptr) {
            increment_instance_of(rule.metrics);
        }
        if (i == HungTaskRule) {
            markHungTask();
        }
        if (rule.incident != nullptr) {
            unsigned action = rule.action;
            if (i == OutOfMemoryRule && oomContinue) {
                action = ACTION_CONTINUE;
            }
            trigger_acr(rule.incident, action);
        }
    }
}
