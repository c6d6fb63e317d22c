#include "functional/apps/selfcheckrun/selfcheckrun.h"
#include "tools/testing/scratch_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace selfcheckrun;

namespace {

class TestProgramTest : public ::testing::Test {
protected:
    std::string script(const std::string &name, const std::string &body)
    {
        const fs::path p = dir / name;
        std::ofstream(p) << body;
        fs::permissions(p, fs::perms::owner_all);
        return p.string();
    }
    // Runs a program and returns what it wrote to the result stream.
    std::string run(const std::string &path, bool &ok)
    {
        std::string text;
        ok = !runTestProgram(path.c_str(), Limits{}, text).failed;
        return text;
    }
    vxtest::ScratchDir scratch{"selfcheckrun_test"};
    const fs::path dir = scratch.path();
};

TEST_F(TestProgramTest, OutputIsCopiedUnchangedAndStatusDecides)
{
    bool ok = false;
    EXPECT_EQ(run(script("pass", "#!/bin/sh\nprintf '<a/>\\n<b/>\\n'\n"), ok), "<a/>\n<b/>\n");
    EXPECT_TRUE(ok);
    EXPECT_EQ(run(script("fail", "#!/bin/sh\necho one\necho two\nexit 3\n"), ok), "one\ntwo\n");
    EXPECT_FALSE(ok);
    EXPECT_EQ(run(script("killed", "#!/bin/sh\necho partial\nkill -9 $$\n"), ok), "partial\n");
    EXPECT_FALSE(ok);
    // More than one piece of output, with bytes a line-based copy would lose.
    std::string big;
    for (int i = 0; i < 3000; ++i) {
        big += "line " + std::to_string(i) + "\n";
    }
    std::ofstream(dir / "big.txt") << big;
    EXPECT_EQ(run(script("big", "#!/bin/sh\ncat " + (dir / "big.txt").string() + "\nprintf 'a\\000b'\n"), ok),
              big + std::string("a\0b", 3));
    EXPECT_TRUE(ok);
}

TEST_F(TestProgramTest, PathIsOneArgumentNeverShellText)
{
    // Through a shell, each of these names would run something else: "odd"
    // with an argument, a second command, or an unterminated quote.
    script("odd", "#!/bin/sh\necho decoy\n");
    bool ok = false;
    const std::string marker = (dir / "pwned").string();
    for (const std::string name : {"odd name", "odd;touch pwned", "odd'quote", "odd$(touch pwned)", "odd|x"}) {
        const std::string path = script(name, "#!/bin/sh\nprintf '%s|%s\\n' \"$0\" \"$#\"\n");
        EXPECT_EQ(run(path, ok), path + "|0\n") << name;
        EXPECT_TRUE(ok) << name;
    }
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_FALSE(fs::exists("pwned"));
}

TEST_F(TestProgramTest, ScriptWithoutInterpreterLineRunsUnderTheShell)
{
    bool ok = false;
    EXPECT_EQ(run(script("plain", "echo '<plain/>'\n"), ok), "<plain/>\n");
    EXPECT_TRUE(ok);
}

TEST_F(TestProgramTest, MissingProgramFails)
{
    bool ok = true;
    EXPECT_EQ(run((dir / "absent").string(), ok), "");
    EXPECT_FALSE(ok);
}

TEST(Options, WholeNumbersOnly)
{
    long v = -1;
    EXPECT_TRUE(parseWholeNumber("60", 0, INT_MAX, v));
    EXPECT_EQ(v, 60);
    EXPECT_TRUE(parseWholeNumber("0", 0, INT_MAX, v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(parseWholeNumber("-5", INT_MIN, INT_MAX, v));
    EXPECT_EQ(v, -5);
    v = 7;
    for (const char *bad : {"abc", "", "5x", "1.5", "0x10", "-1", "99999999999999999999"}) {
        EXPECT_FALSE(parseWholeNumber(bad, 0, INT_MAX, v)) << bad;
    }
    EXPECT_FALSE(parseWholeNumber(nullptr, 0, INT_MAX, v));
    EXPECT_EQ(v, 7);
}

TEST(Options, ResultPathLengthLimit)
{
    EXPECT_TRUE(resultPathFits(std::string(1010, 'a').c_str()));
    EXPECT_FALSE(resultPathFits(std::string(1011, 'a').c_str()));
    EXPECT_TRUE(resultPathFits(DefaultResultPath));
}

} // namespace
