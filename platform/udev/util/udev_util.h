#ifndef PLATFORM_UDEV_UTIL_UDEV_UTIL_H
#define PLATFORM_UDEV_UTIL_UDEV_UTIL_H
/*
 * udev helpers: find sysfs device paths through libudev. Every call creates
 * and releases its own udev context; nothing is kept between calls. Messages
 * go to the event log and begin with the function's name.
 */
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One udev property that a device must carry (key = value). */
struct udev_match {
    const char *key;
    const char *value;
};

/* Length of one entry of udev_get_path_all_from_driver's list: a path of at
 * most UDEV_PATH_MAX - 1 characters and its NUL. */
#define UDEV_PATH_MAX 128

/*
 * Copies the sysfs path of the first initialised device of subsystem that
 * carries one of the properties of match[0 .. match_length) (libudev joins
 * property matches with "or") and, when attr and attr_value are both given,
 * the sysfs attribute attr = attr_value.
 * Preconditions (fatal): size > 0, and a non-empty match array or both attr
 * and attr_value. Returns 0 when a path was copied (with its NUL, so it must
 * be shorter than size), -1 otherwise.
 */
int udev_get_path(const struct udev_match *match, size_t match_length, const char *attr, const char *attr_value,
                  const char *subsystem, char *dest, size_t size);

/* udev_get_path with the single property DRIVER = driver. */
int udev_get_path_from_driver(const char *driver, const char *subsystem, char *dest, size_t size);

/* udev_get_path with the sysfs attribute attr = value and no properties. */
int udev_get_path_from_attr(const char *attr, const char *value, const char *subsystem, char *dest, size_t size);

/*
 * Copies the paths of every device of subsystem bound to driver into dest,
 * one per entry, and sets the entry after the last path to the empty string:
 * dest must hold max_count + 1 entries. Returns 0, or -1 when no device
 * matched, more than max_count did, or a path is too long for an entry.
 */
int udev_get_path_all_from_driver(const char *driver, const char *subsystem, char (*dest)[UDEV_PATH_MAX],
                                  size_t max_count);

/* The base line number of the GPIO controller whose sysfs path contains
 * path and "/gpio/gpiochip", or -1. */
int udev_gpio_get_base(const char *path);

#ifdef __cplusplus
}
#endif

#endif
