// The layout of a core file as corestack needs it before libunwind reads it:
// the machine it was written for, its loadable segments and the table of
// mapped files (the NT_FILE note) that the kernel writes into it.
//
// libunwind's core back end reads the notes of a core without bounds checks;
// readCoreLayout checks every structure that back end relies on, so that a
// damaged or truncated core is refused instead of read out of bounds.
#pragma once

#include "platform/corestack/corestack_arch.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corestack {

// A segment of the process's memory (normally a PT_LOAD program header):
// `memorySize` bytes at `start`, of which the core holds the first `fileSize`
// bytes at `coreOffset`.
struct Segment {
    int index; // program header number, as libunwind counts segments
    Address start;
    Address memorySize;
    Address fileSize;
    std::uint64_t coreOffset;
    std::uint32_t flags; // PF_R, PF_W, PF_X
    bool elfHeader;      // the core's copy begins with an ELF header
};

// One entry of the core's file table: [start, end) maps `path` from byte
// `fileOffset` on.
struct FileMapping {
    Address start;
    Address end;
    std::uint64_t fileOffset;
    std::string path;
};

struct CoreLayout {
    int error = 0;              // errno where the file could not be opened or read
    unsigned machine = 0;       // e_machine
    std::uint64_t coreSize = 0; // bytes in the core file
    std::vector<Segment> segments;
    std::vector<FileMapping> files;
};

enum class CoreVerdict {
    Readable,     // a core of this build's machine whose notes are sound
    Unreadable,   // cannot be opened or read: `error` says why
    NotElf,       // no ELF header
    NotCore,      // an ELF file of this build's machine, but no core
    OtherMachine, // `machine` is not the build's
    Damaged,      // truncated, or structures that libunwind would read out of bounds
};

// Reads the header, program headers and notes of the core file at `path`.
CoreVerdict readCoreLayout(const char *path, CoreLayout &layout);

// Why a core file with this verdict cannot be read, as the end of a message
// that names the file: "No such file or directory", "not a core file (no ELF
// header)"; empty for Readable.
std::string verdictReason(CoreVerdict verdict, const CoreLayout &layout);

// Reads exactly `size` bytes at `offset` of `fd`; false when the file ends first.
bool readAt(int fd, std::uint64_t offset, void *buffer, std::size_t size);

// The name of an ELF machine in messages: "ARM", "x86_64", ... or
// "machine <number>" for one without a name here.
std::string machineName(unsigned machine);

} // namespace corestack
