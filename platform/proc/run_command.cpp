// Command runner: a command line split into words and run without a shell.
#include "platform/proc/run_command.h"

#include "platform/proc/process.h"

#include <array>
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
        pid = proc_spawn_searching(list.words.data(), RUN_COMMAND_PATH, -1, 1);
        if (pid < 0) {
            std::abort();
        }
    } // the parent's word copies are freed before the wait
    int status = 0;
    return proc_wait(pid, &status) == 0 && proc_succeeded(status) ? 1 : 0;
}
