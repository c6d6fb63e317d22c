// The rule table against its documentation: each rule's lines in the man
// page, its row of the incident table (docs/operating.md), its journal catalog entry.
#include "functional/apps/kmsgwatch/classify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

using namespace kmsgwatch;

namespace {

// The documents, relative to the source tree. The incident table is the one
// under "Operating kmsgwatch".
constexpr char ManPage[] = "functional/apps/kmsgwatch/kmsgwatch.8";
constexpr char IncidentTableDoc[] = "docs/operating.md";
constexpr char Catalog[] = "platform/fleet/voxaim-platform.catalog";

std::string read(const char *relative)
{
    std::ifstream in(std::string(VX_SOURCE_DIR) + "/" + relative);
    EXPECT_TRUE(in.is_open()) << relative;
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// Every run of white space as one blank.
std::string collapsed(std::string text)
{
    std::replace_if(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); }, ' ');
    text.erase(std::unique(text.begin(), text.end(), [](char a, char b) { return a == ' ' && b == ' '; }), text.end());
    return text;
}

// Roff's escapes as printed, white space collapsed (a text may be wrapped).
std::string asPrinted(std::string roff)
{
    for (const auto &[escape, printed] : {std::pair{"\\-", "-"}, {"\\(dq", "\""}, {"\\fB", ""}, {"\\fI", ""},
                                          {"\\fP", ""}, {"\\fR", ""}}) {
        roff = replaced(roff, escape, printed);
    }
    return collapsed(roff);
}

std::string ruleName(const Rule &rule) { return rule.incident != nullptr ? rule.incident : rule.metrics; }

// The man page, and the catalog entry of each MESSAGE_ID.
TEST(RuleDocs, EveryRuleIsInTheManPageAndTheCatalog)
{
    const std::string roff = read(ManPage);
    const std::string catalog = read(Catalog);
    const std::string printed = asPrinted(roff);
    const std::size_t filesAt = roff.find("\n.SH FILES\n");
    const std::string files = roff.substr(filesAt, roff.find("\n.SH ", filesAt + 1) - filesAt);
    for (const Rule &rule : Rules) {
        for (const char *text : {rule.text, rule.alsoText, rule.messageId}) {
            EXPECT_TRUE(text == nullptr || printed.find(collapsed(text)) != std::string::npos) << ruleName(rule);
        }
        if (rule.metrics != nullptr) {
            EXPECT_NE(files.find(rule.metrics), std::string::npos) << ruleName(rule) << ": under FILES";
        }
        EXPECT_NE(catalog.find(std::string("\n-- ") + rule.messageId + "\n"), std::string::npos)
            << ruleName(rule) << ": its catalog entry";
    }
}

// A row with the rule's texts, and its handler name or metrics file.
TEST(RuleDocs, EveryRuleHasItsRowInTheIncidentTable)
{
    const std::string doc = read(IncidentTableDoc);
    for (const Rule &rule : Rules) {
        const std::string name = rule.metrics != nullptr ? std::string(std::strrchr(rule.metrics, '/') + 1) + " + 1"
                                                         : std::string("`") + rule.incident + "`";
        bool found = false;
        std::istringstream lines(doc);
        for (std::string row; !found && std::getline(lines, row);) {
            found = row.starts_with("| ") && row.find(rule.text) != std::string::npos &&
                    (rule.alsoText == nullptr || row.find(rule.alsoText) != std::string::npos) &&
                    row.find(name) != std::string::npos;
        }
        EXPECT_TRUE(found) << ruleName(rule) << ": no row with its texts and " << name << " in " << IncidentTableDoc;
    }
}

} // namespace
