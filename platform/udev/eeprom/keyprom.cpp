/*
 * keyprom: stores, prints and deletes the key record "key" of the ASCII
 * partition "fskey" on the crypto EEPROM.
 *
 *   keyprom [-d] set      one line of standard input becomes the key
 *   keyprom [-d] get      the key goes to standard output, without line end
 *   keyprom [-d] delete   erases the key partition
 *   keyprom -h            usage
 *   keyprom --version     program name and version
 *
 * Exit status 0 on success, 1 on any failure or usage error. A value that
 * cannot be stored is refused before the EEPROM is touched, so the key held
 * there stays as it was. "set" replaces the partition with one write of its
 * whole image (the record, its NUL, 0xFF fill), so that a kill leaves the
 * old key or the new one, never none and never a mixture. A write that does
 * not go in is tried again, then the old image is written back; only when
 * neither can be stored is the partition erased. Each outcome has its own
 * message; a key stored only by a later try is status 0 with a warning.
 */
#include "platform/udev/eeprom/eeprom.h"
#include "platform/udev/eeprom/eeprom_ascii.h"

#include "vx_version.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr const char *KeyPartition = "fskey";
constexpr const char *KeyName = "key";
constexpr size_t LineSize = 256; /* a value line holds at most LineSize - 1 bytes */

/* The EEPROM device that holds the key partition, found at start. */
const char *device = nullptr;

int usage(const char *program, int status)
{
    std::fprintf(stderr, "usage: %s set | get | delete\n", program);
    return status;
}

/* 1 when the key partition was erased, 0 otherwise. */
int delete_key_partition(int verbose)
{
    if (verbose) {
        std::printf("Deleting crypto key partition\n");
        std::fflush(stdout);
    }
    return eeprom_erase_partition(device, KeyPartition) == 0 ? 1 : 0;
}

/* One input line as read by "set". */
struct InputLine {
    char text[LineSize];
    size_t length = 0;   /* bytes in text, without the line feed */
    bool cut = false;    /* more of the line follows the LineSize - 1 bytes read */
    bool hasNul = false; /* the line holds a NUL byte */
};

/* Reads one line of at most LineSize - 1 bytes; false at end of input
 * before any byte, or on a read error. */
bool readLine(std::FILE *in, InputLine &line)
{
    errno = 0;
    while (line.length < LineSize - 1) {
        int c = std::getc(in);
        if (c == EOF) {
            if (std::ferror(in) || line.length == 0)
                return false;
            break;
        }
        if (c == '\n') {
            line.text[line.length] = '\0';
            return true;
        }
        if (c == '\0')
            line.hasNul = true;
        line.text[line.length++] = static_cast<char>(c);
    }
    line.text[line.length] = '\0';
    if (line.length == LineSize - 1) {
        int next = std::getc(in);
        if (next != EOF && next != '\n') {
            std::ungetc(next, in);
            line.cut = true;
        }
    }
    return true;
}

/* The partition image holding the value as its only record (key=value,
 * line feed, NUL, 0xFF fill); empty, after explaining on standard error,
 * when the value cannot be stored. */
std::vector<char> keyImage(const InputLine &line)
{
    if (line.cut) {
        std::fprintf(stderr, "keyprom: input line longer than %zu bytes, nothing stored\n", LineSize - 1);
        return {};
    }
    if (line.hasNul) {
        std::fprintf(stderr, "keyprom: value contains a NUL byte, nothing stored\n");
        return {};
    }
    if (std::memchr(line.text, '=', line.length)) {
        std::fprintf(stderr, "keyprom: value contains \"=\", nothing stored\n");
        return {};
    }
    const int size = eeprom_get_partition_size(device, KeyPartition);
    if (size <= 0)
        return {};
    std::vector<char> image(static_cast<size_t>(size), static_cast<char>(0xFF));
    image[0] = '\0';
    if (!eeprom_ascii_update(image.data(), image.size(), KeyName, line.text)) {
        const size_t limit = static_cast<size_t>(size) - std::strlen(KeyName) - 3;
        std::fprintf(stderr, "keyprom: value of %zu bytes too long (at most %zu), nothing stored\n", line.length,
                     limit);
        return {};
    }
    return image;
}

int setKey(int verbose)
{
    InputLine line;
    if (!readLine(stdin, line)) {
        std::perror("fgets()");
        if (!std::ferror(stdin))
            std::fputs("keyprom: no value on standard input\n", stderr);
        return 1;
    }
    const std::vector<char> image = keyImage(line);
    if (image.empty())
        return 1;

    /* The new image replaces the old partition, erase included, in one
     * write: nothing in between for a kill to stop at. */
    if (verbose) {
        std::printf("Deleting crypto key partition\n");
        std::fflush(stdout);
        std::fprintf(stderr, "Writing %zu bytes to eeprom\n", line.length);
    }
    eeprom_replace_report report{};
    eeprom_replace_partition(device, KeyPartition, image.data(), image.size(), &report);
    const char *what = nullptr;
    switch (report.outcome) {
    case EEPROM_REPLACE_STORED:
        if (report.failure[0] != '\0')
            std::fprintf(stderr, "eeprom: partition %s: %s: write failed (%s); the new key is stored (try %d of %d)\n",
                         device, KeyPartition, report.failure, report.tries, EEPROM_REPLACE_TRIES);
        return 0;
    case EEPROM_REPLACE_OLD_KEPT:
        what = "the old key is kept";
        break;
    case EEPROM_REPLACE_ERASED:
        what = "the partition could not be restored and was erased";
        break;
    case EEPROM_REPLACE_UNKNOWN:
        what = "the partition content is unknown";
        break;
    case EEPROM_REPLACE_REFUSED:
        return 1; /* the store said why */
    }
    std::fprintf(stderr, "eeprom: partition %s: %s: write failed (%s); %s\n", device, KeyPartition, report.failure,
                 what);
    return 1;
}

int getKey(int verbose)
{
    char value[LineSize];
    /* Never read a partition in the middle of another program's write. */
    if (eeprom_lock_shared() != 0)
        return 1;
    const int found = eeprom_get_ascii_value(device, KeyPartition, KeyName, value, sizeof value);
    eeprom_unlock();
    if (found != 0)
        return 1;
    const size_t length = std::strlen(value);
    if (verbose)
        std::fprintf(stderr, "Read %d bytes\n", static_cast<int>(length));
    std::fwrite(value, 1, length, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const char *program = argc > 0 ? argv[0] : "keyprom";
    int verbose = 0;
    char **args = argv + 1;
    int count = argc > 0 ? argc - 1 : 0;
    if (count >= 1 && std::strcmp(args[0], "-d") == 0) {
        verbose = 1;
        ++args;
        --count;
    }
    if (count == 1 && std::strcmp(args[0], "--version") == 0) {
        std::printf("keyprom %s\n", VX_VERSION_STRING);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (count != 1 || std::strcmp(args[0], "-h") == 0)
        return usage(program, count == 1 ? 0 : 1);

    eeprom_init_silent();
    device = eeprom_get_device_name(KeyPartition);
    if (!device) {
        std::fprintf(stderr, "Failed to find %s partition\n", KeyPartition);
        return 1;
    }

    const char *command = args[0];
    if (std::strcmp(command, "get") == 0)
        return getKey(verbose);
    if (std::strcmp(command, "set") == 0)
        return setKey(verbose);
    if (std::strcmp(command, "delete") == 0)
        return delete_key_partition(verbose) ? 0 : 1;
    return usage(program, 1);
}
