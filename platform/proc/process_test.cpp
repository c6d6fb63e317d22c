#include "platform/proc/process.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

std::string readAll(int fd)
{
    std::string text;
    char buffer[256];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

TEST(Process, SpawnGivesTheProgramItsArgumentsAndOutput)
{
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    // The arguments reach the program as they are: no shell splits or expands.
    char *const argv[] = {const_cast<char *>("printf"), const_cast<char *>("[%s]"), const_cast<char *>("a b"),
                          const_cast<char *>("$HOME;*"), nullptr};
    const pid_t pid = proc_spawn(argv, fds[1], 99);
    close(fds[1]);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(readAll(fds[0]), "[a b][$HOME;*]");
    close(fds[0]);
    int status = -1;
    ASSERT_EQ(proc_wait(pid, &status), 0);
    EXPECT_TRUE(proc_succeeded(status));

    char *const missing[] = {const_cast<char *>("/nonexistent/program"), nullptr};
    ASSERT_EQ(proc_wait(proc_spawn(missing, -1, 99), &status), 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 99);
    EXPECT_FALSE(proc_succeeded(status));
}

TEST(Process, WaitOutlastsStopsAndReportsSignals)
{
    // A child that stops itself first and is continued from here: the wait
    // returns only when it has ended.
    const pid_t pid = proc_fork(
        [](void *) {
            raise(SIGSTOP);
            _exit(0);
        },
        nullptr);
    ASSERT_GT(pid, 0);
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
    ASSERT_TRUE(WIFSTOPPED(status));
    kill(pid, SIGCONT);
    ASSERT_EQ(proc_wait(pid, &status), 0);
    EXPECT_TRUE(proc_succeeded(status));

    const pid_t killed = proc_fork([](void *) { raise(SIGKILL); }, nullptr);
    ASSERT_EQ(proc_wait(killed, &status), 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(proc_succeeded(status));

    // The callback returning ends the child with 127.
    ASSERT_EQ(proc_wait(proc_fork([](void *) {}, nullptr), &status), 0);
    EXPECT_EQ(WEXITSTATUS(status), 127);

    errno = 0;
    EXPECT_EQ(proc_wait(-1, &status), -1);
    EXPECT_EQ(errno, ECHILD);
}

} // namespace
