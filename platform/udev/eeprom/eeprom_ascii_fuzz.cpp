/*
 * libFuzzer target of the ASCII record operations. The input is split into
 * a key, a value and a 256-byte partition image; every operation runs on it
 * and the results are checked against each other.
 */
#include "platform/udev/eeprom/eeprom_ascii.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t PartitionSize = 256;

/* A broken invariant ends the run with its line. */
#define check(condition)                                                                                               \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                         \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

/* Takes a NUL-free string of at most limit bytes from the input. */
std::string take(const uint8_t *&data, size_t &size, size_t limit)
{
    std::string text;
    while (size > 0 && text.size() < limit) {
        uint8_t c = *data++;
        --size;
        if (c == 0)
            break;
        text.push_back(static_cast<char>(c));
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string key = take(data, size, 16);
    const std::string value = take(data, size, 300);
    char image[PartitionSize];
    std::memset(image, 0xFF, sizeof image);
    std::memcpy(image, data, std::min(size, sizeof image));

    /* The update works on any image: blank, garbage or records. */
    char updated[PartitionSize];
    std::memcpy(updated, image, sizeof image);
    const bool stored = eeprom_ascii_update(updated, sizeof updated, key.c_str(), value.c_str());
    if (stored) {
        check(std::memchr(updated, '\0', sizeof updated) != nullptr);
        char read[PartitionSize];
        const bool visible = value.find('\n') == std::string::npos;
        if (visible) {
            check(eeprom_ascii_get(updated, key.c_str(), read, sizeof read) == 1);
            check(value == read);
        }
        char removed[PartitionSize];
        std::memcpy(removed, updated, sizeof updated);
        check(eeprom_ascii_update(removed, sizeof removed, key.c_str(), nullptr) == 1);
        check(eeprom_ascii_exist(removed, key.c_str()) == 0);
    } else if (key.find_first_of("=\n") == std::string::npos && value.find('=') == std::string::npos) {
        /* Refused for room alone: the text left without the key's records
         * (which must succeed on any valid image) has no space for it. */
        char rest[PartitionSize];
        std::memcpy(rest, image, sizeof image);
        if (eeprom_ascii_update(rest, sizeof rest, key.c_str(), nullptr))
            check(std::strlen(rest) + key.size() + value.size() + 3 > PartitionSize);
        else
            check(std::memchr(image, '\0', sizeof image) == nullptr);
    }

    /* The buffer operations on a NUL-terminated image. */
    if (std::memchr(image, '\0', sizeof image)) {
        char read[8];
        errno = 0;
        const int found = eeprom_ascii_get(image, key.c_str(), read, sizeof read);
        check(found == 1 || errno == ENOENT || errno == ENOSPC);
        check(eeprom_ascii_exist(image, key.c_str()) == (found == 1 || errno == ENOSPC));
        char edited[PartitionSize];
        std::memcpy(edited, image, sizeof image);
        const size_t before = std::strlen(edited);
        if (eeprom_ascii_remove(edited, sizeof edited, key.c_str()))
            check(std::strlen(edited) < before);
        if (eeprom_ascii_append(edited, sizeof edited, key.c_str(), value.c_str()))
            check(std::memchr(edited, '\0', sizeof edited) != nullptr);
    }
    return 0;
}
