// Metrics files in the text exposition format that node_exporter's textfile
// collector reads: every family with its HELP and TYPE lines, label values
// escaped, no timestamps, a final line feed. A file is replaced as a whole
// (platform/publish: a temporary "<name>.<pid>" beside it, which the
// collector never reads), and is readable by everyone (0644) whatever the
// umask, since the collector runs as another user.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace fleet {

enum class MetricType { Counter, Gauge };

// One label: name and (unescaped) value.
using Label = std::pair<std::string_view, std::string_view>;

// The text of one metrics file, built family by family.
class Exposition {
public:
    // Starts a family: its HELP and TYPE lines. Each name once per file.
    void family(std::string_view name, std::string_view help, MetricType type);
    // One sample of the family started last.
    void sample(std::string_view name, std::initializer_list<Label> labels, std::uint64_t value);
    void sample(std::string_view name, std::initializer_list<Label> labels, double value);
    const std::string &text() const { return text_; }

private:
    void head(std::string_view name, std::initializer_list<Label> labels);
    std::string text_;
};

// A label value as the format writes it: backslash, double quote and line
// feed escaped.
std::string escapeLabelValue(std::string_view value);

// A metrics file in a folder. A folder that cannot be written to is reported
// once (on standard error, through the message path of fleet/journal.h) and
// tried again at every later write; the caller goes on either way.
class MetricsFile {
public:
    // folder null: nothing is ever written. `program` prefixes the message.
    MetricsFile(const char *program, const char *folder, const char *fileName);

    // Replaces the file with the text; true when it is in place.
    bool publish(const std::string &text);

    // Removes temporaries that killed writers left beside the file.
    void removeStale() const;

    bool enabled() const { return !path_.empty(); }
    const std::string &path() const { return path_; }

private:
    const char *program_;
    std::string path_;
    bool failing_ = false;
};

} // namespace fleet
