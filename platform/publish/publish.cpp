// Atomic publishing: temporary file, fsync, rename.
#include "platform/publish/publish.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// Removes the temporary file, keeping the errno of the failure that led here.
void discard(publish_file *file)
{
    const int error = errno;
    unlink(file->temporary);
    errno = error;
}

// The process id of a temporary file's name "<base>.<pid>", or 0 when the
// name is not one.
pid_t temporaryOwner(std::string_view name, std::string_view base)
{
    if (name.size() <= base.size() + 1 || name.substr(0, base.size()) != base || name[base.size()] != '.') {
        return 0;
    }
    const std::string_view digits = name.substr(base.size() + 1);
    if (digits.size() > 10 || digits.front() == '0') {
        return 0;
    }
    long long pid = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return 0;
        }
        pid = pid * 10 + (c - '0');
    }
    return pid <= 0x7fffffff ? static_cast<pid_t>(pid) : 0;
}

// Whether another process of that id exists (one of another user counts).
bool otherProcessAlive(pid_t pid) { return pid != getpid() && (kill(pid, 0) == 0 || errno == EPERM); }

// The process's file mode creation mask, read without changing it.
mode_t currentUmask()
{
    if (std::FILE *status = std::fopen("/proc/self/status", "re")) {
        char line[128];
        unsigned mask = 0;
        while (std::fgets(line, sizeof line, status) != nullptr) {
            if (std::sscanf(line, "Umask: %o", &mask) == 1) {
                std::fclose(status);
                return static_cast<mode_t>(mask);
            }
        }
        std::fclose(status);
    }
    const mode_t mask = umask(077);
    umask(mask);
    return mask;
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
    // Never through a link or into a file someone else prepared: the name is
    // made new here. A leftover of that name (an earlier process of this id,
    // or anyone's file or link) goes only by the stale-temporary rule.
    constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = open(file->temporary, flags, 0600);
    if (fd < 0 && errno == EEXIST && publish_remove_stale(path) >= 0) {
        fd = open(file->temporary, flags, 0600);
    }
    if (fd < 0) {
        return -1;
    }
    // Created private; then the mode a plain creation would give.
    if (fchmod(fd, 0666 & ~currentUmask()) != 0 || (file->out = fdopen(fd, "w")) == nullptr) {
        const int error = errno;
        close(fd);
        unlink(file->temporary);
        errno = error;
        return -1;
    }
    return 0;
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

extern "C" int publish_remove_stale(const char *path)
{
    const std::string_view whole(path);
    const std::size_t slash = whole.rfind('/');
    const std::string folder = slash == std::string_view::npos ? "."
                               : slash == 0                    ? "/"
                                                               : std::string(whole.substr(0, slash));
    const std::string_view base = slash == std::string_view::npos ? whole : whole.substr(slash + 1);
    DIR *directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return -1;
    }
    int removed = 0;
    while (const dirent *entry = readdir(directory)) {
        const pid_t owner = temporaryOwner(entry->d_name, base);
        if (owner == 0 || otherProcessAlive(owner)) {
            continue;
        }
        if (unlinkat(dirfd(directory), entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    closedir(directory);
    return removed;
}
