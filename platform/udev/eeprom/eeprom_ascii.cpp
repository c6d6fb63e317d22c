#include "platform/udev/eeprom/eeprom_ascii.h"

#include <cerrno>
#include <cstring>

namespace {

struct Record {
    char *line;       /* first byte of the record */
    char *lineFeed;   /* its line feed */
    size_t keyLength; /* the "=" is at line[keyLength] */
};

/* The first record for key: a line ended by a line feed that starts with key
 * and "=". A key containing a line feed matches nothing. */
bool findRecord(const char *buffer, const char *key, Record &record)
{
    const size_t keyLength = std::strlen(key);
    const char *line = buffer;
    for (;;) {
        const char *lineFeed = std::strchr(line, '\n');
        if (!lineFeed)
            return false;
        const size_t lineLength = static_cast<size_t>(lineFeed - line);
        if (lineLength > keyLength && std::memcmp(line, key, keyLength) == 0 && line[keyLength] == '=') {
            record.line = const_cast<char *>(line);
            record.lineFeed = const_cast<char *>(lineFeed);
            record.keyLength = keyLength;
            return true;
        }
        line = lineFeed + 1;
    }
}

} // namespace

extern "C" int eeprom_ascii_get(const char *buffer, const char *key, char *dest, size_t size)
{
    if (!dest) {
        errno = EINVAL;
        return 0;
    }
    Record record;
    if (!findRecord(buffer, key, record)) {
        errno = ENOENT;
        return 0;
    }
    const char *value = record.line + record.keyLength + 1;
    const size_t length = static_cast<size_t>(record.lineFeed - value);
    if (length >= size) {
        errno = ENOSPC;
        return 0;
    }
    std::memcpy(dest, value, length);
    dest[length] = '\0';
    return 1;
}

extern "C" int eeprom_ascii_exist(const char *buffer, const char *key)
{
    Record record;
    return findRecord(buffer, key, record) ? 1 : 0;
}

extern "C" int eeprom_ascii_remove(char *buffer, size_t size, const char *key)
{
    Record record;
    if (!findRecord(buffer, key, record))
        return 0;
    const char *rest = record.lineFeed + 1;
    const size_t restLength = std::strlen(rest);
    std::memmove(record.line, rest, restLength);
    char *nul = record.line + restLength;
    *nul = '\0';
    char *end = buffer + size;
    if (nul + 1 < end)
        std::memset(nul + 1, 0xFF, static_cast<size_t>(end - (nul + 1)));
    return 1;
}

extern "C" int eeprom_ascii_append(char *buffer, size_t size, const char *key, const char *value)
{
    const size_t textLength = std::strlen(buffer);
    const size_t keyLength = std::strlen(key);
    const size_t valueLength = std::strlen(value);
    if (textLength + keyLength + valueLength + 3 > size)
        return 0;
    char *out = buffer + textLength;
    std::memcpy(out, key, keyLength);
    out += keyLength;
    *out++ = '=';
    std::memcpy(out, value, valueLength);
    out += valueLength;
    *out++ = '\n';
    *out = '\0';
    return 1;
}

extern "C" int eeprom_ascii_update(char *image, size_t size, const char *key, const char *value)
{
    if (!key || std::strpbrk(key, "=\n") || (value && std::strchr(value, '=')) || size == 0)
        return 0;
    char *nul = static_cast<char *>(std::memchr(image, '\0', size));
    if (!nul) {
        for (size_t i = 0; i < size; ++i) {
            if (static_cast<unsigned char>(image[i]) != 0xFF)
                return 0;
        }
        image[0] = '\0';
        nul = image;
    }
    /* Text after the last line feed is ignored by every lookup; left in place
     * it would run into the appended record and hide it. */
    char *lastLineFeed = static_cast<char *>(memrchr(image, '\n', static_cast<size_t>(nul - image)));
    char *textEnd = lastLineFeed ? lastLineFeed + 1 : image;
    if (textEnd < nul) {
        std::memset(textEnd + 1, 0xFF, static_cast<size_t>(nul - textEnd));
        *textEnd = '\0';
    }
    while (eeprom_ascii_remove(image, size, key)) {
    }
    if (value && !eeprom_ascii_append(image, size, key, value))
        return 0;
    return 1;
}
