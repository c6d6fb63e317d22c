#ifndef FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_FLAGS_FILE_H
#define FUNCTIONAL_AUDIO_VOXAIM_TOOLS_COMMON_FLAGS_FILE_H
// The input flags of a replayed sound file: one hex flag word per line
// ("0", "0x1", "3", ...), line n for frame n. Lines after the last frame are
// not read.
#include <cstdint>
#include <cstdio>
#include <string>

#include "functional/audio/voxaim/tools_common/file.h"

namespace voxaim::tools {

class FlagsReader {
public:
    bool open(const char *path);
    // The flag word of the next frame; false with error() set at the end of
    // the file or on a line that is not one hex word of at most 32 bits.
    bool next(uint32_t &flags);
    const std::string &error() const { return error_; }

private:
    bool fail(std::string message);

    FilePtr file_;
    std::string path_;
    uint64_t line_ = 0;
    std::string error_;
};

// Parses one flag word: optional "0x", 1 ... 8 hex digits, surrounding blanks
// allowed.
bool parseFlagWord(const std::string &text, uint32_t &flags);

} // namespace voxaim::tools

#endif
