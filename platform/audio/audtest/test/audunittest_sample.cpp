// A harness program with sample tests, run as a real process by
// audunittest_cli_test.py. The tests are declared out of name order, some
// names share a search text in mixed case, and one name is registered twice.
// The script locates the assertion lines by the texts on them: keep each
// macro use on one line.
#include "platform/audio/audtest/audunittest.h"
#include "platform/audio/audtest/eventlog.h"

namespace {
int returnsZero() { return 0; }
int returnsOne() { return 1; }
int returnsThree() { return 3; }
} // namespace

AUDUNITTEST_TEST(sample, zeta_checks)
{
    eventlog("zeta_checks logs %d line\n", 1);
    AUDUNITTEST_CHECK(2 + 2 == 4);
    AUDUNITTEST_CHECK_EQUAL_INT(-2, -2);
    AUDUNITTEST_CHECK_EQUAL_UINT(7u, 7u);
    AUDUNITTEST_CHECK_EQUAL_DOUBLE(0.5, 0.5);
    AUDUNITTEST_CHECK_EQUAL_STR("abc", "abc");
}

AUDUNITTEST_ROUTINE_TEST(sample, routine_fails, returnsThree)
AUDUNITTEST_ROUTINE_TEST(sample, vad_hangover, returnsZero)
AUDUNITTEST_ROUTINE_TEST(sample, routine_pass, returnsZero)
AUDUNITTEST_ROUTINE_TEST(sample, VAD_on, returnsZero)
AUDUNITTEST_ROUTINE_TEST(sample, far_end_vAd, returnsOne)
AUDUNITTEST_ROUTINE_TEST(sample, time_domain_Vad, returnsZero)
AUDUNITTEST_ROUTINE_TEST(sample, only_once, returnsZero)

AUDUNITTEST_TEST(sample, checks_fail)
{
    AUDUNITTEST_CHECK(1 + 1 == 3);             // check-false
    AUDUNITTEST_CHECK_EQUAL_INT(-1, 2);        // check-int
    AUDUNITTEST_CHECK_EQUAL_UINT(7u, 8u);      // check-uint
    AUDUNITTEST_CHECK_EQUAL_DOUBLE(0.5, 0.25); // check-double
    AUDUNITTEST_CHECK_EQUAL_STR("abc", "abd"); // check-str
    AUDUNITTEST_CHECK(true);
}

// One name registered twice: --run finds the first registration.
namespace {
void twiceFirst() { audunittest_succeed_test(__FILE__, __LINE__); }
void twiceSecond()
{
    audunittest_fail_test(__FILE__, __LINE__); // twice-second
}
__attribute__((constructor)) void registerTwice()
{
    audunittest_register_test(twiceFirst, "test__sample__twice");
    audunittest_register_test(twiceSecond, "test__sample__twice");
}
} // namespace

int main(int argc, char *argv[]) { return audunittest_commandline(argc, argv); }
