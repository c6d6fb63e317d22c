#include "platform/udev/util/udev_util.h"

#include "platform/audio/audtest/eventlog.h"

#include <libudev.h>

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct UdevUnref {
    void operator()(udev *u) const { udev_unref(u); }
};
struct EnumerateUnref {
    void operator()(udev_enumerate *e) const { udev_enumerate_unref(e); }
};
struct DeviceUnref {
    void operator()(udev_device *d) const { udev_device_unref(d); }
};
using Udev = std::unique_ptr<udev, UdevUnref>;
using Enumerate = std::unique_ptr<udev_enumerate, EnumerateUnref>;
using Device = std::unique_ptr<udev_device, DeviceUnref>;

/* The context and enumerator of one lookup; either may be empty when its
 * creation failed (the message names caller). */
struct Lookup {
    Udev context;
    Enumerate enumerate;
};

bool openLookup(Lookup &lookup, const char *caller)
{
    lookup.context.reset(udev_new());
    if (!lookup.context) {
        eventlog("%s: Can't create udev\n", caller);
        return false;
    }
    lookup.enumerate.reset(udev_enumerate_new(lookup.context.get()));
    if (!lookup.enumerate) {
        eventlog("%s: Can't create udev enumerate\n", caller);
        return false;
    }
    return true;
}

} // namespace

extern "C" int udev_get_path(const struct udev_match *match, size_t match_length, const char *attr,
                             const char *attr_value, const char *subsystem, char *dest, size_t size)
{
    static const char *const self = "udev_get_path";
    assert(size);
    assert((match && match_length) || (attr && attr_value));

    if (!subsystem)
        eventlog("%s: called without subsystem set\n", self);

    Lookup lookup;
    if (!openLookup(lookup, self))
        return -1;
    udev_enumerate *e = lookup.enumerate.get();

    if (udev_enumerate_add_match_is_initialized(e) < 0) {
        eventlog("%s: Can't add is_initialized\n", self);
        return -1;
    }
    if (subsystem && udev_enumerate_add_match_subsystem(e, subsystem) < 0) {
        eventlog("%s: Can't add subsystem\n", self);
        return -1;
    }
    if (attr && attr_value && udev_enumerate_add_match_sysattr(e, attr, attr_value) < 0) {
        eventlog("%s: Can't add sysattr\n", self);
        return -1;
    }
    for (size_t i = 0; match && i < match_length; ++i) {
        if (udev_enumerate_add_match_property(e, match[i].key, match[i].value) < 0) {
            eventlog("%s: Can't add property\n", self);
            return -1;
        }
    }
    if (udev_enumerate_scan_devices(e) < 0) {
        eventlog("%s: Can't scan devices\n", self);
        return -1;
    }

    udev_list_entry *first = udev_enumerate_get_list_entry(e);
    if (!first)
        return -1;
    const char *path = udev_list_entry_get_name(first);
    size_t length = std::strlen(path);
    if (length >= size)
        return -1;
    std::memcpy(dest, path, length + 1);
    return 0;
}

extern "C" int udev_get_path_from_driver(const char *driver, const char *subsystem, char *dest, size_t size)
{
    if (!subsystem)
        eventlog("%s: called without subsystem set (driver: %s)\n", "udev_get_path_from_driver",
                 driver ? driver : "(null)");
    const udev_match match{"DRIVER", driver};
    return udev_get_path(&match, 1, nullptr, nullptr, subsystem, dest, size);
}

extern "C" int udev_get_path_from_attr(const char *attr, const char *value, const char *subsystem, char *dest,
                                       size_t size)
{
    if (!subsystem)
        eventlog("%s: called without subsystem set\n", "udev_get_path_from_attr");
    return udev_get_path(nullptr, 0, attr, value, subsystem, dest, size);
}

extern "C" int udev_get_path_all_from_driver(const char *driver, const char *subsystem, char (*dest)[UDEV_PATH_MAX],
                                             size_t max_count)
{
    static const char *const self = "udev_get_path_all_from_driver";
    if (!subsystem)
        eventlog("%s: called without subsystem set (driver: %s)\n", self, driver ? driver : "(null)");

    Lookup lookup;
    if (!openLookup(lookup, self))
        return -1;
    udev_enumerate *e = lookup.enumerate.get();

    if (subsystem && udev_enumerate_add_match_subsystem(e, subsystem) < 0) {
        eventlog("%s: Can't add subsystem\n", self);
        return -1;
    }
    if (udev_enumerate_add_match_property(e, "DRIVER", driver) < 0) {
        eventlog("%s: Can't add property\n", self);
        return -1;
    }
    if (udev_enumerate_scan_devices(e) < 0) {
        eventlog("%s: Can't scan devices\n", self);
        return -1;
    }
    udev_list_entry *list = udev_enumerate_get_list_entry(e);
    if (!list) {
        eventlog("%s: Can't get device list\n", self);
        return -1;
    }

    size_t count = 0;
    udev_list_entry *entry;
    udev_list_entry_foreach(entry, list)
    {
        if (count == max_count) {
            eventlog("%s: Number of devices greater than max. number of devices\n", self);
            return -1;
        }
        const char *path = udev_list_entry_get_name(entry);
        size_t length = std::strlen(path);
        if (length > UDEV_PATH_MAX - 1) {
            eventlog("%s: Device path length is greater than max. path length\n", self);
            return -1;
        }
        std::memcpy(dest[count], path, length + 1);
        ++count;
    }
    dest[count][0] = '\0';
    return 0;
}

extern "C" int udev_gpio_get_base(const char *path)
{
    Udev context(udev_new());
    if (!context) {
        eventlog("%s: Can't create udev\n", "udev_gpio_get_base");
        return -1;
    }
    Enumerate e(udev_enumerate_new(context.get()));
    if (!e)
        return -1;
    if (udev_enumerate_add_match_subsystem(e.get(), "gpio") < 0)
        return -1;
    if (udev_enumerate_scan_devices(e.get()) < 0)
        return -1;

    udev_list_entry *entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get()))
    {
        const char *syspath = udev_list_entry_get_name(entry);
        if (!std::strstr(syspath, path) || !std::strstr(syspath, "/gpio/gpiochip"))
            continue;
        Device device(udev_device_new_from_syspath(context.get(), syspath));
        if (!device)
            return -1;
        const char *base = udev_device_get_sysattr_value(device.get(), "base");
        if (!base)
            return -1;
        char *end = nullptr;
        long value = std::strtol(base, &end, 10);
        if (end == base || value < 0 || value > 0x7fffffff)
            return -1;
        return static_cast<int>(value);
    }
    return -1;
}
