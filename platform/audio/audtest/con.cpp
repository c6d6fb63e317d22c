#include "platform/audio/audtest/con.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>

extern "C" int con_vout(con *console, const char *format, va_list args)
{
    if (console == nullptr || console->vout == nullptr)
        return -1;
    return console->vout(console, format, args);
}

extern "C" int con_out(con *console, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int result = con_vout(console, format, args);
    va_end(args);
    return result;
}

extern "C" int con_puts(con *console, const char *text)
{
    if (console == nullptr)
        return -1;
    if (console->puts != nullptr)
        return console->puts(console, text);
    return con_out(console, "%s", text);
}

extern "C" int con_write(con *console, const void *buffer, size_t length)
{
    if (console == nullptr)
        return -1;
    if (console->write != nullptr)
        return console->write(console, buffer, length);
    if (length > static_cast<size_t>(INT_MAX))
        return -1;
    return con_out(console, "%.*s", static_cast<int>(length), static_cast<const char *>(buffer));
}

namespace {

// "%p " (up to "0x" + 16 digits + space on a 64-bit host), 3 characters of hex
// and 1 of text per byte, the newline and the terminator.
constexpr size_t HexdumpLineSize = 2 + 16 + 1 + CON_HEXDUMP_MAX_WIDTH * 4 + 1 + 1;

// Formats one line of `width` positions starting at `line`, of which the
// first `present` hold data.
void formatHexdumpLine(std::array<char, HexdumpLineSize> &out, const unsigned char *line, size_t present, size_t width)
{
    int used = std::snprintf(out.data(), out.size(), "%p ", static_cast<const void *>(line));
    size_t pos = used > 0 ? static_cast<size_t>(used) : 0;
    for (size_t i = 0; i < width; ++i) {
        if (i < present)
            std::snprintf(&out[pos], out.size() - pos, "%02x ", line[i]);
        else
            std::snprintf(&out[pos], out.size() - pos, "   ");
        pos += 3;
    }
    for (size_t i = 0; i < width; ++i) {
        if (i >= present)
            out[pos++] = ' ';
        else if (line[i] >= 0x21 && line[i] <= 0x7e)
            out[pos++] = static_cast<char>(line[i]);
        else
            out[pos++] = '.';
    }
    out[pos++] = '\n';
    out[pos] = '\0';
}

} // namespace

extern "C" int con_hexdump(con *console, const void *data, size_t length, size_t bytes_per_line)
{
    if (length == 0)
        return 0;
    if (bytes_per_line == 0 || data == nullptr)
        return -1;
    const size_t width = std::min<size_t>(bytes_per_line, CON_HEXDUMP_MAX_WIDTH);
    const auto *bytes = static_cast<const unsigned char *>(data);
    std::array<char, HexdumpLineSize> line{};
    for (size_t offset = 0; offset < length; offset += width) {
        formatHexdumpLine(line, bytes + offset, std::min(width, length - offset), width);
        if (con_puts(console, line.data()) < 0)
            return -1;
    }
    return 0;
}
