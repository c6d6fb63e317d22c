#include "platform/corestack/corestack_text.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace corestack {

const char *signalName(int signum)
{
    switch (signum) {
    case 3:
        return "SIGQUIT";
    case 4:
        return "SIGILL";
    case 6:
        return "SIGABRT";
    case 7:
        return "SIGBUS";
    case 8:
        return "SIGFPE";
    case 10:
        return "SIGUSR1";
    case 11:
        return "SIGSEGV";
    default:
        return "Unknown signal";
    }
}

void DisplayName::FreeDeleter::operator()(char *p) const { std::free(p); }

DisplayName::DisplayName(const char *rawName) : raw_(rawName)
{
    // Only function names in the mangled form ("_Z...") are demangled: the
    // demangler also accepts bare type codes, and would turn C functions named
    // "i" or "f" into "int" or "float".
    if (std::strncmp(rawName, "_Z", 2) != 0)
        return;
    int status = 0;
    demangled_.reset(abi::__cxa_demangle(rawName, nullptr, nullptr, &status));
    if (status != 0)
        demangled_.reset();
}

std::string jsonEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char code[8];
                std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
                out += code;
            } else {
                out += c;
            }
        }
    }
    return out;
}

} // namespace corestack
