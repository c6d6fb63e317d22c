// Classifying a record: the test text, the level filter and the rule table.
#include "functional/apps/kmsgwatch/classify.h"

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

Classification classify(const kmsg_record &record, const char *testText)
{
    Classification found;
    found.testText = matchesTestText(record.text, testText);
    const std::uint32_t matching = matchingRules(record.text);
    for (unsigned i = 0; i < RuleCount; ++i) {
        if ((matching & (1u << i)) != 0 && actsAtLevel(Rules[i], record.level)) {
            found.rules |= 1u << i;
        }
    }
    return found;
}

} // namespace kmsgwatch
