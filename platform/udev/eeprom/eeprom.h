#ifndef PLATFORM_UDEV_EEPROM_EEPROM_H
#define PLATFORM_UDEV_EEPROM_EEPROM_H
/*
 * EEPROM partition store: named access to fixed regions ("partitions") of
 * the board's I2C EEPROMs, which the kernel exposes as sysfs files.
 *
 * A static table (eeprom_get_array) lists every EEPROM with its sysfs file,
 * its write-protection hooks and its partition map. Callers name a device
 * and a partition; one of the init functions opens every EEPROM once, then
 * whole partitions are read and written in page-sized chunks. Diagnostics go
 * to the event log and begin with "eeprom: ".
 *
 * Writers of the store are serialised across processes by an exclusive lock
 * on a lock file (EEPROM_LOCK_FILE_DEFAULT, or the path in the environment
 * variable EEPROM_LOCK_FILE_ENV), whose folder is made when missing. The
 * file is never opened through a symbolic link and is used only when it is
 * a regular file owned by the caller's user and writable by nobody else, so
 * that no other user can hold it or point it elsewhere; a lock held by
 * someone else is waited for at most EEPROM_LOCK_WAIT_SECONDS. Every
 * write takes it; callers that read, change and write back a partition hold
 * it across the whole sequence with eeprom_lock / eeprom_unlock. Readers that
 * must not see a partition in the middle of such a sequence take the same
 * lock shared (eeprom_lock_shared).
 *
 * Single-threaded: the descriptors are module state and every transfer moves
 * their file offset.
 */
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Partition formats. */
#define EEPROM_FORMAT_DATA 1  /* plain data without record structure */
#define EEPROM_FORMAT_ASCII 2 /* key=value records, see eeprom_ascii.h */

#define EEPROM_LOCK_FILE_DEFAULT "/run/keyprom.lock"
#define EEPROM_LOCK_FILE_ENV "EEPROM_LOCK_FILE"
#define EEPROM_LOCK_WAIT_SECONDS 10

struct eeprom_partition {
    const char *name;      /* none (NULL) ends a partition array */
    uint32_t offset;       /* first byte within the EEPROM file */
    uint32_t size;         /* length in bytes */
    uint8_t skipSizeCheck; /* 0: init warns when size exceeds one memory page */
    int32_t read_only;     /* non-zero: writes are refused */
    int32_t format;        /* EEPROM_FORMAT_* */
};

struct eeprom_device {
    const char *name;     /* none (NULL) ends the device table */
    const char *alt_name; /* a second name the lookup accepts, or NULL */
    const char *path;     /* sysfs file of the EEPROM */
    int32_t fd;           /* -1 until an init call opens the file */
    int32_t read_only;    /* non-zero: opened read-only, every partition refuses writes */
    /* Lift and restore the hardware write protection around a write. */
    void (*write_enable)(struct eeprom_device *device);
    void (*write_disable)(struct eeprom_device *device);
    /* Device-specific erase run before a write; negative fails the write. */
    int32_t (*erase)(int fd, uint32_t offset, uint32_t size);
    struct eeprom_partition *partitions;
};

/* The device table of the board, ended by a record whose name is NULL. */
struct eeprom_device *eeprom_get_array(void);

/* First device whose name or alternative name is name, or NULL. */
struct eeprom_device *get_eeprom(const char *name);

/* The partition of that name on that device, or NULL. */
struct eeprom_partition *get_partition(const char *device, const char *partition);

/* Name of the first device (table order) holding a partition of that name,
 * or NULL. */
const char *eeprom_get_device_name(const char *partition);

/*
 * Open every EEPROM of the table (read-only for read-only devices or when
 * read_only is set); silent suppresses the "can't open" messages. Returns 0
 * when every device opened, -1 when at least one failed. The four variants
 * call it with (0, 0), (0, 1), (1, 0) and (1, 1).
 */
int eeprom_real_init(int read_only, int silent);
int eeprom_init(void);
int eeprom_init_silent(void);
int eeprom_init_read_only(void);
int eeprom_init_read_only_silent(void);

/* Closes every open descriptor (the fields keep their values). */
void eeprom_exit(void);

/* Partition size, or -1 when there is no such partition. */
int eeprom_get_partition_size(const char *device, const char *partition);

/* Partition format, or 0 when there is no such partition. */
int eeprom_get_format(const char *device, const char *partition);

/*
 * Reads min(length, partition size) bytes of the partition into buffer and
 * zeroes the rest of its length bytes. Returns length, or -1.
 */
int eeprom_read_partition_data(const char *device, const char *partition, void *buffer, size_t length);

/*
 * Writes length bytes (at most the partition size) at the partition's start,
 * with the device's write protection lifted meanwhile, and reads them back:
 * 0 only when the device holds the data afterwards, else -1. SIGTERM, SIGINT
 * and SIGHUP are held back while the protection is lifted, so that they end
 * the program only once it is restored.
 */
int eeprom_write_partition_data(const char *device, const char *partition, const void *data, size_t length);

/* How eeprom_replace_partition ended. */
enum eeprom_replace_outcome {
    EEPROM_REPLACE_STORED = 0,   /* the new image is stored and read back equal */
    EEPROM_REPLACE_OLD_KEPT = 1, /* it could not be stored; the old image is back */
    EEPROM_REPLACE_ERASED = 2,   /* neither could be stored; the partition is erased */
    EEPROM_REPLACE_UNKNOWN = 3,  /* not even the erase could be stored */
    EEPROM_REPLACE_REFUSED = 4   /* nothing written (no such partition, read-only, too long, not
                                    initialised, no lock), after the store's message */
};

#define EEPROM_REPLACE_TRIES 3      /* writes of the new image, and then of the old one */
#define EEPROM_REPLACE_PAUSE_MS 50  /* between two tries */

struct eeprom_replace_report {
    enum eeprom_replace_outcome outcome;
    int tries;           /* writes of the new image made */
    char failure[96];    /* the first failure met ("Input/output error", "short write, 7 of 256
                            bytes", "read back different"), empty when there was none */
};

/*
 * Replaces the partition's content with an image that must never be seen
 * mixed with the one it replaces. Under the writer lock the current image
 * is read first; then each page-sized chunk of the new one (the whole of a
 * partition up to a page) goes to the device in one write() call, which the
 * kernel's EEPROM driver completes whatever signals arrive, so a killed
 * caller leaves the old image or the new one. A write counts only when the
 * partition reads back equal (a failing or different read-back is read
 * once more). A write that fails, falls short or does not read back is
 * tried again, EEPROM_REPLACE_TRIES times in all, EEPROM_REPLACE_PAUSE_MS
 * apart; then the old image is written back the same way, and only when
 * that cannot be stored either is the partition erased (old and new bytes
 * mixed could read as a wrong record). SIGTERM, SIGINT and SIGHUP wait for
 * the whole sequence. Prints only the messages of a refusal: the report
 * says what happened, for the caller to tell. 0 when the new image is
 * stored, else -1.
 */
int eeprom_replace_partition(const char *device, const char *partition, const void *data, size_t length,
                             struct eeprom_replace_report *report);

/* Fills the partition with 0xFF (an ASCII partition starts with a NUL:
 * an empty record list). 0 on success, -1 on failure. */
int eeprom_erase_partition(const char *device, const char *partition);

/*
 * Takes (eeprom_lock) and releases (eeprom_unlock) the store's writer lock;
 * eeprom_lock_shared takes it for reading, shared with other readers, so
 * that no writer holds it meanwhile. Calls nest within a process; the lock
 * is released by the outermost unlock. A write lock is not granted inside a
 * shared one. The lock calls return 0, or -1 after a message when the lock
 * file cannot be opened or locked, is refused (a link, not a regular file,
 * another user's, writable by others), is held by someone else for
 * EEPROM_LOCK_WAIT_SECONDS ("<program>: the EEPROM is busy: <path> held for
 * 10 s"), or the write lock is refused.
 */
int eeprom_lock(void);
int eeprom_lock_shared(void);
void eeprom_unlock(void);

#ifdef __cplusplus
}
#endif

#endif
