#include "platform/audio/audtest/eventlog.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Points standard error at a temporary file and makes the stream fully
// buffered, so that only an explicit flush gets text into the file.
class BufferedStderrToFile {
public:
    BufferedStderrToFile()
    {
        std::fflush(stderr);
        file_ = std::tmpfile();
        saved_ = dup(STDERR_FILENO);
        dup2(fileno(file_), STDERR_FILENO);
        std::setvbuf(stderr, buffer_, _IOFBF, sizeof buffer_);
    }
    ~BufferedStderrToFile()
    {
        std::fflush(stderr);
        std::setvbuf(stderr, nullptr, _IONBF, 0);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        std::fclose(file_);
    }
    BufferedStderrToFile(const BufferedStderrToFile &) = delete;
    BufferedStderrToFile &operator=(const BufferedStderrToFile &) = delete;

    // What has reached the file so far (not what sits in the stream buffer).
    std::string contents() const
    {
        struct stat st {};
        fstat(fileno(file_), &st);
        std::string text(static_cast<size_t>(st.st_size), '\0');
        const ssize_t n = pread(fileno(file_), text.data(), text.size(), 0);
        text.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return text;
    }

private:
    std::FILE *file_ = nullptr;
    int saved_ = -1;
    char buffer_[4096] = {};
};

int callVeventlog(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int result = veventlog(format, args);
    va_end(args);
    return result;
}

TEST(Eventlog, EveryCallReachesStandardErrorAtOnce)
{
    BufferedStderrToFile capture;
    eventlog("engine: %d channels\n", 6);
    EXPECT_EQ(capture.contents(), "engine: 6 channels\n");
    EXPECT_EQ(callVeventlog("%s=%.1f\n", "level", 2.5), 0);
    EXPECT_EQ(capture.contents(), "engine: 6 channels\nlevel=2.5\n");
}

TEST(Eventlog, PutsAddsNoNewlineAndIsNotAFormat)
{
    BufferedStderrToFile capture;
    EXPECT_EQ(eventlogputs("50% %s"), 0);
    EXPECT_EQ(capture.contents(), "50% %s");
}

TEST(Eventlog, WriteWritesExactlyTheCount)
{
    BufferedStderrToFile capture;
    EXPECT_EQ(eventlogwrite("a\0bcdef", 3), 0);
    EXPECT_EQ(capture.contents(), std::string("a\0b", 3));
}

TEST(EventlogDeathTest, DieLogsThenAborts)
{
    EXPECT_EXIT(eventlog_die("fatal: %s %d\n", "code", 7), testing::KilledBySignal(SIGABRT), "fatal: code 7\n");
}

} // namespace
