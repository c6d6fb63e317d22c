#include "platform/corestack/corestack_text.h"

#include <gtest/gtest.h>

#include <string>

namespace corestack {
namespace {

TEST(CorestackText, SignalNames)
{
    EXPECT_STREQ(signalName(3), "SIGQUIT");
    EXPECT_STREQ(signalName(4), "SIGILL");
    EXPECT_STREQ(signalName(6), "SIGABRT");
    EXPECT_STREQ(signalName(7), "SIGBUS");
    EXPECT_STREQ(signalName(8), "SIGFPE");
    EXPECT_STREQ(signalName(10), "SIGUSR1");
    EXPECT_STREQ(signalName(11), "SIGSEGV");
    for (int other : {0, 1, 2, 5, 9, 12, 15, 64, -1})
        EXPECT_STREQ(signalName(other), "Unknown signal") << other;
}

TEST(CorestackText, DisplayNames)
{
    const DisplayName member("_ZN9crashtest7Crasher4fireEi");
    EXPECT_STREQ(member.text(), "crashtest::Crasher::fire(int)");
    EXPECT_STREQ(member.suffix(), "");

    const DisplayName cFunction("crasher_fault");
    EXPECT_STREQ(cFunction.text(), "crasher_fault");
    EXPECT_STREQ(cFunction.suffix(), "()");

    // Bare type codes are C names, not mangled names.
    for (const char *raw : {"i", "f", "v", "St", "main", "<unknown> (no unwind info)", ""}) {
        const DisplayName name(raw);
        EXPECT_STREQ(name.text(), raw);
        EXPECT_STREQ(name.suffix(), "()");
    }

    // A broken mangled name stays as it is.
    const DisplayName broken("_ZN3foo");
    EXPECT_STREQ(broken.text(), "_ZN3foo");
    EXPECT_STREQ(broken.suffix(), "()");
}

TEST(CorestackText, JsonEscape)
{
    EXPECT_EQ(jsonEscape("plain /usr/lib/libc.so.6"), "plain /usr/lib/libc.so.6");
    EXPECT_EQ(jsonEscape(R"(a"b\c)"), R"(a\"b\\c)");
    EXPECT_EQ(jsonEscape("tab\tnl\ncr\rbs\bff\f"), R"(tab\tnl\ncr\rbs\bff\f)");
    EXPECT_EQ(jsonEscape(std::string("\x01\x1f\x7f", 3)), "\\u0001\\u001f\x7f");
    EXPECT_EQ(jsonEscape("caf\xc3\xa9"), "caf\xc3\xa9");
    EXPECT_EQ(jsonEscape(""), "");
}

} // namespace
} // namespace corestack
