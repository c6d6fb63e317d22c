#include "platform/audio/audtest/audunittest.h"

#include "platform/audio/audtest/test/capture_console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

// Command lines for the harness; argv[0] is "prog".
class Args {
public:
    Args(std::initializer_list<const char *> args)
    {
        storage_.emplace_back("prog");
        for (const char *a : args)
            storage_.emplace_back(a);
        for (auto &s : storage_)
            argv_.push_back(s.data());
        argv_.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(storage_.size()); }
    char **argv() { return argv_.data(); }

private:
    std::vector<std::string> storage_;
    std::vector<char *> argv_;
};

int runWith(con *console, std::initializer_list<const char *> args)
{
    Args a(args);
    return audunittest_commandline_with_console(a.argc(), a.argv(), console);
}

CaptureConsole *innerConsole = nullptr;
int innerStatus = -1;

} // namespace

// Harness tests of this program, run through the command line below.
AUDUNITTEST_TEST(inproc, counts)
{
    AUDUNITTEST_CHECK_EQUAL_INT(1, 1);
    AUDUNITTEST_CHECK(true);
}

// Runs a nested command line on another console, then writes: that text must
// land on the console that was set before the nested call.
AUDUNITTEST_TEST(inproc, nested_console)
{
    innerStatus = runWith(innerConsole, {"--list", "counts"});
    custom_printf("after nested call\n");
    AUDUNITTEST_CHECK_EQUAL_INT(0, innerStatus);
}

constexpr int RoutineFailsLine = __LINE__ + 1;
AUDUNITTEST_ROUTINE_TEST(inproc, routine_fails, [] { return 2; })

namespace {

TEST(AudunittestConsole, NothingReachesStandardErrorAndThePreviousConsoleIsRestored)
{
    CaptureConsole outer;
    CaptureConsole inner;
    innerConsole = &inner;

    CaptureStderr();
    const int status = runWith(&outer, {"--runall", "inproc__n"});
    const std::string stderrText = GetCapturedStderr();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(stderrText, "");

    EXPECT_EQ(inner.text, "test__inproc__counts\nFound 1 test.\n");
    EXPECT_EQ(outer.text.find("\033"), std::string::npos);
    EXPECT_EQ(outer.text.rfind("Running test__inproc__nested_console...after nested call\n"
                               " Success [",
                               0),
              0u)
        << outer.text;
    EXPECT_NE(outer.text.find("Test success: 1 test with 1 assertion ["), std::string::npos);

    // No console after the outermost call: output goes to standard error again.
    CaptureStderr();
    custom_printf("plain %d\n", 1);
    EXPECT_EQ(GetCapturedStderr(), "plain 1\n");
    EXPECT_EQ(outer.text.find("plain"), std::string::npos);
}

TEST(AudunittestConsole, FailuresAndStatusGoThroughTheConsole)
{
    CaptureConsole console;
    CaptureStderr();
    EXPECT_EQ(runWith(&console, {"--run", "test__inproc__routine_fails"}), 1);
    EXPECT_EQ(GetCapturedStderr(), "");
    const std::string expected = "Running test__inproc__routine_fails...\nFailed: "
                                 "platform/audio/audtest/audunittest_test.cpp:" +
                                 std::to_string(RoutineFailsLine) + " in test__inproc__routine_fails: 0 != 2\n [";
    EXPECT_EQ(console.text.rfind(expected, 0), 0u) << console.text;
    EXPECT_EQ(audunittest_num_assertions(), 1u);
    EXPECT_EQ(audunittest_num_failed(), 1u);
}

TEST(AudunittestCounters, RunResetsTheCounters)
{
    audunittest_reset();
    audunittest_succeed_test("f", 1);
    EXPECT_EQ(audunittest_num_assertions(), 1u);
    EXPECT_EQ(audunittest_num_failed(), 0u);

    CaptureConsole console;
    audunittest_commandline_with_console(0, nullptr, &console); // usage only
    CaptureStderr();
    audunittest_fail_test("f", 2);
    GetCapturedStderr();
    EXPECT_EQ(audunittest_num_assertions(), 2u);
    EXPECT_EQ(audunittest_num_failed(), 1u);

    // A failure left over from before does not fail the next run.
    EXPECT_EQ(runWith(&console, {"--run", "test__inproc__counts"}), 0);
    EXPECT_EQ(audunittest_num_assertions(), 2u);
    EXPECT_EQ(audunittest_num_failed(), 0u);
}

TEST(AudunittestFailures, MessagesWithAndWithoutContext)
{
    // The context is cleared when a test ends.
    CaptureConsole console;
    ASSERT_EQ(runWith(&console, {"--run", "test__inproc__counts"}), 0);

    audunittest_reset();
    CaptureStderr();
    audunittest_fail_test("a.cpp", 3);
    audunittest_fail_equals("a.cpp", 4, "x", "y", "!=");
    audunittest_fail_equals_int("a.cpp", 5, -7, 8, "<");
    audunittest_fail_equals_uint("a.cpp", 6, 0, 4000000000ul, "!=");
    audunittest_fail_equals_double("a.cpp", 7, 0.125, -2.0, ">=");
    EXPECT_EQ(GetCapturedStderr(), "\nFailed: a.cpp:3\n"
                                   "\nFailed: a.cpp:4: x != y\n"
                                   "\nFailed: a.cpp:5: -7 < 8\n"
                                   "\nFailed: a.cpp:6: 0 != 4000000000\n"
                                   "\nFailed: a.cpp:7: 0.125000 >= -2.000000\n");

    audunittest_set_context("ctx");
    CaptureStderr();
    audunittest_fail_test("a.cpp", 3);
    audunittest_fail_equals("a.cpp", 4, "x", "y", "!=");
    audunittest_fail_equals_int("a.cpp", 5, -7, 8, "<");
    audunittest_fail_equals_uint("a.cpp", 6, 0, 4000000000ul, "!=");
    audunittest_fail_equals_double("a.cpp", 7, 0.125, -2.0, ">=");
    EXPECT_EQ(GetCapturedStderr(), "\nFailed: a.cpp:3 in ctx\n"
                                   "\nFailed: a.cpp:4 in ctx: x != y\n"
                                   "\nFailed: a.cpp:5 in ctx: -7 < 8\n"
                                   "\nFailed: a.cpp:6 in ctx: 0 != 4000000000\n"
                                   "\nFailed: a.cpp:7 in ctx: 0.125000 >= -2.000000\n");
    EXPECT_EQ(audunittest_num_assertions(), 10u);
    EXPECT_EQ(audunittest_num_failed(), 10u);
    ASSERT_EQ(runWith(&console, {"--run", "test__inproc__counts"}), 0); // clears the context
}

void someTest() {}

TEST(AudunittestDeathTest, NullArgumentsAreFatal)
{
    const std::string where = "platform/audio/audtest/audunittest\\.cpp:[0-9]+: .*";
    EXPECT_DEATH(audunittest_register_test(nullptr, "test__x"),
                 where + "audunittest_register_test.*: Assertion `function' failed");
    EXPECT_DEATH(audunittest_register_test(someTest, nullptr),
                 where + "audunittest_register_test.*: Assertion `name' failed");
    EXPECT_DEATH(audunittest_set_context(nullptr), where + "audunittest_set_context.*: Assertion `context' failed");
}

} // namespace
