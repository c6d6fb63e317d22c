#include "platform/audio/audtest/eventlog.h"

#include <cstdio>
#include <cstdlib>

extern "C" int veventlog(const char *format, va_list args)
{
    std::vfprintf(stderr, format, args);
    return std::fflush(stderr);
}

extern "C" void eventlog(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    veventlog(format, args);
    va_end(args);
}

extern "C" int eventlogputs(const char *text)
{
    std::fputs(text, stderr);
    return std::fflush(stderr);
}

extern "C" int eventlogwrite(const void *buffer, size_t count)
{
    std::fwrite(buffer, 1, count, stderr);
    return std::fflush(stderr);
}

extern "C" void eventlog_die(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    veventlog(format, args);
    va_end(args);
    std::abort();
}
