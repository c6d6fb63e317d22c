#ifndef PLATFORM_UDEV_EEPROM_EEPROM_ASCII_H
#define PLATFORM_UDEV_EEPROM_EEPROM_ASCII_H
/*
 * ASCII key/value records, the content of EEPROM_FORMAT_ASCII partitions.
 *
 * Image layout from the partition's first byte: zero or more records
 * "key=value\n", one NUL ending the text, then fill bytes (0xFF after an
 * erase or a removal; whatever was there before after an append). A record
 * matches key K when its line starts with K immediately followed by "=";
 * only lines ended by a line feed are records, so text after the last line
 * feed is ignored. An image without any NUL is blank (all 0xFF, never
 * written) or invalid.
 *
 * The buffer operations work on a NUL-terminated image in memory and log
 * nothing; 1 means yes/success, 0 no/failure.
 */
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Copies the value of key (with a NUL) into dest. On failure errno is
 * EINVAL (dest NULL), ENOENT (no record) or ENOSPC (value length >= size). */
int eeprom_ascii_get(const char *buffer, const char *key, char *dest, size_t size);

/* 1 when a record for key exists. */
int eeprom_ascii_exist(const char *buffer, const char *key);

/* Removes the first record for key, closes the gap and fills the buffer
 * after the new NUL up to size with 0xFF. 1 when a record was removed. */
int eeprom_ascii_remove(char *buffer, size_t size, const char *key);

/* Appends "key=value\n" and a NUL after the text; 0 when that would not fit
 * in size bytes. Bytes after the new NUL are left as they were. */
int eeprom_ascii_append(char *buffer, size_t size, const char *key, const char *value);

/*
 * The in-memory edit of eeprom_set_ascii_value on a partition image of size
 * bytes: makes a blank image (no NUL, all 0xFF) empty, drops text after the
 * last line feed (never a record, and it would swallow an appended one),
 * removes every record for key and, when value is not NULL, appends
 * key=value. Returns 1, or 0 when the image is invalid (no NUL and not
 * blank), key or value contains "=", key contains a line feed (no lookup
 * could find that record), or the record does not fit; the image
 * may be changed also on failure.
 */
int eeprom_ascii_update(char *image, size_t size, const char *key, const char *value);

/*
 * Replaces the record for key in the partition by key=value at the end of the
 * record list, or deletes it when value is NULL, and writes the partition
 * back. Refuses keys or values containing "=", values that do not fit, and
 * partitions that are not ASCII or hold an invalid image. The whole
 * read-change-write runs under the store's writer lock. 0 or -1; a failure
 * leaves the partition as it was unless the final write itself failed.
 */
int eeprom_set_ascii_value(const char *device, const char *partition, const char *key, const char *value);

/* Copies the value of key into dest (NUL-terminated). 0 or -1. */
int eeprom_get_ascii_value(const char *device, const char *partition, const char *key, char *dest, size_t size);

#ifdef __cplusplus
}
#endif

#endif
