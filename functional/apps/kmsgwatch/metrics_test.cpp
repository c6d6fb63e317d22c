#include "functional/apps/kmsgwatch/kmsgwatch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class MetricsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kmsgwatch_metrics_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        file = (dir / "count").string();
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string content()
    {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path dir;
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
