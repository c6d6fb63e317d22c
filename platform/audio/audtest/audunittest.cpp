#include "platform/audio/audtest/audunittest.h"

#include <array>
#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <unistd.h>

namespace {

// One registered test. Records are allocated at registration and never freed:
// the list lives as long as the program.
struct TestRecord {
    audunittest_function function;
    const char *name; // static text, not copied
    TestRecord *next;
};

struct Counters {
    uint32_t assertions; // every assertion made
    uint32_t failed;     // the failed ones
};

// Head of the list, sorted by strcmp of the names.
TestRecord *tests = nullptr;
Counters total_result = {0, 0};
// Name of the running test (null outside a test).
const char *current_context = nullptr;
// While set, every harness output goes through it, without colour.
con *current_console = nullptr;

constexpr std::array<const char *, 3> begin_colors = {"\033[31m", "\033[32m", "\033[33m"};
constexpr const char *end_color = "\033[00m";

constexpr const char *Separator = "--------------------------------\n";
constexpr const char *UsageFormat = "Usage: %s [--run name] | [--runall [search]] | [--list [search]] | [--help]\n";

int vprintColor(int color, const char *format, va_list args)
{
    if (current_console != nullptr)
        return con_vout(current_console, format, args);
    const bool colored = color >= 0 && static_cast<size_t>(color) < begin_colors.size() && isatty(fileno(stderr)) == 1;
    if (!colored)
        return std::vfprintf(stderr, format, args);
    std::fputs(begin_colors[static_cast<size_t>(color)], stderr);
    const int count = std::vfprintf(stderr, format, args);
    std::fputs(end_color, stderr);
    return count;
}

const char *plural(unsigned long count) { return count == 1 ? "" : "s"; }

void countAssertion(bool failed)
{
    ++total_result.assertions;
    if (failed)
        ++total_result.failed;
}

timespec readThreadCpuTime()
{
    timespec now;
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0)
        std::abort();
    return now;
}

// Elapsed processor time in milliseconds, in single precision.
float elapsedMs(const timespec &begin, const timespec &end)
{
    long long seconds = static_cast<long long>(end.tv_sec) - begin.tv_sec;
    long nanoseconds = end.tv_nsec - begin.tv_nsec;
    if (nanoseconds < 0) {
        nanoseconds += 1000000000L;
        --seconds;
    } else if (nanoseconds >= 1000000000L) {
        nanoseconds -= 1000000000L;
        ++seconds;
    }
    return static_cast<float>(nanoseconds) * 0.000001f + static_cast<float>(seconds) * 1000.0f;
}

void run_test(const TestRecord &test)
{
    custom_printf_color(AUDUNITTEST_YELLOW, "Running %s...", test.name);
    audunittest_set_context(test.name);
    const uint32_t failedBefore = total_result.failed;
    const timespec begin = readThreadCpuTime();
    test.function();
    const timespec end = readThreadCpuTime();
    current_context = nullptr;
    if (total_result.failed == failedBefore)
        custom_printf_color(AUDUNITTEST_GREEN, " Success");
    custom_printf(" [%.3f ms]\n", static_cast<double>(elapsedMs(begin, end)));
}

bool matches(const TestRecord &test, const char *search)
{
    return search == nullptr || strcasestr(test.name, search) != nullptr;
}

// Runs every test whose name contains `search` ignoring case (all for null),
// then prints the summary. True when no assertion failed.
bool run_all_tests_matching_name(const char *search)
{
    audunittest_reset();
    const timespec begin = readThreadCpuTime();
    unsigned long testsRun = 0;
    for (const TestRecord *test = tests; test != nullptr; test = test->next) {
        if (!matches(*test, search))
            continue;
        run_test(*test);
        ++testsRun;
    }
    const timespec end = readThreadCpuTime();
    const float seconds = elapsedMs(begin, end) * 0.001f;

    const unsigned long failed = total_result.failed;
    const unsigned long assertions = total_result.assertions;
    custom_printf("%s", Separator);
    if (failed != 0)
        custom_printf_color(AUDUNITTEST_RED,
                            "Test failure: %lu failed assertion%s in %lu test%s with %lu "
                            "assertion%s [%.3f s].\n",
                            failed, plural(failed), testsRun, plural(testsRun), assertions, plural(assertions),
                            static_cast<double>(seconds));
    else
        custom_printf_color(AUDUNITTEST_GREEN, "Test success: %lu test%s with %lu assertion%s [%.3f s].\n", testsRun,
                            plural(testsRun), assertions, plural(assertions), static_cast<double>(seconds));
    custom_printf("%s", Separator);
    return failed == 0;
}

// Runs the first test named exactly `name`; false when there is none.
bool run_test_with_name(const char *name)
{
    assert(name);
    for (const TestRecord *test = tests; test != nullptr; test = test->next) {
        if (std::strcmp(test->name, name) == 0) {
            audunittest_reset();
            run_test(*test);
            return true;
        }
    }
    return false;
}

void list_tests_matching_name(const char *search)
{
    unsigned long found = 0;
    for (const TestRecord *test = tests; test != nullptr; test = test->next) {
        if (!matches(*test, search))
            continue;
        custom_printf("%s\n", test->name);
        ++found;
    }
    custom_printf_color(AUDUNITTEST_YELLOW, "Found %lu test%s.\n", found, plural(found));
}

void printUsage(const char *program) { custom_printf(UsageFormat, program); }

bool is(const char *argument, const char *option, const char *alias)
{
    return std::strcmp(argument, option) == 0 || std::strcmp(argument, alias) == 0;
}

} // namespace

extern "C" void audunittest_register_test(audunittest_function function, const char *name)
{
    assert(function);
    assert(name);
    auto *record = new (std::nothrow) TestRecord{function, name, nullptr};
    if (record == nullptr)
        std::abort();
    // After every record whose name compares less than or equal to it.
    TestRecord **link = &tests;
    while (*link != nullptr && std::strcmp((*link)->name, name) <= 0)
        link = &(*link)->next;
    record->next = *link;
    *link = record;
}

extern "C" void audunittest_set_context(const char *context)
{
    assert(context);
    current_context = context;
}

extern "C" void audunittest_reset(void) { total_result = {0, 0}; }

extern "C" uint32_t audunittest_num_assertions(void) { return total_result.assertions; }

extern "C" uint32_t audunittest_num_failed(void) { return total_result.failed; }

extern "C" void audunittest_succeed_test(const char *, int) { countAssertion(false); }

extern "C" void audunittest_fail_test(const char *file, int line)
{
    if (current_context != nullptr)
        custom_printf_color(AUDUNITTEST_RED, "\nFailed: %s:%d in %s\n", file, line, current_context);
    else
        custom_printf_color(AUDUNITTEST_RED, "\nFailed: %s:%d\n", file, line);
    countAssertion(true);
}

extern "C" void audunittest_fail_equals(const char *file, int line, const char *left, const char *right, const char *op)
{
    if (current_context != nullptr)
        custom_printf_color(AUDUNITTEST_RED, "\nFailed: %s:%d in %s: %s %s %s\n", file, line, current_context, left, op,
                            right);
    else
        custom_printf_color(AUDUNITTEST_RED, "\nFailed: %s:%d: %s %s %s\n", file, line, left, op, right);
    countAssertion(true);
}

namespace {

// Numeric comparisons are reported through the text one, so that every
// failure line has a single layout.
template <typename T>
void failEqualsNumbers(const char *file, int line, const char *format, T left, T right, const char *op)
{
    char leftText[320]; // "%f" of the largest double needs 317 characters
    char rightText[320];
    std::snprintf(leftText, sizeof leftText, format, left);
    std::snprintf(rightText, sizeof rightText, format, right);
    audunittest_fail_equals(file, line, leftText, rightText, op);
}

} // namespace

extern "C" void audunittest_fail_equals_int(const char *file, int line, long left, long right, const char *op)
{
    failEqualsNumbers(file, line, "%ld", left, right, op);
}

extern "C" void audunittest_fail_equals_uint(const char *file, int line, unsigned long left, unsigned long right,
                                             const char *op)
{
    failEqualsNumbers(file, line, "%lu", left, right, op);
}

extern "C" void audunittest_fail_equals_double(const char *file, int line, double left, double right, const char *op)
{
    failEqualsNumbers(file, line, "%f", left, right, op);
}

extern "C" int custom_printf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int count =
        current_console != nullptr ? con_vout(current_console, format, args) : std::vfprintf(stderr, format, args);
    va_end(args);
    return count;
}

extern "C" int custom_printf_color(int color, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int count = vprintColor(color, format, args);
    va_end(args);
    return count;
}

extern "C" int audunittest_commandline(int argc, char **argv)
{
    const char *program = argc > 0 && argv[0] != nullptr ? argv[0] : "";
    if (argc < 2) {
        printUsage(program);
        return 0;
    }
    const char *action = argv[1];
    const char *argument = argc > 2 ? argv[2] : nullptr;

    if (is(action, "--run", "--rununittest")) {
        if (argument == nullptr) {
            custom_printf_color(AUDUNITTEST_RED, "Missing test name\n");
            return 1;
        }
        if (!run_test_with_name(argument)) {
            custom_printf_color(AUDUNITTEST_RED, "Could not find unit test '%s'\n", argument);
            return 1;
        }
        return total_result.failed != 0 ? 1 : 0;
    }
    if (is(action, "--runall", "--runallunittests"))
        return run_all_tests_matching_name(argument) ? 0 : 1;
    if (is(action, "--list", "--listunittest")) {
        list_tests_matching_name(argument);
        return 0;
    }
    if (is(action, "--help", "-h")) {
        printUsage(program);
        return 0;
    }
    custom_printf_color(AUDUNITTEST_RED, "Unknown argument '%s'\n", action);
    printUsage(program);
    return 1;
}

extern "C" int audunittest_commandline_with_console(int argc, char **argv, con *console)
{
    con *const previous = current_console;
    current_console = console;
    const int status = audunittest_commandline(argc, argv);
    current_console = previous;
    return status;
}
