#include "platform/udev/eeprom/write_protect.h"

#include "platform/udev/util/udev_util.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {
constexpr const char *GpioClass = "/sys/class/gpio";
}

extern "C" int write_sys_file(const char *directory, const char *name, const char *text)
{
    char path[256];
    std::snprintf(path, sizeof path, "%s/%s", directory, name);
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ssize_t ignored = write(fd, text, std::strlen(text));
    (void)ignored;
    close(fd);
    return 0;
}

extern "C" int write_protect_enable(int enable, int offset)
{
    char controller[256];
    if (udev_get_path_from_attr("label", WRITE_PROTECT_GPIO_LABEL, "gpio", controller, sizeof controller) != 0)
        return -1;
    int base = udev_gpio_get_base(controller);
    if (base < 0)
        return base;

    const int line = base + offset;
    char number[16];
    char lineDir[64];
    std::snprintf(number, sizeof number, "%d", line);
    std::snprintf(lineDir, sizeof lineDir, "%s/gpio%d", GpioClass, line);

    if (enable) {
        if (write_sys_file(GpioClass, "export", number) < 0)
            return -1;
        if (write_sys_file(lineDir, "direction", "out") < 0)
            return -1;
        if (write_sys_file(lineDir, "value", "0") < 0)
            return -1;
        return 0;
    }
    if (write_sys_file(lineDir, "value", "1") < 0)
        return -1;
    write_sys_file(lineDir, "direction", "in");
    write_sys_file(GpioClass, "unexport", number);
    return 0;
}

extern "C" int write_enable_prod(void) { return write_protect_enable(1, WRITE_PROTECT_LINE_PROD); }
extern "C" int write_disable_prod(void) { return write_protect_enable(0, WRITE_PROTECT_LINE_PROD); }
extern "C" int write_enable_crypto(void) { return write_protect_enable(1, WRITE_PROTECT_LINE_CRYPTO); }
extern "C" int write_disable_crypto(void) { return write_protect_enable(0, WRITE_PROTECT_LINE_CRYPTO); }
