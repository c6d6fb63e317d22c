// Record and log-line parsing for the kernel log watcher.
#include "functional/apps/kmsgwatch/record.h"

#include <cstdio>
#include <cstring>

namespace kmsgwatch {

namespace {

void storeText(kmsg_record &record, const char *text)
{
    const std::size_t length = strnlen(text, KMSG_TEXT_MAX);
    std::memcpy(record.text, text, length);
    record.text[length] = '\0';
}

} // namespace

bool parseKmsgRecord(const char *data, kmsg_record &record)
{
    int priority = 0;
    unsigned long long sequence = 0;
    unsigned long long timestamp = 0;
    if (std::sscanf(data, "%d,%llu,%llu,", &priority, &sequence, &timestamp) != 3) {
        return false;
    }
    const char *semicolon = std::strchr(data, ';');
    if (semicolon == nullptr) {
        return false;
    }
    record.level = priority & 7;
    record.sequence = sequence;
    record.timestamp = timestamp;
    storeText(record, semicolon + 1);
    return true;
}

bool parseLogLine(const char *line, kmsg_record &record)
{
    int start = -1;
    std::sscanf(line, "%*s kernel: %n", &start);
    if (start < 0) {
        return false;
    }
    const std::size_t length = std::strlen(line);
    std::size_t message = static_cast<std::size_t>(start);
    if (line[message] == '[') {
        // Skip the bracketed kernel time stamp and the blank after it.
        const char *close = std::strchr(line + message, ']');
        if (close != nullptr) {
            message = static_cast<std::size_t>(close - line) + 2;
        }
    }
    if (message >= length) {
        return false;
    }
    record.level = LogFileLevel;
    record.sequence = 0;
    record.timestamp = 0;
    storeText(record, line + message);
    return true;
}

bool RecordPieces::startsRecord(const char *data, std::size_t length, std::size_t capacity)
{
    const std::size_t used = strnlen(data, length);
    const bool starts = !inContinuation_;
    inContinuation_ = used == capacity && used > 0 && data[used - 1] != '\n';
    return starts;
}

bool LineAssembler::add(const char *piece, std::size_t pieceLength)
{
    if (complete_) {
        length_ = 0;
        line_[0] = '\0';
        complete_ = false;
    }
    const std::size_t room = KMSG_TEXT_MAX - length_;
    const std::size_t take = pieceLength < room ? pieceLength : room;
    std::memcpy(line_ + length_, piece, take);
    length_ += take;
    line_[length_] = '\0';
    if (pieceLength > 0 && piece[pieceLength - 1] == '\n') {
        complete_ = true;
    }
    return complete_;
}

bool LineAssembler::flush()
{
    if (complete_ || length_ == 0) {
        return false;
    }
    complete_ = true;
    return true;
}

} // namespace kmsgwatch
