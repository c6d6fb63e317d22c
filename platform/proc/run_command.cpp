// Command runner: fork and execvp, no shell in between.
#include "platform/proc/run_command.h"

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char RefusedCharacters[] = "\"'$&|;`(),*?\t\n\r";
constexpr std::size_t MaxWords = 15;

// The word copies of one command, released on every path out.
struct WordList {
    std::array<char *, MaxWords + 1> words{}; // + the terminating null
    std::size_t count = 0;

    WordList() = default;
    WordList(const WordList &) = delete;
    WordList &operator=(const WordList &) = delete;
    ~WordList()
    {
        for (std::size_t i = 0; i < count; ++i) {
            std::free(words[i]);
        }
    }

    // Splits at spaces; false when a word cannot be stored.
    bool split(const char *command)
    {
        const char *p = command;
        for (;;) {
            while (*p == ' ') {
                ++p;
            }
            if (*p == '\0') {
                return true;
            }
            const std::size_t length = std::strcspn(p, " ");
            if (count == MaxWords) {
                return false;
            }
            char *word = strndup(p, length);
            if (word == nullptr) {
                return false;
            }
            words[count++] = word;
            p += length;
        }
    }
};

} // namespace

extern "C" int run_command(const char *command)
{
    if (command == nullptr || command[0] == '\0' || std::strpbrk(command, RefusedCharacters) != nullptr) {
        return 0;
    }
    pid_t pid;
    {
        WordList list;
        if (!list.split(command) || list.count == 0) {
            return 0;
        }
        pid = fork();
        if (pid < 0) {
            std::abort();
        }
        if (pid == 0) {
            execvp(list.words[0], list.words.data());
            _exit(1);
        }
    } // the parent's word copies are freed before the wait

    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, 0) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return 0;
        }
        if (WIFEXITED(status)) {
            return WEXITSTATUS(status) == 0 ? 1 : 0;
        }
        if (WIFSIGNALED(status)) {
            return 0;
        }
        // a stop notification: the child has not ended yet
    }
}
