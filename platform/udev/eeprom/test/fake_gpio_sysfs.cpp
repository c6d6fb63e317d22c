/*
 * Test preload standing in for the kernel behind a fake sysfs tree: what the
 * kernel does synchronously inside write() on the GPIO and EEPROM files,
 * this library does in its write() wrapper. The tree is the umockdev testbed
 * in $UMOCKDEV_DIR (umockdev's preload redirects /sys there), or, with
 * FAKE_SYSFS_ROOT=/, a directory mounted over /sys in a private mount
 * namespace; then statfs() and fstatfs() on /sys also report sysfs, as
 * libudev insists on it.
 *
 * - "<testbed>/sys/class/gpio/export": creates the line's folder gpioN with
 *   "direction" ("in") and "value" ("0"); EBUSY when N is already exported.
 * - "<testbed>/sys/class/gpio/unexport": removes gpioN; EINVAL when absent.
 * - "gpioN/direction", "gpioN/value": the file takes the written text as its
 *   whole new content (as a sysfs attribute does); invalid texts: EINVAL.
 * - An EEPROM file named in FAKE_SYSFS_WP ("<path suffix>=<line>,...") is
 *   write-protected by that line: its data reaches the file only while the
 *   line is exported, an output and low; otherwise the write reports success
 *   and stores nothing, like a protected part.
 * - With FAKE_SYSFS_CHUNK=N, reads and writes of those EEPROM files move at
 *   most N bytes per call, as a driver that transfers part of a request.
 * Every such write is appended to the file FAKE_SYSFS_LOG, one line each:
 * "<path relative to the testbed> <text or byte count> <line state>".
 */
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using WriteFunction = ssize_t (*)(int, const void *, size_t);

WriteFunction realWrite()
{
    static WriteFunction next = reinterpret_cast<WriteFunction>(dlsym(RTLD_NEXT, "write"));
    return next;
}

bool endsWith(const std::string &text, const std::string &suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string fdPath(int fd)
{
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    long n = syscall(SYS_readlinkat, AT_FDCWD, link, target, sizeof target - 1);
    if (n <= 0)
        return {};
    return std::string(target, static_cast<size_t>(n));
}

/* Where the fake tree's "/sys" lies: "<testbed>/sys", or "/sys" itself
 * (root "") in a mount namespace. Unset: the preload does nothing. */
bool enabled() { return std::getenv("FAKE_SYSFS_ROOT") || std::getenv("UMOCKDEV_DIR"); }

bool mounted() { return std::getenv("FAKE_SYSFS_ROOT") != nullptr; }

std::string testbed()
{
    const char *dir = std::getenv("FAKE_SYSFS_ROOT");
    if (!dir)
        dir = std::getenv("UMOCKDEV_DIR");
    std::string root = dir ? dir : "";
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    return root;
}

std::string gpioClass() { return testbed() + "/sys/class/gpio"; }

std::string readText(const std::string &path)
{
    std::string text;
    if (std::FILE *f = std::fopen(path.c_str(), "r")) {
        char buffer[64];
        size_t n = std::fread(buffer, 1, sizeof buffer, f);
        text.assign(buffer, n);
        std::fclose(f);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

void writeText(const std::string &path, const std::string &text)
{
    if (std::FILE *f = std::fopen(path.c_str(), "w")) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
}

/* Removes a line folder with its two files, if it is there. */
void removeLineFolder(const std::string &dir)
{
    unlink((dir + "/direction").c_str());
    unlink((dir + "/value").c_str());
    rmdir(dir.c_str());
}

/* "unexported", or "<direction>,<value>" of line n. */
std::string lineState(int line)
{
    std::string dir = gpioClass() + "/gpio" + std::to_string(line);
    struct stat st;
    if (stat(dir.c_str(), &st) != 0)
        return "unexported";
    return readText(dir + "/direction") + "," + readText(dir + "/value");
}

void logWrite(const std::string &path, const std::string &what, const std::string &state)
{
    const char *log = std::getenv("FAKE_SYSFS_LOG");
    if (!log)
        return;
    std::string relative = path.compare(0, testbed().size(), testbed()) == 0 ? path.substr(testbed().size()) : path;
    if (std::FILE *f = std::fopen(log, "a")) {
        std::fprintf(f, "%s %s %s\n", relative.c_str(), what.c_str(), state.c_str());
        std::fclose(f);
    }
}

/* The write-protect line of an EEPROM file, or -1. */
int protectingLine(const std::string &path)
{
    const char *spec = std::getenv("FAKE_SYSFS_WP");
    if (!spec)
        return -1;
    std::string list = spec;
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        std::string item = list.substr(start, end - start);
        size_t eq = item.find('=');
        if (eq != std::string::npos && endsWith(path, item.substr(0, eq)))
            return std::atoi(item.c_str() + eq + 1);
        start = end + 1;
    }
    return -1;
}

/* The part of a transfer of count bytes that one call moves. */
size_t partial(size_t count)
{
    const char *chunk = std::getenv("FAKE_SYSFS_CHUNK");
    const long limit = chunk ? std::atol(chunk) : 0;
    return limit > 0 && count > static_cast<size_t>(limit) ? static_cast<size_t>(limit) : count;
}

ssize_t fail(int error)
{
    errno = error;
    return -1;
}

/* The number of bytes after which a write of count bytes fails (EIO), or
 * count when it goes through. */
size_t failingAfter(size_t count)
{
    static int failed = 0;
    const char *spec = std::getenv("FAKE_SYSFS_WRITE_EIO");
    if (!spec)
        return count;
    char *end = nullptr;
    const unsigned long bytes = std::strtoul(spec, &end, 10);
    const long times = *end == ':' ? std::atol(end + 1) : -1;
    if (count <= bytes || (times >= 0 && failed >= times))
        return count;
    ++failed;
    return bytes;
}

} // namespace

extern "C" ssize_t write(int fd, const void *buffer, size_t count)
{
    const std::string path = fdPath(fd);
    const std::string tb = testbed();
    if (!enabled() || path.compare(0, tb.size() + 5, tb + "/sys/") != 0)
        return realWrite()(fd, buffer, count);

    std::string text(static_cast<const char *>(buffer), count);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    const std::string cls = gpioClass();

    if (path == cls + "/export" || path == cls + "/unexport") {
        const bool exporting = path == cls + "/export";
        char *end = nullptr;
        long line = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || line < 0)
            return fail(EINVAL);
        const std::string dir = cls + "/gpio" + std::to_string(line);
        struct stat st;
        const bool exported = stat(dir.c_str(), &st) == 0;
        logWrite(path, text, exported ? "exported" : "unexported");
        // The kernel exports and unexports at once: a killed caller leaves
        // the line exported or not, never half made. The folder is made
        // aside and renamed into place, or renamed aside and removed.
        if (exporting) {
            if (exported)
                return fail(EBUSY);
            const std::string made = dir + ".new";
            removeLineFolder(made);
            mkdir(made.c_str(), 0755);
            writeText(made + "/direction", "in\n");
            writeText(made + "/value", "0\n");
            rename(made.c_str(), dir.c_str());
        } else {
            if (!exported)
                return fail(EINVAL);
            const std::string gone = dir + ".gone";
            removeLineFolder(gone);
            rename(dir.c_str(), gone.c_str());
            removeLineFolder(gone);
        }
        return static_cast<ssize_t>(count);
    }

    if (path.compare(0, cls.size() + 5, cls + "/gpio") == 0 &&
        (endsWith(path, "/direction") || endsWith(path, "/value"))) {
        const bool direction = endsWith(path, "/direction");
        const bool valid = direction ? (text == "in" || text == "out" || text == "high" || text == "low")
                                     : (text == "0" || text == "1");
        logWrite(path, text, valid ? "ok" : "invalid");
        if (!valid)
            return fail(EINVAL);
        if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)
            return fail(EIO);
        std::string content = text + "\n";
        if (realWrite()(fd, content.data(), content.size()) < 0)
            return -1;
        return static_cast<ssize_t>(count);
    }

    const int line = protectingLine(path);
    if (line >= 0) {
        count = partial(count);
        const size_t stored = failingAfter(count);
        const std::string state = lineState(line);
        logWrite(path, std::to_string(count), state);
        if (stored < count) {
            if (state == "out,0" && stored > 0 && realWrite()(fd, buffer, stored) < 0)
                return -1;
            return fail(EIO);
        }
        if (state != "out,0")
            return static_cast<ssize_t>(count); /* protected: nothing is stored */
    }
    return realWrite()(fd, buffer, count);
}

extern "C" ssize_t read(int fd, void *buffer, size_t count)
{
    static auto real = reinterpret_cast<ssize_t (*)(int, void *, size_t)>(dlsym(RTLD_NEXT, "read"));
    static long reads = 0;
    const char *failing = std::getenv("FAKE_SYSFS_READ_EIO");
    if (enabled() && (std::getenv("FAKE_SYSFS_CHUNK") || failing) && protectingLine(fdPath(fd)) >= 0) {
        if (failing && ++reads == std::atol(failing))
            return fail(EIO);
        count = partial(count);
    }
    return real(fd, buffer, count);
}

namespace {

constexpr long SysfsMagic = 0x62656572;

bool underSys(const std::string &path) { return path == "/sys" || path.compare(0, 5, "/sys/") == 0; }

template <typename Stat>
void reportSysfs(Stat *buffer)
{
    buffer->f_type = SysfsMagic;
}

template <typename Function>
Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fstatfs(int fd, struct statfs *buffer)
{
    static auto real = next<int (*)(int, struct statfs *)>("fstatfs");
    int result = real(fd, buffer);
    if (result == 0 && mounted() && underSys(fdPath(fd)))
        reportSysfs(buffer);
    return result;
}

extern "C" int statfs(const char *path, struct statfs *buffer)
{
    static auto real = next<int (*)(const char *, struct statfs *)>("statfs");
    int result = real(path, buffer);
    if (result == 0 && mounted() && underSys(path))
        reportSysfs(buffer);
    return result;
}

/* libudev calls the 64-bit-offset variants (on every target). */
extern "C" int fstatfs64(int fd, struct statfs64 *buffer)
{
    static auto real = next<int (*)(int, struct statfs64 *)>("fstatfs64");
    int result = real(fd, buffer);
    if (result == 0 && mounted() && underSys(fdPath(fd)))
        reportSysfs(buffer);
    return result;
}

extern "C" int statfs64(const char *path, struct statfs64 *buffer)
{
    static auto real = next<int (*)(const char *, struct statfs64 *)>("statfs64");
    int result = real(path, buffer);
    if (result == 0 && mounted() && underSys(path))
        reportSysfs(buffer);
    return result;
}
