#include "platform/corestack/corestack_backing.h"

#include <fcntl.h>
#include <libunwind-coredump.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace corestack {
namespace {

// Where libunwind finds a file this program holds open.
std::string fdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

std::uint64_t fileSize(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

bool readHeaders(int fd, std::uint64_t size, ElfHeader &header, std::vector<ElfProgramHeader> &headers)
{
    if (size < sizeof header || !readAt(fd, 0, &header, sizeof header))
        return false;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ElfClass ||
        header.e_ident[EI_DATA] != ELFDATA2LSB || header.e_machine != ElfMachine ||
        header.e_phentsize != sizeof(ElfProgramHeader) ||
        header.e_phoff + std::uint64_t{header.e_phnum} * sizeof(ElfProgramHeader) > size)
        return false;
    headers.resize(header.e_phnum);
    return readAt(fd, header.e_phoff, headers.data(), headers.size() * sizeof(ElfProgramHeader));
}

// Whether libunwind can take the file as an ELF image without reading
// outside it or giving up the whole program: it reads the program headers,
// the eh_frame_hdr (and aborts on a search table of any encoding but
// datarel|sdata4) and the dynamic section up to DT_NULL without checks.
bool usableObject(int fd)
{
    const std::uint64_t size = fileSize(fd);
    ElfHeader header;
    std::vector<ElfProgramHeader> headers;
    if (!readHeaders(fd, size, header, headers))
        return false;
    for (const ElfProgramHeader &ph : headers) {
        if (ph.p_type != PT_GNU_EH_FRAME && ph.p_type != PT_DYNAMIC)
            continue;
        if (ph.p_offset > size || ph.p_filesz > size - ph.p_offset)
            return false;
        if (ph.p_type == PT_GNU_EH_FRAME) {
            constexpr unsigned char DatarelSdata4 = 0x3b;
            unsigned char start[4]; // version, three pointer encodings
            if (ph.p_filesz < 12 || !readAt(fd, ph.p_offset, start, sizeof start) ||
                (start[0] == 1 && start[3] != DatarelSdata4))
                return false;
        } else {
            std::vector<ElfDynamic> dynamic(ph.p_filesz / sizeof(ElfDynamic));
            if (!readAt(fd, ph.p_offset, dynamic.data(), dynamic.size() * sizeof(ElfDynamic)))
                return false;
            bool ended = false;
            for (const auto &entry : dynamic)
                ended = ended || entry.d_tag == DT_NULL;
            if (!ended)
                return false;
        }
    }
    return true;
}

bool writeAll(int fd, const unsigned char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t done = write(fd, data, size);
        if (done <= 0)
            return false;
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

} // namespace

std::vector<SegmentSource> planSegmentSources(const CoreLayout &layout, const std::vector<ModuleEntry> &modules)
{
    std::vector<SegmentSource> sources;
    for (const Segment &segment : layout.segments) {
        const ModuleEntry *holder = nullptr;  // first module whose range holds the segment
        const ModuleEntry *starter = nullptr; // first module starting with it
        for (const ModuleEntry &module : modules) {
            if (!holder && module.start <= segment.start && segment.start <= module.end)
                holder = &module;
            if (!starter && module.start == segment.start)
                starter = &module;
        }
        const FileMapping *mapping = nullptr;
        for (const FileMapping &file : layout.files)
            if (!mapping && file.start == segment.start)
                mapping = &file;

        SegmentSource source;
        if (mapping) {
            source.path = holder ? holder->path : mapping->path;
            source.fileOffset = mapping->fileOffset;
        } else if (starter) {
            source.path = starter->path;
        }

        // libunwind reads a segment as an ELF image from its backing file or,
        // without one, from the core: only a whole copy of a segment that is
        // no ELF object is safe to leave to it.
        const bool heldWhole = segment.fileSize >= segment.memorySize && segment.coreOffset <= layout.coreSize &&
                               segment.fileSize <= layout.coreSize - segment.coreOffset;
        if (heldWhole && !segment.elfHeader && !starter)
            source.image = SegmentSource::Image::None;
        else if (source.path.empty())
            source.image = SegmentSource::Image::Empty;
        else if (source.fileOffset == 0)
            source.image = SegmentSource::Image::File;
        else if (segment.flags & PF_X)
            source.image = SegmentSource::Image::View;
        else
            source.image = SegmentSource::Image::Empty;
        sources.push_back(source);
    }
    return sources;
}

SegmentFiles::~SegmentFiles()
{
    for (const auto &entry : files_)
        if (entry.second.fd >= 0)
            close(entry.second.fd);
    for (const int fd : images_)
        close(fd);
}

const SegmentFiles::OpenFile *SegmentFiles::open(const std::string &path)
{
    auto found = files_.find(path);
    if (found == files_.end()) {
        // Only regular files: a path from a damaged core may name a pipe or
        // a device, which could block or act on being opened.
        OpenFile file;
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        file.usable = file.fd >= 0 && usableObject(file.fd);
        found = files_.emplace(path, file).first;
    }
    return &found->second;
}

bool SegmentFiles::usable(const std::string &path) { return open(path)->usable; }

// A copy of the file in memory whose program headers show the loadable
// segment mapped from `fileOffset` as the one at offset 0, with the virtual
// address that keeps its load address, and no other segment at offset 0.
int SegmentFiles::viewOf(const OpenFile &file, std::uint64_t fileOffset)
{
    const std::uint64_t size = fileSize(file.fd);
    ElfHeader header;
    std::vector<ElfProgramHeader> headers;
    if (!readHeaders(file.fd, size, header, headers))
        return -1;
    const std::uint64_t pageMask = ~std::uint64_t{static_cast<std::uint64_t>(getpagesize()) - 1};
    ElfProgramHeader *target = nullptr;
    for (ElfProgramHeader &ph : headers)
        if (ph.p_type == PT_LOAD && (ph.p_offset & pageMask) == fileOffset && (!target || (ph.p_flags & PF_X)))
            target = &ph;
    if (!target)
        return -1;
    for (ElfProgramHeader &ph : headers)
        if (ph.p_type == PT_LOAD && (ph.p_offset & pageMask) == 0)
            ph.p_type = PT_NULL;
    const auto below = static_cast<Address>(target->p_offset - fileOffset);
    target->p_offset = 0;
    target->p_vaddr -= below;
    target->p_paddr -= below;
    target->p_filesz += below;
    target->p_memsz += below;

    const int fd = memfd_create("corestack-view", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    images_.push_back(fd);
    std::vector<unsigned char> chunk(1 << 16);
    for (std::uint64_t at = 0; at < size;) {
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - at));
        if (!readAt(file.fd, at, chunk.data(), length) || !writeAll(fd, chunk.data(), length))
            return -1;
        at += length;
    }
    const std::size_t tableSize = headers.size() * sizeof(ElfProgramHeader);
    const ssize_t written = pwrite(fd, headers.data(), tableSize, static_cast<off_t>(header.e_phoff));
    return written == static_cast<ssize_t>(tableSize) ? fd : -1;
}

void SegmentFiles::attach(UCD_info *core, const CoreLayout &layout, const std::vector<SegmentSource> &sources)
{
    layout_ = &layout;
    sources_ = sources;
    for (std::size_t i = 0; i < sources.size() && i < layout.segments.size(); ++i) {
        const SegmentSource &source = sources[i];
        if (source.image == SegmentSource::Image::None)
            continue;
        const OpenFile *file = source.path.empty() ? nullptr : open(source.path);
        // An empty image (size 0) cannot be mapped: libunwind finds no unwind
        // information and no symbols there, and reads nothing from it.
        std::string image = "/dev/null";
        if (file && file->usable && source.image == SegmentSource::Image::File) {
            image = fdPath(file->fd);
        } else if (file && file->usable && source.image == SegmentSource::Image::View) {
            const int view = viewOf(*file, source.fileOffset);
            if (view >= 0)
                image = fdPath(view);
        }
        // This fails where libunwind has already taken a file from the
        // core's file table (a segment the core holds whole); that file is
        // then the image.
        _UCD_add_backing_file_at_segment(core, layout.segments[i].index, image.c_str());
    }
}

int SegmentFiles::readMissing(Address address, Address &value) const
{
    if (!layout_)
        return 0;
    for (std::size_t i = 0; i < layout_->segments.size(); ++i) {
        const Segment &segment = layout_->segments[i];
        const Address offset = address - segment.start;
        if (address < segment.start || offset >= segment.memorySize || segment.memorySize - offset < sizeof value)
            continue;
        if (segment.fileSize >= sizeof value && offset <= segment.fileSize - sizeof value)
            return 0;
        const SegmentSource &source = sources_[i];
        const auto file = files_.find(source.path);
        if (source.path.empty() || file == files_.end() || !file->second.usable)
            return 0;
        return readAt(file->second.fd, source.fileOffset + offset, &value, sizeof value) ? 1 : -1;
    }
    return 0;
}

} // namespace corestack
