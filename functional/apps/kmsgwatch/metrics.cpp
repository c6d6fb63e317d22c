// Metrics files: one unsigned decimal count and a newline each.
#include "functional/apps/kmsgwatch/classify.h"
#include "functional/apps/kmsgwatch/kmsgwatch.h"
#include "functional/apps/kmsgwatch/limits.h"
#include "platform/fleet/journal.h"
#include "platform/publish/publish.h"

#include <cstdio>

namespace {

unsigned long long readCount(const char *path)
{
    std::FILE *in = std::fopen(path, "re");
    if (in == nullptr) {
        return 0;
    }
    unsigned long long count = 0;
    if (std::fscanf(in, "%llu\n", &count) != 1) {
        count = 0;
    }
    std::fclose(in);
    return count;
}

// Replaces the metrics file as a whole, so that readers and a crash see the
// old or the new count.
bool writeCount(const char *path, unsigned long long count)
{
    publish_file file;
    if (publish_open(&file, path) != 0) {
        return false;
    }
    std::fprintf(file.out, "%llu\n", count);
    return publish_commit(&file) == PUBLISH_DONE;
}

} // namespace

extern "C" void increment_instance_of(const char *path)
{
    if (!kmsgwatch::addToMetricsFile(path, 1)) {
        fleet::logLine(fleet::Error, fleet::format("kmsgwatch: updating metrics file (%s) failed\n", path));
    }
}

namespace kmsgwatch {

bool addToMetricsFile(const char *path, unsigned long long n) { return writeCount(path, readCount(path) + n); }

void removeStaleMetricsTemporaries()
{
    for (const Rule &rule : Rules) {
        if (rule.metrics != nullptr) {
            publish_remove_stale(rule.metrics);
        }
    }
    publish_remove_stale(LostRecordsFile);
}

} // namespace kmsgwatch
