// Metrics files in the text exposition format, published atomically.
#include "platform/fleet/exposition.h"

#include "platform/fleet/journal.h"
#include "platform/publish/publish.h"

#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace fleet {

std::string escapeLabelValue(std::string_view value)
{
    std::string escaped;
    escaped.reserve(value.size());
    for (const char c : value) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '"':
            escaped += "\\\"";
            break;
        case '\n':
            escaped += "\\n";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

void Exposition::family(std::string_view name, std::string_view help, MetricType type)
{
    text_ += "# HELP ";
    text_ += name;
    text_ += ' ';
    // HELP text escapes backslash and line feed.
    for (const char c : help) {
        text_ += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
    }
    text_ += "\n# TYPE ";
    text_ += name;
    text_ += type == MetricType::Counter ? " counter\n" : " gauge\n";
}

void Exposition::head(std::string_view name, std::initializer_list<Label> labels)
{
    text_ += name;
    if (labels.size() != 0) {
        text_ += '{';
        bool first = true;
        for (const Label &label : labels) {
            if (!first) {
                text_ += ',';
            }
            first = false;
            text_ += label.first;
            text_ += "=\"";
            text_ += escapeLabelValue(label.second);
            text_ += '"';
        }
        text_ += '}';
    }
    text_ += ' ';
}

void Exposition::sample(std::string_view name, std::initializer_list<Label> labels, std::uint64_t value)
{
    head(name, labels);
    char number[32];
    std::snprintf(number, sizeof number, "%" PRIu64 "\n", value);
    text_ += number;
}

void Exposition::sample(std::string_view name, std::initializer_list<Label> labels, double value)
{
    head(name, labels);
    char number[40];
    // Enough digits for a time stamp in seconds with its milliseconds.
    std::snprintf(number, sizeof number, std::isfinite(value) ? "%.17g\n" : "NaN\n", value);
    text_ += number;
}

MetricsFile::MetricsFile(const char *program, const char *folder, const char *fileName) : program_(program)
{
    if (folder != nullptr) {
        path_ = std::string(folder) + "/" + fileName;
    }
}

bool MetricsFile::publish(const std::string &text)
{
    if (path_.empty()) {
        return false;
    }
    publish_file file;
    bool done = false;
    if (publish_open(&file, path_.c_str()) == 0) {
        // The collector runs as its own user: readable by everyone, set on
        // the descriptor so that the umask does not decide.
        if (fchmod(fileno(file.out), 0644) != 0) {
            publish_abandon(&file);
        } else {
            std::fwrite(text.data(), 1, text.size(), file.out);
            done = publish_commit(&file) == PUBLISH_DONE;
        }
    }
    if (!done && !failing_) {
        logLine(Error, format("%s: cannot write the metrics file %s: %s\n", program_, path_.c_str(),
                              std::strerror(errno)));
    }
    failing_ = !done;
    return done;
}

void MetricsFile::removeStale() const
{
    if (!path_.empty()) {
        publish_remove_stale(path_.c_str());
    }
}

} // namespace fleet
