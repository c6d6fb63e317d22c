#include "platform/udev/eeprom/eeprom.h"
#include "platform/udev/eeprom/eeprom_ascii.h"

#include <cstring>
#include <vector>

namespace {

/* The ASCII partition of that name, or nullptr. */
eeprom_partition *asciiPartition(const char *device, const char *partition)
{
    eeprom_partition *p = get_partition(device, partition);
    return (p && p->format == EEPROM_FORMAT_ASCII && p->size > 0) ? p : nullptr;
}

/* Holds the store's writer lock for one scope. */
class WriterLock {
public:
    WriterLock() : held_(eeprom_lock() == 0) {}
    ~WriterLock()
    {
        if (held_)
            eeprom_unlock();
    }
    WriterLock(const WriterLock &) = delete;
    WriterLock &operator=(const WriterLock &) = delete;
    bool held() const { return held_; }

private:
    bool held_;
};

} // namespace

extern "C" int eeprom_set_ascii_value(const char *device, const char *partition, const char *key, const char *value)
{
    if (!key || std::strchr(key, '=') || (value && std::strchr(value, '=')))
        return -1;
    eeprom_partition *p = asciiPartition(device, partition);
    if (!p)
        return -1;

    WriterLock lock;
    if (!lock.held())
        return -1;
    std::vector<char> image(p->size);
    if (eeprom_read_partition_data(device, partition, image.data(), image.size()) < 0)
        return -1;
    if (!eeprom_ascii_update(image.data(), image.size(), key, value))
        return -1;
    return eeprom_write_partition_data(device, partition, image.data(), image.size()) == 0 ? 0 : -1;
}

extern "C" int eeprom_get_ascii_value(const char *device, const char *partition, const char *key, char *dest,
                                      size_t size)
{
    eeprom_partition *p = asciiPartition(device, partition);
    if (!p || !key)
        return -1;
    std::vector<char> image(p->size);
    if (eeprom_read_partition_data(device, partition, image.data(), image.size()) < 0)
        return -1;
    if (!std::memchr(image.data(), '\0', image.size()))
        return -1;
    return eeprom_ascii_get(image.data(), key, dest, size) ? 0 : -1;
}
