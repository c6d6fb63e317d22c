// The architecture-specific part of corestack: the width of an address in the
// core file, its scanf/printf conversions, the ELF class and machine of the
// core files it reads, and the general registers of the signalled thread as
// the register dump prints them (four to a line).
//
// corestack reads core files of the architecture it is built for: the device
// build (32-bit ARM) uses libunwind's ARM port, the host build the x86_64 port.
#pragma once

#include <elf.h>
#include <libunwind.h>

#include <array>
#include <cinttypes>
#include <cstddef>

namespace corestack {

// An address in the crashed process.
using Address = unw_word_t;

struct RegisterName {
    const char *label;   // printed with its colon, padded to four characters
    unw_regnum_t number; // libunwind register number
};

#if defined(__arm__)

static_assert(sizeof(Address) == 4);
#define CORESTACK_SCNxADDR SCNx32
#define CORESTACK_PRIxADDR PRIx32

using ElfHeader = Elf32_Ehdr;
using ElfProgramHeader = Elf32_Phdr;
using ElfNoteHeader = Elf32_Nhdr;
using ElfDynamic = Elf32_Dyn;
inline constexpr unsigned char ElfClass = ELFCLASS32;
inline constexpr unsigned ElfMachine = EM_ARM;

// An address inside the call that returns to `returnAddress`: the byte
// before it, its Thumb bit cleared first.
inline Address callSite(Address returnAddress) { return (returnAddress & ~Address{1}) - 1; }

inline constexpr std::array<RegisterName, 16> GeneralRegisters{{
    {"R0:", UNW_ARM_R0},
    {"R1:", UNW_ARM_R1},
    {"R2:", UNW_ARM_R2},
    {"R3:", UNW_ARM_R3},
    {"R4:", UNW_ARM_R4},
    {"R5:", UNW_ARM_R5},
    {"R6:", UNW_ARM_R6},
    {"R7:", UNW_ARM_R7},
    {"R8:", UNW_ARM_R8},
    {"R9:", UNW_ARM_R9},
    {"R10:", UNW_ARM_R10},
    {"R11:", UNW_ARM_R11},
    {"IP:", UNW_ARM_R12},
    {"SP:", UNW_ARM_R13},
    {"LR:", UNW_ARM_R14},
    {"PC:", UNW_ARM_R15},
}};

#elif defined(__x86_64__)

static_assert(sizeof(Address) == 8);
#define CORESTACK_SCNxADDR SCNx64
#define CORESTACK_PRIxADDR PRIx64

using ElfHeader = Elf64_Ehdr;
using ElfProgramHeader = Elf64_Phdr;
using ElfNoteHeader = Elf64_Nhdr;
using ElfDynamic = Elf64_Dyn;
inline constexpr unsigned char ElfClass = ELFCLASS64;
inline constexpr unsigned ElfMachine = EM_X86_64;

// An address inside the call that returns to `returnAddress`.
inline Address callSite(Address returnAddress) { return returnAddress - 1; }

// Debian's libunwind 1.6 reads r8-r14 of an x86_64 core as r15 (its register
// table lacks them), so only the registers it reads faithfully are shown.
inline constexpr std::array<RegisterName, 9> GeneralRegisters{{
    {"RAX:", UNW_X86_64_RAX},
    {"RBX:", UNW_X86_64_RBX},
    {"RCX:", UNW_X86_64_RCX},
    {"RDX:", UNW_X86_64_RDX},
    {"RSI:", UNW_X86_64_RSI},
    {"RDI:", UNW_X86_64_RDI},
    {"RBP:", UNW_X86_64_RBP},
    {"RSP:", UNW_X86_64_RSP},
    {"RIP:", UNW_X86_64_RIP},
}};

#else
#error "corestack reads core files of 32-bit ARM or x86_64 processes only"
#endif

inline constexpr std::size_t RegistersPerLine = 4;

// Hexadecimal digits of a register in the dump: the full width of an address.
inline constexpr int RegisterDigits = 2 * sizeof(Address);

} // namespace corestack
