// A C stream owned by the replay tools: closed when its owner goes.
#pragma once

#include <cstdio>
#include <memory>

namespace voxaim::tools {

struct CloseFile {
    void operator()(std::FILE *file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, CloseFile>;

} // namespace voxaim::tools
