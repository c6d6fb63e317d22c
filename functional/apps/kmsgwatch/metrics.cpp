// Metrics files: one unsigned decimal count and a newline each.
#include "functional/apps/kmsgwatch/kmsgwatch.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

unsigned readCount(const char *path)
{
    std::FILE *in = std::fopen(path, "re");
    if (in == nullptr) {
        return 0;
    }
    unsigned count = 0;
    if (std::fscanf(in, "%u\n", &count) != 1) {
        count = 0;
    }
    std::fclose(in);
    return count;
}

// Writes the count into a temporary file beside the metrics file and renames
// it into place, so that readers and a crash see the old or the new count.
bool writeCount(const char *path, unsigned count)
{
    const std::string temporary = std::string(path) + "." + std::to_string(getpid());
    std::FILE *out = std::fopen(temporary.c_str(), "we");
    if (out == nullptr) {
        return false;
    }
    bool written = std::fprintf(out, "%u\n", count) > 0 && std::fflush(out) == 0 && fsync(fileno(out)) == 0;
    written = std::fclose(out) == 0 && written;
    if (written && std::rename(temporary.c_str(), path) == 0) {
        return true;
    }
    std::remove(temporary.c_str());
    return false;
}

} // namespace

extern "C" void increment_instance_of(const char *path)
{
    const unsigned count = readCount(path) + 1;
    if (!writeCount(path, count)) {
        std::fprintf(stderr, "kmsgwatch: updating metrics file (%s) failed\n", path);
    }
}
