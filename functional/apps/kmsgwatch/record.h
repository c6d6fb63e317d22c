// Kernel log records: the /dev/kmsg record head and syslog-style log lines.
#pragma once

#include <cstddef>

extern "C" {

enum { KMSG_TEXT_MAX = 2047 };

// One kernel log record, reused from record to record.
struct kmsg_record {
    int level;                    // syslog severity 0..7: priority AND 7
    unsigned long long sequence;  // where the watch got to (position.h)
    unsigned long long timestamp; // microseconds, parsed, not used further
    char text[KMSG_TEXT_MAX + 1]; // the message with its trailing newline
};

} // extern "C"

namespace kmsgwatch {

// Level given to every record taken from the log file.
inline constexpr int LogFileLevel = 3;

// Parses one terminated /dev/kmsg record "prio,seq,usec,flags;text". True when
// the head's three numbers convert and the record holds a ';': the level is
// prio AND 7 and the text is everything after the first ';' (cut to
// KMSG_TEXT_MAX characters). False leaves the record's fields unspecified.
bool parseKmsgRecord(const char *data, kmsg_record &record);

// Parses one log file line "<time-stamp> kernel: [<kernel time>] message".
// True when the line has one leading word followed by "kernel:" and a
// non-empty message; the text is the message (after the bracketed kernel
// time stamp and the blank behind it, when present) up to the end of the
// line, and the level is LogFileLevel.
bool parseLogLine(const char *line, kmsg_record &record);

// Splits a stream of reads from a record source into records. A read that
// fills the whole buffer with record data and does not end the record with a
// newline is cut: the reads that follow are its continuation, not new records,
// up to and including the one that ends with a newline.
class RecordPieces {
public:
    // data holds `length` bytes of a read into a buffer of `capacity` bytes.
    // True when the piece starts a record (parse it), false for a continuation.
    bool startsRecord(const char *data, std::size_t length, std::size_t capacity);

private:
    bool inContinuation_ = false;
};

// Assembles complete log lines from fgets pieces: a line longer than the
// record text keeps its first KMSG_TEXT_MAX characters and the rest up to its
// newline is dropped, and a line whose newline has not been written yet waits
// for it instead of being taken apart.
class LineAssembler {
public:
    // Adds one piece of `length` bytes (a NUL among them does not end it);
    // true when a complete line is ready in line().
    bool add(const char *piece, std::size_t length);
    // Declares the pending part complete (end of the input); true when there was one.
    bool flush();
    const char *line() const { return line_; }

private:
    char line_[KMSG_TEXT_MAX + 1] = {};
    std::size_t length_ = 0;
    bool complete_ = true; // the previous line was handed out
};

} // namespace kmsgwatch
