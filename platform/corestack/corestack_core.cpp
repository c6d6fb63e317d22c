#include "platform/corestack/corestack_core.h"

#include <fcntl.h>
#include <sys/procfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corestack {
namespace {

constexpr std::uint32_t NoteFile = 0x46494c45; // NT_FILE: "FILE"
// libunwind reads every note segment into memory at once.
constexpr std::uint64_t MaxNotesSize = 64 << 20;

std::uint64_t align4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }

// Parses the NT_FILE description: a count and a page size, `count` triples
// (start, end, offset in pages), then `count` NUL-terminated paths.
bool parseFileNote(const unsigned char *desc, std::size_t size, std::vector<FileMapping> &files)
{
    constexpr std::size_t Word = sizeof(Address);
    if (size < 2 * Word)
        return false;
    Address header[2];
    std::memcpy(header, desc, sizeof header);
    const Address count = header[0];
    const Address pageSize = header[1];
    if (count > (size - 2 * Word) / (3 * Word))
        return false;
    const unsigned char *names = desc + 2 * Word + count * 3 * Word;
    const unsigned char *const end = desc + size;
    for (Address i = 0; i < count; ++i) {
        Address entry[3];
        std::memcpy(entry, desc + 2 * Word + i * 3 * Word, sizeof entry);
        const void *nul = std::memchr(names, '\0', static_cast<std::size_t>(end - names));
        if (!nul)
            return false;
        const auto *name = reinterpret_cast<const char *>(names);
        const std::uint64_t offset = std::uint64_t{entry[2]} * pageSize;
        if (pageSize != 0 && offset / pageSize != entry[2])
            return false;
        files.push_back({entry[0], entry[1], offset, std::string(name)});
        names = static_cast<const unsigned char *>(nul) + 1;
    }
    return true;
}

// Walks the notes of one PT_NOTE segment the way libunwind does: every note
// must lie wholly inside the segment, thread notes must hold a whole
// elf_prstatus, and the file table must be well formed.
bool parseNotes(const std::vector<unsigned char> &notes, std::vector<FileMapping> &files)
{
    std::uint64_t at = 0;
    while (at < notes.size()) {
        ElfNoteHeader header;
        if (notes.size() - at < sizeof header)
            return false;
        std::memcpy(&header, notes.data() + at, sizeof header);
        const std::uint64_t descAt = at + sizeof header + align4(header.n_namesz);
        const std::uint64_t next = descAt + align4(header.n_descsz);
        if (next > notes.size())
            return false;
        if (header.n_type == NT_PRSTATUS && header.n_descsz < sizeof(struct elf_prstatus))
            return false;
        if (header.n_type == NoteFile && !parseFileNote(notes.data() + descAt, header.n_descsz, files))
            return false;
        at = next;
    }
    return true;
}

} // namespace

bool readAt(int fd, std::uint64_t offset, void *buffer, std::size_t size)
{
    auto *out = static_cast<char *>(buffer);
    while (size > 0) {
        const ssize_t got = pread(fd, out, size, static_cast<off_t>(offset));
        if (got <= 0)
            return false;
        out += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

namespace {

CoreVerdict readCoreLayout(int fd, CoreLayout &layout)
{
    // A directory would be refused only when read (and a 32-bit lseek to its
    // end fails first, with EOVERFLOW).
    struct stat status;
    if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        layout.error = EISDIR;
        return CoreVerdict::Unreadable;
    }
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) {
        layout.error = errno;
        return CoreVerdict::Unreadable;
    }
    layout.coreSize = static_cast<std::uint64_t>(end);

    // The machine field lies at the same place in 32- and 64-bit headers.
    unsigned char ident[EI_NIDENT + 4] = {};
    errno = 0;
    const bool whole = readAt(fd, 0, ident, sizeof ident);
    if (!whole && errno != 0) {
        layout.error = errno; // a directory, an I/O error
        return CoreVerdict::Unreadable;
    }
    if (std::memcmp(ident, ELFMAG, SELFMAG) != 0)
        return CoreVerdict::NotElf;
    if (!whole)
        return CoreVerdict::Damaged;
    layout.machine = ident[EI_DATA] == ELFDATA2MSB ? (ident[EI_NIDENT + 2] << 8) | ident[EI_NIDENT + 3]
                                                   : (ident[EI_NIDENT + 3] << 8) | ident[EI_NIDENT + 2];
    if (layout.machine != ElfMachine)
        return CoreVerdict::OtherMachine;

    ElfHeader header;
    if (ident[EI_CLASS] != ElfClass || ident[EI_DATA] != ELFDATA2LSB || !readAt(fd, 0, &header, sizeof header))
        return CoreVerdict::Damaged;
    if (header.e_type != ET_CORE)
        return CoreVerdict::NotCore;
    // libunwind reads sizeof(ElfProgramHeader) per entry whatever e_phentsize says.
    if (header.e_ehsize != sizeof(ElfHeader) || header.e_phentsize != sizeof(ElfProgramHeader) ||
        header.e_phoff + std::uint64_t{header.e_phnum} * sizeof(ElfProgramHeader) > layout.coreSize)
        return CoreVerdict::Damaged;

    std::vector<ElfProgramHeader> headers(header.e_phnum);
    if (!readAt(fd, header.e_phoff, headers.data(), headers.size() * sizeof(ElfProgramHeader)))
        return CoreVerdict::Damaged;
    for (std::size_t i = 0; i < headers.size(); ++i) {
        const ElfProgramHeader &ph = headers[i];
        // libunwind takes memory from any program header that covers an
        // address, whatever its type (a damaged core has others than PT_LOAD).
        if (ph.p_memsz > 0) {
            unsigned char magic[SELFMAG];
            const bool elfHeader = ph.p_filesz >= SELFMAG && readAt(fd, ph.p_offset, magic, sizeof magic) &&
                                   std::memcmp(magic, ELFMAG, SELFMAG) == 0;
            layout.segments.push_back(
                {static_cast<int>(i), ph.p_vaddr, ph.p_memsz, ph.p_filesz, ph.p_offset, ph.p_flags, elfHeader});
        }
        if (ph.p_type == PT_NOTE) {
            if (ph.p_offset > layout.coreSize || ph.p_filesz > layout.coreSize - ph.p_offset ||
                ph.p_filesz > MaxNotesSize)
                return CoreVerdict::Damaged;
            std::vector<unsigned char> notes(ph.p_filesz);
            if (!readAt(fd, ph.p_offset, notes.data(), notes.size()) || !parseNotes(notes, layout.files))
                return CoreVerdict::Damaged;
        }
    }
    return CoreVerdict::Readable;
}

} // namespace

CoreVerdict readCoreLayout(const char *path, CoreLayout &layout)
{
    layout = CoreLayout{};
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        layout.error = errno;
        return CoreVerdict::Unreadable;
    }
    const CoreVerdict verdict = readCoreLayout(fd, layout);
    close(fd);
    return verdict;
}

std::string verdictReason(CoreVerdict verdict, const CoreLayout &layout)
{
    switch (verdict) {
    case CoreVerdict::Readable:
        return "";
    case CoreVerdict::Unreadable:
        return std::strerror(layout.error);
    case CoreVerdict::NotElf:
        return "not a core file (no ELF header)";
    case CoreVerdict::NotCore:
        return "not a core file (an ELF program, library or object)";
    case CoreVerdict::OtherMachine:
        return "core file is for " + machineName(layout.machine) + ", this build reads " + machineName(ElfMachine);
    case CoreVerdict::Damaged:
        return "damaged or truncated core file";
    }
    return "";
}

std::string machineName(unsigned machine)
{
    switch (machine) {
    case EM_ARM:
        return "ARM";
    case EM_X86_64:
        return "x86_64";
    case EM_AARCH64:
        return "AArch64";
    case EM_386:
        return "i386";
    default:
        return "machine " + std::to_string(machine);
    }
}

} // namespace corestack
