// Atomic publishing: temporary file, fsync, rename.
#include "platform/publish/publish.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// Removes the temporary file, keeping the errno of the failure that led here.
void discard(publish_file *file)
{
    const int error = errno;
    unlink(file->temporary);
    errno = error;
}

} // namespace

extern "C" int publish_open(publish_file *file, const char *path)
{
    file->out = nullptr;
    file->path = path;
    const int length =
        std::snprintf(file->temporary, sizeof file->temporary, "%s.%d", path, static_cast<int>(getpid()));
    if (length < 0 || static_cast<size_t>(length) >= sizeof file->temporary) {
        file->temporary[0] = '\0';
        errno = ENAMETOOLONG;
        return -1;
    }
    file->out = std::fopen(file->temporary, "we");
    return file->out != nullptr ? 0 : -1;
}

extern "C" publish_outcome publish_commit(publish_file *file)
{
    // A failed write drops its piece and only marks the stream, and later
    // writes may succeed again (after space was freed): the mark decides.
    bool written = std::fflush(file->out) == 0 && !std::ferror(file->out) && fsync(fileno(file->out)) == 0;
    const int error = errno;
    if (std::fclose(file->out) != 0 && written) {
        written = false;
    } else {
        errno = error;
    }
    file->out = nullptr;
    if (!written) {
        discard(file);
        return PUBLISH_WRITE_FAILED;
    }
    if (std::rename(file->temporary, file->path) != 0) {
        discard(file);
        return PUBLISH_RENAME_FAILED;
    }
    return PUBLISH_DONE;
}

extern "C" void publish_abandon(publish_file *file)
{
    if (file->out != nullptr) {
        std::fclose(file->out);
        file->out = nullptr;
    }
    discard(file);
}
