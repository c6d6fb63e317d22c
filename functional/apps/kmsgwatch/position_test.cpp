#include "functional/apps/kmsgwatch/position.h"
#include "tools/testing/scratch_dir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using kmsgwatch::Position;

namespace {

class PositionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        file = (dir / "position").string();
        boot = (dir / "boot_id").string();
        std::ofstream(boot) << "boot-a\n";
    }
    vxtest::ScratchDir scratch{"kmsgwatch_position_test"};
    const fs::path dir = scratch.path();
    std::string file, boot;
};

// A restarted watcher passes over what an earlier one of the same boot acted
// on, and over nothing else.
TEST_F(PositionTest, KeptForTheNextWatcherOfTheSameBoot)
{
    Position first(file.c_str(), boot.c_str());
    EXPECT_FALSE(first.seen(0));
    first.keep(41);
    Position next(file.c_str(), boot.c_str());
    EXPECT_TRUE(next.seen(41));
    EXPECT_TRUE(next.seen(3));
    EXPECT_FALSE(next.seen(42));

    std::ofstream(boot) << "boot-b\n";
    EXPECT_FALSE(Position(file.c_str(), boot.c_str()).seen(3));
}

TEST_F(PositionTest, WithoutItsFolderNothingIsKept)
{
    const std::string missing = (dir / "absent" / "position").string();
    Position position(missing.c_str(), boot.c_str());
    position.keep(7);
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_FALSE(Position(missing.c_str(), boot.c_str()).seen(7));
}

} // namespace
