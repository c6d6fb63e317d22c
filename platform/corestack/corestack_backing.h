// The files behind the segments of a core file.
//
// A kernel core holds each file-backed segment that the process never wrote
// only in part: the first page of a segment that starts with an ELF header,
// nothing of the others. The unwinder needs the rest (code, unwind tables,
// symbols) from the executables and libraries themselves, found through the
// core's file table and the modules named on the command line.
//
// libunwind 1.6's core back end takes one backing file per segment and
// assumes that the segment starts at byte 0 of it: it reads the missing bytes
// at their distance from the segment's start, and maps the file as the
// segment's ELF image, taking the segment for the object's first. So:
// - corestack reads the missing bytes itself, at the segment's real offset in
//   its file (readMissing);
// - a segment at offset 0 gets its file, an executable segment further in
//   gets a view of its file whose program headers place that segment at
//   offset 0 (so that libunwind computes the right load address);
// - every other segment that libunwind might take for an ELF image, and every
//   segment whose file cannot be used, gets an empty image: no unwind
//   information, never a read outside the core or a file.
#pragma once

#include "platform/corestack/corestack_core.h"

#include <map>
#include <string>
#include <vector>

struct UCD_info;

namespace corestack {

// A module given on the command line: the file mapped at [start, end].
struct ModuleEntry {
    Address start;
    Address end; // inclusive
    std::string path;
};

// Where the bytes of one segment that the core does not hold come from, and
// what libunwind gets as the segment's backing file.
struct SegmentSource {
    enum class Image { None, File, View, Empty };
    std::string path;             // empty when no file is known
    std::uint64_t fileOffset = 0; // of the segment's first byte in `path`
    Image image = Image::None;
};

// The source of every segment of `layout`, in the same order. The file of a
// segment is the core's file table entry that starts with it, its path
// replaced by that of the first module whose range holds the segment; a
// module's start with no such entry is its file's offset 0 (a core without
// a file table).
std::vector<SegmentSource> planSegmentSources(const CoreLayout &layout, const std::vector<ModuleEntry> &modules);

class SegmentFiles {
public:
    SegmentFiles() = default;
    SegmentFiles(const SegmentFiles &) = delete;
    SegmentFiles &operator=(const SegmentFiles &) = delete;
    ~SegmentFiles();

    // Opens the files of `sources` (planned for `layout`), makes the images
    // and registers them with `core`. A file that cannot be opened, or is no
    // ELF object of this build's machine, serves nothing.
    void attach(UCD_info *core, const CoreLayout &layout, const std::vector<SegmentSource> &sources);

    // Whether `path` can be opened and is an ELF object this build reads.
    bool usable(const std::string &path);

    // Reads the word at `address` if it lies in a segment beyond the part
    // the core holds: 1 when read from the segment's file, -1 when that file
    // does not hold it, 0 when the core (libunwind) is to answer.
    int readMissing(Address address, Address &value) const;

private:
    struct OpenFile {
        int fd = -1;
        bool usable = false;
    };
    const OpenFile *open(const std::string &path);
    int viewOf(const OpenFile &file, std::uint64_t fileOffset);

    const CoreLayout *layout_ = nullptr;
    std::vector<SegmentSource> sources_;
    std::map<std::string, OpenFile> files_;
    std::vector<int> images_; // memory files made here
};

} // namespace corestack
