// The rule table against what documents it for operators: each rule's lines
// in the man page, its row of the README's incident table and its entry in
// the journal's message catalog.
#include "functional/apps/kmsgwatch/classify.h"

#include <gtest/gtest.h>

#include <fstream>
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

void replaceAll(std::string &text, const std::string &from, const std::string &to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// Every run of white space as one blank.
std::string collapsed(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        const bool blank = c == ' ' || c == '\t' || c == '\n';
        if (!blank || (!out.empty() && out.back() != ' ')) {
            out += blank ? ' ' : c;
        }
    }
    return out;
}

// Roff as a reader sees it: the requests of control lines (".B", ".TP") and
// font changes dropped, "\-" and "\(dq" as printed.
std::string asPrinted(std::string roff)
{
    std::string text;
    std::istringstream lines(roff);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(".")) {
            const std::size_t blank = line.find(' ');
            line = blank == std::string::npos ? "" : line.substr(blank + 1);
        }
        text += line + '\n';
    }
    for (const char *font : {"\\fB", "\\fI", "\\fP", "\\fR"}) {
        replaceAll(text, font, "");
    }
    replaceAll(text, "\\-", "-");
    replaceAll(text, "\\(dq", "\"");
    return collapsed(text);
}

std::string ruleName(const Rule &rule) { return rule.incident != nullptr ? rule.incident : rule.metrics; }

TEST(RuleDocs, EveryRuleIsInTheManPage)
{
    const std::string roff = read(ManPage);
    const std::string printed = asPrinted(roff);
    const std::size_t filesAt = roff.find("\n.SH FILES\n");
    const std::string files = roff.substr(filesAt, roff.find("\n.SH ", filesAt + 1) - filesAt);
    for (const Rule &rule : Rules) {
        EXPECT_NE(printed.find(collapsed(rule.text)), std::string::npos) << ruleName(rule);
        if (rule.alsoText != nullptr) {
            EXPECT_NE(printed.find(collapsed(rule.alsoText)), std::string::npos) << ruleName(rule);
        }
        if (rule.incident != nullptr) {
            std::string heading = std::string("\n.B ") + rule.incident + "\n";
            replaceAll(heading, "-", "\\-");
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
    std::istringstream lines(read(IncidentTableDoc));
    std::string rows;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("| ")) {
            rows += line + '\n';
        }
    }
    for (const Rule &rule : Rules) {
        std::string name = rule.incident != nullptr ? std::string("`") + rule.incident + "`" : "";
        if (rule.metrics != nullptr) {
            name = std::string(rule.metrics).substr(std::string(rule.metrics).rfind('/') + 1) + " + 1";
        }
        bool found = false;
        std::istringstream table(rows);
        for (std::string row; !found && std::getline(table, row);) {
            found = row.find(rule.text) != std::string::npos &&
                    (rule.alsoText == nullptr || row.find(rule.alsoText) != std::string::npos) &&
                    row.find(name) != std::string::npos;
        }
        EXPECT_TRUE(found) << ruleName(rule) << ": no row with its texts and " << name << " in "
                           << IncidentTableDoc;
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
