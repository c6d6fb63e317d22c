#include "platform/udev/eeprom/eeprom_ascii.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

/* A 256-byte partition image holding text, a NUL, then fill. */
std::string image(const std::string &text, char fill = '\xff')
{
    std::string result = text;
    result.push_back('\0');
    result.resize(256, fill);
    return result;
}

TEST(EepromAsciiGet, FindsTheRecordWhoseKeyIsFollowedByEquals)
{
    const std::string buffer = image("keyring=x\nkey=abc\nkey=second\n");
    char value[16];
    ASSERT_EQ(eeprom_ascii_get(buffer.data(), "key", value, sizeof value), 1);
    EXPECT_STREQ(value, "abc");
    EXPECT_EQ(eeprom_ascii_get(buffer.data(), "keyring", value, sizeof value), 1);
    EXPECT_STREQ(value, "x");
    EXPECT_EQ(eeprom_ascii_exist(buffer.data(), "ke"), 0);
    EXPECT_EQ(eeprom_ascii_exist(buffer.data(), "key"), 1);
}

TEST(EepromAsciiGet, ReportsWhyItFailed)
{
    const std::string buffer = image("key=abc\n");
    char value[4];
    errno = 0;
    EXPECT_EQ(eeprom_ascii_get(buffer.data(), "key", nullptr, 4), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(eeprom_ascii_get(buffer.data(), "other", value, sizeof value), 0);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(eeprom_ascii_get(buffer.data(), "key", value, 3), 0);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(eeprom_ascii_get(buffer.data(), "key", value, 4), 1);
    EXPECT_STREQ(value, "abc");
    EXPECT_EQ(eeprom_ascii_get("key=abc", "key", value, sizeof value), 0);
    EXPECT_EQ(errno, ENOENT);
}

TEST(EepromAsciiScan, FinalLineWithoutLineFeedIsInvisible)
{
    std::string buffer = image("a=1\nkey=abc");
    char value[8];
    EXPECT_EQ(eeprom_ascii_get(buffer.data(), "key", value, sizeof value), 0);
    EXPECT_EQ(eeprom_ascii_exist(buffer.data(), "key"), 0);
    const std::string before = buffer;
    EXPECT_EQ(eeprom_ascii_remove(buffer.data(), buffer.size(), "key"), 0);
    EXPECT_EQ(buffer, before);
}

TEST(EepromAsciiScan, KeyWithLineFeedMatchesNothing)
{
    const std::string buffer = image("a\nb=1\n");
    EXPECT_EQ(eeprom_ascii_exist(buffer.data(), "a\nb"), 0);
    EXPECT_EQ(eeprom_ascii_exist(buffer.data(), "b"), 1);
}

TEST(EepromAsciiRemove, ClosesTheGapAndFillsWithFF)
{
    std::string buffer = image("a=1\nkey=abc\nb=2\n", '\x55');
    ASSERT_EQ(eeprom_ascii_remove(buffer.data(), buffer.size(), "key"), 1);
    EXPECT_EQ(buffer, image("a=1\nb=2\n"));
    EXPECT_EQ(eeprom_ascii_remove(buffer.data(), buffer.size(), "key"), 0);
}

TEST(EepromAsciiAppend, NeedsRoomForKeyValueLineFeedAndNul)
{
    std::string buffer = image("", '\x55');
    EXPECT_EQ(eeprom_ascii_append(buffer.data(), buffer.size(), "key", std::string(252, 'v').c_str()), 0);
    EXPECT_EQ(eeprom_ascii_append(buffer.data(), buffer.size(), "key", std::string(251, 'v').c_str()), 0);
    EXPECT_EQ(buffer, image("", '\x55'));
    ASSERT_EQ(eeprom_ascii_append(buffer.data(), buffer.size(), "key", std::string(250, 'v').c_str()), 1);
    EXPECT_EQ(buffer, "key=" + std::string(250, 'v') + "\n" + std::string(1, '\0'));

    std::string partial = image("a=1\n", '\x55');
    ASSERT_EQ(eeprom_ascii_append(partial.data(), partial.size(), "b", "2"), 1);
    EXPECT_EQ(partial.substr(0, 9), std::string("a=1\nb=2\n\0", 9));
    EXPECT_EQ(partial[9], '\x55'); /* bytes after the new NUL stay */
}

TEST(EepromAsciiUpdate, ReplacementMovesTheRecordToTheEnd)
{
    std::string buffer = image("a=1\nb=2\n");
    ASSERT_EQ(eeprom_ascii_update(buffer.data(), buffer.size(), "a", "3"), 1);
    EXPECT_EQ(buffer, image("b=2\na=3\n"));
    ASSERT_EQ(eeprom_ascii_update(buffer.data(), buffer.size(), "b", nullptr), 1);
    EXPECT_EQ(buffer, image("a=3\n"));
}

TEST(EepromAsciiUpdate, BlankImageIsEmptyAndGarbageIsRefused)
{
    std::string blank(256, '\xff');
    ASSERT_EQ(eeprom_ascii_update(blank.data(), blank.size(), "key", "abc"), 1);
    EXPECT_EQ(blank, image("key=abc\n"));
    ASSERT_EQ(eeprom_ascii_update(blank.data(), blank.size(), "key", "x"), 1);
    EXPECT_EQ(blank, image("key=x\n"));

    std::string garbage(256, '\xff');
    garbage[100] = 'z';
    const std::string before = garbage;
    EXPECT_EQ(eeprom_ascii_update(garbage.data(), garbage.size(), "key", "abc"), 0);
    EXPECT_EQ(garbage, before);
}

TEST(EepromAsciiUpdate, RefusesEqualsSignsAndOversizedValues)
{
    std::string buffer = image("key=old\n");
    EXPECT_EQ(eeprom_ascii_update(buffer.data(), buffer.size(), "key", "a=b"), 0);
    EXPECT_EQ(eeprom_ascii_update(buffer.data(), buffer.size(), "k=y", "v"), 0);
    EXPECT_EQ(eeprom_ascii_update(buffer.data(), buffer.size(), nullptr, "v"), 0);
    EXPECT_EQ(eeprom_ascii_update(buffer.data(), buffer.size(), "k\ny", "v"), 0);
    EXPECT_EQ(buffer, image("key=old\n"));
    EXPECT_EQ(eeprom_ascii_update(buffer.data(), buffer.size(), "key", std::string(251, 'v').c_str()), 0);
}

TEST(EepromAsciiUpdate, DanglingLineAndDuplicatesCannotHideTheNewRecord)
{
    std::string buffer = image("key=1\na=2\nkey=3\nkey=dangling");
    ASSERT_EQ(eeprom_ascii_update(buffer.data(), buffer.size(), "key", "new"), 1);
    EXPECT_EQ(buffer, image("a=2\nkey=new\n"));
    char value[8];
    ASSERT_EQ(eeprom_ascii_get(buffer.data(), "key", value, sizeof value), 1);
    EXPECT_STREQ(value, "new");
}

} // namespace
