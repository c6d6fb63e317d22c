// Message lines of the platform daemons. Under systemd, when standard error
// is the journal's stream (JOURNAL_STREAM names the device and inode of the
// descriptor), each line becomes one structured journal entry instead: the
// line without its line feed as MESSAGE, a PRIORITY, SYSLOG_IDENTIFIER and
// the fields the caller gives (MESSAGE_ID, INCIDENT, TEST, ...). Anywhere
// else the line goes to standard error exactly as it is.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace fleet {

// Syslog priorities the daemons use.
enum Priority : int {
    Critical = 2, // a fatal incident
    Error = 3,    // the daemon itself failed at something
    Warning = 4,  // an incident, a failed test
    Notice = 5,   // an incident that is only counted
    Info = 6,
};

struct Field {
    std::string_view name; // upper-case letters, digits and '_'
    std::string value;
};

// Decides once, from JOURNAL_STREAM and standard error, where lines go, and
// names the sender (SYSLOG_IDENTIFIER). Call before the first line; later
// calls decide again (after standard error was replaced, say).
void logStart(const char *identifier);

// True when lines go to the journal.
bool logToJournal();

// One message line (with or without its final line feed).
void logLine(Priority priority, std::string_view line, std::initializer_list<Field> fields = {});

// perror's line for `what` and the current errno: "<what>: <error text>".
void logError(const char *what, std::initializer_list<Field> fields = {});

// printf into a std::string, for the lines above.
[[gnu::format(printf, 1, 2)]] std::string format(const char *pattern, ...);

} // namespace fleet
