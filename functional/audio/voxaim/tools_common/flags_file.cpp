#include "functional/audio/voxaim/tools_common/flags_file.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

namespace voxaim::tools {

bool parseFlagWord(const std::string &text, uint32_t &flags)
{
    std::size_t begin = text.find_first_not_of(" \t\r");
    const std::size_t end = text.find_last_not_of(" \t\r");
    if (begin == std::string::npos)
        return false;
    if (text.compare(begin, 2, "0x") == 0 || text.compare(begin, 2, "0X") == 0)
        begin += 2;
    const std::size_t digits = end + 1 - begin;
    if (begin > end || digits > 8)
        return false;
    uint32_t value = 0;
    for (std::size_t i = begin; i <= end; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isxdigit(c))
            return false;
        value = value << 4 | static_cast<uint32_t>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
    }
    flags = value;
    return true;
}

bool FlagsReader::fail(std::string message)
{
    error_ = std::move(message);
    return false;
}

bool FlagsReader::open(const char *path)
{
    path_ = path;
    errno = 0;
    file_.reset(std::fopen(path, "r"));
    if (!file_)
        return fail("cannot open flags file " + path_ + ": " + std::strerror(errno));
    line_ = 0;
    return true;
}

bool FlagsReader::next(uint32_t &flags)
{
    std::string text;
    int c;
    bool any = false;
    while ((c = std::fgetc(file_.get())) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (text.size() < 64)
            text.push_back(static_cast<char>(c));
    }
    if (std::ferror(file_.get()))
        return fail(path_ + ": read error: " + std::strerror(errno));
    ++line_;
    if (!any)
        return fail(path_ + ": no flag word for frame " + std::to_string(line_ - 1) + " (the file has " +
                    std::to_string(line_ - 1) + " lines)");
    if (!parseFlagWord(text, flags))
        return fail(path_ + ":" + std::to_string(line_) + ": '" + text + "' is not a hex flag word");
    return true;
}

} // namespace voxaim::tools
