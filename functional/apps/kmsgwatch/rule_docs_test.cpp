// The rule table against what documents it for operators: each rule's lines
// in the man page, its row of the README's incident table and its entry in
// the journal's message catalog.
#include "functional/apps/kmsgwatch/classify.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

using namespace kmsgwatch;

namespace {

// The documents, relative to the source tree. The incident table is the one
// under "Operating kmsgwatch".
constexpr char ManPage[] = "functional/apps/kmsgwatch/kmsgwatch.8";
constexpr char IncidentTableDoc[] = "README.md";
constexpr char Catalog[] = "platform/fleet/voxaim-platform.catalog";

std::string read(const char *relative)
{
    std::ifstream in(std::string(VX_SOURCE_DIR) + "/" + relative);
    EXPECT_TRUE(in.is_open()) << relative;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string replaced(const std::string &text, const char *pattern, const char *by)
{
    return std::regex_replace(text, std::regex(pattern), by);
}

// Every run of white space as one blank.
std::string collapsed(const std::string &text) { return replaced(text, "\\s+", " "); }

std::string ruleName(const Rule &rule) { return rule.incident != nullptr ? rule.incident : rule.metrics; }

TEST(RuleDocs, EveryRuleIsInTheManPage)
{
    const std::string roff = read(ManPage);
    // As a reader sees it: no requests (".B", ".TP"), no font changes, "\-" and "\(dq" as printed.
    const std::string printed = collapsed(replaced(
        replaced(replaced(replaced(roff, "(^|\n)\\.[A-Za-z]+ ?", "$1"), "\\\\f[BIPR]", ""), "\\\\-", "-"),
        "\\\\\\(dq", "\""));
    const std::size_t filesAt = roff.find("\n.SH FILES\n");
    const std::string files = roff.substr(filesAt, roff.find("\n.SH ", filesAt + 1) - filesAt);
    for (const Rule &rule : Rules) {
        EXPECT_NE(printed.find(collapsed(rule.text)), std::string::npos) << ruleName(rule);
        if (rule.alsoText != nullptr) {
            EXPECT_NE(printed.find(collapsed(rule.alsoText)), std::string::npos) << ruleName(rule);
        }
        if (rule.incident != nullptr) {
            const std::string heading = "\n.B " + replaced(rule.incident, "-", "\\-") + "\n";
            EXPECT_NE(roff.find(heading), std::string::npos) << ruleName(rule) << ": its paragraph";
        }
        if (rule.metrics != nullptr) {
            EXPECT_NE(files.find(rule.metrics), std::string::npos) << ruleName(rule) << ": under FILES";
        }
        EXPECT_NE(printed.find(rule.messageId), std::string::npos) << ruleName(rule) << ": its MESSAGE_ID";
    }
}

// One row per rule: its texts, and its handler name or metrics file.
TEST(RuleDocs, EveryRuleHasItsRowInTheIncidentTable)
{
    const std::string doc = read(IncidentTableDoc);
    for (const Rule &rule : Rules) {
        const std::string name = rule.metrics != nullptr ? replaced(rule.metrics, ".*/", "") + " + 1"
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

TEST(RuleDocs, EveryRuleHasItsCatalogEntry)
{
    const std::string catalog = read(Catalog);
    for (const Rule &rule : Rules) {
        EXPECT_NE(catalog.find(std::string("\n-- ") + rule.messageId + "\n"), std::string::npos) << ruleName(rule);
    }
}

} // namespace
