// Following the kernel log: the record device, or the log file as fallback.
#include "functional/apps/kmsgwatch/actions.h"
#include "functional/apps/kmsgwatch/kmsgwatch.h"
#include "functional/apps/kmsgwatch/limits.h"
#include "functional/apps/kmsgwatch/position.h"
#include "functional/apps/kmsgwatch/statistics.h"
#include "platform/fleet/journal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

using kmsgwatch::LineAssembler;

// A read asks for this much: more than any formatted /dev/kmsg record (the
// kernel refuses a read that a whole record does not fit with EINVAL, which
// here means the device cannot be read). Record texts are kept up to
// KMSG_TEXT_MAX characters.
constexpr std::size_t ReadSize = 8191;

// A file descriptor closed on every path out.
struct Descriptor {
    int fd;
    explicit Descriptor(int f) : fd(f) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() { reset(); }
    void reset()
    {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
};

// Before a blocking read: waits until fd can be read, printing what the
// storm limit and the count of lost records have to say as it comes due
// (their lines must not wait for the next record).
void waitToRead(int fd)
{
    for (;;) {
        const kmsgwatch::Millis now = kmsgwatch::monotonicMillis();
        kmsgwatch::reportPending(now, false);
        kmsgwatch::Millis due = kmsgwatch::nextReportDue();
        // A metrics file write that waits (the last one was less than a
        // second ago) is made when it is due.
        const int metricsDue = kmsgwatch::statisticsDueInMs();
        if (metricsDue == 0) {
            kmsgwatch::statisticsFlush();
            continue;
        }
        if (metricsDue > 0) {
            due = std::min<kmsgwatch::Millis>(due, now + metricsDue);
        }
        if (due == kmsgwatch::NoDeadline) {
            return;
        }
        pollfd ready{fd, POLLIN, 0};
        const int timeout = static_cast<int>(std::clamp<kmsgwatch::Millis>(due - now, 1, 60000));
        const int got = poll(&ready, 1, timeout);
        if (got > 0 || (got < 0 && errno != EINTR)) {
            return; // the read tells what there is
        }
    }
}

// Whatever ends the watch: nothing counted is left unsaid.
struct ReportAtEnd {
    ReportAtEnd() = default;
    ReportAtEnd(const ReportAtEnd &) = delete;
    ReportAtEnd &operator=(const ReportAtEnd &) = delete;
    ~ReportAtEnd() { kmsgwatch::reportPending(kmsgwatch::monotonicMillis(), true); }
};

void actOnLine(const char *line, const char *testText, int oomContinue)
{
    static kmsg_record record;
    if (kmsgwatch::parseLogLine(line, record)) {
        kmsgwatch::countLogRecord();
        act_on_message(&record, testText, oomContinue);
        kmsgwatch::statisticsChanged();
    }
}

// Follows the log file for ever (one pass in test mode, which then ends with
// failure: the file is only a fallback).
int followLogFile(const char *logFile, const char *testText, int oomContinue)
{
    Descriptor watch(inotify_init1(IN_CLOEXEC));
    if (watch.fd < 0) {
        fleet::logError("kmsgwatch: inotify_init()");
        return 0;
    }
    if (inotify_add_watch(watch.fd, logFile, IN_MODIFY) < 0) {
        const int error = errno;
        fleet::logError("kmsgwatch: inotify_add_watch()");
        fleet::logLine(fleet::Error, fleet::format("kmsgwatch: cannot open %s: %s\n", logFile, std::strerror(error)));
        return 0;
    }
    std::FILE *in = std::fopen(logFile, "re");
    if (in == nullptr) {
        fleet::logLine(fleet::Error, fleet::format("kmsgwatch: Failed to open %s: %s\n", logFile, std::strerror(errno)));
        return 0;
    }
    LineAssembler lines;
    char piece[KMSG_TEXT_MAX + 1];
    for (;;) {
        std::clearerr(in);
        for (;;) {
            // fgets does not say how much it read, and a NUL in the line
            // would hide its newline: in a buffer holding no NUL before the
            // read, the last NUL after it is the terminator fgets wrote.
            std::memset(piece, '\n', sizeof piece);
            if (std::fgets(piece, sizeof piece, in) == nullptr) {
                break;
            }
            const auto *end = static_cast<const char *>(memrchr(piece, '\0', sizeof piece));
            if (lines.add(piece, static_cast<std::size_t>(end - piece))) {
                actOnLine(lines.line(), testText, oomContinue);
            }
        }
        if (std::ferror(in)) {
            fleet::logError("kmsgwatch: fgets()");
            std::fclose(in);
            return 0;
        }
        if (testText != nullptr) {
            if (lines.flush()) {
                actOnLine(lines.line(), testText, oomContinue);
            }
            std::fclose(in);
            return 0;
        }
        char events[272];
        ssize_t got;
        do {
            waitToRead(watch.fd);
            got = read(watch.fd, events, sizeof events);
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            std::fclose(in);
            return 0;
        }
    }
}

ssize_t readDevice(int fd, void *buffer, std::size_t size) { return read(fd, buffer, size); }

} // namespace

ssize_t (*kmsgwatch::ReadDevice)(int fd, void *buffer, std::size_t size) = readDevice;

extern "C" int monitor_file(const char *device, const char *logFile, const char *testText, int oomContinue)
{
    const ReportAtEnd reportAtEnd;
    Descriptor kmsg(open(device, O_RDONLY | O_CLOEXEC | (testText != nullptr ? O_NONBLOCK : 0)));
    if (kmsg.fd < 0) {
        fleet::logLine(fleet::Error, fleet::format("kmsgwatch: cannot open %s: %s\n", device, std::strerror(errno)));
        return 0;
    }
    if (lseek(kmsg.fd, 0, SEEK_SET) < 0) {
        fleet::logError("kmsgwatch: seek()");
        return 0;
    }
    static char buffer[ReadSize + 1];
    static kmsg_record record;
    kmsgwatch::RecordPieces pieces;
    // Test mode looks at every record; the watch of the kernel's own record
    // device passes over the records a watcher of this boot has acted on
    // already. Another source (a copy, a stand-in) has sequence numbers of its
    // own and is read whole at every start.
    const bool keepPosition = testText == nullptr && std::strcmp(device, "/dev/kmsg") == 0;
    kmsgwatch::Position position(keepPosition ? kmsgwatch::PositionFile : nullptr);
    ssize_t got;
    for (;;) {
        if (testText == nullptr) {
            waitToRead(kmsg.fd);
        } else {
            kmsgwatch::reportPending(kmsgwatch::monotonicMillis(), false);
        }
        errno = 0;
        got = kmsgwatch::ReadDevice(kmsg.fd, buffer, ReadSize);
        if (got > 0) {
            buffer[got] = '\0';
            if (!pieces.startsRecord(buffer, static_cast<std::size_t>(got), ReadSize)) {
                continue; // the rest of a record already handled
            }
            if (kmsgwatch::parseKmsgRecord(buffer, record)) {
                // Counted by a watcher of this boot before: handled then.
                if (!kmsgwatch::countRecord(record.sequence)) {
                    continue;
                }
                kmsgwatch::recordRead(record.sequence);
                if (keepPosition && position.seen(record.sequence)) {
                    continue;
                }
                // Classified once: the position is kept before any rule acts.
                const kmsgwatch::Classification found = kmsgwatch::classify(record, testText);
                if (keepPosition && found.rules != 0) {
                    position.keep(record.sequence);
                }
                kmsgwatch::actOnRecord(record, found, oomContinue != 0);
            } else {
                fleet::logLine(fleet::Error, "kmsgwatch: Failed to parse line\n");
                kmsgwatch::countParseError();
            }
            kmsgwatch::statisticsChanged();
            continue;
        }
        if (got < 0 && errno == EPIPE) {
            kmsgwatch::recordsOverrun(); // records were overwritten before they were read
            usleep(10000);
            continue;
        }
        break;
    }
    if (got == 0) {
        // No more records: the end of a test-mode pass over a source that
        // reports its end as end of file instead of EAGAIN.
        if (testText != nullptr) {
            return 1;
        }
        fleet::logLine(fleet::Error, "kmsgwatch: read(): end of the record device\n");
        return 0;
    }
    switch (errno) {
    case EINVAL:
        kmsg.reset();
        return followLogFile(logFile, testText, oomContinue);
    case EAGAIN:
        return 1;
    default:
        fleet::logError("kmsgwatch: read()");
        return 0;
    }
}
