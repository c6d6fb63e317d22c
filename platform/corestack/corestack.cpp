// corestack: prints the call stack of every thread of a core file, the signal
// and the registers of the signalled thread, as a text report, a JSON document
// or both.
//
// The walk is libunwind's core-dump back end on the core file. The executables
// and libraries of the crashed process give the back end the code, the unwind
// tables and the symbol names that the core file does not hold: those of the
// core's own file table, where the caller's list of modules and the address
// ranges they were mapped at (-f) name the files to read and the modules to
// print. Thread names (-t) and the crashed application's name (-C) come from
// the caller too.
#include "platform/corestack/corestack_arch.h"
#include "platform/corestack/corestack_backing.h"
#include "platform/corestack/corestack_core.h"
#include "platform/corestack/corestack_text.h"

#include <getopt.h>
#include <libunwind-coredump.h>
#include <libunwind.h>
#include <unistd.h>
#include <vx_version.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using corestack::Address;

constexpr std::size_t MaxMapEntries = 128;
constexpr std::size_t MaxPathLength = 128;
constexpr std::size_t MaxThreadNames = 200;
constexpr std::size_t MaxThreadNameLength = 15;
constexpr std::size_t MaxFrames = 64;
constexpr std::size_t ProcNameSize = 512;   // procedure name, at most 511 characters
constexpr std::size_t ModuleNameSize = 128; // module name, at most 127 characters

// The field widths of these formats are the array sizes above, less the NUL.
constexpr const char *MapEntryFormat = "%" CORESTACK_SCNxADDR "-%" CORESTACK_SCNxADDR ":%128s";
constexpr const char *ThreadNameFormat = "%d:%15s";

// An executable or library and the address range it was mapped at.
struct MapEntry {
    Address start;
    Address end; // inclusive
    char path[MaxPathLength + 1];
};

struct ThreadName {
    int tid;
    char name[MaxThreadNameLength + 1];
};

struct Frame {
    Address pc;
    Address offset; // from the start of the procedure
    char procName[ProcNameSize];
    char moduleName[ModuleNameSize];
};

using RegisterValues = std::array<unw_word_t, corestack::GeneralRegisters.size()>;

struct ThreadRecord {
    std::vector<Frame> frames; // at most MaxFrames
    int threadNum = 0;         // the index under which the core back end knows the thread
    pid_t lwp = 0;
    bool signalled = false;
    // The general registers as the thread stopped (frame 0); none where one
    // of them cannot be read.
    std::optional<RegisterValues> registers;
};

struct Settings {
    const char *corePath = nullptr;
    const char *crashedApp = nullptr;
    bool regularOutput = true;
    bool jsonOutput = false;
    std::vector<MapEntry> mapEntries;
    std::vector<ThreadName> threadNames;
};

struct CoreDeleter {
    void operator()(UCD_info *core) const { _UCD_destroy(core); }
};
using CoreHandle = std::unique_ptr<UCD_info, CoreDeleter>;

struct AddressSpaceDeleter {
    void operator()(unw_addr_space *as) const { unw_destroy_addr_space(as); }
};
using AddressSpace = std::unique_ptr<unw_addr_space, AddressSpaceDeleter>;

// Gives a variable a value for the lifetime of the scope and restores the
// one it had before.
template <typename T>
class ScopedValue {
public:
    ScopedValue(T &variable, T value) : variable_(variable), saved_(std::exchange(variable, value)) {}
    ~ScopedValue() { variable_ = saved_; }
    ScopedValue(const ScopedValue &) = delete;
    ScopedValue &operator=(const ScopedValue &) = delete;

private:
    T &variable_;
    T saved_;
};

// libunwind's accessors carry only the core handle; what the two callbacks
// below need beyond it is in these globals, each set only inside the
// ScopedValue of the walk that needs it.

// The files behind the segments of the core being read, for the memory
// reader.
const corestack::SegmentFiles *CoreFiles = nullptr;

// The caller frame being stepped from: its pc (the return address) and an
// address inside its call.
struct CallerFrame {
    bool active = false;
    Address returnAddress = 0;
    Address callSite = 0;
};
CallerFrame Stepping;

// libunwind's memory reader for the core, except that bytes the core does
// not hold come from the segment's file at the segment's own offset in it.
int accessMemory(unw_addr_space_t as, unw_word_t address, unw_word_t *value, int write, void *arg)
{
    if (!write && CoreFiles) {
        const int found = CoreFiles->readMissing(address, *value);
        if (found != 0)
            return found > 0 ? 0 : -UNW_EINVAL;
    }
    return _UCD_access_mem(as, address, value, write, arg);
}

// libunwind's unwind-table lookup for the core, except that the table entry
// of a caller frame is looked up at its call, like its name: where the call
// was the last instruction of its function, the return address lies in the
// next function's entry. (libunwind looks up DWARF entries at pc - 1 itself,
// but ARM exception-table entries at the pc.)
int findProcInfo(unw_addr_space_t as, unw_word_t ip, unw_proc_info_t *info, int needUnwindInfo, void *arg)
{
    if (Stepping.active && ip == Stepping.returnAddress)
        ip = Stepping.callSite;
    return _UCD_find_proc_info(as, ip, info, needUnwindInfo, arg);
}

unw_accessors_t coreAccessors()
{
    unw_accessors_t accessors = _UCD_accessors;
    accessors.access_mem = accessMemory;
    accessors.find_proc_info = findProcInfo;
    return accessors;
}

void usage(const char *program)
{
    std::printf("usage: %s [-jJ] -c corefile [-f start-end:executable ...] [-t pid:name ...]\n", program);
    std::printf("  -f: Address range to which an executable was mapped\n"
                "      in the process memory map\n");
    std::printf("  -j: Print only json output\n");
    std::printf("  -J: Print both regular and json output\n");
    std::printf("  -t: Print the given name for the thread with the given PID\n");
}

void addMapEntry(Settings &settings, const char *arg)
{
    if (settings.mapEntries.size() >= MaxMapEntries) {
        std::fprintf(stderr, "No more than %zu process map entries\n", MaxMapEntries);
        return;
    }
    MapEntry entry{};
    if (std::sscanf(arg, MapEntryFormat, &entry.start, &entry.end, entry.path) != 3) {
        std::fprintf(stderr, "Process map entry must be on form <start>-<end>:<executable>\n");
        return;
    }
    settings.mapEntries.push_back(entry);
}

void addThreadName(Settings &settings, const char *arg)
{
    if (settings.threadNames.size() >= MaxThreadNames) {
        std::fprintf(stderr, "No more than %zu thread names\n", MaxThreadNames);
        return;
    }
    ThreadName entry{};
    if (std::sscanf(arg, ThreadNameFormat, &entry.tid, entry.name) != 2) {
        std::fprintf(stderr, "Thread name must be on form <tid>:<name>\n");
        return;
    }
    settings.threadNames.push_back(entry);
}

// The name given with -t for a thread, "Unknown" without one.
const char *threadName(const Settings &settings, pid_t lwp)
{
    for (const ThreadName &entry : settings.threadNames)
        if (entry.tid == lwp)
            return entry.name;
    return "Unknown";
}

// The path of the first map entry whose range holds pc, cut to the size of
// a frame's module name; "Unknown" when none does.
void findModule(const Settings &settings, Address pc, char (&moduleName)[ModuleNameSize])
{
    for (const MapEntry &entry : settings.mapEntries) {
        if (entry.start <= pc && pc <= entry.end) {
            const std::size_t length = std::min(std::strlen(entry.path), sizeof moduleName - 1);
            std::memcpy(moduleName, entry.path, length);
            moduleName[length] = '\0';
            return;
        }
    }
    std::snprintf(moduleName, sizeof moduleName, "Unknown");
}

// The general registers of the cursor's frame; none unless every one can be
// read.
std::optional<RegisterValues> readRegisters(unw_cursor_t &cursor)
{
    RegisterValues values{};
    for (std::size_t r = 0; r < corestack::GeneralRegisters.size(); ++r)
        if (unw_get_reg(&cursor, corestack::GeneralRegisters[r].number, &values[r]) < 0)
            return std::nullopt;
    return values;
}

// Walks thread `index` of the core into `record`, at most MaxFrames frames,
// after taking the registers of its frame 0. On a failure the frames
// gathered so far are kept.
void get_thread_backtrace(const Settings &settings, UCD_info *core, unw_addr_space_t as, int index,
                          ThreadRecord &record)
{
    _UCD_select_thread(core, index);
    unw_cursor_t cursor;
    int ret = unw_init_remote(&cursor, as, core);
    if (ret < 0) {
        std::fprintf(stderr, "unw_init_remote(): %s\n", unw_strerror(ret));
        return;
    }
    record.threadNum = index;
    record.lwp = _UCD_get_pid(core);
    record.registers = readRegisters(cursor);

    bool interrupted = false; // the frame before was a signal frame
    while (record.frames.size() < MaxFrames) {
        unw_word_t ip = 0;
        unw_word_t sp = 0;
        if ((ret = unw_get_reg(&cursor, UNW_REG_IP, &ip)) < 0) {
            std::fprintf(stderr, "Failed to get IP: %s\n", unw_strerror(ret));
            break;
        }
        if ((ret = unw_get_reg(&cursor, UNW_REG_SP, &sp)) < 0) {
            std::fprintf(stderr, "Failed to get SP: %s\n", unw_strerror(ret));
            break;
        }
        Frame &frame = record.frames.emplace_back();
        frame.pc = ip;
        // A caller's pc is the return address, after the call; where the call
        // was the last instruction of its function, that is the start of the
        // next one. So callers are named from inside the call. Frame 0, a
        // signal frame (whose pc is the trampoline's first instruction) and
        // the frame a signal interrupted are named from the pc itself.
        const bool signalFrame = unw_is_signal_frame(&cursor) > 0;
        const Address lookup = record.frames.size() == 1 || signalFrame || interrupted ? ip : corestack::callSite(ip);
        interrupted = signalFrame;
        unw_word_t offset = 0;
        ret = _UCD_get_proc_name(as, lookup, frame.procName, sizeof frame.procName, &offset, core);
        if (ret < 0)
            std::snprintf(frame.procName, sizeof frame.procName, "<unknown> (%s)", unw_strerror(ret));
        else
            offset += ip - lookup;
        frame.offset = offset;
        findModule(settings, ip, frame.moduleName);

        {
            const ScopedValue stepping(Stepping, CallerFrame{lookup != ip, ip, lookup});
            ret = unw_step(&cursor);
        }
        if (ret < 0) {
            std::printf("Failed to step: %s\n", unw_strerror(ret));
            break;
        }
        if (ret == 0)
            break;
    }
}

void dump_thread_backtrace_regular(const ThreadRecord &record)
{
    for (std::size_t i = 0; i < record.frames.size(); ++i) {
        const Frame &frame = record.frames[i];
        const corestack::DisplayName name(frame.procName);
        std::printf("#%-2zu PC 0x%.*" CORESTACK_PRIxADDR " in (%s) %s%s + 0x%.*" CORESTACK_PRIxADDR "\n", i, 8,
                    frame.pc, frame.moduleName, name.text(), name.suffix(), 8, frame.offset);
    }
}

// Prints the general registers of a thread's record as they were when it
// stopped; nothing where the walk could not read them all.
void dump_registers(const ThreadRecord &record)
{
    using corestack::GeneralRegisters;
    if (!record.registers)
        return;
    const RegisterValues &values = *record.registers;
    std::printf("Registers:\n");
    for (std::size_t r = 0; r < GeneralRegisters.size(); ++r) {
        const bool lineEnd =
            r % corestack::RegistersPerLine == corestack::RegistersPerLine - 1 || r == GeneralRegisters.size() - 1;
        std::printf("%-4s %0*" CORESTACK_PRIxADDR "%s", GeneralRegisters[r].label, corestack::RegisterDigits, values[r],
                    lineEnd ? "\n" : "  ");
    }
    std::printf("-----\n");
}

// The core's threads by index; thread 0 is the signalled one (the core lists
// it first). `numThreads` is the core's count: a core that counts none still
// has a record 0, walked as thread 0.
void printRegular(const Settings &settings, int signum, const std::vector<ThreadRecord> &records, int numThreads)
{
    const ThreadRecord &signalled = records[0];
    std::printf("Threads: %d\n", numThreads);
    std::printf("Signal: %s (%d)\n", corestack::signalName(signum), signum);
    std::printf("Signalled thread (LWP %d, %s)\n", signalled.lwp, threadName(settings, signalled.lwp));
    dump_registers(signalled);
    dump_thread_backtrace_regular(signalled);
    for (int k = numThreads - 1; k >= 0; --k) {
        const ThreadRecord &record = records[k];
        std::printf("\n");
        std::printf("Thread %d (LWP %d, %s)\n", record.threadNum, record.lwp, threadName(settings, record.lwp));
        dump_thread_backtrace_regular(record);
    }
}

void printJson(const Settings &settings, int signum, const std::vector<ThreadRecord> &records, int numThreads)
{
    using corestack::jsonEscape;
    std::printf("JSON output:\n\n{\n");
    std::printf("    \"crashed_app\": \"%s\",\n",
                jsonEscape(settings.crashedApp ? settings.crashedApp : "unknown").c_str());
    std::printf("    \"signal\": \"%s\",\n", corestack::signalName(signum));
    std::printf("    \"signum\": %d,\n", signum);
    std::printf("    \"threads\":\n");
    std::printf("    [\n");
    for (int k = numThreads - 1; k >= 0; --k) {
        const ThreadRecord &record = records[k];
        std::printf("%-*s{\n", 8, "");
        std::printf("%-*s\"thread_pid\": \"LWP %d\",\n", 12, "", record.lwp);
        std::printf("%-*s\"thread_num\": %d,\n", 12, "", record.threadNum);
        std::printf("%-*s\"thread_name\": \"%s\",\n", 12, "", jsonEscape(threadName(settings, record.lwp)).c_str());
        std::printf("%-*s\"signalled_thread\": \"%s\",\n", 12, "", record.signalled ? "true" : "false");
        std::printf("%-*s\"call_stack\":\n", 12, "");
        std::printf("%-*s[\n", 12, "");
        for (std::size_t i = 0; i < record.frames.size(); ++i) {
            const corestack::DisplayName name(record.frames[i].procName);
            std::printf("%-*s\"%s%s\"%s\n", 16, "", jsonEscape(name.text()).c_str(), name.suffix(),
                        i + 1 < record.frames.size() ? "," : "");
        }
        std::printf("%-*s]\n", 12, "");
        std::printf("%-*s}%s\n", 8, "", k > 0 ? "," : "");
    }
    std::printf("    ]\n");
    std::printf("}\n");
}

// The command line into `settings`; the exit status where the program ends
// here (usage, --version).
std::optional<int> parseOptions(int argc, char **argv, Settings &settings)
{
    constexpr int VersionOption = 256;
    static const option longOptions[] = {{"version", no_argument, nullptr, VersionOption}, {}};
    int opt;
    while ((opt = getopt_long(argc, argv, "c:f:t:C:jJ", longOptions, nullptr)) != -1) {
        switch (opt) {
        case 'c':
            settings.corePath = optarg;
            break;
        case 'f':
            addMapEntry(settings, optarg);
            break;
        case 't':
            addThreadName(settings, optarg);
            break;
        case 'C':
            settings.crashedApp = optarg;
            break;
        case 'j':
            settings.jsonOutput = true;
            settings.regularOutput = false;
            break;
        case 'J':
            settings.jsonOutput = true;
            break;
        case VersionOption:
            std::printf("corestack %s\n", VX_VERSION_STRING);
            return 0;
        default:
            std::fprintf(stderr, "Unknown argument %c\n", opt);
            usage(argv[0]);
            return 1;
        }
    }
    if (!settings.corePath) {
        std::fprintf(stderr, "Corefile is required\n");
        usage(argv[0]);
        return 1;
    }
    return std::nullopt;
}

// A core file opened for the walk: its layout, libunwind's handle and
// address space, and the files behind its segments (released in the
// reverse order).
struct OpenCore {
    corestack::CoreLayout layout;
    CoreHandle handle;
    AddressSpace as;
    corestack::SegmentFiles files;
};

// Checks the core and creates libunwind's handle and address space for it;
// false, with the reason on standard error, where it cannot be read. The core
// is checked before libunwind reads it: its back end reads the notes without
// bounds checks, and takes a core of another machine for one of its own.
bool openCore(const char *path, OpenCore &core)
{
    const corestack::CoreVerdict verdict = corestack::readCoreLayout(path, core.layout);
    if (verdict == corestack::CoreVerdict::OtherMachine) {
        std::fprintf(stderr, "corestack: %s\n", corestack::verdictReason(verdict, core.layout).c_str());
        return false;
    }
    if (verdict == corestack::CoreVerdict::Readable)
        core.handle.reset(_UCD_create(path));
    unw_accessors_t accessors = coreAccessors();
    core.as.reset(unw_create_addr_space(&accessors, 0));
    if (!core.handle) {
        std::fprintf(stderr, "Failed to create core context\n");
        const std::string reason = verdict == corestack::CoreVerdict::Readable
                                       ? "libunwind cannot read this core file"
                                       : corestack::verdictReason(verdict, core.layout);
        std::fprintf(stderr, "corestack: %s: %s\n", path, reason.c_str());
        return false;
    }
    if (!core.as) {
        std::fprintf(stderr, "Failed to create address space context\n");
        return false;
    }
    return true;
}

// Gives libunwind the files behind the core's segments; reports every -f
// module that serves none (no segment starts at its address, or its file
// cannot be used).
void attachModules(const Settings &settings, OpenCore &core)
{
    std::vector<corestack::ModuleEntry> modules;
    for (const MapEntry &entry : settings.mapEntries)
        modules.push_back({entry.start, entry.end, entry.path});
    core.files.attach(core.handle.get(), core.layout, corestack::planSegmentSources(core.layout, modules));
    for (const MapEntry &entry : settings.mapEntries) {
        const bool segmentStart = std::any_of(core.layout.segments.begin(), core.layout.segments.end(),
                                              [&](const corestack::Segment &s) { return s.start == entry.start; });
        if (!segmentStart || !core.files.usable(entry.path))
            std::fprintf(stderr, "Failed to add backing file %s@0x%" CORESTACK_PRIxADDR ": %s\n", entry.path,
                         entry.start, unw_strerror(-UNW_EUNSPEC));
    }
}

// Every thread of the core, each walked once, record k for thread k; at least
// record 0, the signalled thread (the core lists it first). A thread is
// flagged as signalled when its LWP is thread 0's.
std::vector<ThreadRecord> walkThreads(const Settings &settings, OpenCore &core, int numThreads)
{
    std::vector<ThreadRecord> records(static_cast<std::size_t>(std::max(numThreads, 1)));
    get_thread_backtrace(settings, core.handle.get(), core.as.get(), 0, records[0]);
    for (int k = static_cast<int>(records.size()) - 1; k >= 1; --k)
        get_thread_backtrace(settings, core.handle.get(), core.as.get(), k, records[k]);
    for (ThreadRecord &record : records)
        record.signalled = record.lwp == records[0].lwp;
    return records;
}

int run(int argc, char **argv)
{
    Settings settings;
    if (const std::optional<int> status = parseOptions(argc, argv, settings))
        return *status;
    OpenCore core;
    if (!openCore(settings.corePath, core))
        return 1;
    attachModules(settings, core);
    const ScopedValue<const corestack::SegmentFiles *> files(CoreFiles, &core.files);
    const int numThreads = std::max(_UCD_get_num_threads(core.handle.get()), 0);
    const int signum = _UCD_get_cursig(core.handle.get());
    const std::vector<ThreadRecord> records = walkThreads(settings, core, numThreads);
    if (settings.regularOutput)
        printRegular(settings, signum, records, numThreads);
    if (settings.jsonOutput)
        printJson(settings, signum, records, numThreads);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc &) {
        // No memory for the thread records. The message is the one the tool
        // has always printed for it, from when they were one calloc() block.
        errno = ENOMEM;
        std::perror("calloc()");
        return 1;
    }
}
