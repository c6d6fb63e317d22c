#include "functional/apps/kmsgwatch/kmsgwatch.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The handler path buffer holds 512 bytes: "/bin/kmsgwatch-" and a name of
// 497 characters or more do not fit with the terminator.
TEST(HandlerPathDeathTest, OverlongIncidentNameFailsTheAssertion)
{
    const std::string name(497, 'a');
    EXPECT_DEATH(do_acr(name.c_str()), "functional/apps/kmsgwatch/actions\\.cpp:[0-9]+: .*do_acr.*: Assertion "
                                       "`strlen\\(name\\) \\+ strlen\\(base\\) < sizeof p' failed\\.");
}

} // namespace
