#include "platform/proc/run_command.h"
#include "tools/testing/scratch_dir.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// A scratch directory with a script that records its arguments, one per line
// in brackets, into the file named by its first argument.
class RunCommandTest : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(dir / "args.sh") << "out=$1\nshift\nprintf '[%s]\\n' \"$@\" > \"$out\"\n"; }

    // "/bin/sh <dir>/args.sh <dir>/out" followed by extra words.
    std::string argsCommand(const std::string &extra)
    {
        return "/bin/sh " + (dir / "args.sh").string() + " " + (dir / "out").string() + extra;
    }

    vxtest::ScratchDir scratch{"run_command_test"};
    const fs::path dir = scratch.path();
};

TEST_F(RunCommandTest, ResultFollowsExitStatus)
{
    EXPECT_EQ(run_command("true"), 1);
    EXPECT_EQ(run_command("false"), 0);
    std::ofstream(dir / "exit3.sh") << "exit 3\n";
    EXPECT_EQ(run_command(("/bin/sh " + (dir / "exit3.sh").string()).c_str()), 0);
    std::ofstream(dir / "killself.sh") << "kill -9 $$\n";
    EXPECT_EQ(run_command(("/bin/sh " + (dir / "killself.sh").string()).c_str()), 0);
    std::ofstream(dir / "exit0.sh") << "exit 0\n";
    EXPECT_EQ(run_command(("/bin/sh " + (dir / "exit0.sh").string()).c_str()), 1);
}

TEST_F(RunCommandTest, MissingProgramGivesZero)
{
    EXPECT_EQ(run_command("/nonexistent/program-that-is-not-there"), 0);
    EXPECT_EQ(run_command("program-that-is-not-on-the-path-either"), 0);
}

TEST_F(RunCommandTest, NamesAreSearchedAlongTheFixedPathNeverTheInheritedOne)
{
    // A decoy "true" first on the inherited PATH: it must not run, the fixed
    // path's true must.
    std::ofstream(dir / "true") << "#!/bin/sh\ntouch " << (dir / "decoy-ran").string() << "\nexit 1\n";
    fs::permissions(dir / "true", fs::perms::owner_all);
    const char *inherited = std::getenv("PATH");
    const std::string saved = inherited != nullptr ? inherited : "";
    setenv("PATH", dir.c_str(), 1);
    const int result = run_command("true");
    setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(fs::exists(dir / "decoy-ran"));
}

TEST_F(RunCommandTest, RefusesEmptyAndMetacharactersWithoutStartingAnything)
{
    EXPECT_EQ(run_command(""), 0);
    EXPECT_EQ(run_command("   "), 0);
    EXPECT_EQ(run_command(nullptr), 0);
    const std::string refused = "\"'$&|;`(),*?\t\n\r";
    for (char c : refused) {
        // Without the refusal, touch would create a file with the character
        // in its name (no shell interprets it).
        const fs::path target = dir / (std::string("f") + c + "g");
        const std::string command = "touch " + target.string();
        EXPECT_EQ(run_command(command.c_str()), 0) << "character " << int(c);
        EXPECT_FALSE(fs::exists(target)) << "character " << int(c);
    }
    // A plain name is run.
    EXPECT_EQ(run_command(("touch " + (dir / "plain").string()).c_str()), 1);
    EXPECT_TRUE(fs::exists(dir / "plain"));
}

TEST_F(RunCommandTest, SpacesSeparateWithoutEmptyArguments)
{
    const std::string command = "  " + argsCommand("   a  b c   ");
    ASSERT_EQ(run_command(command.c_str()), 1);
    EXPECT_EQ(vxtest::readFile(dir / "out"), "[a]\n[b]\n[c]\n");
}

TEST_F(RunCommandTest, FifteenWordsRunSixteenAreRefused)
{
    // sh, the script and the output path are three words.
    std::string twelve;
    for (int i = 1; i <= 12; ++i) {
        twelve += " " + std::to_string(i);
    }
    ASSERT_EQ(run_command(argsCommand(twelve).c_str()), 1);
    EXPECT_EQ(vxtest::readFile(dir / "out"), "[1]\n[2]\n[3]\n[4]\n[5]\n[6]\n[7]\n[8]\n[9]\n[10]\n[11]\n[12]\n");
    fs::remove(dir / "out");

    const std::string sixteen = argsCommand(twelve + " 13");
    int ran = 0;
#if !defined(__SANITIZE_ADDRESS__)
    const auto before = mallinfo2().uordblks;
#endif
    for (int round = 0; round < 50; ++round) {
        ran += run_command(sixteen.c_str());
    }
#if !defined(__SANITIZE_ADDRESS__)
    // The refused command's word copies are all released (LeakSanitizer
    // checks the same in the sanitizer build).
    EXPECT_EQ(mallinfo2().uordblks, before);
#endif
    EXPECT_EQ(ran, 0);
    EXPECT_FALSE(fs::exists(dir / "out"));
}

} // namespace
