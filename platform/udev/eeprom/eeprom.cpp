#include "platform/udev/eeprom/eeprom.h"

#include "platform/audio/audtest/eventlog.h"
#include "platform/proc/ending_signals.h"
#include "platform/udev/eeprom/write_protect.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

/* The hooks ignore the device record they are handed. */
void enableCrypto(eeprom_device *) { write_enable_crypto(); }
void disableCrypto(eeprom_device *) { write_disable_crypto(); }
void enableProd(eeprom_device *) { write_enable_prod(); }
void disableProd(eeprom_device *) { write_disable_prod(); }

eeprom_partition crypto_part[] = {
    {"prodtest", 65504, 32, 0, 1, EEPROM_FORMAT_DATA},
    {"fskey", 0, 256, 0, 0, EEPROM_FORMAT_ASCII},
    {nullptr, 0, 0, 0, 0, 0},
};

eeprom_partition serial_part[] = {
    {"proddata", 0, 256, 0, 1, EEPROM_FORMAT_ASCII},
    {"prodtest", 65504, 32, 0, 1, EEPROM_FORMAT_DATA},
    {nullptr, 0, 0, 0, 0, 0},
};

eeprom_partition cam_proddata_partitions[] = {
    {"proddata_sb", 0, 256, 0, 1, EEPROM_FORMAT_ASCII},    {"proddata_sm", 256, 256, 0, 1, EEPROM_FORMAT_ASCII},
    {"proddata_swb", 512, 256, 0, 1, EEPROM_FORMAT_ASCII}, {"proddata_lc", 768, 256, 0, 1, EEPROM_FORMAT_ASCII},
    {"prodtest", 65504, 32, 0, 1, EEPROM_FORMAT_DATA},     {nullptr, 0, 0, 0, 0, 0},
};

eeprom_device eeproms_zandor[] = {
    {"crypto", nullptr, "/sys/class/i2c-adapter/i2c-1/1-0050/eeprom", -1, 0, enableCrypto, disableCrypto, nullptr,
     crypto_part},
    {"production", nullptr, "/sys/class/i2c-adapter/i2c-1/1-0054/eeprom", -1, 1, enableProd, disableProd, nullptr,
     serial_part},
    {"sb1_production", nullptr, "/sys/class/i2c-adapter/i2c-1/1-0060/eeprom_sb1", -1, 1, nullptr, nullptr, nullptr,
     cam_proddata_partitions},
    {"sb2_production", nullptr, "/sys/class/i2c-adapter/i2c-1/1-0060/eeprom_sb2", -1, 1, nullptr, nullptr, nullptr,
     cam_proddata_partitions},
    {"sb3_production", nullptr, "/sys/class/i2c-adapter/i2c-1/1-0060/eeprom_sb3", -1, 1, nullptr, nullptr, nullptr,
     cam_proddata_partitions},
    {"sb4_production", nullptr, "/sys/class/i2c-adapter/i2c-1/1-0060/eeprom_sb4", -1, 1, nullptr, nullptr, nullptr,
     cam_proddata_partitions},
    {nullptr, nullptr, nullptr, -1, 0, nullptr, nullptr, nullptr, nullptr},
};

/* Time the write-protect line is given to settle after it was lifted. */
constexpr useconds_t WriteEnableSettleUs = 100000;

size_t pageSize()
{
    long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<size_t>(size) : 4096;
}

/* Reads exactly count bytes, continuing short reads. false on an error or
 * at end of file. */
bool readFully(int fd, unsigned char *buffer, size_t count)
{
    while (count > 0) {
        ssize_t n = read(fd, buffer, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

/* Writes exactly count bytes, continuing short writes. */
bool writeFully(int fd, const unsigned char *data, size_t count)
{
    while (count > 0) {
        ssize_t n = write(fd, data, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

/* Reads count bytes from offset in page-sized chunks. */
bool readChunks(int fd, uint32_t offset, unsigned char *buffer, size_t count)
{
    if (lseek(fd, offset, SEEK_SET) == static_cast<off_t>(-1))
        return false;
    const size_t page = pageSize();
    for (size_t done = 0; done < count;) {
        size_t chunk = std::min(page, count - done);
        if (!readFully(fd, buffer + done, chunk))
            return false;
        done += chunk;
    }
    return true;
}

/* The image an erase writes: 0xFF bytes, and for an ASCII partition a NUL
 * first (an empty record list). */
std::vector<unsigned char> erasedImage(const eeprom_partition &p)
{
    std::vector<unsigned char> image(p.size, 0xFF);
    if (p.format == EEPROM_FORMAT_ASCII && !image.empty())
        image[0] = 0;
    return image;
}

/* proc::EndingSignalsHeld holds back SIGTERM, SIGINT and SIGHUP for its
 * scope: while write protection is lifted they wait, and end the program once
 * it is back. */
using proc::EndingSignalsHeld;

enum class WriteMode {
    Continued, /* short writes are continued; failures are logged */
    Whole,     /* one write() per chunk, which must move all of it; failures are only reported */
};

/* Writes length bytes from the partition's start in page-sized chunks. In
 * Whole mode each chunk is one write() call, and one that fails or falls
 * short ends the write, its reason in *failure: continuing would leave a
 * moment where old and new bytes are mixed. */
bool writeChunks(const eeprom_device &d, const eeprom_partition &p, const unsigned char *bytes, size_t length,
                 WriteMode mode, std::string *failure)
{
    const size_t page = pageSize();
    for (size_t done = 0; done < length;) {
        const size_t chunk = std::min(page, length - done);
        if (mode == WriteMode::Continued) {
            if (!writeFully(d.fd, bytes + done, chunk)) {
                eventlog("eeprom: write failed for %s: %s\n", d.name, p.name);
                return false;
            }
            done += chunk;
            continue;
        }
        ssize_t n;
        do {
            n = write(d.fd, bytes + done, chunk);
        } while (n < 0 && errno == EINTR);
        if (n == static_cast<ssize_t>(chunk)) {
            done += chunk;
            continue;
        }
        if (failure && failure->empty()) {
            *failure = n < 0 ? std::strerror(errno)
                             : "short write, " + std::to_string(n) + " of " + std::to_string(chunk) + " bytes";
        }
        return false;
    }
    return true;
}

int LockFd = -1;
int LockDepth = 0;
int LockOperation = LOCK_EX; /* how the held lock was taken */

/* The lock file opened for locking: never through a symbolic link (a user
 * could point it at any file of root's), and only a regular file of the
 * caller's own that nobody else may write (nobody else can then hold it for
 * ever or replace it). -1 after a message. */
int openLockFile(const char *path)
{
    /* O_NONBLOCK: a FIFO or device put there is never waited for. */
    constexpr int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    int fd = open(path, flags, 0600);
    if (fd < 0 && errno == ENOENT) {
        /* The lock folder may not exist yet (a path of EEPROM_LOCK_FILE's):
         * make it instead of refusing every write. */
        const size_t slash = std::string_view(path).rfind('/');
        if (slash != std::string_view::npos && slash > 0) {
            const std::string folder(path, slash);
            if (mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST)
                fd = open(path, flags, 0600);
        }
    }
    if (fd < 0) {
        if (errno == ELOOP)
            eventlog("eeprom: lock %s refused: it is a symbolic link\n", path);
        else
            eventlog("eeprom: can't open lock %s: %s\n", path, std::strerror(errno));
        return -1;
    }
    struct stat info {};
    const char *why = nullptr;
    if (fstat(fd, &info) != 0)
        why = std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        why = "not a regular file";
    else if (info.st_uid != geteuid())
        why = "owned by another user";
    else if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        why = "writable by group or others";
    if (why) {
        eventlog("eeprom: lock %s refused: %s\n", path, why);
        close(fd);
        return -1;
    }
    return fd;
}

double monotonicSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

/* Takes the lock file's lock with LOCK_EX or LOCK_SH, or nests in the one
 * held: a shared request nests in either kind, an exclusive one only in an
 * exclusive lock (a shared lock is never turned into an exclusive one, which
 * would let another writer in between). A lock held elsewhere is waited for
 * EEPROM_LOCK_WAIT_SECONDS at most. */
int takeLock(int operation)
{
    if (LockDepth > 0) {
        if (operation == LOCK_EX && LockOperation != LOCK_EX) {
            eventlog("eeprom: lock is held shared, can't take it for writing\n");
            return -1;
        }
        ++LockDepth;
        return 0;
    }
    const char *path = std::getenv(EEPROM_LOCK_FILE_ENV);
    if (!path || !*path)
        path = EEPROM_LOCK_FILE_DEFAULT;
    const int fd = openLockFile(path);
    if (fd < 0)
        return -1;
    constexpr useconds_t PollUs = 20000;
    const double deadline = monotonicSeconds() + EEPROM_LOCK_WAIT_SECONDS;
    while (flock(fd, operation | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            eventlog("eeprom: can't lock %s: %s\n", path, std::strerror(errno));
            close(fd);
            return -1;
        }
        if (monotonicSeconds() >= deadline) {
            /* Named after the program that waited, whose user sees it. */
            eventlog("%s: the EEPROM is busy: %s held for %d s\n", program_invocation_short_name, path,
                     EEPROM_LOCK_WAIT_SECONDS);
            close(fd);
            return -1;
        }
        usleep(PollUs);
    }
    LockFd = fd;
    LockDepth = 1;
    LockOperation = operation;
    return 0;
}

} // namespace

extern "C" struct eeprom_device *eeprom_get_array(void) { return eeproms_zandor; }

extern "C" struct eeprom_device *get_eeprom(const char *name)
{
    if (!name)
        return nullptr;
    for (eeprom_device *d = eeproms_zandor; d->name; ++d) {
        if (std::strcmp(d->name, name) == 0 || (d->alt_name && std::strcmp(d->alt_name, name) == 0))
            return d;
    }
    return nullptr;
}

extern "C" struct eeprom_partition *get_partition(const char *device, const char *partition)
{
    eeprom_device *d = get_eeprom(device);
    if (!d || !partition || !d->partitions)
        return nullptr;
    for (eeprom_partition *p = d->partitions; p->name; ++p) {
        if (std::strcmp(p->name, partition) == 0)
            return p;
    }
    return nullptr;
}

extern "C" const char *eeprom_get_device_name(const char *partition)
{
    if (!partition)
        return nullptr;
    for (eeprom_device *d = eeproms_zandor; d->name; ++d) {
        for (eeprom_partition *p = d->partitions; p && p->name; ++p) {
            if (std::strcmp(p->name, partition) == 0)
                return d->name;
        }
    }
    return nullptr;
}

extern "C" int eeprom_real_init(int read_only, int silent)
{
    int result = 0;
    const size_t page = pageSize();
    for (eeprom_device *d = eeproms_zandor; d->name; ++d) {
        int flags = (d->read_only || read_only) ? O_RDONLY : O_RDWR;
        d->fd = open(d->path, flags | O_CLOEXEC);
        if (d->fd < 0) {
            if (!silent)
                eventlog("eeprom: can't open %s: %s\n", d->path, std::strerror(errno));
            result = -1;
        }
        for (eeprom_partition *p = d->partitions; p && p->name; ++p) {
            if (p->skipSizeCheck == 0 && p->size > page)
                eventlog("eeprom: %s, partition: %s, size: %d is bigger than maximum handled size\n", d->name, p->name,
                         static_cast<int>(p->size));
        }
    }
    return result;
}

extern "C" int eeprom_init(void) { return eeprom_real_init(0, 0); }
extern "C" int eeprom_init_silent(void) { return eeprom_real_init(0, 1); }
extern "C" int eeprom_init_read_only(void) { return eeprom_real_init(1, 0); }
extern "C" int eeprom_init_read_only_silent(void) { return eeprom_real_init(1, 1); }

extern "C" void eeprom_exit(void)
{
    for (eeprom_device *d = eeproms_zandor; d->name; ++d) {
        if (d->fd >= 0)
            close(d->fd);
    }
}

extern "C" int eeprom_get_partition_size(const char *device, const char *partition)
{
    eeprom_partition *p = get_partition(device, partition);
    return p ? static_cast<int>(p->size) : -1;
}

extern "C" int eeprom_get_format(const char *device, const char *partition)
{
    eeprom_partition *p = get_partition(device, partition);
    return p ? p->format : 0;
}

extern "C" int eeprom_read_partition_data(const char *device, const char *partition, void *buffer, size_t length)
{
    eeprom_partition *p = get_partition(device, partition);
    if (!p) {
        eventlog("eeprom: can't find partition %s\n", partition ? partition : "(null)");
        return -1;
    }
    eeprom_device *d = get_eeprom(device);
    if (d->fd < 0) {
        eventlog("eeprom: device %s not initialized\n", d->name);
        return -1;
    }
    if (lseek(d->fd, p->offset, SEEK_SET) == static_cast<off_t>(-1)) {
        eventlog("eeprom: seek failed for %s: %s\n", d->name, p->name);
        return -1;
    }
    auto *bytes = static_cast<unsigned char *>(buffer);
    std::memset(bytes, 0, length);
    const size_t count = std::min<size_t>(length, p->size);
    const size_t page = pageSize();
    for (size_t done = 0; done < count;) {
        size_t chunk = std::min(page, count - done);
        if (!readFully(d->fd, bytes + done, chunk)) {
            eventlog("eeprom: read failed for %s; %s\n", d->name, p->name);
            return -1;
        }
        done += chunk;
    }
    return static_cast<int>(length);
}

namespace {

/* Logs a failure, or, when the caller collects failures (failure not
 * null), keeps the first reason instead. */
void noteFailure(std::string *failure, const std::string &reason, const char *format, const eeprom_device &d,
                 const eeprom_partition &p)
{
    if (!failure)
        eventlog(format, d.name, p.name);
    else if (failure->empty())
        *failure = reason;
}

/* Lifts the device's write protection, writes (after the device's own
 * erase, if any), makes the device finish and restores the protection. The
 * ending signals wait meanwhile. Failures are logged, or collected in
 * *failure when it is given. */
bool writeUnprotected(eeprom_device &d, const eeprom_partition &p, const unsigned char *bytes, size_t length,
                      WriteMode mode, std::string *failure)
{
    bool written = true;
    const EndingSignalsHeld held;
    if (d.write_enable) {
        d.write_enable(&d);
        usleep(WriteEnableSettleUs);
    }
    if (d.erase && d.erase(d.fd, p.offset, p.size) < 0) {
        noteFailure(failure, "device erase failed", "eeprom: erase failed for %s: %s\n", d, p);
        written = false;
    } else if (!writeChunks(d, p, bytes, length, mode, failure)) {
        written = false;
    }
    if (d.write_disable) {
        /* A read after the write makes the device finish it before the
         * protection comes back. */
        if (lseek(d.fd, p.offset, SEEK_SET) == static_cast<off_t>(-1)) {
            noteFailure(failure, std::strerror(errno), "eeprom: seek after write failed for %s: %s\n", d, p);
            written = false;
        } else {
            unsigned char scratch;
            if (read(d.fd, &scratch, 1) < 0) {
                noteFailure(failure, std::strerror(errno), "eeprom: read after write failed for %s: %s\n", d, p);
                written = false;
            }
        }
        d.write_disable(&d);
    }

    return written;
}

/* The checks made before anything is written: the partition, or null
 * after a message. */
eeprom_partition *writablePartition(const char *device, const char *partition, size_t length)
{
    eeprom_partition *p = get_partition(device, partition);
    if (!p) {
        eventlog("eeprom: can't find partition %s\n", partition ? partition : "(null)");
        return nullptr;
    }
    eeprom_device *d = get_eeprom(device);
    if (d->read_only || p->read_only) {
        eventlog("eeprom: partition is read only %s: %s\n", d->name, p->name);
        return nullptr;
    }
    if (p->size < length) {
        eventlog("eeprom: not enough space on partition %s: %s\n", d->name, p->name);
        return nullptr;
    }
    if (d->fd < 0) {
        eventlog("eeprom: device %s not initialized", d->name);
        return nullptr;
    }
    return p;
}

/* Whether the partition holds the image: a read that fails or differs is
 * read once more (a transfer error on the way back says nothing about what
 * the device holds). */
bool readsBack(const eeprom_device &d, const eeprom_partition &p, const unsigned char *image, size_t length)
{
    std::vector<unsigned char> stored(length);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (readChunks(d.fd, p.offset, stored.data(), length) && std::memcmp(stored.data(), image, length) == 0)
            return true;
    }
    return false;
}

/* Stores an image: up to `tries` writes, EEPROM_REPLACE_PAUSE_MS apart,
 * until one reads back equal (whatever the write reported: what the device
 * holds decides). The first failure met goes to *failure; *made counts the
 * writes. */
bool storeTrying(eeprom_device &d, const eeprom_partition &p, const unsigned char *image, size_t length,
                 WriteMode mode, int tries, std::string &failure, int &made)
{
    for (made = 1; made <= tries; ++made) {
        if (made > 1)
            usleep(EEPROM_REPLACE_PAUSE_MS * 1000);
        bool written = lseek(d.fd, p.offset, SEEK_SET) != static_cast<off_t>(-1);
        if (!written && failure.empty())
            failure = std::strerror(errno);
        if (written)
            written = writeUnprotected(d, p, image, length, mode, &failure);
        if (readsBack(d, p, image, length))
            return true;
        if (written && failure.empty())
            failure = "read back different";
    }
    made = tries;
    return false;
}

int writePartition(const char *device, const char *partition, const void *data, size_t length, WriteMode mode)
{
    eeprom_partition *p = writablePartition(device, partition, length);
    if (!p)
        return -1;
    eeprom_device *d = get_eeprom(device);
    if (eeprom_lock() != 0)
        return -1;
    if (lseek(d->fd, p->offset, SEEK_SET) == static_cast<off_t>(-1)) {
        eventlog("eeprom: seek failed for %s: %s\n", d->name, p->name);
        eeprom_unlock();
        return -1;
    }

    int outcome = writeUnprotected(*d, *p, static_cast<const unsigned char *>(data), length, mode, nullptr) ? 0 : -1;

    /* The device may have dropped the data (write protection still on, a
     * failing part): only what reads back counts as written. */
    if (outcome == 0 && length > 0) {
        std::vector<unsigned char> stored(length);
        if (!readChunks(d->fd, p->offset, stored.data(), length) || std::memcmp(stored.data(), data, length) != 0) {
            eventlog("eeprom: verify after write failed for %s: %s\n", d->name, p->name);
            outcome = -1;
        }
    }
    eeprom_unlock();
    return outcome;
}

eeprom_replace_outcome replacePartition(eeprom_device &d, const eeprom_partition &p, const unsigned char *image,
                                        size_t length, std::string &failure, int &tries)
{
    /* The image to put back should the new one not go in: read before
     * anything is written (twice, should the first read fail). */
    std::vector<unsigned char> old(p.size);
    const bool haveOld = readChunks(d.fd, p.offset, old.data(), old.size()) ||
                         readChunks(d.fd, p.offset, old.data(), old.size());
    if (storeTrying(d, p, image, length, WriteMode::Whole, EEPROM_REPLACE_TRIES, failure, tries))
        return EEPROM_REPLACE_STORED;
    int made = 0;
    std::string ignored;
    if (haveOld &&
        storeTrying(d, p, old.data(), old.size(), WriteMode::Whole, EEPROM_REPLACE_TRIES, ignored, made))
        return EEPROM_REPLACE_OLD_KEPT;
    /* Old and new bytes may be mixed now: hide them all (any part of the
     * erased image written already hides every record). */
    const std::vector<unsigned char> erased = erasedImage(p);
    if (storeTrying(d, p, erased.data(), erased.size(), WriteMode::Continued, 1, ignored, made))
        return EEPROM_REPLACE_ERASED;
    return EEPROM_REPLACE_UNKNOWN;
}

} // namespace

extern "C" int eeprom_write_partition_data(const char *device, const char *partition, const void *data, size_t length)
{
    return writePartition(device, partition, data, length, WriteMode::Continued);
}

extern "C" int eeprom_replace_partition(const char *device, const char *partition, const void *data, size_t length,
                                        struct eeprom_replace_report *report)
{
    eeprom_replace_report local{};
    eeprom_replace_report &r = report ? *report : local;
    r = {EEPROM_REPLACE_REFUSED, 0, {}};
    eeprom_partition *p = writablePartition(device, partition, length);
    if (!p || eeprom_lock() != 0)
        return -1;
    std::string failure;
    {
        /* No ending signal between a failed try and the repair. */
        const EndingSignalsHeld held;
        r.outcome = replacePartition(*get_eeprom(device), *p, static_cast<const unsigned char *>(data), length,
                                     failure, r.tries);
    }
    eeprom_unlock();
    std::snprintf(r.failure, sizeof r.failure, "%s", failure.c_str());
    return r.outcome == EEPROM_REPLACE_STORED ? 0 : -1;
}

extern "C" int eeprom_erase_partition(const char *device, const char *partition)
{
    eeprom_partition *p = get_partition(device, partition);
    if (!p)
        return -1;
    const std::vector<unsigned char> image = erasedImage(*p);
    return eeprom_write_partition_data(device, partition, image.data(), image.size()) == 0 ? 0 : -1;
}

extern "C" int eeprom_lock(void) { return takeLock(LOCK_EX); }

extern "C" int eeprom_lock_shared(void) { return takeLock(LOCK_SH); }

extern "C" void eeprom_unlock(void)
{
    if (LockDepth == 0 || --LockDepth > 0)
        return;
    close(LockFd);
    LockFd = -1;
}
