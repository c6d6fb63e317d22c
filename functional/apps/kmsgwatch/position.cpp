// The watch position kept across restarts of the watcher.
#include "functional/apps/kmsgwatch/position.h"

#include "platform/publish/publish.h"

#include <cstdio>
#include <cstring>

namespace kmsgwatch {

Position::Position(const char *path, const char *bootIdPath) : path_(path)
{
    if (path_ == nullptr) {
        return; // nothing kept: boot_ stays empty
    }
    std::FILE *in = std::fopen(bootIdPath, "re");
    if (in == nullptr) {
        return;
    }
    const bool read = std::fscanf(in, "%63s", boot_) == 1;
    std::fclose(in);
    if (!read) {
        boot_[0] = '\0';
        return;
    }
    in = std::fopen(path_, "re");
    if (in == nullptr) {
        return;
    }
    char boot[sizeof boot_];
    unsigned long long sequence;
    if (std::fscanf(in, "%63s %llu", boot, &sequence) == 2 && std::strcmp(boot, boot_) == 0) {
        known_ = true;
        last_ = sequence;
    }
    std::fclose(in);
}

bool Position::seen(unsigned long long sequence) const { return known_ && sequence <= last_; }

void Position::keep(unsigned long long sequence)
{
    if (boot_[0] == '\0') {
        return;
    }
    publish_file file;
    if (publish_open(&file, path_) != 0) {
        return;
    }
    std::fprintf(file.out, "%s %llu\n", boot_, sequence);
    if (publish_commit(&file) == PUBLISH_DONE) {
        known_ = true;
        last_ = sequence;
    }
}

} // namespace kmsgwatch
