// The runner's metrics file for node_exporter's textfile collector.
#include "functional/apps/selfcheckrun/selfcheckrun.h"

#include "platform/fleet/exposition.h"

#include <ctime>


namespace selfcheckrun {

namespace {

struct Totals {
    std::uint64_t runs = 0;
    std::uint64_t failures = 0;
    RunReport last;
    double endTime = 0; // seconds since the epoch
    double seconds = 0;
};

std::string fileName(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Totals T;
fleet::MetricsFile Metrics{"selfcheckrun", nullptr, ""};

std::string exposition()
{
    using fleet::MetricType;
    fleet::Exposition out;
    out.family("selfcheckrun_runs_total", "Runs of the sanity tests since the runner started.", MetricType::Counter);
    out.sample("selfcheckrun_runs_total", {}, T.runs);
    out.family("selfcheckrun_run_failures_total", "Runs that published no result document.", MetricType::Counter);
    out.sample("selfcheckrun_run_failures_total", {}, T.failures);
    out.family("selfcheckrun_last_run_timestamp_seconds",
               "End of the last published run, seconds since the epoch (0: none yet).", MetricType::Gauge);
    out.sample("selfcheckrun_last_run_timestamp_seconds", {}, T.endTime);
    out.family("selfcheckrun_last_run_duration_seconds", "How long the last published run took.", MetricType::Gauge);
    out.sample("selfcheckrun_last_run_duration_seconds", {}, T.seconds);
    out.family("selfcheckrun_test_failed",
               "1 when the test program failed, was killed, timed out or was cut in the last run.", MetricType::Gauge);
    for (const TestOutcome &test : T.last.tests) {
        const bool failed = test.failed || test.timedOut || test.cut;
        out.sample("selfcheckrun_test_failed", {{"test", fileName(test.path)}}, std::uint64_t{failed ? 1u : 0u});
    }
    out.family("selfcheckrun_test_duration_seconds", "How long the test program ran in the last run.",
               MetricType::Gauge);
    for (const TestOutcome &test : T.last.tests) {
        out.sample("selfcheckrun_test_duration_seconds", {{"test", fileName(test.path)}}, test.seconds);
    }
    out.family("selfcheckrun_tests_refused", "Test programs not run in the last run because they are unsafe.",
               MetricType::Gauge);
    out.sample("selfcheckrun_tests_refused", {}, static_cast<std::uint64_t>(T.last.refused));
    return out.text();
}

} // namespace

void statisticsStart(const char *folder)
{
    T = {};
    Metrics = fleet::MetricsFile("selfcheckrun", folder, "selfcheckrun.prom");
    if (Metrics.enabled()) {
        Metrics.removeStale();
        Metrics.publish(exposition());
    }
}

void statisticsAfterRun(bool published, double seconds)
{
    ++T.runs;
    if (published) {
        T.last = lastRun();
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        T.endTime = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec / 1000000) / 1000.0;
        T.seconds = seconds;
    } else {
        ++T.failures;
    }
    if (Metrics.enabled()) {
        Metrics.publish(exposition());
    }
}

} // namespace selfcheckrun
