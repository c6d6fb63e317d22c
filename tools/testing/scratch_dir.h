#ifndef TOOLS_TESTING_SCRATCH_DIR_H
#define TOOLS_TESTING_SCRATCH_DIR_H
// What the C++ tests share: a private scratch folder per test, and reading a
// file back whole.
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace vxtest {

// A new, empty folder /tmp/<name>.XXXXXX, removed with everything in it when
// the object goes. As a member of a test fixture it lives exactly as long as
// one test; a folder that cannot be made throws, which fails that test.
class ScratchDir {
public:
    explicit ScratchDir(const std::string &name)
    {
        std::string pattern = "/tmp/" + name + ".XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
        path_ = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The bytes of a file; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace vxtest

#endif
