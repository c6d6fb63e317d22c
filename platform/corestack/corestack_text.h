// Text helpers of corestack: signal names, readable procedure names and JSON
// string escaping. Pure functions, no libunwind.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace corestack {

// The name printed for a signal number: "SIGSEGV" and the other crash
// signals, "Unknown signal" for any other number.
const char *signalName(int signum);

// A procedure name as the report prints it: a mangled C++ name in its
// demangled form with nothing appended; any other name (a C function) as it
// is, with "()" appended.
class DisplayName {
public:
    explicit DisplayName(const char *rawName);
    const char *text() const { return demangled_ ? demangled_.get() : raw_; }
    const char *suffix() const { return demangled_ ? "" : "()"; }

private:
    struct FreeDeleter {
        void operator()(char *p) const;
    };
    const char *raw_;
    std::unique_ptr<char, FreeDeleter> demangled_;
};

// `text` as the contents of a JSON string (without the quotes): quote,
// backslash and control characters escaped, every other byte unchanged.
std::string jsonEscape(std::string_view text);

} // namespace corestack
