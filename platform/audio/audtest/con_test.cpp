#include "platform/audio/audtest/con.h"

#include "platform/audio/audtest/test/capture_console.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

namespace {

std::string address(const void *p)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%p ", p);
    return buffer;
}

TEST(ConHexdump, ShortLastLineIsPaddedInBothColumns)
{
    const std::array<unsigned char, 5> data = {0x41, 0x42, 0x20, 0x43, 0x01};
    CaptureConsole console;
    EXPECT_EQ(con_hexdump(&console, data.data(), data.size(), 4), 0);
    ASSERT_EQ(console.lines.size(), 2u);
    EXPECT_EQ(console.lines[0], address(data.data()) + "41 42 20 43 AB.C\n");
    EXPECT_EQ(console.lines[1], address(data.data() + 4) + "01          .   \n");
}

TEST(ConHexdump, TextColumnShowsOnlyPrintableNonSpaceBytes)
{
    const std::array<unsigned char, 8> data = {0x00, 0x1f, 0x20, 0x21, 0x7e, 0x7f, 0x80, 0xff};
    CaptureConsole console;
    EXPECT_EQ(con_hexdump(&console, data.data(), data.size(), 8), 0);
    ASSERT_EQ(console.lines.size(), 1u);
    EXPECT_EQ(console.lines[0], address(data.data()) + "00 1f 20 21 7e 7f 80 ff ...!~...\n");
}

TEST(ConHexdump, WidthIsCappedAt32)
{
    std::array<unsigned char, 40> data{};
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>('a' + i % 26);
    CaptureConsole console;
    EXPECT_EQ(con_hexdump(&console, data.data(), data.size(), 100), 0);
    ASSERT_EQ(console.lines.size(), 2u);

    std::string first = address(data.data());
    std::string firstText;
    for (size_t i = 0; i < 32; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x ", data[i]);
        first += hex;
        firstText += static_cast<char>(data[i]);
    }
    EXPECT_EQ(console.lines[0], first + firstText + "\n");

    std::string second = address(data.data() + 32);
    for (size_t i = 32; i < 40; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x ", data[i]);
        second += hex;
    }
    second += std::string(24 * 3, ' ') + "ghijklmn" + std::string(24, ' ') + "\n";
    EXPECT_EQ(console.lines[1], second);
}

TEST(ConHexdump, EmptyDataWritesNothing)
{
    const char data[] = "x";
    CaptureConsole console;
    EXPECT_EQ(con_hexdump(&console, data, 0, 16), 0);
    EXPECT_EQ(con_hexdump(nullptr, data, 0, 16), 0);
    EXPECT_TRUE(console.text.empty());
}

TEST(ConHexdump, StopsAtTheFirstFailingLine)
{
    std::array<unsigned char, 12> data{};
    CaptureConsole console;
    console.failingPuts = 1;
    EXPECT_EQ(con_hexdump(&console, data.data(), data.size(), 4), -1);
    EXPECT_EQ(console.lines.size(), 1u);

    EXPECT_EQ(con_hexdump(nullptr, data.data(), data.size(), 4), -1);
}

TEST(ConHexdump, RefusesAZeroWidthOrMissingData)
{
    const char data[] = "abc";
    CaptureConsole console;
    EXPECT_EQ(con_hexdump(&console, data, 3, 0), -1);
    EXPECT_EQ(con_hexdump(&console, nullptr, 3, 4), -1);
    EXPECT_TRUE(console.text.empty());
}

TEST(ConHexdump, LinesGoThroughVoutWhenPutsIsAbsent)
{
    const char data[] = "%s%n";
    CaptureConsole console(false, false);
    EXPECT_EQ(con_hexdump(&console, data, 4, 4), 0);
    EXPECT_EQ(console.text, address(data) + "25 73 25 6e %s%n\n");
}

TEST(ConOutput, PutsFallsBackToVoutWithTheTextUnformatted)
{
    CaptureConsole withPuts;
    CaptureConsole withoutPuts(false, false);
    const char *text = "100% sure %d %s\n";
    EXPECT_EQ(con_puts(&withPuts, text), 16);
    EXPECT_EQ(con_puts(&withoutPuts, text), 16);
    EXPECT_EQ(withoutPuts.text, text);
    EXPECT_EQ(withoutPuts.text, withPuts.text);
    EXPECT_EQ(withoutPuts.voutCalls, 1);
    EXPECT_EQ(withPuts.voutCalls, 0);
}

TEST(ConOutput, WriteOutputsExactlyTheGivenLength)
{
    CaptureConsole withWrite;
    CaptureConsole withoutWrite(true, false);
    EXPECT_EQ(con_write(&withoutWrite, "abcdef", 3), 3);
    EXPECT_EQ(withoutWrite.text, "abc");
    EXPECT_EQ(withoutWrite.voutCalls, 1);

    EXPECT_EQ(con_write(&withWrite, "ab\0cd", 5), 5);
    EXPECT_EQ(withWrite.text, std::string("ab\0cd", 5));
    EXPECT_EQ(withWrite.writeCalls, 1);
}

TEST(ConOutput, OutFormatsThroughVout)
{
    CaptureConsole console;
    EXPECT_EQ(con_out(&console, "%d-%s|", 42, "x"), 5);
    EXPECT_EQ(console.text, "42-x|");
}

TEST(ConOutput, NullConsoleFailsWithoutOutput)
{
    EXPECT_EQ(con_out(nullptr, "%s", "x"), -1);
    EXPECT_EQ(con_puts(nullptr, "x"), -1);
    EXPECT_EQ(con_write(nullptr, "x", 1), -1);

    con noVout{};
    EXPECT_EQ(con_out(&noVout, "x"), -1);
    EXPECT_EQ(con_puts(&noVout, "x"), -1);
}

} // namespace
