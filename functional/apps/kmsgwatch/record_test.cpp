#include "functional/apps/kmsgwatch/record.h"

#include <gtest/gtest.h>

#include <string>

using namespace kmsgwatch;

namespace {

TEST(KmsgRecordHead, PriorityBecomesLevelAndTextFollowsFirstSemicolon)
{
    kmsg_record r{};
    ASSERT_TRUE(parseKmsgRecord("11,42,123456789,-;Internal error: Oops: 17; more\n", r));
    EXPECT_EQ(r.level, 3); // facility 1, level 3
    EXPECT_EQ(r.sequence, 42u);
    EXPECT_EQ(r.timestamp, 123456789u);
    EXPECT_STREQ(r.text, "Internal error: Oops: 17; more\n");

    ASSERT_TRUE(parseKmsgRecord("4,1,2,c;warn\n SUBSYSTEM=x\n", r));
    EXPECT_EQ(r.level, 4);
    EXPECT_STREQ(r.text, "warn\n SUBSYSTEM=x\n");
    ASSERT_TRUE(parseKmsgRecord("190,18446744073709551615,0,-;\n", r)); // local7.info
    EXPECT_EQ(r.level, 6);
    EXPECT_EQ(r.sequence, 18446744073709551615ull);
    EXPECT_STREQ(r.text, "\n");
}

TEST(KmsgRecordHead, RefusesBrokenHeads)
{
    kmsg_record r{};
    EXPECT_FALSE(parseKmsgRecord("", r));
    EXPECT_FALSE(parseKmsgRecord("6,1;text\n", r)); // two numbers only
    EXPECT_FALSE(parseKmsgRecord("x,1,2,-;text\n", r));
    EXPECT_FALSE(parseKmsgRecord("6,1,2,- no semicolon\n", r));
    EXPECT_FALSE(parseKmsgRecord(" SUBSYSTEM=acpi\n", r)); // a continuation line
}

TEST(KmsgRecordHead, LongTextIsCutToTheRecordSize)
{
    const std::string text(5000, 'a');
    kmsg_record r{};
    ASSERT_TRUE(parseKmsgRecord(("3,1,1,-;" + text).c_str(), r));
    EXPECT_EQ(std::string(r.text), text.substr(0, KMSG_TEXT_MAX));
}

TEST(LogLine, TimeStampWordKernelAndBracketedKernelTime)
{
    kmsg_record r{};
    ASSERT_TRUE(parseLogLine("2026-12-08T04:00:00 kernel: [  12.345678] Out of memory: Killed process 7\n", r));
    EXPECT_EQ(r.level, 3);
    EXPECT_STREQ(r.text, "Out of memory: Killed process 7\n");

    ASSERT_TRUE(parseLogLine("ts   kernel:    avc: denied { read }\n", r));
    EXPECT_STREQ(r.text, "avc: denied { read }\n");

    ASSERT_TRUE(parseLogLine("ts kernel: [no close bracket\n", r));
    EXPECT_STREQ(r.text, "[no close bracket\n");
}

TEST(LogLine, SkipsLinesWithoutKernelOrMessage)
{
    kmsg_record r{};
    EXPECT_FALSE(parseLogLine("Dec  8 host kernel: Out of memory\n", r)); // second word is not kernel:
    EXPECT_FALSE(parseLogLine("ts systemd: started\n", r));
    EXPECT_FALSE(parseLogLine("ts kernel:\n", r) && r.text[0] == '\0');
    EXPECT_FALSE(parseLogLine("ts kernel: [1.0]", r)); // nothing after the time stamp
    EXPECT_FALSE(parseLogLine("ts kernel: [1.0] ", r));
    EXPECT_FALSE(parseLogLine("", r));
}

TEST(RecordPieces, ACutRecordsContinuationIsNotANewRecord)
{
    RecordPieces pieces;
    EXPECT_TRUE(pieces.startsRecord("6,1,0,-;short\n", 14, 16));
    // 16 bytes filling the buffer without a newline: cut.
    EXPECT_TRUE(pieces.startsRecord("6,2,0,-;abcdefgh", 16, 16));
    EXPECT_FALSE(pieces.startsRecord("3,3,0,-;avc: den", 16, 16)); // still cut
    EXPECT_FALSE(pieces.startsRecord("ied\n", 4, 16));             // the end of it
    EXPECT_TRUE(pieces.startsRecord("6,4,0,-;next\n", 13, 16));
    // A padded block (record data, then NULs) is a whole record.
    const char padded[16] = "6,5,0,-;x\n";
    EXPECT_TRUE(pieces.startsRecord(padded, 16, 16));
    EXPECT_TRUE(pieces.startsRecord("6,6,0,-;full---\n", 16, 16));
    EXPECT_TRUE(pieces.startsRecord("6,7,0,-;y\n", 10, 16));
}

TEST(LineAssembler, JoinsPiecesAndDropsTheTailOfOverlongLines)
{
    LineAssembler lines;
    EXPECT_FALSE(lines.add("ts kernel: half", 15)); // not written to its end yet
    EXPECT_TRUE(lines.add(" and rest\n", 10));
    EXPECT_STREQ(lines.line(), "ts kernel: half and rest\n");

    const std::string first(KMSG_TEXT_MAX, 'x');
    EXPECT_FALSE(lines.add(first.c_str(), first.size()));
    EXPECT_FALSE(lines.add("ts kernel: Out of memory", 24)); // the tail of the long line
    EXPECT_TRUE(lines.add(" injected\n", 10));
    EXPECT_EQ(std::string(lines.line()), first);
    EXPECT_FALSE(lines.flush());

    EXPECT_TRUE(lines.add("ts kernel: next\n", 16));
    EXPECT_STREQ(lines.line(), "ts kernel: next\n");
    EXPECT_FALSE(lines.add("ts kernel: unterminated", 23));
    EXPECT_TRUE(lines.flush());
    EXPECT_STREQ(lines.line(), "ts kernel: unterminated");
}

TEST(LineAssembler, ANulInsideALineNeitherEndsItNorJoinsItToTheNext)
{
    LineAssembler lines;
    const char withNul[] = "ts kernel: a\0b\n";
    EXPECT_TRUE(lines.add(withNul, sizeof withNul - 1));
    EXPECT_STREQ(lines.line(), "ts kernel: a");
    EXPECT_TRUE(lines.add("ts kernel: Out of memory\n", 25));
    EXPECT_STREQ(lines.line(), "ts kernel: Out of memory\n");
}

} // namespace
