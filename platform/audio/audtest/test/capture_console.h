#ifndef PLATFORM_AUDIO_AUDTEST_TEST_CAPTURE_CONSOLE_H
#define PLATFORM_AUDIO_AUDTEST_TEST_CAPTURE_CONSOLE_H
// A console that keeps everything written to it, for the unit tests.
#include "platform/audio/audtest/con.h"

#include <cstdio>
#include <string>
#include <vector>

struct CaptureConsole : con {
    std::string text;               // everything written, in order
    std::vector<std::string> lines; // one entry per puts call
    int voutCalls = 0;
    int writeCalls = 0;
    int failingPuts = -1; // index of the puts call that returns -1

    explicit CaptureConsole(bool withPuts = true, bool withWrite = true) : con{}
    {
        vout = &CaptureConsole::doVout;
        puts = withPuts ? &CaptureConsole::doPuts : nullptr;
        write = withWrite ? &CaptureConsole::doWrite : nullptr;
    }

    static CaptureConsole *self(con *c) { return static_cast<CaptureConsole *>(c); }

    static int doVout(con *c, const char *format, va_list args)
    {
        va_list copy;
        va_copy(copy, args);
        const int n = std::vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        std::string formatted(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(formatted.data(), formatted.size(), format, args);
        formatted.resize(static_cast<size_t>(n));
        self(c)->text += formatted;
        ++self(c)->voutCalls;
        return n;
    }
    static int doPuts(con *c, const char *text)
    {
        auto *s = self(c);
        if (static_cast<int>(s->lines.size()) == s->failingPuts)
            return -1;
        s->lines.emplace_back(text);
        s->text += text;
        return static_cast<int>(s->lines.back().size());
    }
    static int doWrite(con *c, const void *buffer, size_t length)
    {
        self(c)->text.append(static_cast<const char *>(buffer), length);
        ++self(c)->writeCalls;
        return static_cast<int>(length);
    }
};

#endif
