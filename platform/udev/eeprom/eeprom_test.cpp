#include "platform/udev/eeprom/eeprom.h"
#include "platform/udev/eeprom/eeprom_ascii.h"
#include "tools/testing/scratch_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using testing::HasSubstr;
using testing::StartsWith;

namespace {

constexpr size_t EepromSize = 65536;

eeprom_device *device(const char *name)
{
    eeprom_device *d = get_eeprom(name);
    EXPECT_NE(d, nullptr) << name;
    return d;
}

/*
 * Points every EEPROM of the table at a 65536-byte file (0xFF) in a private
 * folder and drops the write-protection hooks, which would drive the host's
 * GPIO lines; the writer lock lives in the folder too.
 */
class EepromStore : public testing::Test {
protected:
    void SetUp() override
    {
        setenv(EEPROM_LOCK_FILE_ENV, (dir_ + "/lock").c_str(), 1);
        for (eeprom_device *d = eeprom_get_array(); d->name; ++d) {
            saved_.push_back(*d);
            paths_.push_back(dir_ + "/" + d->name);
            std::ofstream(paths_.back(), std::ios::binary) << std::string(EepromSize, '\xff');
            d->path = paths_.back().c_str();
            d->fd = -1;
            d->write_enable = nullptr;
            d->write_disable = nullptr;
        }
    }

    void TearDown() override
    {
        eeprom_exit();
        size_t i = 0;
        for (eeprom_device *d = eeprom_get_array(); d->name; ++d)
            *d = saved_[i++];
    }

    std::string contents(const char *name) { return vxtest::readFile(dir_ + "/" + name); }

    vxtest::ScratchDir scratch_{"eeprom-test"};
    const std::string dir_ = scratch_.path().string();
    std::vector<eeprom_device> saved_;
    std::vector<std::string> paths_;
};

TEST(EepromTable, LooksUpDevicesAndPartitions)
{
    EXPECT_STREQ(eeprom_get_device_name("fskey"), "crypto");
    EXPECT_STREQ(eeprom_get_device_name("prodtest"), "crypto");
    EXPECT_STREQ(eeprom_get_device_name("proddata_lc"), "sb1_production");
    EXPECT_EQ(eeprom_get_device_name("nothing"), nullptr);
    EXPECT_EQ(eeprom_get_partition_size("crypto", "fskey"), 256);
    EXPECT_EQ(eeprom_get_partition_size("crypto", "proddata"), -1);
    EXPECT_EQ(eeprom_get_format("production", "prodtest"), EEPROM_FORMAT_DATA);
    EXPECT_EQ(eeprom_get_format("sb4_production", "proddata_swb"), EEPROM_FORMAT_ASCII);
    EXPECT_EQ(eeprom_get_format("nothing", "fskey"), 0);
    ASSERT_NE(get_partition("sb2_production", "prodtest"), nullptr);
    EXPECT_EQ(get_partition("sb2_production", "prodtest")->offset, 65504u);
}

TEST(EepromUninitialised, ReadsAndWritesFail)
{
    char buffer[4];
    testing::internal::CaptureStderr();
    EXPECT_EQ(eeprom_read_partition_data("crypto", "fskey", buffer, sizeof buffer), -1);
    EXPECT_EQ(eeprom_write_partition_data("crypto", "fskey", "abc", 3), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "eeprom: device crypto not initialized\n"
                                                      "eeprom: device crypto not initialized");
}

TEST_F(EepromStore, InitReportsMissingFilesUnlessSilent)
{
    unlink(paths_[2].c_str());
    testing::internal::CaptureStderr();
    EXPECT_EQ(eeprom_init_silent(), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    eeprom_exit();
    testing::internal::CaptureStderr();
    EXPECT_EQ(eeprom_init(), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "eeprom: can't open " + paths_[2] + ": No such file or directory\n");
    EXPECT_LT(device("sb1_production")->fd, 0);
    EXPECT_GE(device("crypto")->fd, 0);
}

TEST_F(EepromStore, InitWarnsAboutPartitionsLargerThanAPage)
{
    eeprom_partition *big = get_partition("sb3_production", "proddata_lc");
    const uint32_t size = big->size;
    big->size = static_cast<uint32_t>(sysconf(_SC_PAGESIZE)) + 1;
    unlink(paths_[0].c_str());
    testing::internal::CaptureStderr();
    EXPECT_EQ(eeprom_init_silent(), -1);
    const std::string warnings = testing::internal::GetCapturedStderr();
    big->size = size;
    /* The array is shared by the four camera-board EEPROMs. */
    const std::string line = ", partition: proddata_lc, size: " + std::to_string(sysconf(_SC_PAGESIZE) + 1) +
                             " is bigger than maximum handled size\n";
    EXPECT_EQ(warnings, "eeprom: sb1_production" + line + "eeprom: sb2_production" + line + "eeprom: sb3_production" +
                            line + "eeprom: sb4_production" + line);
}

TEST_F(EepromStore, WritesWithinThePartitionOnly)
{
    ASSERT_EQ(eeprom_init(), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(eeprom_write_partition_data("crypto", "fskey", std::string(257, 'a').data(), 257), -1);
    EXPECT_EQ(eeprom_write_partition_data("production", "proddata", "x", 1), -1);
    EXPECT_EQ(eeprom_write_partition_data("crypto", "prodtest", "x", 1), -1);
    EXPECT_EQ(eeprom_write_partition_data("crypto", "nothing", "x", 1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "eeprom: not enough space on partition crypto: fskey\n"
                                                      "eeprom: partition is read only production: proddata\n"
                                                      "eeprom: partition is read only crypto: prodtest\n"
                                                      "eeprom: can't find partition nothing\n");
    const std::string data(256, 'b');
    EXPECT_EQ(eeprom_write_partition_data("crypto", "fskey", data.data(), data.size()), 0);
    const std::string image = contents("crypto");
    EXPECT_EQ(image.substr(0, 256), data);
    EXPECT_EQ(image.substr(256), std::string(EepromSize - 256, '\xff'));
    EXPECT_EQ(contents("production"), std::string(EepromSize, '\xff'));
}

TEST_F(EepromStore, ReadZeroesBeyondThePartition)
{
    std::fstream(paths_[2], std::ios::in | std::ios::out | std::ios::binary).seekp(256) << "sm-data";
    ASSERT_EQ(eeprom_init_read_only(), 0);
    std::vector<char> buffer(300, 'q');
    ASSERT_EQ(eeprom_read_partition_data("sb1_production", "proddata_sm", buffer.data(), 300), 300);
    EXPECT_EQ(std::string(buffer.data(), 7), "sm-data");
    EXPECT_EQ(std::string(buffer.data() + 7, 249), std::string(249, '\xff'));
    EXPECT_EQ(std::string(buffer.data() + 256, 44), std::string(44, '\0'));
}

TEST_F(EepromStore, ReadOfATruncatedFileFails)
{
    ASSERT_EQ(truncate(paths_[0].c_str(), 100), 0);
    ASSERT_EQ(eeprom_init(), 0);
    char buffer[256];
    testing::internal::CaptureStderr();
    EXPECT_EQ(eeprom_read_partition_data("crypto", "fskey", buffer, sizeof buffer), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "eeprom: read failed for crypto; fskey\n");
}

TEST_F(EepromStore, EraseAndAsciiValues)
{
    ASSERT_EQ(eeprom_init(), 0);
    ASSERT_EQ(eeprom_erase_partition("crypto", "fskey"), 0);
    EXPECT_EQ(contents("crypto").substr(0, 256), std::string(1, '\0') + std::string(255, '\xff'));

    char value[256];
    EXPECT_EQ(eeprom_get_ascii_value("crypto", "fskey", "key", value, sizeof value), -1);
    ASSERT_EQ(eeprom_set_ascii_value("crypto", "fskey", "key", "abc"), 0);
    EXPECT_EQ(contents("crypto").substr(0, 256), std::string("key=abc\n\0", 9) + std::string(247, '\xff'));
    ASSERT_EQ(eeprom_get_ascii_value("crypto", "fskey", "key", value, sizeof value), 0);
    EXPECT_STREQ(value, "abc");
    EXPECT_EQ(eeprom_get_ascii_value("crypto", "fskey", "key", value, 3), -1);

    const std::string before = contents("crypto");
    EXPECT_EQ(eeprom_set_ascii_value("crypto", "fskey", "key", "a=b"), -1);
    EXPECT_EQ(eeprom_set_ascii_value("crypto", "fskey", "key", std::string(251, 'v').c_str()), -1);
    EXPECT_EQ(eeprom_set_ascii_value("crypto", "prodtest", "key", "x"), -1);
    EXPECT_EQ(contents("crypto"), before);

    ASSERT_EQ(eeprom_set_ascii_value("crypto", "fskey", "key", nullptr), 0);
    EXPECT_EQ(contents("crypto").substr(0, 256), std::string(1, '\0') + std::string(255, '\xff'));
}

TEST_F(EepromStore, GarbageImageIsRefused)
{
    {
        std::fstream f(paths_[0], std::ios::in | std::ios::out | std::ios::binary);
        f << std::string(256, 'g');
    }
    ASSERT_EQ(eeprom_init(), 0);
    char value[16];
    EXPECT_EQ(eeprom_get_ascii_value("crypto", "fskey", "key", value, sizeof value), -1);
    EXPECT_EQ(eeprom_set_ascii_value("crypto", "fskey", "key", "x"), -1);
    EXPECT_EQ(contents("crypto").substr(0, 256), std::string(256, 'g'));
}

/* A part that ignores writes: the disable hook puts the old bytes back. */
std::string IgnoredImage;
void restoreImage(eeprom_device *d)
{
    ASSERT_EQ(pwrite(d->fd, IgnoredImage.data(), IgnoredImage.size(), 0), static_cast<ssize_t>(IgnoredImage.size()));
}

TEST_F(EepromStore, WriteThatDoesNotReachThePartFails)
{
    ASSERT_EQ(eeprom_init(), 0);
    IgnoredImage = contents("crypto").substr(0, 256);
    device("crypto")->write_disable = restoreImage;
    testing::internal::CaptureStderr();
    EXPECT_EQ(eeprom_set_ascii_value("crypto", "fskey", "key", "abc"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "eeprom: verify after write failed for crypto: fskey\n");
    EXPECT_EQ(contents("crypto"), std::string(EepromSize, '\xff'));
}

int32_t failingErase(int, uint32_t, uint32_t) { return -1; }
int Disabled;
void countDisable(eeprom_device *) { ++Disabled; }

TEST_F(EepromStore, FailedEraseHookStillRestoresProtection)
{
    ASSERT_EQ(eeprom_init(), 0);
    device("crypto")->erase = failingErase;
    device("crypto")->write_disable = countDisable;
    Disabled = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(eeprom_write_partition_data("crypto", "fskey", "abc", 3), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "eeprom: erase failed for crypto: fskey\n");
    EXPECT_EQ(Disabled, 1);
    EXPECT_EQ(contents("crypto"), std::string(EepromSize, '\xff'));
}

TEST_F(EepromStore, LockIsExclusiveAcrossProcessesAndNests)
{
    ASSERT_EQ(eeprom_lock(), 0);
    ASSERT_EQ(eeprom_lock(), 0);
    eeprom_unlock();
    const std::string lock = dir_ + "/lock";
    int fd = open(lock.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    /* flock locks of another open file description conflict. */
    EXPECT_NE(flock(fd, LOCK_EX | LOCK_NB), 0);
    eeprom_unlock();
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
}

TEST_F(EepromStore, SharedLockKeepsWritersOutNotReaders)
{
    ASSERT_EQ(eeprom_lock_shared(), 0);
    int fd = open((dir_ + "/lock").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_NE(flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(flock(fd, LOCK_SH | LOCK_NB), 0);
    flock(fd, LOCK_UN);
    /* No write inside a read: that would not keep other writers out. */
    testing::internal::CaptureStderr();
    EXPECT_EQ(eeprom_lock(), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "eeprom: lock is held shared, can't take it for writing\n");
    eeprom_unlock();
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    flock(fd, LOCK_UN);
    /* A read inside a write keeps the write lock. */
    ASSERT_EQ(eeprom_lock(), 0);
    ASSERT_EQ(eeprom_lock_shared(), 0);
    eeprom_unlock();
    EXPECT_NE(flock(fd, LOCK_SH | LOCK_NB), 0);
    eeprom_unlock();
    close(fd);
}

TEST_F(EepromStore, MissingLockFolderIsCreated)
{
    /* A platform whose /run has no lock folder yet must still take writes. */
    const std::string folder = dir_ + "/run-lock";
    setenv(EEPROM_LOCK_FILE_ENV, (folder + "/eeprom.lock").c_str(), 1);
    ASSERT_EQ(eeprom_init(), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(eeprom_erase_partition("crypto", "fskey"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(contents("crypto").substr(0, 2), std::string("\0\xff", 2));
    EXPECT_EQ(access((folder + "/eeprom.lock").c_str(), F_OK), 0);
}

} // namespace
