#include "platform/udev/eeprom/eeprom.h"

#include "platform/audio/audtest/eventlog.h"
#include "platform/udev/eeprom/write_protect.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

/* Holds back SIGTERM, SIGINT and SIGHUP for its scope: while write
 * protection is lifted they wait, and end the program once it is back. */
class EndingSignalsHeld {
public:
    EndingSignalsHeld()
    {
        sigset_t held;
        sigemptyset(&held);
        for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
            sigaddset(&held, signalNumber);
        sigprocmask(SIG_BLOCK, &held, &previous_);
    }
    ~EndingSignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    EndingSignalsHeld(const EndingSignalsHeld &) = delete;
    EndingSignalsHeld &operator=(const EndingSignalsHeld &) = delete;

private:
    sigset_t previous_;
};

enum class WriteMode {
    Continued, /* short writes are continued */
    Whole,     /* one write() per chunk; one that falls short erases */
};

/* Writes length bytes from the partition's start in page-sized chunks. In
 * Whole mode each chunk is one write() call that must move all of it:
 * otherwise the partition holds old and new bytes mixed, which could read
 * as a wrong record, so it is erased (continuing short writes: the first
 * byte of the erased image already hides every record) and the write
 * fails. */
bool writeChunks(const eeprom_device &d, const eeprom_partition &p, const unsigned char *bytes, size_t length,
                 WriteMode mode)
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
        if (n < 0)
            eventlog("eeprom: write failed for %s: %s\n", d.name, p.name);
        else
            eventlog("eeprom: short write for %s: %s (%zd of %zu bytes)\n", d.name, p.name, n, chunk);
        const std::vector<unsigned char> erased = erasedImage(p);
        if (lseek(d.fd, p.offset, SEEK_SET) != static_cast<off_t>(-1) && writeFully(d.fd, erased.data(), erased.size()))
            eventlog("eeprom: partition %s: %s erased after the incomplete write\n", d.name, p.name);
        else
            eventlog("eeprom: erase after the incomplete write failed for %s: %s\n", d.name, p.name);
        return false;
    }
    return true;
}

int LockFd = -1;
int LockDepth = 0;
int LockOperation = LOCK_EX; /* how the held lock was taken */

/* Takes the lock file's lock with LOCK_EX or LOCK_SH, or nests in the one
 * held: a shared request nests in either kind, an exclusive one only in an
 * exclusive lock (a shared lock is never turned into an exclusive one, which
 * would let another writer in between). */
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
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT) {
        /* The lock folder may not exist yet on the platform (nothing else
         * uses /run/lock there): make it instead of refusing every write. */
        const size_t slash = std::string_view(path).rfind('/');
        if (slash != std::string_view::npos && slash > 0) {
            const std::string folder(path, slash);
            if (mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST)
                fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        }
    }
    if (fd < 0) {
        eventlog("eeprom: can't open lock %s: %s\n", path, std::strerror(errno));
        return -1;
    }
    while (flock(fd, operation) != 0) {
        if (errno != EINTR) {
            eventlog("eeprom: can't lock %s: %s\n", path, std::strerror(errno));
            close(fd);
            return -1;
        }
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

/* Lifts the device's write protection, writes (after the device's own
 * erase, if any), makes the device finish and restores the protection. The
 * ending signals wait meanwhile. */
bool writeUnprotected(eeprom_device &d, const eeprom_partition &p, const unsigned char *bytes, size_t length,
                      WriteMode mode)
{
    bool written = true;
    const EndingSignalsHeld held;
    if (d.write_enable) {
        d.write_enable(&d);
        usleep(WriteEnableSettleUs);
    }
    if (d.erase && d.erase(d.fd, p.offset, p.size) < 0) {
        eventlog("eeprom: erase failed for %s: %s\n", d.name, p.name);
        written = false;
    } else if (!writeChunks(d, p, bytes, length, mode)) {
        written = false;
    }
    if (d.write_disable) {
        /* A read after the write makes the device finish it before the
         * protection comes back. */
        if (lseek(d.fd, p.offset, SEEK_SET) == static_cast<off_t>(-1)) {
            eventlog("eeprom: seek after write failed for %s: %s\n", d.name, p.name);
            written = false;
        } else {
            unsigned char scratch;
            if (read(d.fd, &scratch, 1) < 0) {
                eventlog("eeprom: read after write failed for %s: %s\n", d.name, p.name);
                written = false;
            }
        }
        d.write_disable(&d);
    }

    return written;
}

int writePartition(const char *device, const char *partition, const void *data, size_t length, WriteMode mode)
{
    eeprom_partition *p = get_partition(device, partition);
    if (!p) {
        eventlog("eeprom: can't find partition %s\n", partition ? partition : "(null)");
        return -1;
    }
    eeprom_device *d = get_eeprom(device);
    if (d->read_only || p->read_only) {
        eventlog("eeprom: partition is read only %s: %s\n", d->name, p->name);
        return -1;
    }
    if (p->size < length) {
        eventlog("eeprom: not enough space on partition %s: %s\n", d->name, p->name);
        return -1;
    }
    if (d->fd < 0) {
        eventlog("eeprom: device %s not initialized", d->name);
        return -1;
    }
    if (eeprom_lock() != 0)
        return -1;
    if (lseek(d->fd, p->offset, SEEK_SET) == static_cast<off_t>(-1)) {
        eventlog("eeprom: seek failed for %s: %s\n", d->name, p->name);
        eeprom_unlock();
        return -1;
    }

    int outcome = writeUnprotected(*d, *p, static_cast<const unsigned char *>(data), length, mode) ? 0 : -1;

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

} // namespace

extern "C" int eeprom_write_partition_data(const char *device, const char *partition, const void *data, size_t length)
{
    return writePartition(device, partition, data, length, WriteMode::Continued);
}

extern "C" int eeprom_replace_partition(const char *device, const char *partition, const void *data, size_t length)
{
    return writePartition(device, partition, data, length, WriteMode::Whole);
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
