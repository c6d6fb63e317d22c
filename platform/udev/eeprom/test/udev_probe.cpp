/*
 * Test driver of the udev helpers and the write-protection functions: runs
 * one call given on the command line and prints its result, so that a test
 * can run it against a fake sysfs.
 *
 *   udev_probe attr ATTR VALUE SUBSYSTEM|- SIZE   udev_get_path_from_attr
 *   udev_probe driver DRIVER SUBSYSTEM|- SIZE     udev_get_path_from_driver
 *   udev_probe match KEY=VALUE... -- SUBSYSTEM SIZE  udev_get_path, properties
 *   udev_probe all DRIVER SUBSYSTEM|- MAX         udev_get_path_all_from_driver
 *   udev_probe base FRAGMENT                      udev_gpio_get_base
 *   udev_probe protect ENABLE OFFSET              write_protect_enable
 */
#include "platform/udev/eeprom/write_protect.h"
#include "platform/udev/util/udev_util.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char *optional(const char *arg) { return std::strcmp(arg, "-") == 0 ? nullptr : arg; }

int printPath(int result, const char *path)
{
    std::printf("%d %s\n", result, result == 0 ? path : "");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const std::string command = argv[1];
    if (command == "attr" && argc == 6) {
        std::vector<char> path(std::strtoul(argv[5], nullptr, 10) + 1);
        return printPath(udev_get_path_from_attr(optional(argv[2]), optional(argv[3]), optional(argv[4]), path.data(),
                                                 std::strtoul(argv[5], nullptr, 10)),
                         path.data());
    }
    if (command == "driver" && argc == 5) {
        std::vector<char> path(std::strtoul(argv[4], nullptr, 10) + 1);
        return printPath(
            udev_get_path_from_driver(argv[2], optional(argv[3]), path.data(), std::strtoul(argv[4], nullptr, 10)),
            path.data());
    }
    if (command == "match") {
        std::vector<std::string> pairs;
        int i = 2;
        for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
            pairs.push_back(argv[i]);
        if (i + 3 != argc)
            return 2;
        std::vector<udev_match> matches;
        for (auto &pair : pairs) {
            size_t eq = pair.find('=');
            pair[eq] = '\0';
            matches.push_back({pair.c_str(), pair.c_str() + eq + 1});
        }
        char path[256];
        size_t size = std::strtoul(argv[i + 2], nullptr, 10);
        return printPath(
            udev_get_path(matches.data(), matches.size(), nullptr, nullptr, optional(argv[i + 1]), path, size), path);
    }
    if (command == "all" && argc == 5) {
        size_t max = std::strtoul(argv[4], nullptr, 10);
        std::vector<char[UDEV_PATH_MAX]> entries(max + 2);
        for (auto &entry : entries)
            std::memset(entry, 'x', UDEV_PATH_MAX);
        int result = udev_get_path_all_from_driver(argv[2], optional(argv[3]), entries.data(), max);
        std::printf("%d\n", result);
        for (size_t i = 0; result == 0 && i <= max; ++i) {
            std::printf("%s\n", entries[i]);
            if (entries[i][0] == '\0')
                break;
        }
        return 0;
    }
    if (command == "base" && argc == 3) {
        std::printf("%d\n", udev_gpio_get_base(argv[2]));
        return 0;
    }
    if (command == "protect" && argc == 4) {
        std::printf("%d\n", write_protect_enable(std::atoi(argv[2]), std::atoi(argv[3])));
        return 0;
    }
    return 2;
}
