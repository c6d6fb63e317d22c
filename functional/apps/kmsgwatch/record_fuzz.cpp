// libFuzzer target for the record head and log-line parsers and the piece
// trackers. Built by fuzz_test.py with clang (-fsanitize=fuzzer,address,undefined).
#include "functional/apps/kmsgwatch/record.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    kmsg_record record{};
    if (kmsgwatch::parseKmsgRecord(text.data(), record)) {
        if (record.level < 0 || record.level > 7 || std::strlen(record.text) > KMSG_TEXT_MAX) {
            __builtin_trap();
        }
    }
    if (kmsgwatch::parseLogLine(text.data(), record)) {
        if (record.level != kmsgwatch::LogFileLevel || record.text[0] == '\0' ||
            std::strlen(record.text) > KMSG_TEXT_MAX) {
            __builtin_trap();
        }
    }
    // The same bytes as a stream of reads into a small buffer and of fgets pieces.
    kmsgwatch::RecordPieces pieces;
    kmsgwatch::LineAssembler lines;
    constexpr std::size_t Capacity = 64;
    for (std::size_t at = 0; at < size; at += Capacity) {
        const std::size_t length = size - at < Capacity ? size - at : Capacity;
        char piece[Capacity + 1];
        std::memcpy(piece, data + at, length);
        piece[length] = '\0';
        pieces.startsRecord(piece, length, Capacity);
        if (lines.add(piece, length) && std::strlen(lines.line()) > KMSG_TEXT_MAX) {
            __builtin_trap();
        }
    }
    if (lines.flush()) {
        kmsgwatch::parseLogLine(lines.line(), record);
    }
    return 0;
}
