#include "functional/apps/kmsgwatch/kmsgwatch.h"
#include "tools/testing/scratch_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class MetricsTest : public ::testing::Test {
protected:
    void SetUp() override { file = (dir / "count").string(); }
    std::string content() { return vxtest::readFile(file); }
    vxtest::ScratchDir scratch{"kmsgwatch_metrics_test"};
    const fs::path dir = scratch.path();
    std::string file;
};

TEST_F(MetricsTest, CountsUpAndStartsAtOne)
{
    std::ofstream(file) << "7\n";
    increment_instance_of(file.c_str());
    EXPECT_EQ(content(), "8\n");
    increment_instance_of(file.c_str());
    EXPECT_EQ(content(), "9\n");

    fs::remove(file);
    increment_instance_of(file.c_str());
    EXPECT_EQ(content(), "1\n");

    std::ofstream(file, std::ios::trunc).flush();
    increment_instance_of(file.c_str());
    EXPECT_EQ(content(), "1\n");

    std::ofstream(file, std::ios::trunc) << "garbage\n";
    increment_instance_of(file.c_str());
    EXPECT_EQ(content(), "1\n");
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(MetricsTest, ReplacedAsAWholeNotRewrittenInPlace)
{
    std::ofstream(file) << "41\n";
    struct stat old {};
    ASSERT_EQ(stat(file.c_str(), &old), 0);
    increment_instance_of(file.c_str());
    struct stat now {};
    ASSERT_EQ(stat(file.c_str(), &now), 0);
    // A new file took the old one's place: a reader holding the old one still
    // sees a whole count, never an emptied file.
    EXPECT_NE(old.st_ino, now.st_ino);
    EXPECT_EQ(content(), "42\n");
}

TEST_F(MetricsTest, UnwritableFileGivesItsMessage)
{
    const std::string missing = (dir / "no-such-dir" / "count").string();
    testing::internal::CaptureStderr();
    increment_instance_of(missing.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "kmsgwatch: updating metrics file (" + missing + ") failed\n");
    EXPECT_FALSE(fs::exists(missing));
}

} // namespace
