// Message lines: the journal's native protocol under systemd, standard
// error elsewhere.
#include "platform/fleet/journal.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace fleet {

namespace {

bool ToJournal = false;
std::string Identifier;

// True when standard error is the stream JOURNAL_STREAM ("<dev>:<ino>") names.
bool stderrIsJournalStream()
{
    const char *stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr) {
        return false;
    }
    unsigned long long device = 0;
    unsigned long long inode = 0;
    int used = 0;
    if (std::sscanf(stream, "%llu:%llu%n", &device, &inode, &used) != 2 || stream[used] != '\0') {
        return false;
    }
    struct stat info {};
    return fstat(STDERR_FILENO, &info) == 0 && static_cast<unsigned long long>(info.st_dev) == device &&
           static_cast<unsigned long long>(info.st_ino) == inode;
}

std::string_view withoutLineFeed(std::string_view line)
{
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
    }
    return line;
}

} // namespace

void logStart(const char *identifier)
{
    Identifier = identifier;
    ToJournal = stderrIsJournalStream();
}

bool logToJournal() { return ToJournal; }

void logLine(Priority priority, std::string_view line, std::initializer_list<Field> fields)
{
    if (!ToJournal) {
        std::fwrite(line.data(), 1, line.size(), stderr);
        if (line.empty() || line.back() != '\n') {
            std::fputc('\n', stderr);
        }
        return;
    }
    std::vector<std::string> items;
    items.reserve(3 + fields.size());
    items.push_back("MESSAGE=" + std::string(withoutLineFeed(line)));
    items.push_back("PRIORITY=" + std::to_string(static_cast<int>(priority)));
    items.push_back("SYSLOG_IDENTIFIER=" + Identifier);
    for (const Field &field : fields) {
        items.push_back(std::string(field.name) + "=" + field.value);
    }
    std::vector<iovec> vector;
    vector.reserve(items.size());
    for (std::string &item : items) {
        vector.push_back({item.data(), item.size()});
    }
    if (sd_journal_sendv(vector.data(), static_cast<int>(vector.size())) < 0) {
        // The journal went away: the line is not lost, the stream may still take it.
        std::fwrite(line.data(), 1, line.size(), stderr);
        if (line.empty() || line.back() != '\n') {
            std::fputc('\n', stderr);
        }
    }
}

void logError(const char *what, std::initializer_list<Field> fields)
{
    const int error = errno;
    logLine(Error, std::string(what) + ": " + std::strerror(error) + "\n", fields);
    errno = error;
}

std::string format(const char *pattern, ...)
{
    va_list arguments;
    va_start(arguments, pattern);
    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, pattern, arguments);
    va_end(arguments);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(text.data(), text.size() + 1, pattern, again);
    }
    va_end(again);
    return text;
}

} // namespace fleet
