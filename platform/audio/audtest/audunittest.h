#ifndef PLATFORM_AUDIO_AUDTEST_AUDUNITTEST_H
#define PLATFORM_AUDIO_AUDTEST_AUDUNITTEST_H
/*
 * audunittest: a small unit-test harness.
 *
 * Tests register themselves before main (one constructor per test) into a
 * list sorted by name (strcmp; a name equal to an earlier one goes after
 * it). main hands its command line to the harness:
 *
 *     int main(int argc, char *argv[]) { return audunittest_commandline(argc, argv); }
 *
 *     prog                                usage line, exit 0
 *     prog --run|--rununittest NAME       runs the test named exactly NAME
 *     prog --runall|--runallunittests [S] runs every test whose name contains S
 *                                         (ignoring case), then a summary
 *     prog --list|--listunittest [S]      lists the names containing S, then a count
 *     prog --help|-h                      usage line, exit 0
 * Exit status 1 for a failed assertion, an unknown option, a missing or
 * unknown test name. All output goes to standard error (coloured with ANSI
 * escapes only when standard error is a terminal), or to the console given
 * to audunittest_commandline_with_console.
 *
 * Declaring tests
 * ---------------
 * AUDUNITTEST_TEST(group, suffix) { body }
 *     defines the test function test__<group>__<suffix>, named
 *     "test__<group>__<suffix>", and the constructor register_<group>_<suffix>
 *     that registers it before main. Both have C linkage, so a name used twice
 *     in one program fails to link. The body makes its assertions with the
 *     AUDUNITTEST_CHECK* macros below (or the audunittest_* calls directly).
 *
 * AUDUNITTEST_ROUTINE_TEST(group, suffix, routine)
 *     the same, for a test that calls one routine returning its number of
 *     failures (0 = pass) and makes one assertion on it, at the line of the
 *     macro: audunittest_succeed_test(__FILE__, __LINE__) for 0, otherwise
 *     audunittest_fail_equals_uint(__FILE__, __LINE__, 0, result, "!="),
 *     which prints e.g. "\nFailed: <file>:41 in test__voxaim__vad_on: 0 != 1\n".
 *     Keep the whole macro on one line so that __LINE__ is that line:
 *
 *         AUDUNITTEST_ROUTINE_TEST(voxaim, vad_on, vadOnTest)
 *
 *     defines test__voxaim__vad_on() { result = vadOnTest(); ... } and the
 *     constructor register_voxaim_vad_on().
 *
 * Registration through these macros needs GCC/Clang (constructor attribute).
 */
#include <stdint.h>
#include <string.h>

#include "platform/audio/audtest/con.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A test: no arguments, no result; it reports through the assertion calls. */
typedef void (*audunittest_function)(void);

/* Colour numbers of custom_printf_color. */
enum { AUDUNITTEST_RED = 0, AUDUNITTEST_GREEN = 1, AUDUNITTEST_YELLOW = 2 };

/*
 * Adds a test to the sorted list. `name` must stay valid for the life of the
 * program (it is not copied). Null function or name: fatal assertion.
 * No duplicate check: a name registered twice is listed twice.
 */
void audunittest_register_test(audunittest_function function, const char *name);
/* Sets the text printed in failure messages ("... in <context>"); not null. */
void audunittest_set_context(const char *context);

/* Counters: every assertion counts once, a failed one also counts as failed. */
void audunittest_reset(void);
uint32_t audunittest_num_assertions(void);
uint32_t audunittest_num_failed(void);

/* Assertions. The failures print, in red, "\nFailed: <file>:<line>[ in <context>]"
 * then ": <left> <op> <right>" for the _equals forms, then "\n". */
void audunittest_succeed_test(const char *file, int line);
void audunittest_fail_test(const char *file, int line);
void audunittest_fail_equals(const char *file, int line, const char *left, const char *right, const char *op);
void audunittest_fail_equals_int(const char *file, int line, long left, long right, const char *op);
void audunittest_fail_equals_uint(const char *file, int line, unsigned long left, unsigned long right, const char *op);
void audunittest_fail_equals_double(const char *file, int line, double left, double right, const char *op);

/* The command line described above; returns the exit status. */
int audunittest_commandline(int argc, char **argv);
/* audunittest_commandline with every output going to `console` (no colour);
 * the previous console is restored before returning. */
int audunittest_commandline_with_console(int argc, char **argv, con *console);

/* Harness output: to the console if one is set, else to standard error. */
int custom_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
/* As custom_printf; on a terminal (and no console) wrapped in the colour's
 * start sequence and "\033[00m". An unknown colour number prints plain text. */
int custom_printf_color(int color, const char *format, ...) __attribute__((format(printf, 2, 3)));

/* ---- Declaring tests (see the top of this file) ---- */

#ifdef __cplusplus
#define AUDUNITTEST_C_LINKAGE extern "C"
#else
#define AUDUNITTEST_C_LINKAGE
#endif

#define AUDUNITTEST_TEST(group, suffix)                                                                                \
    AUDUNITTEST_C_LINKAGE void test__##group##__##suffix(void);                                                        \
    AUDUNITTEST_C_LINKAGE __attribute__((constructor)) void register_##group##_##suffix(void);                         \
    void register_##group##_##suffix(void)                                                                             \
    {                                                                                                                  \
        audunittest_register_test(test__##group##__##suffix, "test__" #group "__" #suffix);                            \
    }                                                                                                                  \
    void test__##group##__##suffix(void)

#define AUDUNITTEST_ROUTINE_TEST(group, suffix, routine)                                                               \
    AUDUNITTEST_TEST(group, suffix) { audunittest_check_zero(__FILE__, __LINE__, (unsigned long)(routine)()); }

/* ---- Assertions inside a test: each counts one assertion at its line ---- */

/* Fails with "Failed: <file>:<line> in <test>" when the condition is false. */
#define AUDUNITTEST_CHECK(condition) audunittest_check((condition) ? 1 : 0, __FILE__, __LINE__)
/* Fail with "<expected> != <actual>" when they differ. */
#define AUDUNITTEST_CHECK_EQUAL_INT(expected, actual)                                                                  \
    audunittest_check_equal_int(__FILE__, __LINE__, (long)(expected), (long)(actual))
#define AUDUNITTEST_CHECK_EQUAL_UINT(expected, actual)                                                                 \
    audunittest_check_equal_uint(__FILE__, __LINE__, (unsigned long)(expected), (unsigned long)(actual))
#define AUDUNITTEST_CHECK_EQUAL_DOUBLE(expected, actual)                                                               \
    audunittest_check_equal_double(__FILE__, __LINE__, (double)(expected), (double)(actual))
#define AUDUNITTEST_CHECK_EQUAL_STR(expected, actual)                                                                  \
    audunittest_check_equal_str(__FILE__, __LINE__, (expected), (actual))

static inline void audunittest_check(int passed, const char *file, int line)
{
    if (passed)
        audunittest_succeed_test(file, line);
    else
        audunittest_fail_test(file, line);
}
static inline void audunittest_check_zero(const char *file, int line, unsigned long result)
{
    if (result == 0)
        audunittest_succeed_test(file, line);
    else
        audunittest_fail_equals_uint(file, line, 0, result, "!=");
}
static inline void audunittest_check_equal_int(const char *file, int line, long e, long a)
{
    if (e == a)
        audunittest_succeed_test(file, line);
    else
        audunittest_fail_equals_int(file, line, e, a, "!=");
}
static inline void audunittest_check_equal_uint(const char *file, int line, unsigned long e, unsigned long a)
{
    if (e == a)
        audunittest_succeed_test(file, line);
    else
        audunittest_fail_equals_uint(file, line, e, a, "!=");
}
static inline void audunittest_check_equal_double(const char *file, int line, double e, double a)
{
    if (e == a)
        audunittest_succeed_test(file, line);
    else
        audunittest_fail_equals_double(file, line, e, a, "!=");
}
static inline void audunittest_check_equal_str(const char *file, int line, const char *e, const char *a)
{
    if (e != NULL && a != NULL ? strcmp(e, a) == 0 : e == a)
        audunittest_succeed_test(file, line);
    else
        audunittest_fail_equals(file, line, e != NULL ? e : "(null)", a != NULL ? a : "(null)", "!=");
}

#ifdef __cplusplus
}
#endif

#endif
